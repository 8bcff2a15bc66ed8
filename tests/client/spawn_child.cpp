// The copy of the spawner checks that runs inside a game directory, where
// GetLauncherDir and launcher.log are that directory's.
#include "client/running_check.h"
#include "client/setup_utility.h"
#include "client/spawner.h"
#include "client/spawn_child.h"
#include "core/identity.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

namespace spawn_checks {

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

std::string Env(const char* name)
{
    char buffer[8192];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return (n > 0 && n < sizeof(buffer)) ? std::string(buffer, n) : std::string();
}

std::map<std::string, std::string> ParseFakes(const std::string& text)
{
    std::map<std::string, std::string> fakes;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) fakes[item.substr(0, eq)] = item.substr(eq + 1);
        start = end + 1;
    }
    return fakes;
}

// Process and thread handles the real start calls gave the spawner; it must
// have closed every one by the time it returns.
std::vector<HANDLE> g_startedHandles;

size_t StillOpen()
{
    size_t open = 0;
    DWORD flags = 0;
    for (HANDLE h : g_startedHandles)
        if (h != nullptr && GetHandleInformation(h, &flags)) ++open;
    return open;
}

void RecordCall(const std::string& line)
{
    std::ofstream(GetLauncherDir() + "\\" + kCallsFile, std::ios::binary | std::ios::app) << line << "\n";
}

std::string Text(const char* text)
{
    return text == nullptr ? "(null)" : "[" + std::string(text) + "]";
}

bool AllZero(const void* data, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

// An open without sharing succeeds only when no handle to the file is left open.
bool NobodyHoldsOpen(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Everything of the shell structure that the spawner is not meant to set.
bool ShellRestZero(const SHELLEXECUTEINFOA& info)
{
    SHELLEXECUTEINFOA rest = info;
    rest.cbSize = 0;
    rest.fMask = 0;
    rest.lpVerb = rest.lpFile = rest.lpParameters = rest.lpDirectory = nullptr;
    rest.nShow = 0;
    return AllZero(&rest, sizeof(rest));
}

// Succeeds ("ok"), makes the real call ("real" or no entry), or fails with the number.
template <typename Real>
bool Answer(const std::map<std::string, std::string>& fakes, const std::string& key, DWORD& error, Real real)
{
    const auto it = fakes.find(key);
    if (it == fakes.end() || it->second == "real") return real();
    if (it->second == "ok") return true;
    error = static_cast<DWORD>(std::strtoul(it->second.c_str(), nullptr, 0));
    return false;
}

void InstallRecordingCalls(const std::map<std::string, std::string>& fakes)
{
    const ProcessStartCalls real = RealProcessStartCalls();
    ProcessStartCalls calls;
    calls.createProcess = [fakes, real](const std::string& path, std::vector<char>& commandLine,
                                        const std::string& directory, STARTUPINFOA& startup,
                                        PROCESS_INFORMATION& process, DWORD& error) {
        STARTUPINFOA rest = startup;
        rest.cb = 0;
        const std::string seen = "create path=" + path + " cmd=" + Text(commandLine.data()) + " dir=" + directory +
                                 " startup_cb=" + std::to_string(startup.cb) +
                                 " startup_rest_zero=" + std::to_string(AllZero(&rest, sizeof(rest))) +
                                 " process_zero=" + std::to_string(AllZero(&process, sizeof(process))) +
                                 " file_closed=" + std::to_string(NobodyHoldsOpen(path));
        const bool ok = Answer(fakes, "create", error, [&] {
            const bool created = real.createProcess(path, commandLine, directory, startup, process, error);
            if (created) g_startedHandles.insert(g_startedHandles.end(), {process.hProcess, process.hThread});
            return created;
        });
        RecordCall(seen + (ok ? " -> ok" : " -> error " + std::to_string(error)));
        return ok;
    };
    calls.shellExecute = [fakes, real](SHELLEXECUTEINFOA& info, DWORD& error) {
        char numbers[96];
        std::snprintf(numbers, sizeof(numbers), " cb=%lu mask=0x%lX show=%d hwnd=%d rest_zero=%d",
                      static_cast<unsigned long>(info.cbSize), static_cast<unsigned long>(info.fMask), info.nShow,
                      info.hwnd != nullptr, ShellRestZero(info));
        const std::string verb = info.lpVerb ? info.lpVerb : "";
        const std::string seen = "shell verb=" + verb + " file=" + Text(info.lpFile) +
                                 " params=" + Text(info.lpParameters) + " dir=" + Text(info.lpDirectory) + numbers;
        const bool ok = Answer(fakes, verb, error, [&] {
            const bool started = real.shellExecute(info, error);
            if (started) g_startedHandles.push_back(info.hProcess);
            return started;
        });
        RecordCall(seen + (ok ? " -> ok" : " -> error " + std::to_string(error)));
        return ok;
    };
    SetProcessStartCallsForChecks(calls);
}

}  // namespace
}  // namespace spawn_checks

using namespace spawn_checks;

TEST(InGameDirectory, DISABLED_Run)
{
    InstallRecordingCalls(ParseFakes(Env(kFakesVariable)));
    SetSetupMessageBoxForChecks([](const std::string& text, const std::string& title, unsigned style) {
        char styleText[16];
        std::snprintf(styleText, sizeof(styleText), "0x%X", style);
        RecordCall("box title=[" + title + "] style=" + styleText + " text=[" + Escape(text) + "]");
        return IDOK;
    });
    const std::string call = Env(kCallVariable);
    const std::string name = Env(kNameVariable);
    std::string error = kUntouchedError;
    bool result = false;
    const DWORD start = GetTickCount();
    if (call == "spawn") {
        result = SpawnClient(name, Env(kArgsVariable), error);
    } else if (call == "setup") {
        result = RunSetupUtility(name, error);
    } else if (call == "running") {
        result = IsGameClientRunning(name);
    } else {
        FAIL() << "unknown call " << call;
    }
    const DWORD elapsed = GetTickCount() - start;
    std::ofstream(GetLauncherDir() + "\\" + kOutcomeFile, std::ios::binary)
        << "result=" << result << "\nelapsed_ms=" << elapsed << "\nstarted_handles=" << g_startedHandles.size()
        << "\nstill_open=" << StillOpen() << "\nerror=" << error;
}
