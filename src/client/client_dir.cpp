#include "client/client_dir.h"

#include "core/whole_file.h"
#include "client/option_info.h"
#include "core/files.h"
#include "core/identity.h"
#include "core/log.h"

#include <windows.h>

#include <cstring>
#include <initializer_list>

namespace {

const char kClientRegistryKey[] = "Software\\Gravity Soft\\Ragnarok";
const char kWineDllOverridesKey[] = "Software\\Wine\\DllOverrides";
constexpr DWORD kDeviceNameBufferSize = 64;

// An open registry key, closed on every path.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey()
    {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }
    HKEY* Out() { return &key_; }

private:
    HKEY key_ = nullptr;
};

void RemoveStaleExecutable(const std::string& dir)
{
    const std::string exe = dir + "\\qvx.exe";
    const DWORD attributes = GetFileAttributesA(exe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(exe.c_str())) {
        LogLine("[INFO] Removed stale mirrored qvx.exe to ensure clean qvx.dll execution.");
        return;
    }
    LogLine("[WARN] Could not delete qvx.exe directly (Error: " + std::to_string(GetLastError()) +
            "). Attempting rename...");
    const std::string old = dir + "\\qvx.exe.old";
    DeleteFileA(old.c_str());
    if (MoveFileExA(exe.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING))
        LogLine("[INFO] Successfully moved stale qvx.exe to qvx.exe.old.");
}

void ConfigureOptionFile(const std::string& dir, char deviceDigit)
{
    CreateDirectoryA((dir + "\\savedata").c_str(), nullptr);
    const std::string path = dir + "\\savedata\\OptionInfo.lua";
    std::string text;
    ReadWholeFile(path, text);
    uint32_t error = 0;
    // Through a staged file: the user's options survive a write that fails.
    if (ReplaceWholeFile(path, PrepareOptionInfoText(text, deviceDigit), error))
        LogLine(std::string("[INFO] Configured savedata/OptionInfo.lua: bShowMenuIcon = 1, DEVICECNT = ") +
                deviceDigit);
}

void SetWineDllOverrides()
{
    RegistryKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineDllOverridesKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, key.Out(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    static const char kBuiltin[] = "builtin";
    for (const char* name : {"ddraw", "d3dimm"})
        RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kBuiltin), sizeof(kBuiltin));
    LogLine("[INFO] Running under Wine - configured DllOverrides (ddraw=builtin, d3dimm=builtin).");
}

}  // namespace

bool IsRunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string RemoveWrapperDeviceName()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kClientRegistryKey, 0, KEY_READ | KEY_WRITE, key.Out()) != ERROR_SUCCESS)
        return std::string();
    // One byte more than the query may fill, so that a value of exactly 64
    // bytes without a terminator still reads as a bounded string.
    char buffer[kDeviceNameBufferSize + 1] = {};
    DWORD size = kDeviceNameBufferSize;
    if (RegQueryValueExA(key.Get(), "DEVICENAME", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return std::string();
    }
    const std::string name(buffer, strnlen(buffer, kDeviceNameBufferSize));
    if (name != "Direct3D T&L HAL" && name != "dgVoodoo TnL HAL") return std::string();
    RegDeleteValueA(key.Get(), "DEVICENAME");
    RegDeleteValueA(key.Get(), "MODECNT");
    return name;
}

std::string PrepareClientDirectoryIn(const std::string& dir, const std::string& clientExe, bool underWine)
{
    RemoveStaleExecutable(dir);
    for (const char* folder : {"\\data\\texture", "\\data\\luafiles514", "\\data\\sprite"})
        DeleteDirectoryTreeNoReparse(dir + folder);
    DeleteFileA((dir + "\\@PaxHeader").c_str());

    // Under Wine the overrides below make Wine load its own DirectDraw, so the
    // wrapper's DDraw.dll is not used there.
    const bool wrapperActive =
        GetFileAttributesA((dir + "\\DDraw.dll").c_str()) != INVALID_FILE_ATTRIBUTES && !underWine;
    ConfigureOptionFile(dir, wrapperActive ? '1' : '0');

    if (underWine) SetWineDllOverrides();
    if (!wrapperActive) {
        const std::string removed = RemoveWrapperDeviceName();
        if (!removed.empty()) LogLine("[INFO] Cleaned up obsolete DEVICENAME from registry (" + removed + ").");
    }
    return clientExe;
}

std::string PrepareClientDirectory(const std::string& clientExe)
{
    return PrepareClientDirectoryIn(GetLauncherDir(), clientExe, IsRunningUnderWine());
}
