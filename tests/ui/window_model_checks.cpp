#include "core/foundation_support.h"
#include "core/identity.h"
#include "ui/images.h"
#include "ui/ui_support.h"
#include "ui/window_model.h"

#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using checks::RunCheckInCopy;
using checks::ScratchDir;

namespace {

// The prefix's default desktop was made without a display when the prefix
// booted; a desktop of this program's own is made by a desktop process that
// inherits this program's Xvfb display, so windows can be created on it.
void UseOwnDesktop()
{
    static bool done = false;
    if (done) return;
    done = true;
    const std::string name = "window-model-checks-" + std::to_string(GetCurrentProcessId());
    if (HDESK desk = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr))
        SetThreadDesktop(desk);
}

// A visible window (the checks run under Xvfb): Windows keeps an update region
// only for visible windows, and that region shows whether the model asked for
// a repaint.
class ModelWindow {
public:
    ModelWindow()
    {
        UseOwnDesktop();
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "WindowModelChecks";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "model", WS_POPUP | WS_VISIBLE, 0, 0, 1013, 620,
                                nullptr, nullptr, wc.hInstance, nullptr);
        TakeInvalidation();
    }
    ~ModelWindow()
    {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    HWND Get() const { return hwnd_; }

    // Whether a repaint was asked for since the last call; clears the request.
    bool TakeInvalidation()
    {
        if (!hwnd_) return false;
        const bool pending = GetUpdateRect(hwnd_, nullptr, FALSE) != FALSE;
        ValidateRect(hwnd_, nullptr);
        return pending;
    }

private:
    HWND hwnd_ = nullptr;
};

// A model with its button table and a window to invalidate, no images.
struct WindowedModel {
    ModelWindow window;
    LauncherWindow model;

    explicit WindowedModel(bool seasonEnabled = false, const std::string& disabledLabel = "SEASON (SOON)")
    {
        model.config.season_enabled = seasonEnabled;
        model.config.season_disabled_label = disabledLabel;
        model.BuildButtons();
        model.hwnd = window.Get();
    }
};

const Button* Find(const LauncherWindow& model, int32_t id)
{
    for (const Button& b : model.buttons)
        if (b.id == id) return &b;
    return nullptr;
}

std::vector<bool> HoverFlags(const LauncherWindow& model)
{
    std::vector<bool> flags;
    for (const Button& b : model.buttons) flags.push_back(b.hovered);
    return flags;
}

UINT Width(Gdiplus::Bitmap* b)
{
    return b ? b->GetWidth() : 0;
}

// Runs the disabled checks of the given suite in a copy named as a test launcher.
void RunAsTestLauncher(const std::string& check)
{
    ScratchDir dir("model-test-launcher");
    EXPECT_EQ(RunCheckInCopy(dir.Path(), "window_model_TEST.exe", check), 0) << check;
}

}  // namespace

TEST(WindowModel, StartsWithTheConstructedValues)
{
    LauncherWindow model;
    EXPECT_EQ(model.hwnd, nullptr);
    EXPECT_EQ(model.status_text, "Initializing launcher...");
    EXPECT_EQ(model.progress_percent, 0.0f);
    EXPECT_FALSE(model.ready || model.status_known || model.website_online || model.season_online ||
                 model.legacy_online);
    EXPECT_TRUE(model.buttons.empty());
    EXPECT_EQ(model.img_background, nullptr);
    EXPECT_EQ(model.config.active_theme, LauncherConfig().active_theme);
    EXPECT_EQ(model.theme.legacy_button_label, ThemeConfig().legacy_button_label);
    // Setters before Init only store: there is no window to repaint.
    model.SetStatus("early", 12.5f);
    model.SetServerStatus(true, false, true);
    EXPECT_EQ(model.status_text, "early");
    EXPECT_TRUE(model.status_known);
}

