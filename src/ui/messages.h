// The window messages through which the background threads report to the
// window, their payloads, and the hand-over of a payload's ownership.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

constexpr UINT WM_SYNC_PROGRESS = WM_USER + 1;  // wParam: ProgressMessage*
constexpr UINT WM_SYNC_DONE = WM_USER + 2;      // wParam: ProgressMessage* {result, 100}
constexpr UINT WM_SYNC_FAILED = WM_USER + 3;    // wParam: ProgressMessage* {error, 0}
constexpr UINT WM_SERVER_STATUS = WM_USER + 4;  // wParam: ServerStatusMessage*

struct ProgressMessage {
    std::string text;
    float percent = 0.0f;
};

struct ServerStatusMessage {
    bool website_online = false;
    bool season_online = false;
    bool legacy_online = false;
};

// Posts the payload's address; the message owns it once the post is made. A
// post that fails (the window is gone) deletes it here instead of leaking it.
template <class Payload>
bool PostOwnedMessage(HWND hwnd, UINT message, std::unique_ptr<Payload> payload)
{
    if (!PostMessageA(hwnd, message, reinterpret_cast<WPARAM>(payload.get()), 0)) return false;
    payload.release();
    return true;
}

// The receiving side: takes ownership of a posted payload (null stays null).
template <class Payload>
std::unique_ptr<Payload> TakeMessagePayload(WPARAM wParam)
{
    return std::unique_ptr<Payload>(reinterpret_cast<Payload*>(wParam));
}
