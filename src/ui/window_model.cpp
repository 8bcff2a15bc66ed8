// The window model: button table, image slots, hit tests and the setters the
// window procedure calls when the pointer moves or a background report arrives.
#include "ui/window_model.h"

#include <objidl.h>
#include <gdiplus.h>

#include <initializer_list>
#include <utility>

#include "core/identity.h"
#include "ui/images.h"

LauncherWindow g_window;

namespace {

// Embedded pictures (RCDATA), numbered as in the resource script.
constexpr int32_t kImageBackground = 201;
constexpr int32_t kImageLogo = 202;
constexpr int32_t kImageCrest = 203;
constexpr int32_t kImageWebsite = 204;
constexpr int32_t kImageWiki = 205;
constexpr int32_t kImageDiscord = 206;
constexpr int32_t kImageAccount = 207;
constexpr int32_t kImageSettings = 208;
constexpr int32_t kImageFix = 212;

Button MakeButton(int32_t id, LONG left, LONG top, LONG right, LONG bottom,
                  std::string label, bool enabled)
{
    Button b;
    b.id = id;
    b.rect = RECT{left, top, right, bottom};
    b.label = std::move(label);
    b.hovered = false;
    b.enabled = enabled;
    return b;
}

// Tries each (path, resource) pair in turn until one gives a bitmap.
Gdiplus::Bitmap* LoadFirst(std::initializer_list<std::pair<std::string, int32_t>> attempts)
{
    for (const auto& attempt : attempts) {
        if (Gdiplus::Bitmap* bitmap = LoadBitmapFromResourceOrFile(attempt.first, attempt.second))
            return bitmap;
    }
    return nullptr;
}

}  // namespace

LauncherWindow::~LauncherWindow()
{
    ReleaseImages();
}

void LauncherWindow::ReleaseImages()
{
    for (Gdiplus::Bitmap** slot :
         {&img_background, &img_logo, &img_crest, &img_website, &img_wiki, &img_discord,
          &img_account, &img_fix, &img_settings, &img_season_normal, &img_season_hover,
          &img_season_disabled, &img_legacy_normal, &img_legacy_hover, &img_legacy_disabled}) {
        delete *slot;
        *slot = nullptr;
    }
}

void LauncherWindow::Init(HWND window, const LauncherConfig& configuration,
                          const ThemeConfig& themeConfig)
{
    hwnd = window;
    config = configuration;
    theme = themeConfig;
    BuildButtons();

    // A repeated Init must not leak the pictures of the first one.
    ReleaseImages();
    const std::string t = "themes/" + config.active_theme;
    img_background = LoadFirst({{t + "/" + theme.background_image, kImageBackground},
                                {t + "/bg.jpg", kImageBackground},
                                {t + "/bg_1.jpg", kImageBackground}});
    img_logo = LoadFirst({{theme.logo_image, kImageLogo}, {t + "/logo.png", kImageLogo}});
    img_crest = LoadFirst({{"assets/crest.png", kImageCrest}, {"assets/logo.png", kImageCrest}});
    img_website = LoadBitmapFromResourceOrFile("assets/icons/website.png", kImageWebsite);
    img_wiki = LoadBitmapFromResourceOrFile("assets/icons/wiki.png", kImageWiki);
    img_discord = LoadBitmapFromResourceOrFile("assets/icons/discord.png", kImageDiscord);
    img_account = LoadBitmapFromResourceOrFile("assets/icons/account.png", kImageAccount);
    img_settings = LoadBitmapFromResourceOrFile("assets/icons/settings.png", kImageSettings);
    img_fix = LoadBitmapFromResourceOrFile("assets/icons/fix.png", kImageFix);
    img_season_normal = LoadBitmapFromResourceOrFile(t + "/season_normal.png", 0);
    img_season_hover = LoadBitmapFromResourceOrFile(t + "/season_hover.png", 0);
    img_season_disabled = LoadBitmapFromResourceOrFile(t + "/season_disabled.png", 0);
    img_legacy_normal = LoadBitmapFromResourceOrFile(t + "/legacy_normal.png", 0);
    img_legacy_hover = LoadBitmapFromResourceOrFile(t + "/legacy_hover.png", 0);
    img_legacy_disabled = LoadBitmapFromResourceOrFile(t + "/legacy_disabled.png", 0);
}

std::string LauncherWindow::SeasonLabel() const
{
    if (config.season_enabled) return theme.season_button_label;
    if (!config.season_disabled_label.empty()) return config.season_disabled_label;
    return "SEASON (SOON)";
}

void LauncherWindow::BuildButtons()
{
    buttons.clear();
    buttons.push_back(MakeButton(ButtonId::Close, 968, 0, 1013, 34, "", true));
    buttons.push_back(MakeButton(ButtonId::Minimize, 922, 0, 968, 34, "", true));
    buttons.push_back(MakeButton(ButtonId::Website, 8, 60, 44, 96, "", true));
    buttons.push_back(MakeButton(ButtonId::Wiki, 8, 108, 44, 144, "", true));
    buttons.push_back(MakeButton(ButtonId::Discord, 8, 156, 44, 192, "", true));
    buttons.push_back(MakeButton(ButtonId::Account, 8, 204, 44, 240, "", true));
    buttons.push_back(MakeButton(ButtonId::GraphicsFix, 8, 522, 44, 558, "", true));
    buttons.push_back(MakeButton(ButtonId::Setup, 8, 570, 44, 606, "", true));
    if (IsTestLauncher()) {
        buttons.push_back(MakeButton(ButtonId::SyncFiles, 695, 546, 840, 604, "SYNC FILES", true));
        buttons.push_back(MakeButton(ButtonId::PlayLegacy, 852, 546, 997, 604, "PLAY", false));
    } else {
        buttons.push_back(MakeButton(ButtonId::PlaySeason, 695, 546, 840, 604, SeasonLabel(), false));
        buttons.push_back(MakeButton(ButtonId::PlayLegacy, 852, 546, 997, 604,
                                     theme.legacy_button_label, false));
    }
}

int32_t LauncherWindow::HitTest(int32_t x, int32_t y) const
{
    const POINT pt{x, y};
    for (const Button& b : buttons) {
        if (PtInRect(&b.rect, pt)) return b.id;
    }
    return ButtonId::None;
}

void LauncherWindow::SetHover(int32_t id)
{
    bool changed = false;
    for (Button& b : buttons) {
        const bool hovered = b.id == id && b.enabled;
        if (b.hovered != hovered) changed = true;
        b.hovered = hovered;
    }
    if (changed) Invalidate();
}

bool LauncherWindow::IsReady() const
{
    return ready;
}

bool LauncherWindow::IsSeasonPlayable() const
{
    return ready && config.season_enabled;
}

void LauncherWindow::SetReady(bool flag)
{
    ready = flag;
    for (Button& b : buttons) {
        if (b.id == ButtonId::PlaySeason) {
            b.enabled = flag && config.season_enabled;
            b.label = SeasonLabel();
        } else if (b.id == ButtonId::PlayLegacy || b.id == ButtonId::SyncFiles) {
            b.enabled = flag;
        }
    }
    Invalidate();
}

void LauncherWindow::SetStatus(const std::string& text, float percent)
{
    status_text = text;
    progress_percent = percent;
    Invalidate();
}

void LauncherWindow::SetServerStatus(bool website, bool season, bool legacy)
{
    website_online = website;
    season_online = season;
    legacy_online = legacy;
    status_known = true;
    Invalidate();
}

void LauncherWindow::Invalidate() const
{
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}
