// The background synchronisation: the start-up pass, the test launcher's
// SYNC FILES pass, their progress reports as window messages, and the flags
// the threads share with the window.
#pragma once

#include "core/config.h"
#include "core/progress.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

extern std::atomic<bool> g_running;         // cleared when the window closes
extern std::atomic<bool> g_syncInProgress;  // a pass works on the game directory

// Starts the start-up pass on a detached thread. g_syncInProgress is set before
// the thread starts and cleared by it once its final report is posted, so that
// SYNC FILES cannot start a second pass on the same game directory meanwhile. False, with the reason, when no
// thread could be started (the flag is then cleared again).
bool StartWorkerThread(HWND hwnd, std::string& error);

// The SYNC FILES thread, started after the window procedure has set
// g_syncInProgress; clears it when its validation returns.
bool StartSyncFilesThread(HWND hwnd, std::string& error);

// Runs body on a standard thread detached at once; false with the reason when
// the thread cannot be created.
bool StartDetachedThread(std::function<void()> body, std::string& error);

// A callback that posts each report as WM_SYNC_PROGRESS {text, percent}, or,
// while its previous message still waits for the window, puts the report in
// that message instead (see ProgressSlot).
ProgressCallback MakeProgressPoster(HWND hwnd);

// The calls of a pass into the synchronisation; RealSyncSteps() are the real
// ones, checks hand in their own.
struct SyncSteps {
    std::function<bool(const std::string& manifestUrl, const std::string& fullClientUrl,
                       const std::string& baseDownloadUrl, const std::string& gameDir,
                       const ProgressCallback& progress, std::string& error)>
        validate;
    std::function<bool(const std::string& patchListUrl, const std::string& patchBaseUrl,
                       const std::string& gameDir, const ProgressCallback& progress,
                       std::string& message)>
        patch;
    std::function<bool(const std::string& seasonManifestUrl, const std::string& seasonDownloadUrl,
                       const std::string& gameDir, const ProgressCallback& progress,
                       std::string& error)>
        season;
    std::function<void(const std::string& root)> cleanup;
};
SyncSteps RealSyncSteps();

// The final report of a pass: WM_SYNC_DONE with text when ok, else WM_SYNC_FAILED.
struct SyncOutcome {
    bool ok = false;
    std::string text;
};

// The passes themselves, with their log lines; they report progress through
// progress and return the final report instead of posting it.
SyncOutcome RunStartupPass(const LauncherConfig& config, bool testLauncher,
                           const SyncSteps& steps, const ProgressCallback& progress);
SyncOutcome RunSyncFilesPass(const LauncherConfig& config, bool testLauncher,
                             const SyncSteps& steps, const ProgressCallback& progress);

// Posts WM_SYNC_DONE {text, 100} or WM_SYNC_FAILED {text, 0}.
void PostSyncOutcome(HWND hwnd, const SyncOutcome& outcome);