TEST(WindowModel, LiveButtonTable)
{
    LauncherWindow model;
    model.theme.legacy_button_label = "LEGACY NOW";
    model.BuildButtons();
    model.BuildButtons();  // rebuilding replaces the table rather than appending to it
    struct Row {
        int32_t id;
        RECT rect;
        const char* label;
        bool enabled;
    };
    const Row rows[] = {
        {ButtonId::Close, {968, 0, 1013, 34}, "", true},
        {ButtonId::Minimize, {922, 0, 968, 34}, "", true},
        {ButtonId::Website, {8, 60, 44, 96}, "", true},
        {ButtonId::Wiki, {8, 108, 44, 144}, "", true},
        {ButtonId::Discord, {8, 156, 44, 192}, "", true},
        {ButtonId::Account, {8, 204, 44, 240}, "", true},
        {ButtonId::GraphicsFix, {8, 522, 44, 558}, "", true},
        {ButtonId::Setup, {8, 570, 44, 606}, "", true},
        {ButtonId::PlaySeason, {695, 546, 840, 604}, "SEASON (SOON)", false},
        {ButtonId::PlayLegacy, {852, 546, 997, 604}, "LEGACY NOW", false},
    };
    ASSERT_EQ(model.buttons.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Button& b = model.buttons[i];
        EXPECT_EQ(b.id, rows[i].id) << i;
        EXPECT_TRUE(EqualRect(&b.rect, &rows[i].rect)) << i;
        if (rows[i].id >= ButtonId::PlaySeason) {
            EXPECT_EQ(b.label, rows[i].label) << i;
        }
        EXPECT_EQ(b.enabled, rows[i].enabled) << i;
        EXPECT_FALSE(b.hovered) << i;
    }
}

TEST(WindowModel, HitTestUsesInsideLeftTopOutsideRightBottom)
{
    LauncherWindow model;
    model.BuildButtons();
    struct Case {
        int x, y;
        int32_t id;
    } cases[] = {
        {968, 0, ButtonId::Close},      {1012, 33, ButtonId::Close},    {1013, 0, ButtonId::None},
        {968, 34, ButtonId::None},      {967, 0, ButtonId::Minimize},   {922, 33, ButtonId::Minimize},
        {921, 0, ButtonId::None},       {8, 60, ButtonId::Website},     {44, 60, ButtonId::None},
        {7, 60, ButtonId::None},        {43, 95, ButtonId::Website},    {20, 100, ButtonId::None},
        {20, 240, ButtonId::None},      {43, 605, ButtonId::Setup},     {20, 530, ButtonId::GraphicsFix},
        {695, 546, ButtonId::PlaySeason},  // disabled buttons are hit all the same
        {996, 603, ButtonId::PlayLegacy},  {997, 603, ButtonId::None},  {845, 570, ButtonId::None},
        {-1, -1, ButtonId::None},       {500, 300, ButtonId::None},
    };
    for (const Case& c : cases) EXPECT_EQ(model.HitTest(c.x, c.y), c.id) << c.x << "," << c.y;
}

TEST(WindowModel, HoverFollowsEnabledButtonsAndRepaintsOnlyOnChange)
{
    WindowedModel w;
    ASSERT_NE(w.window.Get(), nullptr) << "no window: the check needs a display";
    const std::vector<bool> none(w.model.buttons.size(), false);

    // Disabled play button: nothing is hovered, nothing repaints.
    w.model.SetHover(ButtonId::PlaySeason);
    EXPECT_EQ(HoverFlags(w.model), none);
    EXPECT_FALSE(w.window.TakeInvalidation());

    w.model.SetHover(ButtonId::Website);
    EXPECT_TRUE(Find(w.model, ButtonId::Website)->hovered);
    EXPECT_TRUE(w.window.TakeInvalidation());
    w.model.SetHover(ButtonId::Website);
    EXPECT_FALSE(w.window.TakeInvalidation());

    w.model.SetHover(ButtonId::Wiki);
    EXPECT_FALSE(Find(w.model, ButtonId::Website)->hovered);
    EXPECT_TRUE(Find(w.model, ButtonId::Wiki)->hovered);
    EXPECT_TRUE(w.window.TakeInvalidation());

    w.model.SetHover(ButtonId::None);
    EXPECT_EQ(HoverFlags(w.model), none);
    EXPECT_TRUE(w.window.TakeInvalidation());
    w.model.SetHover(ButtonId::None);
    EXPECT_FALSE(w.window.TakeInvalidation());
}

