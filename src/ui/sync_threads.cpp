#include "ui/sync_threads.h"

#include "core/identity.h"
#include "core/log.h"
#include "sync/cleanup.h"
#include "sync/patches.h"
#include "sync/season.h"
#include "sync/validate.h"
#include "ui/messages.h"

#include <memory>
#include <system_error>
#include <thread>

std::atomic<bool> g_running{true};
std::atomic<bool> g_syncInProgress{false};

namespace {

SyncOutcome Failed(const std::string& logLine, const std::string& text)
{
    LogLine(logLine);
    return {false, text};
}

void WorkerThreadFunc(HWND hwnd)
{
    SyncOutcome outcome =
        RunStartupPass(g_config, IsTestLauncher(), RealSyncSteps(), MakeProgressPoster(hwnd));
    // Released only after the report: a SYNC FILES click taken in between
    // would start a validation that the report then shows as finished, with
    // PLAY usable while it still replaces files.
    PostSyncOutcome(hwnd, outcome);
    g_syncInProgress.exchange(false);
}

void SyncFilesThreadFunc(HWND hwnd)
{
    SyncOutcome outcome =
        RunSyncFilesPass(g_config, IsTestLauncher(), RealSyncSteps(), MakeProgressPoster(hwnd));
    // Released only after the report, as the start-up worker does: a click
    // taken in between would start a second pass under this one's report.
    PostSyncOutcome(hwnd, outcome);
    g_syncInProgress.exchange(false);
}

}  // namespace

bool StartDetachedThread(std::function<void()> body, std::string& error)
{
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error& e) {
        error = std::string("could not start a thread: ") + e.what();
        return false;
    }
}

bool StartWorkerThread(HWND hwnd, std::string& error)
{
    g_syncInProgress.exchange(true);
    if (StartDetachedThread([hwnd] { WorkerThreadFunc(hwnd); }, error)) return true;
    g_syncInProgress.exchange(false);
    return false;
}

bool StartSyncFilesThread(HWND hwnd, std::string& error)
{
    return StartDetachedThread([hwnd] { SyncFilesThreadFunc(hwnd); }, error);
}

ProgressCallback MakeProgressPoster(HWND hwnd)
{
    auto slot = std::make_shared<ProgressSlot>();
    return [hwnd, slot](const std::string& text, float percent, uint64_t, uint64_t) {
        // Declared before the lock, so that a payload whose post failed (the
        // window is gone) is deleted after the lock is released: its
        // destructor takes the lock too.
        std::unique_ptr<ProgressMessage> message;
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->waiting) {
            slot->waiting->text = text;
            slot->waiting->percent = percent;
            return;
        }
        message = std::make_unique<ProgressMessage>();
        message->text = text;
        message->percent = percent;
        message->slot = slot;
        // Posted under the lock: the window cannot take the message before it
        // is known as the waiting one.
        if (PostMessageA(hwnd, WM_SYNC_PROGRESS, reinterpret_cast<WPARAM>(message.get()), 0))
            slot->waiting = message.release();
    };
}

SyncSteps RealSyncSteps()
{
    SyncSteps steps;
    steps.validate = ValidateGameFiles;
    steps.patch = CheckAndInstallPatches;
    steps.season = SyncSeasonProfile;
    steps.cleanup = CleanupGarbageFiles;
    return steps;
}

SyncOutcome RunStartupPass(const LauncherConfig& config, bool testLauncher,
                           const SyncSteps& steps, const ProgressCallback& progress)
{
    if (testLauncher) {
        LogLine("[INFO] Test launcher: skipping automatic file integrity check on startup. "
                "Click 'SYNC FILES' to manually verify/download.");
    } else {
        LogLine("[INFO] Validating files integrity...");
        std::string error;
        if (!steps.validate(config.manifest_url, config.full_client_url, config.base_download_url,
                            "", progress, error))
            return Failed("[ERROR] File integrity validation failed: " + error,
                          "File integrity validation error: " + error);
        LogLine("[INFO] File integrity validation passed.");
    }

    LogLine("[INFO] Checking for patch updates...");
    std::string message;
    if (!steps.patch(config.patch_list_url, config.patch_base_url, "", progress, message))
        return Failed("[ERROR] Patch update error: " + message, "Update error: " + message);

    if (!testLauncher && config.season_enabled) {
        LogLine("[INFO] Synchronizing Season realm profile...");
        std::string error;
        if (!steps.season(config.season_manifest_url, config.season_download_url, "", progress,
                          error))
            return Failed("[ERROR] Season profile sync failed: " + error,
                          "Season sync error: " + error);
        LogLine("[INFO] Season realm profile synchronized.");
    }

    LogLine("[INFO] Patch updates completed: " + message);
    return {true, message};
}

SyncOutcome RunSyncFilesPass(const LauncherConfig& config, bool testLauncher,
                             const SyncSteps& steps, const ProgressCallback& progress)
{
    LogLine("[INFO] User triggered files synchronization via SYNC FILES button...");
    if (testLauncher) steps.cleanup("");
    std::string error;
    if (!steps.validate(config.manifest_url, config.full_client_url, config.base_download_url, "",
                        progress, error))
        return Failed("[ERROR] Synchronization failed: " + error, "Sync error: " + error);
    LogLine("[INFO] Synchronization finished successfully.");
    return {true, "Files synchronized successfully!"};
}

void PostSyncOutcome(HWND hwnd, const SyncOutcome& outcome)
{
    auto message = std::make_unique<ProgressMessage>();
    message->text = outcome.text;
    message->percent = outcome.ok ? 100.0f : 0.0f;
    PostOwnedMessage(hwnd, outcome.ok ? WM_SYNC_DONE : WM_SYNC_FAILED, std::move(message));
}
