// The spawner, the running-client check and the setup action, each run in a
// copy of this program inside a scratch game directory with the stand-in
// client installed under the names the launcher starts.
#include "client/running_check.h"
#include "client/spawn_child.h"
#include "core/foundation_support.h"
#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

using checks::ReadBytes;
using checks::ScratchDir;
using namespace spawn_checks;

namespace {

// The build puts the stand-in's Linux path here; Wine sees it under Z:.
std::string StandinPath()
{
    std::string path = std::string("Z:") + VERANDEL_STANDIN_PATH;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

long long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Sets an environment variable for the copies started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableA(name_, nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

// "key=value" lines of a file; the last key ("error" of the outcome) takes the rest.
std::map<std::string, std::string> ReadKeyed(const std::string& text, const std::string& restKey)
{
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        const size_t eq = text.find('=', start);
        if (eq == std::string::npos) break;
        const std::string key = text.substr(start, eq - start);
        size_t end = key == restKey ? text.size() : text.find('\n', eq);
        if (end == std::string::npos) end = text.size();
        values[key] = text.substr(eq + 1, end - eq - 1);
        start = end + 1;
    }
    return values;
}

struct Outcome {
    bool ran = false;
    bool result = false;
    unsigned long elapsedMs = 0;
    std::string error;
};

// A scratch game directory with helpers to fill it, run a copy of this program
// in it and read what came out. Stand-ins still running are ended at the close.
class GameDir {
public:
    GameDir() : dir_("spawn") {}
    ~GameDir() { EndStandins(); }

    const std::string& Path() const { return dir_.Path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

    void InstallStandin(const std::string& name)
    {
        const std::string target = dir_ / name;
        const size_t sep = name.find_last_of('\\');
        if (sep != std::string::npos) CreateDirectoryA((dir_ / name.substr(0, sep)).c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(StandinPath().c_str(), target.c_str(), FALSE)) << target;
    }

    Outcome Run(const std::string& call, const std::string& name, const std::string& args = std::string(),
                const std::string& fakes = std::string(), const std::string& as = "QVX_Launcher.exe")
    {
        ScopedEnv c(kCallVariable, call), n(kNameVariable, name), a(kArgsVariable, args), f(kFakesVariable, fakes);
        Outcome outcome;
        outcome.ran = checks::RunCheckInCopy(Path(), as, kChildCheck) == 0;
        const auto values = ReadKeyed(ReadBytes(dir_ / kOutcomeFile), "error");
        if (values.count("result") == 0) outcome.ran = false;
        outcome.result = values.count("result") && values.at("result") == "1";
        outcome.elapsedMs = values.count("elapsed_ms") ? std::strtoul(values.at("elapsed_ms").c_str(), nullptr, 10)
                                                       : 0;
        outcome.error = values.count("error") ? values.at("error") : std::string();
        return outcome;
    }

    // The messages of launcher.log, time stamps removed, lines joined by LF;
    // a line that a message carries on (a hint) keeps its own place.
    std::string LogMessages() const
    {
        const std::string log = ReadBytes(dir_ / "launcher.log");
        std::string out;
        size_t start = 0;
        for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::string line = log.substr(start, end - start);
            if (line.size() >= 26 && line[0] == '[' && line[24] == ']' && line[25] == ' ') line = line.substr(26);
            out += line + "\n";
        }
        return out;
    }

    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        const std::string text = ReadBytes(dir_ / kCallsFile);
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            calls.push_back(text.substr(start, end - start));
        return calls;
    }

    // What the stand-in installed as name recorded; waits a bounded time for
    // one still starting. Empty when it never ran.
    std::map<std::string, std::string> StandinRecord(const std::string& name, DWORD waitMs = 0)
    {
        const std::string path = dir_ / (name + ".record.txt");
        for (DWORD waited = 0; !checks::PathExists(path) && waited < waitMs; waited += 50) Sleep(50);
        auto record = ReadKeyed(ReadBytes(path), "");
        if (record.count("process_id")) standinIds_.push_back(std::strtoul(record["process_id"].c_str(), nullptr, 10));
        return record;
    }

private:
    // Only the stand-ins this directory ran, by the process ids they recorded.
    void EndStandins()
    {
        for (DWORD id : standinIds_) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            if (process == nullptr) continue;
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }

    ScratchDir dir_;
    std::vector<DWORD> standinIds_;
};

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// The spawner's two opening lines.
std::string SpawnHead(const GameDir& game, const std::string& name, const std::string& args)
{
    return "[INFO] Spawning client: " + Quoted(game / name) + " " + args + "\n[INFO] Working directory: " +
           Quoted(game.Path()) + "\n";
}

std::string Verified(const GameDir& game, const std::string& name)
{
    return "[INFO] Target executable verified (" + std::to_string(FileSize(game / name)) + " bytes).\n";
}

const std::string kDllHint =
    "\n\nReason: Missing DLL dependency.\nPlease install DirectX 9 End-User Runtime and Visual C++ 2015-2022 "
    "(x86) Redistributable.";
const std::string kAccessHint =
    "\n\nReason: Memory Access Violation (0xC0000005).\nPlease check your graphics settings in opensetup.exe.";

}  // namespace

