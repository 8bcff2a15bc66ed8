// The start-up and SYNC FILES passes over stand-in steps (which steps run, in
// which order, with which addresses, and the final report), and the reports as
// posted window messages.
#include "ui/log_lines.h"
#include "ui/messages.h"
#include "ui/sync_threads.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// Records every call of the steps; each step's result comes from the case.
struct StepScript {
    bool validateOk = true;
    bool patchOk = true;
    bool seasonOk = true;
    std::vector<std::string> calls;

    SyncSteps Steps()
    {
        SyncSteps steps;
        steps.validate = [this](const std::string& manifest, const std::string& full,
                                const std::string& base, const std::string& dir,
                                const ProgressCallback&, std::string& error) {
            calls.push_back("validate " + manifest + " " + full + " " + base + " [" + dir + "]");
            if (!validateOk) error = "manifest unreadable";
            return validateOk;
        };
        steps.patch = [this](const std::string& list, const std::string& base,
                             const std::string& dir, const ProgressCallback&, std::string& message) {
            calls.push_back("patch " + list + " " + base + " [" + dir + "]");
            message = patchOk ? "Game is up to date (v7)." : "patch 8 broken";
            return patchOk;
        };
        steps.season = [this](const std::string& manifest, const std::string& download,
                              const std::string& dir, const ProgressCallback&, std::string& error) {
            calls.push_back("season " + manifest + " " + download + " [" + dir + "]");
            if (!seasonOk) error = "season manifest missing";
            return seasonOk;
        };
        steps.cleanup = [this](const std::string& root) { calls.push_back("cleanup [" + root + "]"); };
        return steps;
    }
};

LauncherConfig ConfigWithAddresses(bool seasonEnabled)
{
    LauncherConfig config;
    config.manifest_url = "M";
    config.full_client_url = "F";
    config.base_download_url = "B";
    config.patch_list_url = "L";
    config.patch_base_url = "P";
    config.season_manifest_url = "SM";
    config.season_download_url = "SD";
    config.season_enabled = seasonEnabled;
    return config;
}

const std::string kValidate = "validate M F B []";
const std::string kPatch = "patch L P []";
const std::string kSeason = "season SM SD []";

TEST(StartupPass, StepsRunInOrderAndTheFirstFailureEndsThePass)
{
    struct Case {
        const char* name;
        bool testLauncher, seasonEnabled, validateOk, patchOk, seasonOk;
        std::vector<std::string> calls;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {"live, no season", false, false, true, true, true, {kValidate, kPatch}, true,
         "Game is up to date (v7)."},
        {"live with season: the result is the patch step's", false, true, true, true, true,
         {kValidate, kPatch, kSeason}, true, "Game is up to date (v7)."},
        {"validation fails", false, true, false, true, true, {kValidate}, false,
         "File integrity validation error: manifest unreadable"},
        {"patching fails", false, true, true, false, true, {kValidate, kPatch}, false,
         "Update error: patch 8 broken"},
        {"season fails", false, true, true, true, false, {kValidate, kPatch, kSeason}, false,
         "Season sync error: season manifest missing"},
        {"test launcher: no validation, never the season", true, true, true, true, true, {kPatch},
         true, "Game is up to date (v7)."},
        {"test launcher, patching fails", true, false, true, false, true, {kPatch}, false,
         "Update error: patch 8 broken"},
    };
    for (const Case& c : cases) {
        StepScript script;
        script.validateOk = c.validateOk;
        script.patchOk = c.patchOk;
        script.seasonOk = c.seasonOk;
        const SyncOutcome outcome = RunStartupPass(ConfigWithAddresses(c.seasonEnabled),
                                                   c.testLauncher, script.Steps(), nullptr);
        EXPECT_EQ(script.calls, c.calls) << c.name;
        EXPECT_EQ(outcome.ok, c.ok) << c.name;
        EXPECT_EQ(outcome.text, c.text) << c.name;
    }
}

TEST(SyncFilesPass, CleansUpOnATestLauncherThenValidatesOnly)
{
    struct Case {
        bool testLauncher, validateOk;
        std::vector<std::string> calls;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {true, true, {"cleanup []", kValidate}, true, "Files synchronized successfully!"},
        {true, false, {"cleanup []", kValidate}, false, "Sync error: manifest unreadable"},
        {false, true, {kValidate}, true, "Files synchronized successfully!"},
    };
    for (const Case& c : cases) {
        StepScript script;
        script.validateOk = c.validateOk;
        const SyncOutcome outcome =
            RunSyncFilesPass(ConfigWithAddresses(true), c.testLauncher, script.Steps(), nullptr);
        EXPECT_EQ(script.calls, c.calls);
        EXPECT_EQ(outcome.ok, c.ok);
        EXPECT_EQ(outcome.text, c.text);
    }
}

