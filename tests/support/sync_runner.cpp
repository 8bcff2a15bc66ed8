// What the launcher's start-up worker runs, as a console program without the
// window: validation (live launcher only), then patch installation. Every
// progress text goes to stdout and, since a restart starts a new process whose
// stdout may reach nobody, is also appended to runner_output.txt beside it:
//   [start] <file name>      one per process
//   [progress] <text>        each new progress text
//   [result] OK <message>    or [result] FAILED <window text>
#include "core/config.h"
#include "core/identity.h"
#include "core/log.h"
#include "sync/patches.h"
#include "sync/validate.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Emit(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    const std::string path = GetLauncherDir() + "\\runner_output.txt";
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

int Fail(const std::string& logLine, const std::string& windowText)
{
    LogLine(logLine);
    Emit("[result] FAILED " + windowText);
    return 1;
}

}  // namespace

int main()
{
    ResolveLauncherPaths();
    SetCurrentDirectoryA(GetLauncherDir().c_str());
    if (IsRunningFromOldBinary()) RestartLauncher();
    Emit("[start] " + GetLauncherFileName());
    g_config = LoadLauncherConfig("config.json");

    std::string lastText;
    const ProgressCallback progress = [&lastText](const std::string& text, float, uint64_t,
                                                  uint64_t) {
        if (text == lastText) return;
        lastText = text;
        Emit("[progress] " + text);
    };

    if (IsTestLauncher()) {
        LogLine("[INFO] Test launcher: skipping automatic file integrity check on startup. "
                "Click 'SYNC FILES' to manually verify/download.");
    } else {
        LogLine("[INFO] Validating files integrity...");
        std::string error;
        if (!ValidateGameFiles(g_config.manifest_url, g_config.full_client_url,
                               g_config.base_download_url, "", progress, error))
            return Fail("[ERROR] File integrity validation failed: " + error,
                        "File integrity validation error: " + error);
        LogLine("[INFO] File integrity validation passed.");
    }

    LogLine("[INFO] Checking for patch updates...");
    std::string message;
    if (!CheckAndInstallPatches(g_config.patch_list_url, g_config.patch_base_url, "", progress,
                                message))
        return Fail("[ERROR] Patch update error: " + message, "Update error: " + message);
    LogLine("[INFO] Patch updates completed: " + message);
    Emit("[result] OK " + message);
    return 0;
}
