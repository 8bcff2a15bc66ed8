#include "client/old_binaries.h"

#include "core/files.h"
#include "core/identity.h"
#include "core/log.h"

#include <windows.h>

#include <chrono>
#include <system_error>
#include <thread>

// The identity strings that ResolveLauncherPaths fills.
extern std::string g_launcherDir;
extern std::string g_launcherPath;

namespace {

// Deletes the file at path when there is one. False only when a file is there
// and could not be deleted; a missing path or a directory counts as done, and
// so does a link to another file, which is left (waiting would not change it).
bool DeleteLeftover(const std::string& path)
{
    switch (DeleteFileNotThroughLink(path)) {
    case FileDeletion::Deleted:
        LogLine("[INFO] Cleaned up old binary: " + path);
        return true;
    case FileDeletion::Failed:
        return false;
    case FileDeletion::NoFile:
    case FileDeletion::LeftLink:
        break;
    }
    return true;
}

}  // namespace

std::vector<std::string> OldBinaryCleanupPaths(const std::string& launcherDir,
                                               const std::string& launcherPath)
{
    return {launcherPath + ".old",
            launcherDir + "\\QVX_Launcher.exe.old",
            launcherDir + "\\QVX_TEST_LAUNCHER.exe.old",
            launcherDir + "\\qvx.exe.old",
            launcherDir + "\\themes\\season_1\\logo.png",
            launcherDir + "\\themes\\season_1\\reverberation.png",
            launcherDir + "\\themes\\season_1\\resonance.png",
            launcherDir + "\\themes\\season_1\\ostraneII.png"};
}

int RunOldBinaryCleanup(const std::vector<std::string>& paths,
                        const std::function<void(unsigned ms)>& pause)
{
    for (int pass = 1; pass <= kOldBinaryCleanupPasses; ++pass) {
        bool failed = false;
        for (const std::string& path : paths)
            if (!DeleteLeftover(path)) failed = true;
        if (!failed) return pass;
        pause(kOldBinaryCleanupPauseMs);
    }
    return kOldBinaryCleanupPasses;
}

void GameLauncher::CleanupOldBinariesAsync()
{
    if (g_launcherDir.empty()) ResolveLauncherPaths();
    std::string dir = g_launcherDir;
    if (g_launcherPath.empty()) ResolveLauncherPaths();
    std::string path = g_launcherPath;
    try {
        std::thread([dir = std::move(dir), path = std::move(path)] {
            RunOldBinaryCleanup(OldBinaryCleanupPaths(dir, path), [](unsigned ms) {
                // sleep_for resumes an interrupted sleep for the time that is left.
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            });
        }).detach();
    } catch (const std::system_error& e) {
        // The leftovers only cost disk space, and the next start tries again.
        LogLine(std::string("[WARN] Could not start the old-binary clean-up: ") + e.what());
    }
}
