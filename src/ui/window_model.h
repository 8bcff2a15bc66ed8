// The state behind the launcher's one window: its buttons and where they lie,
// the images it draws, the status line, progress and server flags, and its paint.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/theme.h"

namespace Gdiplus {
class Bitmap;
}

// Button ids as plain integers (HitTest returns one; 0 is no button), under a
// scope so that the short names do not clash.
namespace ButtonId {
enum : int32_t {
    None = 0,
    Close = 1,
    Minimize = 2,
    Website = 3,
    Wiki = 4,
    Discord = 5,
    Account = 6,
    GraphicsFix = 7,
    Setup = 8,
    PlaySeason = 9,
    PlayLegacy = 10,
    SyncFiles = 11,
};
}

struct Button {
    int32_t id = ButtonId::None;
    RECT rect{};  // left and top inside, right and bottom outside
    std::string label;
    bool hovered = false;
    bool enabled = true;
};

class LauncherWindow {
public:
    HWND hwnd = nullptr;
    LauncherConfig config;
    ThemeConfig theme;
    Gdiplus::Bitmap* img_background = nullptr;
    Gdiplus::Bitmap* img_logo = nullptr;
    Gdiplus::Bitmap* img_crest = nullptr;
    Gdiplus::Bitmap* img_website = nullptr;
    Gdiplus::Bitmap* img_wiki = nullptr;
    Gdiplus::Bitmap* img_discord = nullptr;
    Gdiplus::Bitmap* img_account = nullptr;
    Gdiplus::Bitmap* img_fix = nullptr;
    Gdiplus::Bitmap* img_settings = nullptr;
    Gdiplus::Bitmap* img_season_normal = nullptr;
    Gdiplus::Bitmap* img_season_hover = nullptr;
    Gdiplus::Bitmap* img_season_disabled = nullptr;
    Gdiplus::Bitmap* img_legacy_normal = nullptr;
    Gdiplus::Bitmap* img_legacy_hover = nullptr;
    Gdiplus::Bitmap* img_legacy_disabled = nullptr;
    std::string status_text = "Initializing launcher...";
    float progress_percent = 0.0f;
    bool ready = false;
    bool website_online = false;
    bool season_online = false;
    bool legacy_online = false;
    bool status_known = false;
    std::vector<Button> buttons;

    LauncherWindow() = default;
    ~LauncherWindow();
    LauncherWindow(const LauncherWindow&) = delete;
    LauncherWindow& operator=(const LauncherWindow&) = delete;

    // Once, after the window exists: keeps the handle, copies configuration and
    // theme, builds the buttons and loads the images. Needs GDI+ running.
    void Init(HWND window, const LauncherConfig& configuration, const ThemeConfig& themeConfig);
    void BuildButtons();
    // Deletes the images. GDI+ objects may only be released while GDI+ runs,
    // so WinMain calls this before GdiplusShutdown; the destructor then finds
    // nothing left to delete.
    void ReleaseImages();

    // The id of the first button containing the point (enabled or not), else 0.
    int32_t HitTest(int32_t x, int32_t y) const;
    // Only an enabled button shows hover; 0 clears it. Repaints on a change.
    void SetHover(int32_t id);
    bool IsReady() const;
    bool IsSeasonPlayable() const;
    void SetReady(bool flag);
    void SetStatus(const std::string& text, float percent);
    void SetServerStatus(bool website, bool season, bool legacy);

    // Draws the whole window into the device context (never erases first).
    void Paint(HDC dc, int32_t width, int32_t height) const;

private:
    void Invalidate() const;
    std::string SeasonLabel() const;
};

extern LauncherWindow g_window;