TEST(WindowModel, ReadinessEnablesThePlayButtons)
{
    struct Case {
        bool seasonEnabled;
        const char* disabledLabel;
        const char* seasonLabel;
        bool seasonPlayable;
    } cases[] = {
        {true, "unused", "PLAY SEASON", true},
        {false, "SEASON 2 SOON", "SEASON 2 SOON", false},
        {false, "", "SEASON (SOON)", false},
    };
    for (const Case& c : cases) {
        WindowedModel w(c.seasonEnabled, c.disabledLabel);
        EXPECT_EQ(Find(w.model, ButtonId::PlaySeason)->label, c.seasonLabel);
        EXPECT_FALSE(w.model.IsReady() || w.model.IsSeasonPlayable());

        w.model.SetReady(true);
        EXPECT_TRUE(w.window.TakeInvalidation());
        EXPECT_TRUE(w.model.IsReady());
        EXPECT_EQ(w.model.IsSeasonPlayable(), c.seasonPlayable);
        EXPECT_EQ(Find(w.model, ButtonId::PlaySeason)->enabled, c.seasonPlayable);
        EXPECT_EQ(Find(w.model, ButtonId::PlaySeason)->label, c.seasonLabel);
        EXPECT_TRUE(Find(w.model, ButtonId::PlayLegacy)->enabled);

        // A failed synchronisation disables again but keeps the hover until the pointer moves.
        w.model.SetHover(ButtonId::PlayLegacy);
        w.model.SetReady(false);
        EXPECT_TRUE(w.window.TakeInvalidation());
        EXPECT_FALSE(w.model.IsReady() || w.model.IsSeasonPlayable());
        EXPECT_FALSE(Find(w.model, ButtonId::PlayLegacy)->enabled);
        EXPECT_TRUE(Find(w.model, ButtonId::PlayLegacy)->hovered);
        EXPECT_TRUE(Find(w.model, ButtonId::Close)->enabled);
        w.model.SetHover(ButtonId::PlayLegacy);
        EXPECT_FALSE(Find(w.model, ButtonId::PlayLegacy)->hovered);
    }
}

TEST(WindowModel, StatusAndServerReportsAreStoredAndRepaint)
{
    WindowedModel w;
    w.model.SetStatus("Downloading data.grf", 150.0f);
    EXPECT_EQ(w.model.status_text, "Downloading data.grf");
    EXPECT_EQ(w.model.progress_percent, 150.0f);  // the bar clamps, the model does not
    EXPECT_TRUE(w.window.TakeInvalidation());

    EXPECT_FALSE(w.model.status_known);
    w.model.SetServerStatus(false, false, false);
    EXPECT_TRUE(w.model.status_known);  // an all-offline report still counts as known
    EXPECT_TRUE(w.window.TakeInvalidation());
    w.model.SetServerStatus(false, false, false);
    EXPECT_TRUE(w.window.TakeInvalidation());  // repaints even when nothing changed
    w.model.SetServerStatus(true, false, true);
    EXPECT_TRUE(w.model.website_online && !w.model.season_online && w.model.legacy_online);
}

