// The start-up check that the launcher's folder can be named at all: every
// path of the launcher is narrow text in the system code page.
#pragma once

// True when the launcher's full path fits the system code page. Otherwise
// shows the launch error box and returns false; the caller ends the process
// before it writes, loads or starts anything.
bool LauncherFolderIsUsable();
