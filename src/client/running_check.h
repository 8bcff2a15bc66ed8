// Whether a game client is already running: a process other than the launcher
// under the client's file name or one of its fixed names.
#pragma once

#include <string>

bool IsGameClientRunning(const std::string& clientExe);

// The rule on one process: exeFile (a process's executable file name) names a
// client for the configured client executable (of which only the file-name
// part counts). Without a process list, so that it can be checked on names.
bool IsClientProcessName(const char* exeFile, const std::string& clientExe);
