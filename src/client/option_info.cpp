#include "client/option_info.h"

#include <algorithm>

namespace {

constexpr size_t kOptionInfoMinSize = 500;
const char kMenuIconKey[] = "OptionInfoList[\"bShowMenuIcon\"]";
const char kDeviceCountKey[] = "OptionInfoList[\"DEVICECNT\"]";

// Everything up to and including "OptionInfoList["DEVICECNT"] = ".
const char OptionInfoDefaultHead[] =
    "CmdOnOffList[\"/notrade\"] = 0\r\n"
    "CmdOnOffList[\"/noshift\"] = 0\r\n"
    "CmdOnOffList[\"/noctrl\"] = 1\r\n"
    "CmdOnOffList[\"/skillfail\"] = 1\r\n"
    "CmdOnOffList[\"/notalkmsg\"] = 0\r\n"
    "CmdOnOffList[\"/notalkmsg2\"] = 0\r\n"
    "CmdOnOffList[\"/showname\"] = 1\r\n"
    "CmdOnOffList[\"/fog\"] = 1\r\n"
    "CmdOnOffList[\"/aura\"] = 1\r\n"
    "CmdOnOffList[\"/aura2\"] = 0\r\n"
    "CmdOnOffList[\"/window\"] = 0\r\n"
    "CmdOnOffList[\"/miss\"] = 1\r\n"
    "CmdOnOffList[\"/q1\"] = 0\r\n"
    "CmdOnOffList[\"/q2\"] = 0\r\n"
    "CmdOnOffList[\"/effect\"] = 1\r\n"
    "CmdOnOffList[\"/bgm\"] = 0\r\n"
    "CmdOnOffList[\"/sound\"] = 0\r\n"
    "CmdOnOffList[\"/loginout\"] = 1\r\n"
    "CmdOnOffList[\"/shopping\"] = 1\r\n"
    "CmdOnOffList[\"/stateinfo\"] = 1\r\n"
    "CmdOnOffList[\"/snap\"] = 0\r\n"
    "CmdOnOffList[\"/itemsnap\"] = 0\r\n"
    "CmdOnOffList[\"/skillsnap\"] = 1\r\n"
    "CmdOnOffList[\"/hoai\"] = 0\r\n"
    "CmdOnOffList[\"/merai\"] = 0\r\n"
    "CmdOnOffList[\"/camera\"] = 0\r\n"
    "CmdOnOffList[\"/lightmap\"] = 1\r\n"
    "CmdOnOffList[\"/monsterhp\"] = 1\r\n"
    "CmdOnOffList[\"/cashshop\"] = 1\r\n"
    "CmdOnOffList[\"/goldpc\"] = 1\r\n"
    "CmdOnOffList[\"/roulette\"] = 1\r\n"
    "CmdOnOffList[\"/quake\"] = 1\r\n"
    "CmdOnOffList[\"/minimap\"] = 1\r\n"
    "CmdOnOffList[\"/mineffect\"] = 0\r\n"
    "CmdOnOffList[\"/mable\"] = 1\r\n"
    "CmdOnOffList[\"/zoom\"] = 0\r\n"
    "\r\n"
    "OptionInfoList[\"Trilinear\"] = 0\r\n"
    "OptionInfoList[\"Bgm_Volume\"] = 100\r\n"
    "OptionInfoList[\"Effect_Volume\"] = 100\r\n"
    "OptionInfoList[\"AutoOpen1to1Window\"] = 1\r\n"
    "OptionInfoList[\"AutoOpen1to1Window_Friend\"] = 1\r\n"
    "OptionInfoList[\"PlaySound_Open1to1Window\"] = 1\r\n"
    "OptionInfoList[\"Outdoor_ViewLatitude\"] = -45.000000\r\n"
    "OptionInfoList[\"Outdoor_ViewDistance\"] = 400.000000\r\n"
    "OptionInfoList[\"Indoor_ViewLatitude\"] = -55.000000\r\n"
    "OptionInfoList[\"Indoor_ViewDistance\"] = 500.000000\r\n"
    "OptionInfoList[\"SkinName\"] = \"<Basic Skin>\"\r\n"
    "OptionInfoList[\"ChannelCopID\"] = 0\r\n"
    "OptionInfoList[\"Window_XPos\"] = 348\r\n"
    "OptionInfoList[\"Window_YPos\"] = 336\r\n"
    "OptionInfoList[\"Simplicity_SkillList\"] = 0\r\n"
    "OptionInfoList[\"Show_SkillDescript\"] = 0\r\n"
    "OptionInfoList[\"ChangeChatMode\"] = 1\r\n"
    "OptionInfoList[\"LockMouse\"] = 0\r\n"
    "OptionInfoList[\"ShowBattleFieldIcon\"] = 1\r\n"
    "OptionInfoList[\"MouseExclusive\"] = 1\r\n"
    "OptionInfoList[\"ISFULLSCREENMODE\"] = 0\r\n"
    "OptionInfoList[\"WIDTH\"] = 1024\r\n"
    "OptionInfoList[\"HEIGHT\"] = 768\r\n"
    "OptionInfoList[\"OLD_WIDTH\"] = 1024\r\n"
    "OptionInfoList[\"OLD_HEIGHT\"] = 768\r\n"
    "OptionInfoList[\"BITPERPIXEL\"] = 32\r\n"
    "OptionInfoList[\"DEVICECNT\"] = ";

// Everything after the DEVICECNT digit.
const char OptionInfoDefaultTail[] =
    "\r\n"
    "OptionInfoList[\"MODECNT\"] = 2\r\n"
    "OptionInfoList[\"SPRITEMODE\"] = 2\r\n"
    "OptionInfoList[\"TEXTUREMODE\"] = 2\r\n"
    "OptionInfoList[\"bLockItemDropFromItemWnd\"] = 0\r\n"
    "OptionInfoList[\"bWarningPriceCheck\"] = 0\r\n"
    "OptionInfoList[\"bSoundEffectInItemSellWnd\"] = 0\r\n"
    "OptionInfoList[\"bGuildMemberListSort\"] = 1\r\n"
    "OptionInfoList[\"bBlockPrivateTab\"] = 0\r\n"
    "OptionInfoList[\"bShowMenuIcon\"] = 1\r\n"
    "OptionInfoList[\"bItemDefaultSort\"] = 0\r\n"
    "OptionInfoList[\"bItemAscendingOrder\"] = 0\r\n"
    "OptionInfoList[\"bItemDescendingOrder\"] = 0\r\n"
    "OptionInfoList[\"/zoom\"] = 0\r\n"
    "OptionInfoList[\"Emblem Frame\"] = 0\r\n"
    "OptionInfoList[\"bExtendDamage\"] = 1\r\n"
    "OptionInfoList[\"bShowMapName\"] = 1\r\n";

static_assert(sizeof(OptionInfoDefaultHead) - 1 == 2148, "default head");
static_assert(sizeof(OptionInfoDefaultTail) - 1 == 627, "default tail");

// The first CR or LF at or after pos; the end of the text when none follows.
size_t LineEnd(const std::string& text, size_t pos)
{
    const size_t end = text.find_first_of("\r\n", pos);
    return end == std::string::npos ? text.size() : end;
}

// The '=' that belongs to the key ending at keyEnd. Only the key's own line
// counts: an '=' further down is another option's, which must stay untouched.
size_t AssignmentOf(const std::string& text, size_t keyEnd)
{
    const size_t eq = text.find('=', keyEnd);
    if (eq == std::string::npos || eq > LineEnd(text, keyEnd)) return std::string::npos;
    return eq;
}

}  // namespace