TEST(WindowModelTestLauncher, DISABLED_ButtonsAndReadiness)
{
    ASSERT_TRUE(IsTestLauncher());
    WindowedModel w(true);
    ASSERT_EQ(w.model.buttons.size(), 10u);
    const Button& sync = w.model.buttons[8];
    const Button& play = w.model.buttons[9];
    const RECT syncRect{695, 546, 840, 604}, playRect{852, 546, 997, 604};
    EXPECT_EQ(sync.id, ButtonId::SyncFiles);
    EXPECT_TRUE(EqualRect(&sync.rect, &syncRect));
    EXPECT_EQ(sync.label, "SYNC FILES");
    EXPECT_TRUE(sync.enabled);
    EXPECT_EQ(play.id, ButtonId::PlayLegacy);
    EXPECT_TRUE(EqualRect(&play.rect, &playRect));
    EXPECT_EQ(play.label, "PLAY");
    EXPECT_FALSE(play.enabled);
    EXPECT_EQ(Find(w.model, ButtonId::PlaySeason), nullptr);
    EXPECT_EQ(w.model.HitTest(700, 550), ButtonId::SyncFiles);

    w.model.SetHover(ButtonId::SyncFiles);
    EXPECT_TRUE(w.model.buttons[8].hovered);
    w.model.SetReady(false);  // SYNC FILES started
    EXPECT_FALSE(w.model.buttons[8].enabled || w.model.buttons[9].enabled);
    w.model.SetReady(true);
    EXPECT_TRUE(w.model.buttons[8].enabled && w.model.buttons[9].enabled);
    EXPECT_EQ(w.model.buttons[9].label, "PLAY");
}

TEST(WindowModel, TestLauncherButtons)
{
    RunAsTestLauncher("WindowModelTestLauncher.DISABLED_ButtonsAndReadiness");
}

// The image slots: embedded pictures win over the files of the theme folder
// and assets/, the play-button pictures come only from the theme folder.
TEST(WindowModel, InitLoadsEmbeddedImagesAndThemePlayButtons)
{
    ScratchDir dir("model-images");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));

    LauncherConfig config;
    config.active_theme = "dusk";
    ThemeConfig theme;
    theme.background_image = "sky.png";
    theme.logo_image = "themes/dusk/logo.png";
    for (const char* folder : {"themes", "themes\\dusk", "assets", "assets\\icons"})
        CreateDirectoryA((dir / folder).c_str(), nullptr);

    {
        LauncherWindow model;
        model.Init(nullptr, config, theme);
        EXPECT_EQ(model.buttons.size(), 10u);
        EXPECT_EQ(Width(model.img_background), 2752u);
        EXPECT_EQ(model.img_background ? model.img_background->GetHeight() : 0u, 1536u);
        EXPECT_EQ(Width(model.img_logo), 1800u);
        EXPECT_EQ(model.img_logo ? model.img_logo->GetHeight() : 0u, 991u);
        EXPECT_EQ(Width(model.img_crest), 130u);
        for (Gdiplus::Bitmap* icon : {model.img_website, model.img_wiki, model.img_discord, model.img_account,
                                      model.img_fix, model.img_settings})
            EXPECT_EQ(Width(icon), 50u);
        for (Gdiplus::Bitmap* play : {model.img_season_normal, model.img_season_hover, model.img_season_disabled,
                                      model.img_legacy_normal, model.img_legacy_hover, model.img_legacy_disabled})
            EXPECT_EQ(play, nullptr);
        EXPECT_NE(model.img_logo->GetPixelFormat() & PixelFormatAlpha, 0u) << "the logo has an alpha channel";
    }

    for (const char* file : {"themes\\dusk\\sky.png", "themes\\dusk\\bg.jpg", "themes\\dusk\\logo.png",
                             "assets\\crest.png", "assets\\icons\\website.png", "assets\\icons\\fix.png"})
        ASSERT_TRUE(checks::WriteSolidPng(dir / file, 3, 3, 0x102030)) << file;
    ASSERT_TRUE(checks::WriteSolidPng(dir / "themes\\dusk\\season_normal.png", 4, 4, 0x00FF00));
    ASSERT_TRUE(checks::WriteSolidPng(dir / "themes\\dusk\\legacy_hover.png", 5, 5, 0x0000FF));
    {
        LauncherWindow model;
        model.Init(nullptr, config, theme);
        EXPECT_EQ(Width(model.img_background), 2752u);
        EXPECT_EQ(Width(model.img_logo), 1800u);
        EXPECT_EQ(Width(model.img_crest), 130u);
        EXPECT_EQ(Width(model.img_website), 50u);
        EXPECT_EQ(Width(model.img_fix), 50u);
        EXPECT_EQ(Width(model.img_season_normal), 4u);
        EXPECT_EQ(Width(model.img_legacy_hover), 5u);
        for (Gdiplus::Bitmap* play : {model.img_season_hover, model.img_season_disabled, model.img_legacy_normal,
                                      model.img_legacy_disabled})
            EXPECT_EQ(play, nullptr);
        model.ReleaseImages();
        EXPECT_EQ(model.img_background, nullptr);
        EXPECT_EQ(model.img_season_normal, nullptr);
    }
    SetCurrentDirectoryA(previous);
}

