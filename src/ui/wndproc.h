// The procedure of the launcher's one window: thread start-up, painting,
// hover and cursor, clicks, and the reports of the background threads.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Clicks in the top strip outside every button drag the borderless window.
constexpr int kDragStripHeight = 60;

// The actions a click starts that cannot run in checks (a play action shows
// message boxes, SYNC FILES works on the game directory). Checks replace them;
// an empty member means the real one.
struct WindowActions {
    std::function<bool(const std::string& clientExe, const std::string& clientArgs,
                       std::string& error)>
        playLegacy;
    std::function<bool(const std::string& clientExe, const std::string& clientArgs,
                       std::string& error)>
        playSeason;
    std::function<bool(HWND hwnd, std::string& error)> startSyncFiles;
};
void SetWindowActionsForChecks(const WindowActions& actions);
