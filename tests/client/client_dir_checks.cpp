#include "client/client_prep_support.h"
#include "client/option_info.h"
#include "core/foundation_support.h"

#include <gtest/gtest.h>

#include <vector>

using checks::IsDir;
using checks::LogMessages;
using checks::MakeDirectoryLink;
using checks::PathExists;
using checks::ReadBytes;
using checks::RunClientStep;
using checks::ScratchDir;
using checks::ScratchRegistry;
using checks::WriteBytes;

namespace {

const char kCopyName[] = "client_dir_copy.exe";
const char kClientKey[] = "Software\\Gravity Soft\\Ragnarok";
const char kOverridesKey[] = "Software\\Wine\\DllOverrides";
const std::string kMenu = "OptionInfoList[\"bShowMenuIcon\"]";
const std::string kDevice = "OptionInfoList[\"DEVICECNT\"]";

std::string Configured(char digit)
{
    return std::string("[INFO] Configured savedata/OptionInfo.lua: bShowMenuIcon = 1, DEVICECNT = ") + digit;
}

const char kWineLine[] = "[INFO] Running under Wine - configured DllOverrides (ddraw=builtin, d3dimm=builtin).";

// A user's option file big enough to be edited: menu icons off, device 1.
std::string UserOptions()
{
    std::string text = "CmdOnOffList[\"/notrade\"] = 1\r\n";
    for (int i = 0; i < 20; ++i) text += "OptionInfoList[\"Custom" + std::to_string(i) + "\"] = 7\r\n";
    return text + "OptionInfoList[\"SPRITEMODE\"] = 1\r\nOptionInfoList[\"TEXTUREMODE\"] = 1\r\n" + kMenu +
           " = 0\r\n" + kDevice + " = 1\r\nOptionInfoList[\"WIDTH\"] = 800\r\n";
}

TEST(PrepareClientDirectory, OptionFileFollowsTheWrapper)
{
    const std::string user = UserOptions();
    ASSERT_GE(user.size(), 500u);
    std::string userEdited = user;
    userEdited.replace(userEdited.find(kMenu + " = 0") + kMenu.size() + 3, 1, "1");
    userEdited.replace(userEdited.find(kDevice + " = 1") + kDevice.size() + 3, 1, "0");
    const struct {
        const char* name;
        const char* wine;  // how the step answers the Wine test
        bool ddraw;
        bool hasFile;
        std::string file;
        std::string expected;
        std::vector<std::string> log;
    } cases[] = {
        {"no file, no wrapper", "nowine", false, false, "", OptionInfoDefaultText('0'), {Configured('0')}},
        {"no file, wrapper present", "nowine", true, false, "", OptionInfoDefaultText('1'), {Configured('1')}},
        {"499 bytes", "nowine", false, true, user.substr(0, 499), OptionInfoDefaultText('0'), {Configured('0')}},
        {"a user's file is edited in place", "nowine", false, true, user, userEdited, {Configured('0')}},
        {"under Wine the wrapper never counts", "detect", true, true, user, userEdited,
         {Configured('0'), kWineLine}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir("client-dir");
        ScratchRegistry registry("client-dir");
        if (c.ddraw) WriteBytes(dir / "DDraw.dll", "wrapper");
        if (c.hasFile) {
            CreateDirectoryA((dir / "savedata").c_str(), nullptr);
            WriteBytes(dir / "savedata\\OptionInfo.lua", c.file);
        }
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, std::string("prepare|") + c.wine + "|qvx.dll",
                                registry.Root()),
                  0);
        EXPECT_EQ(ReadBytes(dir / "savedata\\OptionInfo.lua"), c.expected);
        EXPECT_FALSE(PathExists(dir / "savedata\\OptionInfo.lua.tmp"));
        EXPECT_EQ(LogMessages(dir.Path()), c.log);
        EXPECT_EQ(registry.GetString(kOverridesKey, "ddraw"), c.log.size() == 2 ? "builtin" : "");
        EXPECT_EQ(registry.GetString(kOverridesKey, "d3dimm"), c.log.size() == 2 ? "builtin" : "");
    }
}

TEST(PrepareClientDirectory, AnOptionFileThatCannotBeReplacedStaysWhole)
{
    ScratchDir dir("client-dir");
    ScratchRegistry registry("client-dir");
    CreateDirectoryA((dir / "savedata").c_str(), nullptr);
    WriteBytes(dir / "savedata\\OptionInfo.lua", UserOptions());
    HANDLE held = CreateFileA((dir / "savedata\\OptionInfo.lua").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int code = RunClientStep(dir.Path(), kCopyName, "prepare|nowine|qvx.dll", registry.Root());
    CloseHandle(held);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ReadBytes(dir / "savedata\\OptionInfo.lua"), UserOptions());
    EXPECT_FALSE(PathExists(dir / "savedata\\OptionInfo.lua.tmp"));
    EXPECT_TRUE(LogMessages(dir.Path()).empty());
}