TEST(SpawnClient, MissingExecutableIsReportedWithoutAnyStart)
{
    GameDir game;
    const Outcome out = game.Run("spawn", "qvx.dll", "4tul8");
    ASSERT_TRUE(out.ran);
    EXPECT_FALSE(out.result);
    const std::string reason =
        "Executable not found: " + (game / "qvx.dll") + " (Error: 2 - " + FormatWindowsError(2) + ")";
    EXPECT_EQ(out.error, reason);
    EXPECT_EQ(game.LogMessages(), SpawnHead(game, "qvx.dll", "4tul8") + "[ERROR] " + reason + "\n");
    EXPECT_TRUE(game.Calls().empty());
}

// Started with CreateProcessA in the game directory: how the stand-in ends
// within the watch decides the result.
TEST(SpawnClient, WatchesTheCreatedProcessForAnImmediateExit)
{
    struct Case {
        const char* name;
        const char* args;
        const char* exitVariable;  // VERANDEL_STANDIN_EXIT, for a start without arguments
        bool result;
        const char* reason;        // nullptr: started, error text untouched
        const char* hint;
        const char* lastLog;       // the closing log line of a start
    };
    const Case cases[] = {
        {"qvx.dll", "4tul8", "", true, nullptr, "", "[INFO] Client process exited cleanly with code 0."},
        {"qvx.dll", "4tul8 --exit=0xC0000135", "", false,
         "Client process exited immediately after start with code 0xC0000135.", kDllHint.c_str(), nullptr},
        {"qvx.dll", "--exit=0xC0000005", "", false,
         "Client process exited immediately after start with code 0xC0000005.", kAccessHint.c_str(), nullptr},
        {"qvx.dll", "--exit=1", "", false, "Client process exited immediately after start with code 0x00000001.",
         "", nullptr},
        // Empty arguments, as the setup action passes: the command line still ends in a blank.
        {"opensetup.exe", "", "0xC0000135", false,
         "Client process exited immediately after start with code 0xC0000135.", kDllHint.c_str(), nullptr},
        // A name with a folder runs from that folder, yet in the game directory.
        {"bin\\qvx.dll", "4tul8", "", true, nullptr, "", "[INFO] Client process exited cleanly with code 0."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.args + " exit variable " + c.exitVariable);
        GameDir game;
        game.InstallStandin(c.name);
        ScopedEnv exitCode("VERANDEL_STANDIN_EXIT", c.exitVariable);
        const Outcome out = game.Run("spawn", c.name, c.args);
        ASSERT_TRUE(out.ran);
        EXPECT_EQ(out.result, c.result);
        const std::string reason = c.reason ? std::string(c.reason) + c.hint : std::string();
        EXPECT_EQ(out.error, c.reason ? reason : std::string(kUntouchedError));

        auto record = game.StandinRecord(c.name);
        EXPECT_EQ(record["command_line"], Quoted(game / c.name) + " " + c.args);
        EXPECT_EQ(record["working_directory"], game.Path());
        const std::string closing = c.reason ? "[ERROR] " + reason : c.lastLog;
        EXPECT_EQ(game.LogMessages(), SpawnHead(game, c.name, c.args) + Verified(game, c.name) +
                                          "[SUCCESS] CreateProcessA initiated. Process ID: " +
                                          record["process_id"] + "\n" + closing + "\n");
        // Only the real CreateProcessA ran; no shell start followed.
        ASSERT_EQ(game.Calls().size(), 1u);
        EXPECT_EQ(game.Calls()[0], "create path=" + (game / c.name) + " cmd=[" + Quoted(game / c.name) + " " +
                                       c.args + "] dir=" + game.Path() +
                                       " startup_cb=104 startup_rest_zero=1 process_zero=1 -> ok");
    }
}

