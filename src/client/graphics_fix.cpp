#include "client/graphics_fix.h"

#include "client/client_dir.h"
#include "core/whole_file.h"
#include "client/message_box.h"
#include "client/option_info.h"
#include "core/files.h"
#include "core/identity.h"
#include "core/log.h"
#include "resource_ids.h"

#include <utility>

namespace {

const char kQuestionTitle[] = "Verandel - DirectX Graphics Fix";
const char kErrorTitle[] = "Verandel - Error";

const char kEnableQuestion[] =
    "Verandel - Windows 11 / Modern GPU Graphics Fix (dgVoodoo2)\n\nThis tool installs the dgVoodoo2 DirectX wrapper "
    "(DDraw.dll, D3DImm.dll, dgVoodoo.conf) and sets Direct3D T&L HAL.\n\nRecommended for:\n- Missing ground / floor "
    "textures on custom maps (e.g. Cindervault boss map)\n- Graphics glitches / black screens on Windows 10 & 11 "
    "with modern GPUs (Intel Arc/Iris, NVIDIA RTX, AMD Radeon)\n\nIMPORTANT:\nIf you play on Linux or Steam Deck "
    "(via Wine / Lutris / Proton), this fix is NOT needed and can cause crashes. Do not enable it on "
    "Linux.\n\nDo you want to enable this graphics fix now?";
const char kDisableQuestion[] =
    "Verandel - Windows 11 / DirectX Graphics Fix\n\nThe dgVoodoo2 graphics wrapper is currently ACTIVE in your "
    "game directory.\n\nDo you want to DISABLE and remove this fix?\n(This will delete DDraw.dll, D3DImm.dll, "
    "dgVoodoo.conf, and restore standard DirectDraw HAL).";
const char kEnabledText[] =
    "DirectX Graphics Fix (dgVoodoo2) has been ENABLED!\n\nDDraw.dll, D3DImm.dll, and dgVoodoo.conf were "
    "installed.\nDirect3D T&L HAL has been enabled in your graphics configuration.\n\nYou may now click PLAY to "
    "launch the game.";
const char kExtractionErrorText[] =
    "Failed to extract graphics fix files.\nPlease check write permissions to the game folder or run the launcher "
    "as Administrator.";
const char kDisabledText[] =
    "DirectX Graphics Fix has been DISABLED.\n\ndgVoodoo2 files have been removed and standard DirectDraw HAL "
    "restored.";
const char kRemovalErrorText[] =
    "Failed to remove graphics fix files.\nPlease close the game and try again, or run the launcher as "
    "Administrator.";

const char kDeviceCountKey[] = "OptionInfoList[\"DEVICECNT\"]";

WrapperFileWriter g_writeWrapperFile;

struct WrapperFile {
    int id;
    const char* name;
};
// DDraw.dll first: the order in which they are written.
const WrapperFile kWrapperFiles[] = {
    {IDR_WRAPPER_DDRAW, "DDraw.dll"}, {IDR_WRAPPER_D3DIMM, "D3DImm.dll"}, {IDR_WRAPPER_CONF, "dgVoodoo.conf"}};

bool WriteWrapperFile(int id, const std::string& path)
{
    return g_writeWrapperFile ? g_writeWrapperFile(id, path) : ExtractResourceToFile(id, path);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Rewritten through a staged file, so a write that fails keeps the user's
// options; without a savedata folder nothing is written.
void SetOptionFileDevice(const std::string& dir, char deviceDigit, bool appendMissing)
{
    const std::string path = dir + "\\savedata\\OptionInfo.lua";
    std::string text;
    ReadWholeFile(path, text);
    uint32_t error = 0;
    ReplaceWholeFile(path, GraphicsFixOptionText(text, deviceDigit, appendMissing), error);
}

void EnableFix(HWND owner, const std::string& dir)
{
    for (const WrapperFile& file : kWrapperFiles)
        SetFileAttributesA((dir + "\\" + file.name).c_str(), FILE_ATTRIBUTE_NORMAL);
    bool written[3] = {};
    bool all = true;
    for (size_t i = 0; i < 3; ++i) {
        written[i] = WriteWrapperFile(kWrapperFiles[i].id, dir + "\\" + kWrapperFiles[i].name);
        all = all && written[i];
    }
    if (!all) {
        // A DDraw.dll left behind would count as an installed fix and make
        // every launch select the wrapper's device without the whole wrapper.
        for (size_t i = 0; i < 3; ++i)
            if (written[i]) DeleteFileA((dir + "\\" + kWrapperFiles[i].name).c_str());
        LogLine("[ERROR] Failed to extract dgVoodoo resources to game directory.");
        ShowActionMessageBox(owner, kExtractionErrorText, kErrorTitle, MB_OK | MB_ICONERROR);
        return;
    }
    SetOptionFileDevice(dir, '1', true);
    LogLine("[SUCCESS] Installed DirectX fix (dgVoodoo2) and set DEVICECNT = 1.");
    ShowActionMessageBox(owner, kEnabledText, "Verandel - Fix Enabled", MB_OK | MB_ICONINFORMATION);
}

void DisableFix(HWND owner, const std::string& dir)
{
    for (const WrapperFile& file : kWrapperFiles) {
        const std::string path = dir + "\\" + file.name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    // A DDraw.dll that stays (the client holds it) keeps the fix active, and
    // the next launch selects its device again: that is no removal.
    if (Exists(dir + "\\DDraw.dll")) {
        LogLine("[ERROR] Failed to remove DirectX fix (dgVoodoo2) files from game directory.");
        ShowActionMessageBox(owner, kRemovalErrorText, kErrorTitle, MB_OK | MB_ICONERROR);
        return;
    }
    SetOptionFileDevice(dir, '0', false);
    RemoveWrapperDeviceName();
    LogLine("[INFO] Removed DirectX fix (dgVoodoo2) and restored DEVICECNT = 0.");
    ShowActionMessageBox(owner, kDisabledText, "Verandel - Fix Disabled", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

std::string GraphicsFixOptionText(const std::string& text, char deviceDigit, bool appendMissing)
{
    std::string out = text;
    if (!SetDeviceCountValue(out, deviceDigit) && appendMissing && !out.empty())
        out += std::string("\r\n") + kDeviceCountKey + " = " + deviceDigit + "\r\n";
    return out;
}

void SetWrapperFileWriterForChecks(WrapperFileWriter write)
{
    g_writeWrapperFile = std::move(write);
}

void ToggleGraphicsFixIn(HWND owner, const std::string& dir)
{
    const bool active = Exists(dir + "\\DDraw.dll");
    const char* question = active ? kDisableQuestion : kEnableQuestion;
    if (ShowActionMessageBox(owner, question, kQuestionTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    if (active) {
        DisableFix(owner, dir);
    } else {
        EnableFix(owner, dir);
    }
}

void ToggleGraphicsFix(HWND owner)
{
    ToggleGraphicsFixIn(owner, GetLauncherDir());
}
