// Where the launcher's own file lives, under which name it runs, whether it is
// a test launcher, and its restart into an updated copy of itself.
#pragma once

#include <string>

// Fills the identity from the module's path (a trailing ".old" is removed and
// remembered). WinMain calls it first; the getters call it when still empty.
void ResolveLauncherPaths();

std::string GetLauncherDir();       // without a trailing separator; "." as a last resort
std::string GetLauncherPath();      // full path, ".old" removed
std::string GetLauncherFileName();  // the part after the last separator
bool IsRunningFromOldBinary();

// True when the launcher's file name contains "TEST" or "test".
bool IsTestLauncher();

// Starts the launcher's executable again and ends this process with code 0.
[[noreturn]] void RestartLauncher();

// Opens a web address in the user's browser; an empty address does nothing.
void OpenUrl(const std::string& url);

// The launcher's full path as the system holds it, in UTF-16; empty when it
// cannot be had. The narrow identity above is this path in the system code page.
std::wstring GetLauncherWidePath();

// True when path converts to the code page and back unchanged: no character
// replaced by the default one ('?') or by a look-alike (best fit), either of
// which names another folder, or none.
bool PathFitsCodePage(const std::wstring& path, unsigned codePage);

// The rules behind the identity, apart from the module query so that they can
// be checked on plain names.
struct LauncherIdentity {
    std::string path;
    std::string dir;
    std::string fileName;
    bool startedFromOld = false;
};
LauncherIdentity SplitLauncherPath(const std::string& modulePath);
bool IsTestLauncherName(const std::string& fileName);