TEST(SpawnClient, AClientStillRunningAfterTheWatchCountsAsStarted)
{
    constexpr unsigned long kStayMs = 4000;
    GameDir game;
    game.InstallStandin("qvx.dll");
    const std::string args = "4tul8 --stay=" + std::to_string(kStayMs);
    const Outcome out = game.Run("spawn", "qvx.dll", args);
    ASSERT_TRUE(out.ran);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.error, kUntouchedError);
    // It watched the half second, and did not wait for the client to end.
    EXPECT_GE(out.elapsedMs, 450u);
    EXPECT_LT(out.elapsedMs, kStayMs - 500);
    auto record = game.StandinRecord("qvx.dll", 10000);
    EXPECT_EQ(record["command_line"], Quoted(game / "qvx.dll") + " " + args);
    EXPECT_EQ(game.LogMessages(), SpawnHead(game, "qvx.dll", args) + Verified(game, "qvx.dll") +
                                      "[SUCCESS] CreateProcessA initiated. Process ID: " + record["process_id"] +
                                      "\n[SUCCESS] Client process verified running normally.\n");
}

namespace {

// The error a recorded call ended with ("... -> error 193"), 0 when it succeeded.
unsigned long RecordedError(const std::string& call)
{
    const size_t at = call.rfind(" -> error ");
    return at == std::string::npos ? 0 : std::strtoul(call.c_str() + at + 10, nullptr, 10);
}

std::string ShellCall(const GameDir& game, const std::string& verb, const std::string& name,
                      const std::string& args, const std::string& answer)
{
    return "shell verb=" + verb + " file=[" + (game / name) + "] params=[" + args + "] dir=[" + game.Path() +
           "] cb=112 mask=0x40 show=1 hwnd=0 rest_zero=1 -> " + answer;
}

std::string WarnLine(unsigned long n)
{
    return "[WARN] CreateProcessA failed (Error " + std::to_string(n) + ": " + FormatWindowsError(n) + ")\n";
}

std::string ShellFailed(const std::string& verb, unsigned long n)
{
    return "[ERROR] ShellExecuteExA (" + verb + ") failed (Error " + std::to_string(n) + ": " +
           FormatWindowsError(n) + ")\n";
}

const std::string kElevationLine = "[INFO] Elevation required. Attempting ShellExecuteEx with verb 'runas'...\n";
const std::string kOpenLine = "[INFO] Attempting ShellExecuteEx with verb 'open'...\n";

}  // namespace

