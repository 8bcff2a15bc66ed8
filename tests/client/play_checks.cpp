// The play actions in a scratch game directory with the stand-in client: the
// refusal while a client runs, the realm each file step receives, the Season
// profile refusal and the failure box around the spawner's reason.
#include "client/action_boxes.h"
#include "client/client_files.h"
#include "client/client_prep_support.h"
#include "client/play.h"
#include "client/spawn_fixture.h"
#include "core/identity.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

using checks::PathExists;
using checks::ReadBytes;
using checks::RecordedBox;
using checks::WriteBytes;
using spawn_checks::GameDir;
using spawn_checks::ScopedEnv;

namespace {

const char kCallVariable[] = "VERANDEL_PLAY_CALL";  // "legacy" or "season"
const char kExeVariable[] = "VERANDEL_PLAY_EXE";
const char kArgsVariable[] = "VERANDEL_PLAY_ARGS";
const char kRegistryVariable[] = "VERANDEL_PLAY_HKCU";
const char kBoxesFile[] = "boxes.txt";
const char kResultFile[] = "play_result.txt";
const char kErrorBefore[] = "error text from before";
const char kLiveLauncher[] = "QVX_Launcher.exe";
const char kTestLauncher[] = "QVX_TEST_LAUNCHER.exe";

const std::string kSeparator(50, '=');
const char kLaunchErrorTitle[] = "Verandel - Launch Error";
const char kLegacyOpening[] = "Failed to launch the Verandel game client!\n\nExecutable: ";
const char kLegacyTroubleshooting[] =
    "\n\nTroubleshooting:\n1. Run the launcher as Administrator (Right-click -> Run as administrator).\n2. Check "
    "if your antivirus (e.g. Windows Defender) blocked qvx.dll.\n3. Ensure DirectX 9 and Visual C++ 2015-2022 (x86) "
    "are installed.\n\nDetailed diagnostic logs have been saved to: launcher.log";
const char kSeasonOpening[] = "Failed to launch the Verandel game client (Season Realm)!\n\nExecutable: ";
const char kSeasonTroubleshooting[] =
    "\n\nTroubleshooting:\n1. Run the launcher as Administrator.\n2. Check if your antivirus blocked the game "
    "files.\n\nDetailed diagnostic logs have been saved to: launcher.log";

struct PlayRun {
    bool ran = false;
    bool result = false;
    std::string error;
    std::vector<RecordedBox> boxes;
};

// Runs PlayLegacy or PlaySeason in a copy named launcher inside the game directory.
PlayRun RunPlay(GameDir& game, const std::string& call, const std::string& launcher,
                const checks::ScratchRegistry& registry, const std::string& args = "1rag1")
{
    ScopedEnv c(kCallVariable, call), e(kExeVariable, "qvx.dll"), a(kArgsVariable, args),
        r(kRegistryVariable, registry.Root());
    PlayRun run;
    if (checks::RunCheckInCopy(game.Path(), launcher, "PlayInGameDirectory.DISABLED_Run") != 0) return run;
    const std::string result = ReadBytes(game / kResultFile);
    run.ran = result.size() >= 2;
    if (!run.ran) return run;
    run.result = result[0] == '1';
    run.error = result.substr(2);
    run.boxes = checks::ReadRecordedBoxes(game / kBoxesFile);
    return run;
}

void MakeSeasonProfile(GameDir& game)
{
    CreateDirectoryA((game / "profiles").c_str(), nullptr);
    CreateDirectoryA((game / "profiles\\season").c_str(), nullptr);
    CreateDirectoryA((game / "profiles\\season\\System").c_str(), nullptr);
    WriteBytes(game / "profiles\\season\\System\\realm.lua", "season system");
    WriteBytes(game / "profiles\\season\\qvx_patch.grf", "season grf");
}

void ExpectBox(const std::vector<RecordedBox>& boxes, const std::string& title, unsigned style,
               const std::string& text)
{
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, 0u);
    EXPECT_EQ(boxes[0].title, title);
    EXPECT_EQ(boxes[0].style, style);
    EXPECT_EQ(boxes[0].text, text);
}

}  // namespace

// The copy's side: the action named in the environment, its boxes recorded.
TEST(PlayInGameDirectory, DISABLED_Run)
{
    const std::string root = checks::EnvValue(kRegistryVariable);
    if (!root.empty()) {
        ASSERT_TRUE(checks::RedirectCurrentUser(root));
    }
    const std::string dir = GetLauncherDir();
    checks::RecordActionBoxes(dir + "\\" + kBoxesFile, IDOK);
    std::string error = kErrorBefore;
    const std::string exe = checks::EnvValue(kExeVariable), args = checks::EnvValue(kArgsVariable);
    const bool result =
        checks::EnvValue(kCallVariable) == "season" ? PlaySeason(exe, args, error) : PlayLegacy(exe, args, error);
    std::ofstream(dir + "\\" + kResultFile, std::ios::binary) << (result ? "1" : "0") << "\n" << error;
}

