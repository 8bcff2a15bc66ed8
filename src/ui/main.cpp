// The program's entry: self-location and the check of its folder, the restart
// from a ".old" copy, the start-up record in launcher.log, configuration and
// theme, the window and its message loop.
#include "client/old_binaries.h"
#include "core/config.h"
#include "core/handles.h"
#include "core/identity.h"
#include "core/log.h"
#include "core/theme.h"
#include "ui/folder_check.h"
#include "ui/sync_threads.h"
#include "ui/window_model.h"
#include "ui/wndproc.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <string>

namespace {

constexpr char kWindowClass[] = "QVX_Patcher_Class";
constexpr int kWindowWidth = 1013;
constexpr int kWindowHeight = 620;

ULONG_PTR g_gdiplusToken = 0;

// The environment scan's client files, relative to the game directory.
constexpr const char* kScannedFiles[] = {
    "qvx.dll",  "qvx.exe", "DATA.INI", "DATA_LEGACY.INI",     "DATA_SEASON.INI",
    "data.grf", "qvx.grf", "ext.grf",  "data/sclientinfo.xml",
};

std::string DescribeFilePresence(const char* path)
{
    UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    if (!file) return "MISSING";
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return "PRESENT (size unknown)";
    return "PRESENT (" + std::to_string(size.QuadPart) + " bytes)";
}

std::string PrivilegeLevel()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return "STANDARD USER (Non-elevated)";
    UniqueHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool queried = GetTokenInformation(token.Get(), TokenElevation, &elevation,
                                             sizeof elevation, &size);
    return queried && elevation.TokenIsElevated ? "ADMINISTRATOR (Elevated)"
                                                : "STANDARD USER (Non-elevated)";
}

void LogStartupRecord(const std::string& dir)
{
    LogLine(std::string(50, '='));
    LogLine("=== Verandel Launcher Initializing ===");
    LogLine("Launcher executable: " + GetLauncherPath());
    LogLine("Launcher directory: " + dir);
    LogLine("Privilege level: " + PrivilegeLevel());
    for (const char* name : kScannedFiles)
        LogLine(std::string("Environment scan: ") + name + " -> " + DescribeFilePresence(name));
}

HWND CreateLauncherWindow(HINSTANCE instance)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassExA(&wc);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    return CreateWindowExA(WS_EX_APPWINDOW, kWindowClass, g_config.server_name.c_str(),
                           WS_POPUP | WS_VISIBLE, x, y, kWindowWidth, kWindowHeight, nullptr,
                           nullptr, instance, nullptr);
}

// The detached threads may still be reading the process-wide records (a worker
// in a download reads g_config, every LogLine the launcher directory), so the
// process ends here without running their destructors under them. Every log
// line is already closed; nothing else is buffered.
[[noreturn]] void EndProcess(int code) { std::_Exit(code); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    ResolveLauncherPaths();
    if (!LauncherFolderIsUsable()) EndProcess(1);
    const std::string dir = GetLauncherDir();
    SetCurrentDirectoryA(dir.c_str());
    if (IsRunningFromOldBinary()) RestartLauncher();

    GameLauncher::CleanupOldBinariesAsync();
    LogStartupRecord(dir);

    g_config = LoadLauncherConfig("config.json");
    LogLine("Config loaded: client_exe=" + g_config.client_exe +
            ", client_args=" + g_config.client_args +
            ", season_enabled=" + (g_config.season_enabled ? "true" : "false"));
    g_theme = LoadThemeConfig("themes/" + g_config.active_theme);

    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr);

    HWND hwnd = CreateLauncherWindow(instance);
    if (!hwnd) {
        Gdiplus::GdiplusShutdown(g_gdiplusToken);
        EndProcess(1);
    }
    g_window.Init(hwnd, g_config, g_theme);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    g_running.exchange(false);
    // GDI+ objects may only be released while GDI+ runs.
    g_window.ReleaseImages();
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    EndProcess(0);
}