TEST(PrepareClientDirectory, StaleFilesAndLooseFoldersGo)
{
    ScratchDir dir("client-dir");
    ScratchDir outside("client-dir-outside");
    ScratchRegistry registry("client-dir");
    WriteBytes(dir / "qvx.exe", "stale");
    SetFileAttributesA((dir / "qvx.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteBytes(dir / "@PaxHeader", "tar header");
    for (const char* folder : {"data", "data\\texture", "data\\texture\\sub", "data\\luafiles514", "data\\sprite",
                               "data\\keep"}) {
        CreateDirectoryA((dir / folder).c_str(), nullptr);
    }
    WriteBytes(dir / "data\\texture\\sub\\a.bmp", "a");
    WriteBytes(dir / "data\\luafiles514\\b.lub", "b");
    WriteBytes(dir / "data\\keep\\c.txt", "c");
    WriteBytes(outside / "linked.spr", "outside");
    CreateDirectoryA((dir / "data\\sprite\\npc").c_str(), nullptr);
    const bool linked = MakeDirectoryLink(dir / "data\\sprite\\linked", outside.Path());

    for (const char* exe : {"qvx.dll", "", "Game Client.exe"}) {
        SCOPED_TRACE(exe);
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, std::string("prepare|nowine|") + exe, registry.Root()), 0);
        EXPECT_EQ(ReadBytes(dir / "step_result.txt"), exe);
    }
    EXPECT_FALSE(PathExists(dir / "qvx.exe"));
    EXPECT_FALSE(PathExists(dir / "qvx.exe.old"));
    EXPECT_FALSE(PathExists(dir / "@PaxHeader"));
    EXPECT_FALSE(PathExists(dir / "data\\texture"));
    EXPECT_FALSE(PathExists(dir / "data\\luafiles514"));
    EXPECT_EQ(ReadBytes(dir / "data\\keep\\c.txt"), "c");
    EXPECT_TRUE(IsDir(dir / "savedata"));
    if (linked) {
        EXPECT_EQ(ReadBytes(outside / "linked.spr"), "outside") << "a link's target is never emptied";
    }
}

TEST(PrepareClientDirectory, AStaleExecutableThatCannotGoIsLogged)
{
    {
        SCOPED_TRACE("a folder named qvx.exe stays, without a log line");
        ScratchDir dir("client-dir");
        ScratchRegistry registry("client-dir");
        CreateDirectoryA((dir / "qvx.exe").c_str(), nullptr);
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "prepare|nowine|qvx.dll", registry.Root()), 0);
        EXPECT_TRUE(IsDir(dir / "qvx.exe"));
        const std::vector<std::string> log = {Configured('0')};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
    {
        SCOPED_TRACE("a qvx.exe held open: the warning, and no rename");
        ScratchDir dir("client-dir");
        ScratchRegistry registry("client-dir");
        WriteBytes(dir / "qvx.exe", "running");
        WriteBytes(dir / "qvx.exe.old", "older");
        HANDLE held = CreateFileA((dir / "qvx.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const int code = RunClientStep(dir.Path(), kCopyName, "prepare|nowine|qvx.dll", registry.Root());
        CloseHandle(held);
        ASSERT_EQ(code, 0);
        EXPECT_EQ(ReadBytes(dir / "qvx.exe"), "running");
        EXPECT_FALSE(PathExists(dir / "qvx.exe.old")) << "the older leftover is cleared first";
        const std::vector<std::string> log = {
            "[WARN] Could not delete qvx.exe directly (Error: 32). Attempting rename...", Configured('0')};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(PrepareClientDirectory, RemembersNoWrapperDeviceWithoutTheWrapper)
{
    const std::string tnl = "Direct3D T&L HAL", voodoo = "dgVoodoo TnL HAL";
    auto cleaned = [](const std::string& name) {
        return "[INFO] Cleaned up obsolete DEVICENAME from registry (" + name + ").";
    };
    const std::string unterminated(64, 'A');
    const struct {
        const char* name;
        const char* wine;
        bool ddraw;
        DWORD type;
        std::string value;  // raw bytes of DEVICENAME; empty: no client key at all
        bool removed;
        std::vector<std::string> log;
    } cases[] = {
        {"T&L HAL without the wrapper", "nowine", false, REG_SZ, tnl + '\0', true, {Configured('0'), cleaned(tnl)}},
        {"dgVoodoo without the wrapper", "nowine", false, REG_SZ, voodoo + '\0', true,
         {Configured('0'), cleaned(voodoo)}},
        {"another device", "nowine", false, REG_SZ, std::string("Direct3D HAL") + '\0', false, {Configured('0')}},
        {"a longer name", "nowine", false, REG_SZ, voodoo + "2" + '\0', false, {Configured('0')}},
        {"dgVoodoo with the wrapper", "nowine", true, REG_SZ, voodoo + '\0', false, {Configured('1')}},
        {"dgVoodoo under Wine with the wrapper's file", "detect", true, REG_SZ, voodoo + '\0', true,
         {Configured('0'), kWineLine, cleaned(voodoo)}},
        {"64 bytes without a terminator", "nowine", false, REG_BINARY, unterminated, false, {Configured('0')}},
        {"too long for the buffer", "nowine", false, REG_SZ, std::string(100, 'B') + '\0', false, {Configured('0')}},
        {"no client key", "nowine", false, REG_SZ, "", false, {Configured('0')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir("client-dir");
        ScratchRegistry registry("client-dir");
        if (c.ddraw) WriteBytes(dir / "DDraw.dll", "wrapper");
        if (!c.value.empty()) {
            registry.SetBytes(kClientKey, "DEVICENAME", c.type, c.value);
            registry.SetString(kClientKey, "MODECNT", "2");
            registry.SetString(kClientKey, "OTHER", "kept");
        }
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, std::string("prepare|") + c.wine + "|qvx.dll",
                                registry.Root()),
                  0);
        EXPECT_EQ(LogMessages(dir.Path()), c.log);
        if (c.value.empty()) continue;
        EXPECT_EQ(registry.Has(kClientKey, "DEVICENAME"), !c.removed);
        EXPECT_EQ(registry.Has(kClientKey, "MODECNT"), !c.removed);
        EXPECT_TRUE(registry.Has(kClientKey, "OTHER"));
    }
}

}  // namespace
