#include "ui/wndproc.h"

#include "client/graphics_fix.h"
#include "client/play.h"
#include "client/setup_utility.h"
#include "core/config.h"
#include "core/identity.h"
#include "core/log.h"
#include "ui/messages.h"
#include "ui/status_poller.h"
#include "ui/sync_threads.h"
#include "ui/window_model.h"

namespace {

WindowActions g_actions;

// A play, setup or graphics-fix action runs inside the click, and the message
// boxes it shows dispatch further clicks to this procedure; a second action or
// a file synchronisation started from there would work on the same client
// files at the same time, and the failed play would then make PLAY usable
// again while the synchronisation still replaces files.
bool g_actionRunning = false;

class ActionScope {
public:
    ActionScope() { g_actionRunning = true; }
    ~ActionScope() { g_actionRunning = false; }
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;
};

void CloseLauncher()
{
    g_running.exchange(false);
    PostQuitMessage(0);
}

void StartThreads(HWND hwnd)
{
    std::string error;
    if (!StartDetachedThread([hwnd] { ServerStatusThreadFunc(hwnd); }, error))
        LogLine("[ERROR] Server status poller not started: " + error);
    error.clear();
    if (!StartWorkerThread(hwnd, error)) {
        LogLine("[ERROR] File synchronization not started: " + error);
        PostSyncOutcome(hwnd, {false, "Update error: " + error});
    }
}

void Paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    g_window.Paint(memory, width, height);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(hwnd, &ps);
}

bool ButtonUsable(int32_t id)
{
    if (id == ButtonId::None) return false;
    if (id == ButtonId::PlayLegacy) return g_window.IsReady();
    if (id == ButtonId::PlaySeason) return g_window.IsSeasonPlayable();
    return true;
}

void MouseMove(HWND hwnd, int x, int y)
{
    const int32_t id = g_window.HitTest(x, y);
    g_window.SetHover(id);
    SetCursor(LoadCursorA(nullptr, ButtonUsable(id) ? IDC_HAND : IDC_ARROW));
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = hwnd;
    TrackMouseEvent(&track);
}

void Play(bool season)
{
    ActionScope scope;
    const auto& play = season ? g_actions.playSeason : g_actions.playLegacy;
    std::string error;
    const bool started = play ? play(g_config.client_exe, g_config.client_args, error)
                        : season ? PlaySeason(g_config.client_exe, g_config.client_args, error)
                                 : PlayLegacy(g_config.client_exe, g_config.client_args, error);
    if (started) {
        CloseLauncher();
        return;
    }
    g_window.SetStatus("Launch failed: " + error, 0);
    g_window.SetReady(true);
}

void SyncFiles(HWND hwnd)
{
    if (g_syncInProgress.load()) {
        LogLine("[INFO] File synchronization is already in progress.");
        return;
    }
    g_syncInProgress.exchange(true);
    g_window.SetReady(false);
    g_window.SetStatus("Starting file synchronization...", 0);
    std::string error;
    const bool started = g_actions.startSyncFiles ? g_actions.startSyncFiles(hwnd, error)
                                                  : StartSyncFilesThread(hwnd, error);
    if (started) return;
    // Nothing runs that would clear the flag or report: do both here.
    g_syncInProgress.exchange(false);
    LogLine("[ERROR] Synchronization failed: " + error);
    g_window.SetStatus("Sync error: " + error, 0);
}

void Click(HWND hwnd, int x, int y)
{
    const int32_t id = g_window.HitTest(x, y);
    if (g_actionRunning && id >= ButtonId::GraphicsFix && id <= ButtonId::SyncFiles) return;
    switch (id) {
    case ButtonId::None:
        if (y < kDragStripHeight) {
            ReleaseCapture();
            SendMessageA(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        }
        break;
    case ButtonId::Close: CloseLauncher(); break;
    case ButtonId::Minimize: ShowWindow(hwnd, SW_MINIMIZE); break;
    case ButtonId::Website: OpenUrl(g_config.website_url); break;
    case ButtonId::Wiki: OpenUrl(g_config.wiki_url); break;
    case ButtonId::Discord: OpenUrl(g_config.discord_url); break;
    case ButtonId::Account: OpenUrl(g_config.account_url); break;
    case ButtonId::GraphicsFix: {
        ActionScope scope;
        ToggleGraphicsFix(hwnd);
        break;
    }
    case ButtonId::Setup: {
        ActionScope scope;
        std::string error;
        RunSetupUtility(g_config.setup_exe, error);
        break;
    }
    case ButtonId::PlaySeason:
        if (g_window.IsSeasonPlayable()) Play(true);
        break;
    case ButtonId::PlayLegacy:
        if (!g_window.IsReady()) {
            LogLine("[INFO] Play Legacy clicked while update is still running - ignored.");
            break;
        }
        Play(false);
        break;
    case ButtonId::SyncFiles: SyncFiles(hwnd); break;
    default: break;
    }
}

void ApplyProgress(UINT message, WPARAM wParam)
{
    auto payload = TakeProgressMessage(wParam);
    if (message == WM_SYNC_PROGRESS) {
        if (payload) g_window.SetStatus(payload->text, payload->percent);
        return;
    }
    const bool done = message == WM_SYNC_DONE;
    if (payload) g_window.SetStatus(payload->text, done ? 100.0f : 0.0f);
    g_window.SetReady(done);
}

}  // namespace

void SetWindowActionsForChecks(const WindowActions& actions) { g_actions = actions; }

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Unsigned halves: client coordinates of these messages are never negative.
    const int x = LOWORD(lParam);
    const int y = HIWORD(lParam);
    switch (message) {
    case WM_CREATE: StartThreads(hwnd); return 0;
    case WM_DESTROY: CloseLauncher(); return 0;
    case WM_PAINT: Paint(hwnd); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_MOUSEMOVE: MouseMove(hwnd, x, y); return 0;
    case WM_MOUSELEAVE: g_window.SetHover(ButtonId::None); return 0;
    case WM_LBUTTONDOWN: Click(hwnd, x, y); return 0;
    case WM_SYNC_PROGRESS:
    case WM_SYNC_DONE:
    case WM_SYNC_FAILED: ApplyProgress(message, wParam); return 0;
    case WM_SERVER_STATUS:
        if (auto status = TakeMessagePayload<ServerStatusMessage>(wParam))
            g_window.SetServerStatus(status->website_online, status->season_online,
                                     status->legacy_online);
        return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