// A file that opens but is no program: the real CreateProcessA refuses it, the
// shell cannot open it either, and the reason names CreateProcessA's error.
TEST(SpawnClient, EveryStartFailingNamesTheCreateProcessError)
{
    GameDir game;
    checks::WriteBytes(game / "qvx.dll", "not a program\r\n");
    const Outcome out = game.Run("spawn", "qvx.dll", "4tul8");
    ASSERT_TRUE(out.ran);
    EXPECT_FALSE(out.result);
    const std::vector<std::string> calls = game.Calls();
    ASSERT_EQ(calls.size(), 2u);
    const unsigned long created = RecordedError(calls[0]), opened = RecordedError(calls[1]);
    ASSERT_NE(created, 0u);
    ASSERT_NE(opened, 0u);
    EXPECT_NE(created, 740u);
    EXPECT_NE(created, 5u);
    EXPECT_EQ(calls[1], ShellCall(game, "open", "qvx.dll", "4tul8", "error " + std::to_string(opened)));
    EXPECT_EQ(out.error, "CreateProcess failed: " + std::to_string(created) + " (" + FormatWindowsError(created) +
                             ")");
    // The last reason is handed back only: the shell's line was logged just before.
    EXPECT_EQ(game.LogMessages(), SpawnHead(game, "qvx.dll", "4tul8") + Verified(game, "qvx.dll") +
                                      WarnLine(created) + kOpenLine + ShellFailed("open", opened));
}

// The elevation road exists only with UAC, so CreateProcessA's failure and
// the shell's answers are replaced; "real" starts the stand-in for real.
TEST(SpawnClient, FallsBackToTheShellAfterCreateProcessFails)
{
    struct Case {
        const char* trace;
        unsigned long createError;
        const char* runas;  // nullptr: not tried
        const char* open;   // nullptr: not tried
        bool result;
    };
    const Case cases[] = {
        {"declined elevation, open fails", 740, "1223", "1155", false},
        {"access denied, runas starts", 5, "ok", nullptr, true},
        {"elevation declined, open starts", 740, "1223", "ok", true},
        {"other error goes straight to open", 2, nullptr, "1155", false},
        {"runas starts a client that ends at once", 740, "real", nullptr, true},
        {"open starts a client that ends at once", 193, nullptr, "real", true},
    };
    const std::string args = "4tul8 --exit=0xC0000005";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace);
        GameDir game;
        game.InstallStandin("qvx.dll");
        std::string fakes = "create=" + std::to_string(c.createError);
        if (c.runas) fakes += std::string(";runas=") + c.runas;
        if (c.open) fakes += std::string(";open=") + c.open;
        const Outcome out = game.Run("spawn", "qvx.dll", args, fakes);
        ASSERT_TRUE(out.ran);
        EXPECT_EQ(out.result, c.result);
        const std::vector<std::string> calls = game.Calls();
        ASSERT_EQ(calls.size(), 1u + (c.runas != nullptr) + (c.open != nullptr));
        std::string log = SpawnHead(game, "qvx.dll", args) + Verified(game, "qvx.dll") + WarnLine(c.createError);
        size_t next = 1;
        for (const char* verb : {"runas", "open"}) {
            const char* answer = std::string(verb) == "runas" ? c.runas : c.open;
            if (!answer) continue;
            const std::string outcome = std::string(answer) == "ok" || std::string(answer) == "real"
                                            ? "ok"
                                            : "error " + std::string(answer);
            EXPECT_EQ(calls[next++], ShellCall(game, verb, "qvx.dll", args, outcome));
            log += std::string(verb) == "runas" ? kElevationLine : kOpenLine;
            log += outcome == "ok" ? "[SUCCESS] ShellExecuteExA (" + std::string(verb) + ") launched successfully.\n"
                                   : ShellFailed(verb, std::strtoul(answer, nullptr, 10));
        }
        EXPECT_EQ(game.LogMessages(), log);
        EXPECT_EQ(out.error, c.result ? std::string(kUntouchedError)
                                      : "CreateProcess failed: " + std::to_string(c.createError) + " (" +
                                            FormatWindowsError(c.createError) + ")");
        // A real shell start ran the stand-in, whose immediate exit is never read.
        const bool realStart = (c.runas && std::string(c.runas) == "real") || (c.open && std::string(c.open) == "real");
        EXPECT_EQ(game.StandinRecord("qvx.dll", realStart ? 10000 : 0).count("command_line"), realStart ? 1u : 0u);
    }
}

