// The launcher's start-up pass (the one its worker thread runs) as a console
// program without the window: validation (live launcher only), patch
// installation, and the Season profile when the configuration enables it. Every
// progress text goes to stdout and, since a restart starts a new process whose
// stdout may reach nobody, is also appended to runner_output.txt beside it:
//   [start] <file name>      one per process
//   [progress] <text>        each new progress text
//   [result] OK <message>    or [result] FAILED <window text>
// Before any of that it checks its folder as WinMain does; the box it would
// show goes to stdout only, since nothing may be written in such a folder:
//   [box] <style in hex>|<title>|<text>
// VERANDEL_SERVICE_TIMEOUT_MS, when set, shortens the synchronisation
// time-outs so that a silent host is given up within a check.
#include "client/message_box.h"
#include "core/config.h"
#include "core/http.h"
#include "core/identity.h"
#include "ui/folder_check.h"
#include "ui/sync_threads.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
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

int ShowBoxOnStdout(HWND, const std::string& text, const std::string& title, unsigned style)
{
    std::printf("[box] %x|%s|%s\n", style, title.c_str(), text.c_str());
    std::fflush(stdout);
    return IDOK;
}

}  // namespace

int main()
{
    SetActionMessageBoxForChecks(ShowBoxOnStdout);
    if (const char* timeout = std::getenv("VERANDEL_SERVICE_TIMEOUT_MS"))
        SetServiceTimeoutForChecks(std::strtoul(timeout, nullptr, 10));
    ResolveLauncherPaths();
    if (!LauncherFolderIsUsable()) return 1;
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

    const SyncOutcome outcome = RunStartupPass(g_config, IsTestLauncher(), RealSyncSteps(), progress);
    Emit(std::string("[result] ") + (outcome.ok ? "OK " : "FAILED ") + outcome.text);
    return outcome.ok ? 0 : 1;
}