TEST(LoadBitmapFromResourceOrFile, EmbeddedFirstThenTheFile)
{
    ScratchDir dir("load-bitmap");
    const std::string png = dir / "seven.png";
    ASSERT_TRUE(checks::WriteSolidPng(png, 7, 3, 0xFF0000));
    checks::WriteBytes(dir / "not_an_image.png", "{\"theme_id\": \"x\"}");
    struct Case {
        std::string path;
        int32_t id;
        UINT width;  // 0: null
    } cases[] = {
        {"", 0, 0},
        {png, 0, 7},
        {png, 201, 2752},                      // the embedded picture wins
        {png, 999, 7},                         // no such resource: the file
        {png, 210, 7},                         // a resource that is no picture: the file
        {"", 999, 0},
        {"", 203, 130},
        {dir / "missing.png", 0, 0},
        {dir / "missing.png", 210, 0},
        {dir / "not_an_image.png", 0, 0},
        {dir.Path(), 0, 0},                    // a folder
    };
    for (const Case& c : cases) {
        std::unique_ptr<Gdiplus::Bitmap> bitmap(LoadBitmapFromResourceOrFile(c.path, c.id));
        EXPECT_EQ(Width(bitmap.get()), c.width) << c.path << " / " << c.id;
    }
}

TEST(LoadBitmapFromResourceOrFile, FileStaysReplaceableAndUtf8NamesOpen)
{
    ScratchDir dir("load-bitmap-file");
    // A non-ASCII name, written through its UTF-16 form.
    const std::string utf8Name = dir / "b\xC3\xA4r_\xE2\x82\xAC.png";
    const std::string plain = dir / "plain.png";
    ASSERT_TRUE(checks::WriteSolidPng(plain, 9, 9, 0x00FF00));
    ASSERT_TRUE(MoveFileW(Utf8ToWide(plain).c_str(), Utf8ToWide(utf8Name).c_str()));

    std::unique_ptr<Gdiplus::Bitmap> bitmap(LoadBitmapFromResourceOrFile(utf8Name, 0));
    ASSERT_EQ(Width(bitmap.get()), 9u);

    // While the picture is shown, a patch must be able to replace its file.
    ASSERT_TRUE(checks::WriteSolidPng(plain, 2, 2, 0x0000FF));
    EXPECT_TRUE(MoveFileExW(Utf8ToWide(plain).c_str(), Utf8ToWide(utf8Name).c_str(), MOVEFILE_REPLACE_EXISTING))
        << GetLastError();
    EXPECT_EQ(Width(bitmap.get()), 9u);
    Gdiplus::Color pixel;
    EXPECT_EQ(bitmap->GetPixel(4, 4, &pixel), Gdiplus::Ok);
    EXPECT_EQ(pixel.GetValue(), 0xFF00FF00u);
    bitmap.reset();
    EXPECT_TRUE(DeleteFileW(Utf8ToWide(utf8Name).c_str()));
}

TEST(Utf8ToWide, ConvertsAndReplacesInvalidBytes)
{
    struct Case {
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"", L""},
        {"PLAY SEASON", L"PLAY SEASON"},
        {"\xC3\xA4\xE2\x82\xAC", L"\u00E4\u20AC"},
        {"\xF0\x9F\x8E\xAE", L"\xD83C\xDFAE"},  // outside the BMP: a surrogate pair
        {"a\xFF" "b", L"a\uFFFDb"},
        {std::string("x\0y", 3), std::wstring(L"x\0y", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
}
