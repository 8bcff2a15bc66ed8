// The client spawner, run in a copy of this program inside a scratch game
// directory with the stand-in client installed under the names it starts.
#include "client/spawn_fixture.h"
#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace spawn_checks;

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
        std::unique_ptr<GameDir> dir;
        Outcome out;
        for (int attempt = 0; attempt < kSlowStartAttempts; ++attempt) {
            dir.reset(new GameDir);
            dir->InstallStandin(c.name);
            ScopedEnv exitCode("VERANDEL_STANDIN_EXIT", c.exitVariable);
            out = dir->Run("spawn", c.name, c.args);
            if (!OutlivedTheWatch(*dir)) break;
        }
        GameDir& game = *dir;
        ASSERT_TRUE(out.ran);
        EXPECT_EQ(out.result, c.result);
        const std::string reason = c.reason ? std::string(c.reason) + c.hint : std::string();
        EXPECT_EQ(out.error, c.reason ? reason : std::string(kUntouchedError));
        EXPECT_EQ(out.startedHandles, 2u);
        EXPECT_EQ(out.stillOpen, 0u);

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
                                       " startup_cb=104 startup_rest_zero=1 process_zero=1 file_closed=1 -> ok");
    }
}

TEST(SpawnClient, AClientStillRunningAfterTheWatchCountsAsStarted)
{
    // Long beside the watch, so that a slow start on a loaded machine still ends
    // well before the client; the scratch directory ends it afterwards.
    constexpr unsigned long kStayMs = 15000;
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
    EXPECT_EQ(out.startedHandles, 2u);
    EXPECT_EQ(out.stillOpen, 0u);
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
        auto record = game.StandinRecord("qvx.dll", realStart ? 10000 : 0);
        ASSERT_EQ(record.count("command_line"), realStart ? 1u : 0u);
        if (realStart) {
            EXPECT_EQ(record["working_directory"], game.Path());
            const std::string& commandLine = record["command_line"];
            ASSERT_GE(commandLine.size(), args.size());
            EXPECT_EQ(commandLine.substr(commandLine.size() - args.size()), args) << commandLine;
        }
        EXPECT_EQ(out.stillOpen, 0u);
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
