// The last tidying of the game directory before the client starts: a stale
// qvx.exe, loose data folders, the option file, Wine's DLL overrides and the
// client's remembered 3D device.
#pragma once

#include <string>

// Tidies the launcher directory; returns clientExe unchanged (the name to start).
std::string PrepareClientDirectory(const std::string& clientExe);

// The same on a given directory, with the Wine test's answer given.
std::string PrepareClientDirectoryIn(const std::string& dir, const std::string& clientExe, bool underWine);

// True when ntdll exports wine_get_version.
bool IsRunningUnderWine();

// Deletes DEVICENAME and MODECNT from the client's registry key when
// DEVICENAME names one of the graphics wrapper's devices; returns the name
// removed, empty when nothing was.
std::string RemoveWrapperDeviceName();
