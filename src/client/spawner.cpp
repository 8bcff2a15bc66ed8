#include "client/spawner.h"

#include "core/handles.h"
#include "core/identity.h"
#include "core/log.h"

#include <cstdio>

namespace {

// Long enough for a client that cannot load to have ended, short enough not to
// keep the window waiting.
constexpr DWORD kEarlyExitWatchMs = 500;
constexpr DWORD kErrorElevationRequired = 740;
constexpr DWORD kErrorAccessDenied = 5;
constexpr unsigned long kExitDllNotFound = 0xC0000135;
constexpr unsigned long kExitAccessViolation = 0xC0000005;

bool RealCreateProcess(const std::string& path, std::vector<char>& commandLine, const std::string& directory,
                       STARTUPINFOA& startup, PROCESS_INFORMATION& process, DWORD& error)
{
    if (CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                       &startup, &process)) {
        return true;
    }
    error = GetLastError();
    return false;
}

bool RealShellExecute(SHELLEXECUTEINFOA& info, DWORD& error)
{
    if (ShellExecuteExA(&info)) return true;
    error = GetLastError();
    return false;
}

ProcessStartCalls g_startCalls{RealCreateProcess, RealShellExecute};

std::string ErrorWithText(DWORD n)
{
    return std::to_string(n) + ": " + FormatWindowsError(n);
}

// One shell start with the given verb; logs its outcome. On success a process
// handle that came back is watched for the same half second, then closed.
bool ShellStart(const char* verb, const std::string& path, const std::string& arguments,
                const std::string& directory)
{
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = path.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    DWORD error = 0;
    if (!g_startCalls.shellExecute(info, error)) {
        LogLine(std::string("[ERROR] ShellExecuteExA (") + verb + ") failed (Error " + ErrorWithText(error) + ")");
        return false;
    }
    LogLine(std::string("[SUCCESS] ShellExecuteExA (") + verb + ") launched successfully.");
    UniqueHandle process(info.hProcess);
    if (process) WaitForSingleObject(process.Get(), kEarlyExitWatchMs);
    return true;
}

// The early-exit reason for an exit code, with its hint when it has one.
std::string EarlyExitReason(unsigned long code)
{
    char hex[32];
    std::snprintf(hex, sizeof(hex), "0x%08lX", code);
    std::string reason = std::string("Client process exited immediately after start with code ") + hex + ".";
    if (code == kExitDllNotFound) {
        reason += "\n\nReason: Missing DLL dependency.\nPlease install DirectX 9 End-User Runtime and Visual C++ "
                  "2015-2022 (x86) Redistributable.";
    } else if (code == kExitAccessViolation) {
        reason += "\n\nReason: Memory Access Violation (0xC0000005).\nPlease check your graphics settings in "
                  "opensetup.exe.";
    }
    return reason;
}

// Watches a created process for an immediate exit.
bool WatchStartedProcess(PROCESS_INFORMATION& created, std::string& error)
{
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    LogLine("[SUCCESS] CreateProcessA initiated. Process ID: " + std::to_string(created.dwProcessId));
    if (WaitForSingleObject(process.Get(), kEarlyExitWatchMs) != WAIT_OBJECT_0) {
        process.Reset();
        thread.Reset();
        LogLine("[SUCCESS] Client process verified running normally.");
        return true;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    process.Reset();
    thread.Reset();
    if (code == 0) {
        LogLine("[INFO] Client process exited cleanly with code 0.");
        return true;
    }
    const std::string reason = EarlyExitReason(code);
    LogLine("[ERROR] " + reason);
    error = reason;
    return false;
}

}  // namespace

ProcessStartCalls RealProcessStartCalls()
{
    return ProcessStartCalls{RealCreateProcess, RealShellExecute};
}

void SetProcessStartCallsForChecks(const ProcessStartCalls& calls)
{
    g_startCalls = RealProcessStartCalls();
    if (calls.createProcess) g_startCalls.createProcess = calls.createProcess;
    if (calls.shellExecute) g_startCalls.shellExecute = calls.shellExecute;
}

bool SpawnClient(const std::string& name, const std::string& arguments, std::string& error)
{
    const std::string directory = GetLauncherDir();
    const std::string path = directory + "\\" + name;
    LogLine("[INFO] Spawning client: \"" + path + "\" " + arguments);
    LogLine("[INFO] Working directory: \"" + directory + "\"");

    {
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        if (!file) {
            const DWORD n = GetLastError();
            const std::string reason = "Executable not found: " + path + " (Error: " + std::to_string(n) + " - " +
                                       FormatWindowsError(n) + ")";
            LogLine("[ERROR] " + reason);
            error = reason;
            return false;
        }
        // The file opened, so the start goes on; -1 says the size could not be read.
        LARGE_INTEGER size;
        size.QuadPart = -1;
        if (!GetFileSizeEx(file.Get(), &size)) size.QuadPart = -1;
        file.Reset();
        LogLine("[INFO] Target executable verified (" + std::to_string(static_cast<long long>(size.QuadPart)) +
                " bytes).");
    }

    const std::string commandText = "\"" + path + "\" " + arguments;
    std::vector<char> commandLine(commandText.begin(), commandText.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    DWORD n = 0;
    if (g_startCalls.createProcess(path, commandLine, directory, startup, created, n))
        return WatchStartedProcess(created, error);

    LogLine("[WARN] CreateProcessA failed (Error " + ErrorWithText(n) + ")");
    if (n == kErrorElevationRequired || n == kErrorAccessDenied) {
        LogLine("[INFO] Elevation required. Attempting ShellExecuteEx with verb 'runas'...");
        if (ShellStart("runas", path, arguments, directory)) return true;
    }
    LogLine("[INFO] Attempting ShellExecuteEx with verb 'open'...");
    if (ShellStart("open", path, arguments, directory)) return true;
    error = "CreateProcess failed: " + std::to_string(n) + " (" + FormatWindowsError(n) + ")";
    return false;
}
