// Starts a program of the game directory (the game client, its setup utility)
// and tells whether it really started, logging every step for diagnosis.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

// True when the program was started (still running after the watch, ended
// with code 0, or started through the shell). False when the file does not
// open, every start method failed, or it ended at once with another code; the
// error text then holds the reason. On true the error text is untouched.
bool SpawnClient(const std::string& name, const std::string& arguments, std::string& error);

// The two ways the spawner starts a process. Checks replace them: the
// elevation road (error 740, the "runas" verb) exists only on Windows with
// UAC, never under Wine. Each returns false with the error code in `error`.
struct ProcessStartCalls {
    // CreateProcessA (path, commandLine, ..., creation flags 0, directory, startup, process).
    std::function<bool(const std::string& path, std::vector<char>& commandLine, const std::string& directory,
                       STARTUPINFOA& startup, PROCESS_INFORMATION& process, DWORD& error)>
        createProcess;
    std::function<bool(SHELLEXECUTEINFOA& info, DWORD& error)> shellExecute;
};

// The real Windows calls.
ProcessStartCalls RealProcessStartCalls();
// Replaces the calls SpawnClient uses; a member left empty keeps the real call.
void SetProcessStartCallsForChecks(const ProcessStartCalls& calls);