// A client started by hand blocks both actions before any client file is written.
TEST(PlayActions, RunningClientBlocksBeforeAnythingIsWritten)
{
    for (const std::string call : {"legacy", "season"}) {
        SCOPED_TRACE(call);
        GameDir game;
        checks::ScratchRegistry registry("play-running");
        if (call == "season") MakeSeasonProfile(game);
        game.InstallStandin("qvx.dll");
        spawn_checks::RunningStandin running(game, "qvx.exe");
        ASSERT_TRUE(running.Started());

        const PlayRun run = RunPlay(game, call, kLiveLauncher, registry);
        ASSERT_TRUE(run.ran);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.error, "Game client is already running.");
        ExpectBox(run.boxes, "Verandel - Already Running", MB_ICONINFORMATION,
                  "Verandel is already running!\n\nOnly one game instance can be open at a time. Please close the "
                  "active game window before launching again.");
        const std::string action = call == "season" ? "[ACTION] Play Season clicked." : "[ACTION] Play Legacy clicked.";
        EXPECT_EQ(game.LogMessages(),
                  kSeparator + "\n" + action + "\n[WARN] Launch blocked: Verandel client is already running.\n");
        for (const char* untouched : {"DATA.INI", "DATA_LEGACY.INI", "DATA_SEASON.INI", "data", "savedata",
                                      "System", "qvx_patch.grf", "qvx.dll.record.txt"})
            EXPECT_FALSE(PathExists(game / untouched)) << untouched;
        EXPECT_TRUE(PathExists(game / "qvx.exe"));
    }
}

// Which realm each file step receives, on a live and a test launcher.
TEST(PlayActions, StartedClientAfterTheRealmsFiles)
{
    struct Case {
        const char* call;
        const char* launcher;
        const char* action;
        const char* dataIniCopy;
        const char* clientInfoMode;
    };
    const Case cases[] = {
        {"legacy", kLiveLauncher, "[ACTION] Play Legacy clicked.", "DATA_LEGACY.INI", "legacy"},
        {"legacy", kTestLauncher, "[ACTION] Play (Test Server) clicked.", "DATA_LEGACY.INI", "test"},
        {"season", kLiveLauncher, "[ACTION] Play Season clicked.", "DATA_SEASON.INI", "season"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " on " + c.launcher);
        GameDir game;
        checks::ScratchRegistry registry("play-start");
        game.InstallStandin("qvx.dll");
        // Legacy has no profile here: the game directory's own files stay in use.
        CreateDirectoryA((game / "System").c_str(), nullptr);
        WriteBytes(game / "System\\realm.lua", "own system");
        WriteBytes(game / "qvx_patch.grf", "own grf");
        const bool season = std::string(c.call) == "season";
        if (season) MakeSeasonProfile(game);

        const PlayRun run = RunPlay(game, c.call, c.launcher, registry, "1rag1 --exit=0");
        ASSERT_TRUE(run.ran);
        EXPECT_TRUE(run.result);
        EXPECT_EQ(run.error, kErrorBefore);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_EQ(game.LogMessages().rfind(kSeparator + "\n" + c.action + "\n", 0), 0u) << game.LogMessages();

        EXPECT_EQ(ReadBytes(game / "DATA.INI"), DataIniText());
        EXPECT_TRUE(PathExists(game / c.dataIniCopy));
        EXPECT_EQ(ReadBytes(game / "data\\sclientinfo.xml"), ClientInfoTemplateFor(c.clientInfoMode));
        EXPECT_TRUE(PathExists(game / ("data\\sclientinfo_" + std::string(c.clientInfoMode) + ".xml")));
        EXPECT_EQ(ReadBytes(game / "qvx_patch.grf"), season ? "season grf" : "own grf");
        EXPECT_EQ(ReadBytes(game / "System\\realm.lua"), season ? "season system" : "own system");
        EXPECT_TRUE(PathExists(game / "savedata\\OptionInfo.lua"));

        const auto record = game.StandinRecord("qvx.dll", 5000);
        ASSERT_EQ(record.count("command_line"), 1u);
        EXPECT_NE(record.at("command_line").find("1rag1"), std::string::npos);
    }
}