// Run in a copy of this program in a folder of its own, whose launcher.log
// then holds only these passes' lines.
TEST(PassLog, DISABLED_Passes)
{
    StepScript failingValidation;
    failingValidation.validateOk = false;
    RunStartupPass(ConfigWithAddresses(true), false, failingValidation.Steps(), nullptr);
    StepScript failingSeason;
    failingSeason.seasonOk = false;
    RunStartupPass(ConfigWithAddresses(true), false, failingSeason.Steps(), nullptr);
    StepScript allPass;
    RunStartupPass(ConfigWithAddresses(true), false, allPass.Steps(), nullptr);
    StepScript failingPatch;
    failingPatch.patchOk = false;
    RunStartupPass(ConfigWithAddresses(true), true, failingPatch.Steps(), nullptr);
    RunSyncFilesPass(ConfigWithAddresses(true), true, failingValidation.Steps(), nullptr);
    RunSyncFilesPass(ConfigWithAddresses(true), true, allPass.Steps(), nullptr);
}

TEST(PassLog, EveryStepAndEveryFailureIsLogged)
{
    checks::ScratchDir dir("sync-threads-log");
    ASSERT_EQ(checks::RunCheckInCopy(dir.Path(), "sync_threads_copy.exe", "PassLog.DISABLED_Passes"), 0);
    const std::vector<std::string> lines = checks::LauncherLogLines(dir);
    const std::vector<std::string> expected = {
        "[INFO] Validating files integrity...",
        "[ERROR] File integrity validation failed: manifest unreadable",

        "[INFO] Validating files integrity...",
        "[INFO] File integrity validation passed.",
        "[INFO] Checking for patch updates...",
        "[INFO] Synchronizing Season realm profile...",
        "[ERROR] Season profile sync failed: season manifest missing",

        "[INFO] Validating files integrity...",
        "[INFO] File integrity validation passed.",
        "[INFO] Checking for patch updates...",
        "[INFO] Synchronizing Season realm profile...",
        "[INFO] Season realm profile synchronized.",
        "[INFO] Patch updates completed: Game is up to date (v7).",

        "[INFO] Test launcher: skipping automatic file integrity check on startup. "
        "Click 'SYNC FILES' to manually verify/download.",
        "[INFO] Checking for patch updates...",
        "[ERROR] Patch update error: patch 8 broken",

        "[INFO] User triggered files synchronization via SYNC FILES button...",
        "[ERROR] Synchronization failed: manifest unreadable",

        "[INFO] User triggered files synchronization via SYNC FILES button...",
        "[INFO] Synchronization finished successfully.",
    };
    EXPECT_EQ(lines, expected);
}

// A message-only window of this thread, so that posted reports can be taken
// from the queue with PeekMessage.
class ReportWindow {
public:
    ReportWindow()
        : hwnd_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
    {
    }
    ~ReportWindow()
    {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    HWND Get() const { return hwnd_; }

    // The next posted message for the window, or false when none is queued.
    bool Next(MSG& msg) const { return PeekMessageA(&msg, hwnd_, WM_USER, WM_USER + 100, PM_REMOVE); }

private:
    HWND hwnd_;
};

using Report = std::tuple<UINT, std::string, float>;

// Takes every queued message as the window procedure does.
std::vector<Report> TakeAll(const ReportWindow& window)
{
    std::vector<Report> got;
    MSG msg;
    while (window.Next(msg)) {
        auto payload = TakeProgressMessage(msg.wParam);
        got.emplace_back(msg.message, payload ? payload->text : "<null>", payload ? payload->percent : -1.0f);
    }
    return got;
}

// Reports that come while the last message still waits go into it; once the
// window has taken it, the next report is a message of its own, even with
// the same text.
TEST(ProgressReports, ReportsMergeIntoTheMessageTheWindowHasNotTakenYet)
{
    ReportWindow window;
    ASSERT_NE(window.Get(), nullptr);
    const ProgressCallback progress = MakeProgressPoster(window.Get());
    progress("Validating files integrity (1/3): a.grf", 0.0f, 1, 3);
    progress("Validating files integrity (2/3): b.grf", 33.3f, 2, 3);
    progress("Checking: qvx.grf", 150.0f, 0, 0);
    EXPECT_EQ(TakeAll(window), (std::vector<Report>{{WM_SYNC_PROGRESS, "Checking: qvx.grf", 150.0f}}));

    for (int take = 0; take < 2; ++take) {
        progress("Downloading: data.grf (1 / 4 MB)", 25.0f, 1, 4);
        EXPECT_EQ(TakeAll(window),
                  (std::vector<Report>{{WM_SYNC_PROGRESS, "Downloading: data.grf (1 / 4 MB)", 25.0f}}));
    }

    // The last report still comes before the pass's result.
    progress("Downloading: data.grf (3 / 4 MB)", 75.0f, 3, 4);
    progress("Downloading: data.grf (4 / 4 MB)", 100.0f, 4, 4);
    PostSyncOutcome(window.Get(), {true, "Game is up to date (v3)."});
    EXPECT_EQ(TakeAll(window), (std::vector<Report>{{WM_SYNC_PROGRESS, "Downloading: data.grf (4 / 4 MB)", 100.0f},
                                                    {WM_SYNC_DONE, "Game is up to date (v3).", 100.0f}}));
}

// A pass reports on its own thread while the window takes messages on its
// own: whatever was merged, the window ends on the last report, and never
// goes back to an earlier one.
TEST(ProgressReports, TheWindowEndsOnTheLastReportOfAnotherThread)
{
    ReportWindow window;
    ASSERT_NE(window.Get(), nullptr);
    const ProgressCallback progress = MakeProgressPoster(window.Get());
    constexpr int kReports = 20000;
    std::atomic<bool> finished{false};
    std::thread pass([&] {
        for (int i = 1; i <= kReports; ++i) progress("file " + std::to_string(i), float(i), i, kReports);
        finished = true;
    });
    std::vector<Report> shown;
    for (bool last = false; !last; Sleep(1)) {
        last = finished.load();
        for (Report& r : TakeAll(window)) shown.push_back(std::move(r));
    }
    pass.join();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), (Report{WM_SYNC_PROGRESS, "file 20000", float(kReports)}));
    for (size_t i = 1; i < shown.size(); ++i) ASSERT_LT(std::get<2>(shown[i - 1]), std::get<2>(shown[i]));
}

