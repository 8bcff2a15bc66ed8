// The window messages through which the background threads report to the
// window, their payloads, and the hand-over of a payload's ownership.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

constexpr UINT WM_SYNC_PROGRESS = WM_USER + 1;  // wParam: ProgressMessage*
constexpr UINT WM_SYNC_DONE = WM_USER + 2;      // wParam: ProgressMessage* {result, 100}
constexpr UINT WM_SYNC_FAILED = WM_USER + 3;    // wParam: ProgressMessage* {error, 0}
constexpr UINT WM_SERVER_STATUS = WM_USER + 4;  // wParam: ServerStatusMessage*

struct ProgressMessage;

// Where a progress poster and the window meet. Reports that come faster than
// the window takes them go into the message still waiting in the queue rather
// than into a message each: under Wine every post is a round trip to the
// server, a good part of what validating a small file costs, while the window
// shows only the latest report anyway.
struct ProgressSlot {
    std::mutex mutex;
    ProgressMessage* waiting = nullptr;  // posted, not yet taken by the window
};

struct ProgressMessage {
    std::string text;
    float percent = 0.0f;
    std::shared_ptr<ProgressSlot> slot;  // the poster's, while it may update this

    ~ProgressMessage() { Detach(); }
    // From here on the poster leaves this payload alone.
    void Detach()
    {
        if (!slot) return;
        {
            std::lock_guard<std::mutex> lock(slot->mutex);
            if (slot->waiting == this) slot->waiting = nullptr;
        }
        slot.reset();
    }
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

// Takes a progress payload over from its poster too: later reports go into a
// message of their own.
inline std::unique_ptr<ProgressMessage> TakeProgressMessage(WPARAM wParam)
{
    auto payload = TakeMessagePayload<ProgressMessage>(wParam);
    if (payload) payload->Detach();
    return payload;
}