// The setup action passes no arguments: the shell gets an empty text, not NULL.
TEST(SpawnClient, ShellStartWithoutArgumentsPassesAnEmptyText)
{
    GameDir game;
    game.InstallStandin("opensetup.exe");
    const Outcome out = game.Run("spawn", "opensetup.exe", "", "create=2;open=ok");
    ASSERT_TRUE(out.ran);
    EXPECT_TRUE(out.result);
    ASSERT_EQ(game.Calls().size(), 2u);
    EXPECT_EQ(game.Calls()[1], ShellCall(game, "open", "opensetup.exe", "", "ok"));
}

TEST(RunningClientCheck, MatchesWholeNamesInAnyCase)
{
    struct Case {
        const char* exeFile;
        const char* clientExe;
        bool client;
    };
    const Case cases[] = {
        {"qvx.dll", "bin\\qvx.dll", true},   {"qvx.dll", "bin/qvx.dll", true},
        {"Game.exe", "bin\\game.EXE", true}, {"game.exe", "bin/", false},
        {"qvx.exe", "bin\\", true},          {"QVX.EXE", "game.exe", true},
        {"QVX.DLL", "", true},               {"qvx.exe.old", "qvx.dll", false},
        {"myqvx.exe", "qvx.dll", false},     {"qvx", "qvx.dll", false},
        {"", "", false},                     {"", "bin\\", false},
        {"a.exe", "c:\\games\\x/a.exe", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsClientProcessName(c.exeFile, c.clientExe), c.client)
            << "process " << c.exeFile << ", client_exe " << c.clientExe;
    }
}

namespace {

// A stand-in started by the check itself under a chosen name, ended with it.
class RunningStandin {
public:
    RunningStandin(GameDir& game, const std::string& name)
    {
        game.InstallStandin(name);
        const std::string path = game / name;
        std::string commandLine = Quoted(path) + " --stay=30000";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created = {};
        if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, game.Path().c_str(),
                            &startup, &created))
            return;
        CloseHandle(created.hThread);
        process_ = created.hProcess;
        started_ = game.StandinRecord(name, 10000).count("process_id") == 1;
    }
    ~RunningStandin()
    {
        if (process_ == nullptr) return;
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
    }
    RunningStandin(const RunningStandin&) = delete;
    RunningStandin& operator=(const RunningStandin&) = delete;
    bool Started() const { return started_; }

private:
    HANDLE process_ = nullptr;
    bool started_ = false;
};

}  // namespace

// Real processes of the prefix. Nothing else runs under a client's name while
// these checks run (they run alone), so "not running" is meaningful.
TEST(RunningClientCheck, FindsAnotherProcessUnderAClientName)
{
    struct Case {
        const char* process;
        const char* clientExe;
        bool running;
    };
    const Case cases[] = {
        {"QVX.EXE", "qvx.dll", true},         {"qvx.dll", "qvx.dll", true},
        {"game.bin", "bin/GAME.bin", true},   {"game.bin", "bin\\", false},
        {"qvx.exe.old", "qvx.dll", false},    {"myqvx.exe", "qvx.dll", false},
    };
    ASSERT_FALSE(IsGameClientRunning("")) << "a client runs already; the cases below would say nothing";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("process ") + c.process + ", client_exe " + c.clientExe);
        GameDir game;
        RunningStandin standin(game, c.process);
        ASSERT_TRUE(standin.Started());
        EXPECT_EQ(IsGameClientRunning(c.clientExe), c.running);
    }
}

// The launcher itself may carry a client's name: its own process never counts.
TEST(RunningClientCheck, SkipsTheLaunchersOwnProcess)
{
    GameDir game;
    Outcome out = game.Run("running", "qvx.dll", "", "", "qvx.dll");
    ASSERT_TRUE(out.ran);
    EXPECT_FALSE(out.result);
    // Another process under the same name does count for it.
    RunningStandin standin(game, "QVX.DLL.bin");
    GameDir other;
    RunningStandin client(other, "qvx.dll");
    ASSERT_TRUE(client.Started());
    out = game.Run("running", "qvx.dll", "", "", "qvx.dll");
    ASSERT_TRUE(out.ran);
    EXPECT_TRUE(out.result);
}

