#include "core/identity.h"

#include "core/archive_output.h"
#include "core/handles.h"
#include "core/log.h"

#include <shellapi.h>

#include <cctype>
#include <vector>

// Written only by ResolveLauncherPaths; empty means "not resolved yet".
std::string g_launcherPath;
std::string g_launcherDir;
std::string g_launcherFileName;
bool g_startedFromOldBinary = false;

namespace {

constexpr const char* kFallbackFileName = "QVX_Launcher.exe";
constexpr const char* kOldSuffix = ".old";

bool EndsWithOldSuffix(const std::string& path)
{
    if (path.size() <= 3) return false;
    const size_t start = path.size() - 4;
    for (size_t i = 0; i < 4; ++i) {
        if (std::tolower(static_cast<unsigned char>(path[start + i])) != kOldSuffix[i]) return false;
    }
    return true;
}

// The module's path, grown beyond MAX_PATH when the first buffer was too small.
template <typename Char, typename Query>
std::basic_string<Char> QueryModulePath(Query query)
{
    std::vector<Char> buffer(MAX_PATH, Char());
    for (;;) {
        const DWORD n = query(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::basic_string<Char>(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.assign(buffer.size() * 2, Char());
    }
}

}  // namespace

LauncherIdentity SplitLauncherPath(const std::string& modulePath)
{
    LauncherIdentity id;
    id.path = modulePath;
    if (EndsWithOldSuffix(id.path)) {
        id.startedFromOld = true;
        id.path.resize(id.path.size() - 4);
    }
    const size_t sep = id.path.find_last_of("\\/");
    if (sep == std::string::npos) {
        id.dir = ".";
        id.fileName = id.path;
    } else {
        id.dir = id.path.substr(0, sep);
        id.fileName = id.path.substr(sep + 1);
    }
    return id;
}

bool IsTestLauncherName(const std::string& fileName)
{
    return fileName.find("TEST") != std::string::npos || fileName.find("test") != std::string::npos;
}

void ResolveLauncherPaths()
{
    const std::string modulePath = QueryModulePath<char>(GetModuleFileNameA);
    if (modulePath.empty()) {
        g_launcherDir = ".";
        g_launcherFileName = kFallbackFileName;
        g_launcherPath = kFallbackFileName;
        return;
    }
    LauncherIdentity id = SplitLauncherPath(modulePath);
    if (id.startedFromOld) g_startedFromOldBinary = true;
    g_launcherPath = std::move(id.path);
    // Readers take an empty directory for "not resolved", so it never stays empty.
    g_launcherDir = id.dir.empty() ? "." : std::move(id.dir);
    g_launcherFileName = std::move(id.fileName);
}

std::string GetLauncherDir()
{
    if (g_launcherDir.empty()) ResolveLauncherPaths();
    return g_launcherDir;
}

std::string GetLauncherPath()
{
    if (g_launcherPath.empty()) ResolveLauncherPaths();
    return g_launcherPath;
}

std::string GetLauncherFileName()
{
    if (g_launcherFileName.empty()) ResolveLauncherPaths();
    return g_launcherFileName;
}

bool IsRunningFromOldBinary()
{
    return g_startedFromOldBinary;
}

bool IsTestLauncher()
{
    return IsTestLauncherName(GetLauncherFileName());
}

void RestartLauncher()
{
    const std::string path = GetLauncherPath();
    const std::string dir = GetLauncherDir();
    LogLine("[INFO] Restarting launcher into updated binary: " + path);

    std::string commandLine = "\"" + path + "\"";
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(path.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                       &si, &pi)) {
        {
            UniqueHandle process(pi.hProcess);
            UniqueHandle thread(pi.hThread);
        }
        LogLine("[SUCCESS] Spawned updated launcher process. Exiting old process.");
        ExitProcess(0);
    }
    // Without this line a failed self-update just looks like the launcher vanishing.
    const DWORD err = GetLastError();
    LogLine("[ERROR] Could not start the updated launcher: " + path + " (" + FormatWindowsError(err) + ")");
    const INT_PTR shell = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", path.c_str(), nullptr, dir.c_str(), SW_SHOWNORMAL));
    if (shell <= 32) {
        LogLine("[ERROR] The shell could not start it either (code " + std::to_string(shell) + ").");
    }
    ExitProcess(0);
}

void OpenUrl(const std::string& url)
{
    if (url.empty()) return;
    LogLine("[ACTION] Opening URL: " + url);
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::wstring GetLauncherWidePath()
{
    return QueryModulePath<wchar_t>(GetModuleFileNameW);
}

bool PathFitsCodePage(const std::wstring& path, unsigned codePage)
{
    // ToNarrow gives '?' for a character the code page lacks and never a
    // look-alike, UTF-8 U+FFFD for a lone surrogate: either way the path
    // does not come back as it was.
    return path.empty() || ToWide(ToNarrow(path, codePage), codePage) == path;
}