// A report to a window that is gone (closed while the pass runs) is dropped,
// and the next one is tried on its own: the reporter never waits for ever.
TEST(ProgressReports, AReportToAWindowThatIsGoneReturns)
{
    HWND gone;
    {
        ReportWindow window;
        gone = window.Get();
    }
    const ProgressCallback progress = MakeProgressPoster(gone);
    auto returned = std::make_shared<std::atomic<int>>(0);
    std::thread([progress, returned] {
        progress("Validating files integrity (1/2): a.grf", 0.0f, 1, 2);
        progress("Validating files integrity (2/2): b.grf", 50.0f, 2, 2);
        *returned = 2;
    }).detach();
    for (int i = 0; i < 1000 && *returned != 2; ++i) Sleep(10);
    EXPECT_EQ(*returned, 2);
}

TEST(ProgressReports, FinalReportsCarryTheirFixedPercent)
{
    ReportWindow window;
    ASSERT_NE(window.Get(), nullptr);
    PostSyncOutcome(window.Get(), {true, "All updates installed successfully (v9)!"});
    PostSyncOutcome(window.Get(), {false, "Update error: no list"});
    MSG msg;
    ASSERT_TRUE(window.Next(msg));
    EXPECT_EQ(msg.message, WM_SYNC_DONE);
    auto done = TakeMessagePayload<ProgressMessage>(msg.wParam);
    EXPECT_EQ(done->text, "All updates installed successfully (v9)!");
    EXPECT_EQ(done->percent, 100.0f);
    ASSERT_TRUE(window.Next(msg));
    EXPECT_EQ(msg.message, WM_SYNC_FAILED);
    auto failed = TakeMessagePayload<ProgressMessage>(msg.wParam);
    EXPECT_EQ(failed->text, "Update error: no list");
    EXPECT_EQ(failed->percent, 0.0f);
    EXPECT_FALSE(window.Next(msg));
}

struct CountedPayload {
    static int alive;
    CountedPayload() { ++alive; }
    ~CountedPayload() { --alive; }
};
int CountedPayload::alive = 0;

TEST(ProgressReports, APayloadWhosePostFailsIsDeletedAndAPostedOneIsKept)
{
    HWND gone;
    {
        ReportWindow window;
        gone = window.Get();
        ASSERT_TRUE(PostOwnedMessage(gone, WM_SYNC_PROGRESS, std::make_unique<CountedPayload>()));
        EXPECT_EQ(CountedPayload::alive, 1);
        MSG msg;
        ASSERT_TRUE(window.Next(msg));
        TakeMessagePayload<CountedPayload>(msg.wParam);
        EXPECT_EQ(CountedPayload::alive, 0);
    }
    EXPECT_FALSE(PostOwnedMessage(gone, WM_SYNC_PROGRESS, std::make_unique<CountedPayload>()));
    EXPECT_EQ(CountedPayload::alive, 0);
}

}  // namespace