namespace {

const std::string kSetupHead = std::string(50, '=') + "\n[ACTION] Settings / Setup clicked.\n";
const std::string kSetupBox =
    "box title=[Verandel - Setup] style=0x30 text=[Could not find the configuration utility (opensetup.exe) in "
    "the game folder.]";

}  // namespace

TEST(SetupUtility, StartsTheFirstCandidateThatOpens)
{
    struct Case {
        const char* setupExe;
        std::vector<const char*> present;
        const char* started;  // the candidate that runs
    };
    const Case cases[] = {
        {"opensetup.exe", {"opensetup.exe", "Setup.exe"}, "opensetup.exe"},
        {"custom.exe", {"custom.exe", "opensetup.exe"}, "custom.exe"},
        // An empty name leaves the game directory itself, which does not open as a file.
        {"", {"opensetup.exe"}, "opensetup.exe"},
        {"opensetup.exe", {"Setup.exe"}, "Setup.exe"},
        {"custom.exe", {"Setup.exe"}, "Setup.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("setup_exe \"") + c.setupExe + "\" starts " + c.started);
        GameDir game;
        for (const char* name : c.present) game.InstallStandin(name);
        const Outcome out = game.Run("setup", c.setupExe);
        ASSERT_TRUE(out.ran);
        EXPECT_TRUE(out.result);
        EXPECT_EQ(out.error, kUntouchedError);
        for (const char* name : c.present) {
            auto record = game.StandinRecord(name);
            if (std::string(name) != c.started) {
                EXPECT_EQ(record.count("command_line"), 0u) << name << " ran too";
                continue;
            }
            EXPECT_EQ(record["command_line"], Quoted(game / name) + " ");
            EXPECT_EQ(record["working_directory"], game.Path());
            EXPECT_EQ(game.LogMessages(), kSetupHead + SpawnHead(game, name, "") + Verified(game, name) +
                                              "[SUCCESS] CreateProcessA initiated. Process ID: " +
                                              record["process_id"] +
                                              "\n[INFO] Client process exited cleanly with code 0.\n");
        }
        for (const std::string& call : game.Calls()) EXPECT_NE(call.rfind("box ", 0), 0u) << call;
    }
}

TEST(SetupUtility, MissingUtilityIsReportedWithAWarningBox)
{
    for (const char* setupExe : {"opensetup.exe", "custom.exe"}) {
        SCOPED_TRACE(setupExe);
        GameDir game;
        const Outcome out = game.Run("setup", setupExe);
        ASSERT_TRUE(out.ran);
        EXPECT_FALSE(out.result);
        const std::string reason = std::string("Setup utility not found (") + setupExe + ").";
        EXPECT_EQ(out.error, reason);
        EXPECT_EQ(game.LogMessages(), kSetupHead + "[ERROR] " + reason + "\n");
        EXPECT_EQ(game.Calls(), std::vector<std::string>{kSetupBox});
    }
}

// The first candidate that opens is the only one started, even when it fails.
TEST(SetupUtility, AFailedStartIsNotFollowedByTheNextCandidate)
{
    GameDir game;
    game.InstallStandin("opensetup.exe");
    game.InstallStandin("Setup.exe");
    ScopedEnv exitCode("VERANDEL_STANDIN_EXIT", "0xC0000005");
    const Outcome out = game.Run("setup", "opensetup.exe");
    ASSERT_TRUE(out.ran);
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.error, "Client process exited immediately after start with code 0xC0000005." + kAccessHint);
    EXPECT_EQ(game.StandinRecord("opensetup.exe").count("command_line"), 1u);
    EXPECT_EQ(game.StandinRecord("Setup.exe").count("command_line"), 0u);
    ASSERT_EQ(game.Calls().size(), 1u);
    EXPECT_EQ(game.Calls()[0].rfind("create ", 0), 0u);
}
