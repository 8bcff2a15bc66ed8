#include "client/play.h"

#include "client/client_dir.h"
#include "client/client_files.h"
#include "client/message_box.h"
#include "client/realm_profile.h"
#include "client/running_check.h"
#include "client/spawner.h"
#include "core/identity.h"
#include "core/log.h"

#include <windows.h>

namespace {

const char kLaunchErrorTitle[] = "Verandel - Launch Error";

const char kLegacyFailureOpening[] = "Failed to launch the Verandel game client!\n\nExecutable: ";
const char kLegacyTroubleshooting[] =
    "\n\nTroubleshooting:\n1. Run the launcher as Administrator (Right-click -> Run as administrator).\n2. Check "
    "if your antivirus (e.g. Windows Defender) blocked qvx.dll.\n3. Ensure DirectX 9 and Visual C++ 2015-2022 (x86) "
    "are installed.\n\nDetailed diagnostic logs have been saved to: launcher.log";
const char kSeasonFailureOpening[] = "Failed to launch the Verandel game client (Season Realm)!\n\nExecutable: ";
const char kSeasonTroubleshooting[] =
    "\n\nTroubleshooting:\n1. Run the launcher as Administrator.\n2. Check if your antivirus blocked the game "
    "files.\n\nDetailed diagnostic logs have been saved to: launcher.log";

void LogAction(const char* action)
{
    LogLine(std::string(50, '='));
    LogLine(action);
}

// Nothing of the client's may be touched while one runs: it holds its files open.
bool RefuseWhileClientRuns(const std::string& clientExe, std::string& error)
{
    if (!IsGameClientRunning(clientExe)) return false;
    error = "Game client is already running.";
    LogLine("[WARN] Launch blocked: Verandel client is already running.");
    ShowActionMessageBox(nullptr,
                         "Verandel is already running!\n\nOnly one game instance can be open at a time. Please close "
                         "the active game window before launching again.",
                         "Verandel - Already Running", MB_ICONINFORMATION);
    return true;
}

// The spawner has logged its reason and left it in the error text.
bool PrepareAndSpawn(const std::string& clientExe, const std::string& clientArgs, std::string& error,
                     const char* failureOpening, const char* troubleshooting)
{
    const std::string exe = PrepareClientDirectory(clientExe);
    if (SpawnClient(exe, clientArgs, error)) return true;
    ShowActionMessageBox(nullptr,
                         failureOpening + exe + "\nGame Directory: " + GetLauncherDir() + "\nDetails: " + error +
                             troubleshooting,
                         kLaunchErrorTitle, MB_ICONERROR);
    return false;
}

// A Season launch that cannot go on: logged as an error and shown.
bool StopSeasonLaunch(std::string& error, const char* reason, const char* box)
{
    error = reason;
    LogLine("[ERROR] " + error);
    ShowActionMessageBox(nullptr, box, kLaunchErrorTitle, MB_ICONERROR);
    return false;
}

}  // namespace

bool PlayLegacy(const std::string& clientExe, const std::string& clientArgs, std::string& error)
{
    const bool testLauncher = IsTestLauncher();
    LogAction(testLauncher ? "[ACTION] Play (Test Server) clicked." : "[ACTION] Play Legacy clicked.");
    if (RefuseWhileClientRuns(clientExe, error)) return false;

    WriteDataIni("legacy");
    WriteClientInfo(testLauncher ? "test" : "legacy");
    // Without a Legacy profile the game directory's own files stay in use.
    ActivateRealmProfile("legacy");
    return PrepareAndSpawn(clientExe, clientArgs, error, kLegacyFailureOpening, kLegacyTroubleshooting);
}

bool PlaySeason(const std::string& clientExe, const std::string& clientArgs, std::string& error)
{
    LogAction("[ACTION] Play Season clicked.");
    if (RefuseWhileClientRuns(clientExe, error)) return false;

    WriteDataIni("season");
    WriteClientInfo("season");
    const RealmActivation activation = ActivateRealm("season");
    if (activation == RealmActivation::ProfileMissing)
        return StopSeasonLaunch(error, "Season realm profile files are missing.",
                                "Season realm files are missing from profiles\\season!\n\nPlease restart the "
                                "launcher so it can download the Season realm files.");
    // The profile is there; another program holds the active archive, so a
    // new download would not help.
    if (activation == RealmActivation::ArchiveNotPlaced)
        return StopSeasonLaunch(error, "Could not activate the Season realm archive qvx_patch.grf.",
                                "The Season realm archive could not be put in place as qvx_patch.grf!\n\nPlease "
                                "close the game and any program using qvx_patch.grf, then try again.");
    return PrepareAndSpawn(clientExe, clientArgs, error, kSeasonFailureOpening, kSeasonTroubleshooting);
}
