#include "client/setup_utility.h"

#include "client/spawner.h"
#include "core/handles.h"
#include "core/identity.h"
#include "core/log.h"

#include <windows.h>

#include <vector>

namespace {

SetupMessageBox g_messageBox;

int ShowBox(const std::string& text, const std::string& title, unsigned style)
{
    if (g_messageBox) return g_messageBox(text, title, style);
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
}

bool Opens(const std::string& path)
{
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.Valid();
}

// The names tried, in order; the configured one may repeat a fixed one.
std::vector<std::string> SetupUtilityCandidates(const std::string& setupExe)
{
    return {setupExe, "opensetup.exe", "Setup.exe"};
}

}  // namespace

void SetSetupMessageBoxForChecks(SetupMessageBox show)
{
    g_messageBox = std::move(show);
}

bool RunSetupUtility(const std::string& setupExe, std::string& error)
{
    LogLine(std::string(50, '='));
    LogLine("[ACTION] Settings / Setup clicked.");
    const std::string directory = GetLauncherDir();
    for (const std::string& name : SetupUtilityCandidates(setupExe)) {
        // Only the first that opens is started; its failure is the spawner's to report.
        if (Opens(directory + "\\" + name)) return SpawnClient(name, std::string(), error);
    }
    error = "Setup utility not found (" + setupExe + ").";
    LogLine("[ERROR] " + error);
    ShowBox("Could not find the configuration utility (opensetup.exe) in the game folder.", "Verandel - Setup",
            MB_ICONWARNING);
    return false;
}
