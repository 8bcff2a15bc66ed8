// Scratch game directories for the spawner checks: the stand-in client
// installed under chosen names, a copy of the check program run inside, and
// what came out of it (outcome, recorded calls, launcher.log, the stand-in's
// record).
#pragma once

#include <windows.h>

#include "client/spawn_child.h"
#include "core/foundation_support.h"

#include <map>
#include <string>
#include <vector>

namespace spawn_checks {

// The stand-in client's program, built beside the checks.
std::string StandinPath();

// Sets an environment variable for the copies started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

// What the copy in the game directory reported.
struct Outcome {
    bool ran = false;  // it ran to the end and wrote its outcome
    bool result = false;
    unsigned long elapsedMs = 0;
    unsigned long startedHandles = 0;  // handed over by real start calls
    unsigned long stillOpen = 0;       // of those, left open by the spawner
    std::string error;
};

// A scratch game directory. Stand-ins that recorded a process id and still
// run are ended when it closes.
class GameDir {
public:
    GameDir();
    ~GameDir();
    GameDir(const GameDir&) = delete;
    GameDir& operator=(const GameDir&) = delete;

    const std::string& Path() const { return dir_.Path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

    // Copies the stand-in to the name (which may hold one folder).
    void InstallStandin(const std::string& name);

    // Runs a copy of this program named `as` in the directory, calling `call`
    // (spawn, setup, running) with the name, arguments and fakes of the start calls.
    Outcome Run(const std::string& call, const std::string& name, const std::string& args = std::string(),
                const std::string& fakes = std::string(), const std::string& as = "QVX_Launcher.exe");

    // The messages of launcher.log without their time stamps, each line ended
    // by LF; the further lines of a message keep their places.
    std::string LogMessages() const;

    // The start calls and boxes the copy saw, one per entry.
    std::vector<std::string> Calls() const;

    // The record of the stand-in installed as name (command_line,
    // working_directory, module, process_id), waiting up to waitMs for one
    // still starting; empty when it never ran.
    std::map<std::string, std::string> StandinRecord(const std::string& name, DWORD waitMs = 0);

private:
    checks::ScratchDir dir_;
    std::vector<DWORD> standinIds_;
};

// A stand-in started by a check itself under a chosen name, running until it
// is destroyed.
class RunningStandin {
public:
    RunningStandin(GameDir& game, const std::string& name);
    ~RunningStandin();
    RunningStandin(const RunningStandin&) = delete;
    RunningStandin& operator=(const RunningStandin&) = delete;
    bool Started() const { return started_; }

private:
    HANDLE process_ = nullptr;
    bool started_ = false;
};

std::string Quoted(const std::string& text);

// The spawner's two opening log lines, and its verification line.
std::string SpawnHead(const GameDir& game, const std::string& name, const std::string& args);
std::string Verified(const GameDir& game, const std::string& name);

// A stand-in meant to end at once that the watch still saw running: the
// machine was too loaded to start it within the half second, which shows
// nothing about the spawner, so such a run is made again (up to the attempts).
bool OutlivedTheWatch(const GameDir& game);
constexpr int kSlowStartAttempts = 4;

extern const std::string kDllHint;
extern const std::string kAccessHint;

}  // namespace spawn_checks