std::string OptionInfoDefaultText(char deviceDigit)
{
    std::string text = OptionInfoDefaultHead;
    text += deviceDigit;
    text += OptionInfoDefaultTail;
    return text;
}

bool EnableMenuIcons(std::string& text)
{
    const std::string key = kMenuIconKey;
    bool found = false;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + key.size())) {
        found = true;
        const size_t eq = AssignmentOf(text, at + key.size());
        if (eq == std::string::npos) continue;
        const auto lineEnd = text.begin() + LineEnd(text, eq);
        const auto digit = std::find_if(text.begin() + eq, lineEnd, [](char c) { return c == '0' || c == '1'; });
        if (digit != lineEnd && *digit == '0') *digit = '1';
    }
    return found;
}

bool SetDeviceCountValue(std::string& text, char deviceDigit)
{
    const std::string key = kDeviceCountKey;
    const size_t at = text.find(key);
    if (at == std::string::npos) return false;
    const size_t eq = AssignmentOf(text, at + key.size());
    if (eq == std::string::npos) return true;
    const size_t end = text.find_first_of("\r\n", eq);
    if (end == std::string::npos) return true;
    const size_t start = text.find_first_not_of(" \t", eq + 1);
    if (text.compare(start, end - start, std::string(1, deviceDigit)) != 0)
        text.replace(start, end - start, 1, deviceDigit);
    return true;
}

std::string PrepareOptionInfoText(const std::string& text, char deviceDigit)
{
    if (text.size() < kOptionInfoMinSize || text.find("OptionInfoList[\"SPRITEMODE\"]") == std::string::npos ||
        text.find("OptionInfoList[\"TEXTUREMODE\"]") == std::string::npos) {
        return OptionInfoDefaultText(deviceDigit);
    }
    std::string out = text;
    if (!EnableMenuIcons(out)) out += std::string("\r\n") + kMenuIconKey + " = 1\r\n";
    if (!SetDeviceCountValue(out, deviceDigit))
        out += std::string("\r\n") + kDeviceCountKey + " = " + deviceDigit + "\r\n";
    return out;
}
