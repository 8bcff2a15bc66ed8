// The running-client check on names and on real processes of the prefix, and
// the setup action in scratch game directories.
#include "client/running_check.h"
#include "client/spawn_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace spawn_checks;

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
        std::unique_ptr<GameDir> dir;
        Outcome out;
        for (int attempt = 0; attempt < kSlowStartAttempts; ++attempt) {
            dir.reset(new GameDir);
            for (const char* name : c.present) dir->InstallStandin(name);
            out = dir->Run("setup", c.setupExe);
            if (!OutlivedTheWatch(*dir)) break;
        }
        GameDir& game = *dir;
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
    ScopedEnv exitCode("VERANDEL_STANDIN_EXIT", "0xC0000005");
    std::unique_ptr<GameDir> dir;
    Outcome out;
    for (int attempt = 0; attempt < kSlowStartAttempts; ++attempt) {
        dir.reset(new GameDir);
        dir->InstallStandin("opensetup.exe");
        dir->InstallStandin("Setup.exe");
        out = dir->Run("setup", "opensetup.exe");
        if (!OutlivedTheWatch(*dir)) break;
    }
    GameDir& game = *dir;
    ASSERT_TRUE(out.ran);
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.error, "Client process exited immediately after start with code 0xC0000005." + kAccessHint);
    EXPECT_EQ(game.StandinRecord("opensetup.exe").count("command_line"), 1u);
    EXPECT_EQ(game.StandinRecord("Setup.exe").count("command_line"), 0u);
    ASSERT_EQ(game.Calls().size(), 1u);
    EXPECT_EQ(game.Calls()[0].rfind("create ", 0), 0u);
}