// Without profiles\season\System the Season files are written, then the
// action stops before the directory is tidied or anything is started.
TEST(PlayActions, SeasonWithoutProfileStopsAfterTheFiles)
{
    GameDir game;
    checks::ScratchRegistry registry("play-season");
    game.InstallStandin("qvx.dll");
    const PlayRun run = RunPlay(game, "season", kLiveLauncher, registry);
    ASSERT_TRUE(run.ran);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.error, "Season realm profile files are missing.");
    ExpectBox(run.boxes, kLaunchErrorTitle, MB_ICONERROR,
              "Season realm files are missing from profiles\\season!\n\nPlease restart the launcher so it can "
              "download the Season realm files.");
    const std::string log = game.LogMessages();
    const std::string last = "[ERROR] Season realm profile files are missing.\n";
    EXPECT_EQ(log.compare(log.size() - last.size(), last.size(), last), 0) << log;
    EXPECT_TRUE(PathExists(game / "DATA_SEASON.INI"));
    EXPECT_EQ(ReadBytes(game / "data\\sclientinfo.xml"), ClientInfoTemplateFor("season"));
    EXPECT_FALSE(PathExists(game / "savedata"));
    EXPECT_FALSE(PathExists(game / "qvx.dll.record.txt"));
}

// With the profile there but the active archive held by another program, the
// box says so instead of asking for a new download that would not help.
TEST(PlayActions, SeasonArchiveThatCannotBePlacedStopsWithItsOwnReason)
{
    GameDir game;
    checks::ScratchRegistry registry("play-season-held");
    game.InstallStandin("qvx.dll");
    MakeSeasonProfile(game);
    CreateDirectoryA((game / "profiles\\legacy").c_str(), nullptr);
    WriteBytes(game / "profiles\\legacy\\qvx_patch.grf", "legacy grf");
    ASSERT_TRUE(CreateHardLinkA((game / "qvx_patch.grf").c_str(),
                                (game / "profiles\\legacy\\qvx_patch.grf").c_str(), nullptr));
    // Held open without delete sharing: neither replaced nor moved aside.
    HANDLE held = CreateFileA((game / "qvx_patch.grf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const PlayRun run = RunPlay(game, "season", kLiveLauncher, registry);
    CloseHandle(held);
    ASSERT_TRUE(run.ran);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.error, "Could not activate the Season realm archive qvx_patch.grf.");
    ExpectBox(run.boxes, kLaunchErrorTitle, MB_ICONERROR,
              "The Season realm archive could not be put in place as qvx_patch.grf!\n\nPlease close the game "
              "and any program using qvx_patch.grf, then try again.");
    EXPECT_EQ(ReadBytes(game / "qvx_patch.grf"), "legacy grf");
    EXPECT_FALSE(PathExists(game / "qvx.dll.record.txt"));
}

// The failure box names the configured executable and the game directory and
// carries the spawner's reason whole, hint lines included.
TEST(PlayActions, SpawnFailureBoxCarriesTheSpawnersReason)
{
    struct Case {
        const char* call;
        bool installed;        // false: no qvx.dll at all
        const char* exitCode;  // of the stand-in, when installed
        const char* opening;
        const char* troubleshooting;
    };
    const Case cases[] = {
        {"legacy", false, "", kLegacyOpening, kLegacyTroubleshooting},
        {"legacy", true, "0xC0000135", kLegacyOpening, kLegacyTroubleshooting},
        {"season", false, "", kSeasonOpening, kSeasonTroubleshooting},
        {"season", true, "0xC0000005", kSeasonOpening, kSeasonTroubleshooting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + (c.installed ? " exits with " + std::string(c.exitCode) : " missing"));
        std::unique_ptr<GameDir> dir;
        std::unique_ptr<checks::ScratchRegistry> registry;
        PlayRun run;
        for (int attempt = 0; attempt < spawn_checks::kSlowStartAttempts; ++attempt) {
            registry.reset();
            dir.reset(new GameDir);
            registry.reset(new checks::ScratchRegistry("play-fail"));
            if (std::string(c.call) == "season") MakeSeasonProfile(*dir);
            if (c.installed) dir->InstallStandin("qvx.dll");
            ScopedEnv exitCode("VERANDEL_STANDIN_EXIT", c.exitCode);
            run = RunPlay(*dir, c.call, kLiveLauncher, *registry);
            if (!spawn_checks::OutlivedTheWatch(*dir)) break;
        }
        GameDir& game = *dir;
        ASSERT_TRUE(run.ran);
        EXPECT_FALSE(run.result);
        EXPECT_FALSE(run.error.empty());
        EXPECT_EQ(run.error.find(kErrorBefore), std::string::npos) << run.error;
        if (c.installed) {
            const std::string& hint =
                std::string(c.exitCode) == "0xC0000135" ? spawn_checks::kDllHint : spawn_checks::kAccessHint;
            EXPECT_NE(run.error.find(hint), std::string::npos) << run.error;
        }
        ExpectBox(run.boxes, kLaunchErrorTitle, MB_ICONERROR,
                  c.opening + std::string("qvx.dll\nGame Directory: ") + game.Path() + "\nDetails: " + run.error +
                      c.troubleshooting);
        EXPECT_TRUE(PathExists(game / "savedata\\OptionInfo.lua"));
    }
}
