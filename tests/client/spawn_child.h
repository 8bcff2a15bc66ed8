// What the spawner checks and the copy of themselves that they run inside a
// game directory share: the variables that say what the copy calls, and the
// files in which it leaves the outcome and the calls it saw.
#pragma once

#include <string>

namespace spawn_checks {

// "spawn", "setup" or "running".
constexpr const char* kCallVariable = "VERANDEL_CHECK_CALL";
// The name passed as first argument (executable, setup_exe, client_exe).
constexpr const char* kNameVariable = "VERANDEL_CHECK_NAME";
// The spawn's arguments text.
constexpr const char* kArgsVariable = "VERANDEL_CHECK_ARGS";
// Replacements of the start calls, e.g. "create=740;runas=1223;open=real":
// a number fails with that error, "ok" succeeds without a process, "real" (or
// nothing) makes the real call. Every call is recorded either way.
constexpr const char* kFakesVariable = "VERANDEL_CHECK_FAKES";

// In the game directory: "result=0|1\nelapsed_ms=N\nstarted_handles=N\n
// still_open=N\nerror=" + the error text (the handles: those the real start
// calls handed over, and how many of them the spawner left open).
constexpr const char* kOutcomeFile = "outcome.txt";
// One line per start call or message box, in the order they happened.
constexpr const char* kCallsFile = "calls.txt";
// The error text the copy passes in, to show whether it was replaced.
constexpr const char* kUntouchedError = "error text from before";
// The disabled check that the copy runs.
constexpr const char* kChildCheck = "InGameDirectory.DISABLED_Run";

// Line feeds written as "\n", so that a recorded call stays on one line.
std::string Escape(const std::string& text);

}  // namespace spawn_checks
