#include "core/foundation_support.h"
#include "core/identity.h"
#include "ui/painting.h"
#include "ui/ui_support.h"
#include "ui/window_model.h"

#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using checks::Canvas;

namespace {

constexpr int kW = 1013;
constexpr int kH = 620;

// Colours as the canvas reports them (0xRRGGBB).
constexpr uint32_t kSidebar = 0x161524;     // built-in sidebar_color 0x00241516
constexpr uint32_t kFooter = 0x12111C;      // built-in footer_color 0x001C1112
constexpr uint32_t kNoBackground = 0x121218;
constexpr uint32_t kTrack = 0x0E0D16;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGreen = 0x00FF00, kRed = 0xFF0000, kBlue = 0x0000FF;

// Points inside the play buttons that their labels never reach.
constexpr int kSeasonX = 705, kLegacyX = 862, kFaceY = 590;
// The centre of a play button, where an image shows and a label would stand.
constexpr int kSeasonCentreX = 767, kLegacyCentreX = 924, kCentreY = 575;

// A live model with the built-in theme and its button table, painted onto a canvas.
struct Painted {
    LauncherWindow model;
    Canvas canvas{kW, kH};

    explicit Painted(bool seasonEnabled = true)
    {
        model.config.season_enabled = seasonEnabled;
        model.BuildButtons();
    }
    Painted& Paint()
    {
        canvas.Fill(0x000000);
        model.Paint(canvas.Dc(), kW, kH);
        return *this;
    }
    uint32_t At(int x, int y) const { return canvas.Rgb(x, y); }
};

// True when some pixel of the box differs clearly from the colour: text was drawn there.
bool HasInk(const Canvas& c, int left, int top, int right, int bottom, uint32_t plain)
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if (!checks::Near(c.Rgb(x, y), plain, 40)) return true;
    return false;
}

}  // namespace

TEST(Painting, FillsAndGlyphsWithoutAnyImage)
{
    Painted p;
    p.Paint();
    struct Spot {
        int x, y;
        uint32_t rgb;
        int tolerance;
        const char* what;
    } spots[] = {
        {25, 400, kSidebar, 2, "sidebar"},
        {25, 615, kSidebar, 2, "sidebar down to the bottom"},
        {500, 300, kNoBackground, 2, "background fallback"},
        {1010, 510, kNoBackground, 2, "background to the right edge"},
        {700, 525, kTrack, 2, "empty track"},
        {60, 600, kFooter, 2, "footer"},
        {1005, 612, kFooter, 2, "footer to the corner"},
        {118, 32, kNoBackground, 2, "no pill before a status report"},
        {79, 21, kNoBackground, 2, "no status dot before a status report"},
        {1000, 5, kNoBackground, 2, "close button not hovered"},
        {990, 17, kWhite, 60, "close cross"},
        {945, 17, kWhite, 60, "minimise bar"},
        {945, 25, kNoBackground, 2, "under the minimise bar"},
        {26, 78, kSidebar, 2, "no icon without a picture"},
        {kSeasonX, 552, 0x1E1E28, 6, "disabled Season face"},
        {kLegacyX, kFaceY, 0x1E1E28, 6, "disabled Legacy face"},
    };
    for (const Spot& s : spots) EXPECT_RGB_NEAR(p.At(s.x, s.y), s.rgb, s.tolerance) << s.what;
}

TEST(Painting, ImagesLandInTheirPlaces)
{
    Painted p;
    p.model.img_background = checks::SolidBitmap(4, 4, 0x3060A0);
    p.model.img_crest = checks::SolidBitmap(5, 5, kRed);
    p.model.img_website = checks::SolidBitmap(5, 5, kGreen);
    p.model.img_settings = checks::SolidBitmap(5, 5, kBlue);
    p.model.img_logo = checks::SolidBitmap(100, 50, 0xFFFF00);
    p.Paint();
    struct Spot {
        int x, y;
        uint32_t rgb;
        const char* what;
    } spots[] = {
        {500, 300, 0x3060A0, "background"},
        {26, 26, kRed, "crest"},
        {26, 78, kGreen, "website icon, 22 x 22 in its button"},
        {26, 65, kSidebar, "above the website icon"},
        {26, 588, kBlue, "setup icon"},
        {26, 126, kSidebar, "wiki button without its icon"},
        // 100 x 50 in the 380 x 200 box at (570, 40): 380 x 190 at (570, 45).
        {760, 50, 0xFFFF00, "logo"},
        {575, 140, 0xFFFF00, "logo, left"},
        {945, 230, 0xFFFF00, "logo, bottom right"},
        {760, 42, 0x3060A0, "above the logo"},
        {760, 238, 0x3060A0, "below the logo"},
    };
    for (const Spot& s : spots) EXPECT_RGB_NEAR(p.At(s.x, s.y), s.rgb, 6) << s.what;
}

TEST(Painting, LogoKeepsItsAspectInTheThemeBox)
{
    struct Case {
        int x, y, w, h;
        int insideX, insideY;    // -1: the logo is not drawn
        int outsideX, outsideY;
    } cases[] = {
        {600, 100, 100, 100, 650, 150, 650, 120},  // scale 1: 100 x 50 at (600, 125)
        {300, 100, 200, 300, 400, 250, 400, 195},  // scale 2: 200 x 100 at (300, 200)
        {570, 40, 0, 200, -1, -1, 570, 140},       // width 0: scale 0, nothing shows
        {570, 40, 380, 0, -1, -1, 760, 40},
    };
    for (const Case& c : cases) {
        Painted p;
        p.model.img_background = checks::SolidBitmap(4, 4, 0x3060A0);
        p.model.img_logo = checks::SolidBitmap(100, 50, 0xFFFF00);
        p.model.theme.logo_x = c.x;
        p.model.theme.logo_y = c.y;
        p.model.theme.logo_w = c.w;
        p.model.theme.logo_h = c.h;
        p.Paint();
        if (c.insideX >= 0) {
            EXPECT_RGB_NEAR(p.At(c.insideX, c.insideY), 0xFFFF00, 6) << c.w << "x" << c.h;
        }
        EXPECT_RGB_NEAR(p.At(c.outsideX, c.outsideY), 0x3060A0, 6) << c.w << "x" << c.h;
    }
}

TEST(Painting, ProgressBarFillsAndMarks)
{
    // The gradient runs from A03CF0 at x 52 to F582FF at x 1013 whatever the fill.
    auto gradientAt = [](int x) {
        const double t = (x + 0.5 - 52) / 961.0;
        auto mix = [t](int a, int b) { return static_cast<uint32_t>(a + (b - a) * t + 0.5); };
        return mix(0xA0, 0xF5) << 16 | mix(0x3C, 0x82) << 8 | mix(0xF0, 0xFF);
    };
    struct Case {
        float percent;
        int lastFilled;  // x of the last filled column, -1 for none
        int marker;      // x of the marker's left column, -1 for none
    } cases[] = {
        {0.0f, -1, -1},
        {-5.0f, -1, -1},
        {std::numeric_limits<float>::quiet_NaN(), -1, -1},
        {0.05f, -1, -1},    // less than one pixel: neither fill nor marker
        {50.0f, 531, 531},  // f = 480: the marker stands at x 532
        {100.0f, 1012, -1},
        {150.0f, 1012, -1},
    };
    for (const Case& c : cases) {
        Painted p;
        p.model.progress_percent = c.percent;
        p.Paint();
        if (c.lastFilled < 0) {
            for (int x : {53, 300, 700, 1010}) EXPECT_RGB_NEAR(p.At(x, 525), kTrack, 2) << c.percent << " x " << x;
            continue;
        }
        const int mid = (52 + c.lastFilled) / 2;
        EXPECT_RGB_NEAR(p.At(60, 525), gradientAt(60), 8) << c.percent;
        EXPECT_RGB_NEAR(p.At(mid, 525), gradientAt(mid), 8) << c.percent;
        EXPECT_RGB_NEAR(p.At(mid, 521), kWhite, 0x50) << c.percent << ": highlight line";
        if (c.marker >= 0) {
            EXPECT_RGB_NEAR(p.At(c.marker, 525), kWhite, 24) << c.percent << ": marker";
            EXPECT_RGB_NEAR(p.At(c.marker + 1, 525), kWhite, 24) << c.percent << ": marker";
            EXPECT_RGB_NEAR(p.At(c.marker + 4, 525), kTrack, 2) << c.percent << ": after the marker";
        } else {
            EXPECT_RGB_NEAR(p.At(c.lastFilled, 525), gradientAt(c.lastFilled), 8) << c.percent << ": no marker";
        }
        EXPECT_RGB_NEAR(p.At(mid, 535), kFooter, 2) << c.percent << ": the footer starts below the track";
    }
}

TEST(Painting, StatusPillsAfterTheFirstReport)
{
    Painted p;
    p.model.img_background = checks::SolidBitmap(4, 4, kWhite);
    p.model.SetServerStatus(true, false, true);
    p.Paint();
    const uint32_t pill = 0x4E5056;  // 0xBE12141C over white
    struct Spot {
        int x, y;
        uint32_t rgb;
        const char* what;
    } spots[] = {
        {79, 21, 0x32EB64, "WEBPAGE dot: online"},
        {187, 21, 0xEB3741, "SEASON dot: offline"},
        {295, 21, 0x32EB64, "LEGACY dot: online"},
        {118, 32, pill, "first pill"},
        {226, 32, pill, "second pill"},
        {370, 32, pill, "third pill"},
        {172, 22, kWhite, "gap between pills"},
        {395, 22, kWhite, "after the last pill"},
        {118, 7, kWhite, "above the pills"},
    };
    for (const Spot& s : spots) EXPECT_RGB_NEAR(p.At(s.x, s.y), s.rgb, 8) << s.what;
    // An all-offline report still draws every pill, with red dots.
    p.model.SetServerStatus(false, false, false);
    p.Paint();
    for (int x : {79, 187, 295}) EXPECT_RGB_NEAR(p.At(x, 21), 0xEB3741, 8) << x;
}

TEST(Painting, VectorPlayButtonsFollowStateAndTheme)
{
    // Gradients sampled at row 590 (t = 0.767 of the 58 rows): face colours of
    // the built-in theme, darkened below when at rest, lightened above when hovered.
    Painted p;
    p.model.SetReady(true);
    p.Paint();
    EXPECT_RGB_NEAR(p.At(kSeasonX, kFaceY), 0x8233C2, 10) << "Season at rest";
    EXPECT_RGB_NEAR(p.At(kLegacyX, kFaceY), 0x2846D3, 10) << "Legacy at rest";
    EXPECT_TRUE(HasInk(p.canvas, 700, 565, 835, 585, p.At(kSeasonX, kCentreY))) << "Season label";

    p.model.SetHover(ButtonId::PlaySeason);
    p.Paint();
    EXPECT_RGB_NEAR(p.At(kSeasonX, kFaceY), 0xA657E5, 10) << "Season hovered";
    EXPECT_RGB_NEAR(p.At(kLegacyX, kFaceY), 0x2846D3, 10) << "Legacy not hovered";

    p.model.theme.season_button_color = 0x00000000;  // COLORREF black: the darkening stops at 0
    p.model.SetHover(ButtonId::None);
    p.Paint();
    EXPECT_RGB_NEAR(p.At(kSeasonX, kFaceY), 0x000000, 4) << "black face";
}

TEST(Painting, ThemeImagesOfPlayButtons)
{
    enum State { Disabled, Enabled, Hovered, DisabledButHovered };
    struct Case {
        uint32_t normal, hover, disabled;  // 0: no such image
        State state;
        uint32_t expected;  // 0: vector style
    } cases[] = {
        {kGreen, 0, 0, Disabled, kGreen},  // only the normal image: shown in every state
        {kGreen, 0, 0, Enabled, kGreen},
        {kGreen, 0, 0, Hovered, kGreen},
        {kGreen, kBlue, kRed, Disabled, kRed},
        {kGreen, kBlue, kRed, Enabled, kGreen},
        {kGreen, kBlue, kRed, Hovered, kBlue},
        {0, 0, kRed, Enabled, 0},
        {0, kBlue, 0, Enabled, 0},
        {0, kBlue, 0, DisabledButHovered, kBlue},  // a disabled button keeps its hover until the pointer moves
        {kGreen, kBlue, 0, DisabledButHovered, kBlue},
    };
    for (int legacy = 0; legacy < 2; ++legacy) {
        for (const Case& c : cases) {
            Painted p;
            auto image = [](uint32_t rgb) { return rgb ? checks::SolidBitmap(4, 4, rgb) : nullptr; };
            (legacy ? p.model.img_legacy_normal : p.model.img_season_normal) = image(c.normal);
            (legacy ? p.model.img_legacy_hover : p.model.img_season_hover) = image(c.hover);
            (legacy ? p.model.img_legacy_disabled : p.model.img_season_disabled) = image(c.disabled);
            const int32_t id = legacy ? ButtonId::PlayLegacy : ButtonId::PlaySeason;
            if (c.state != Disabled) p.model.SetReady(true);
            if (c.state == Hovered || c.state == DisabledButHovered) p.model.SetHover(id);
            if (c.state == DisabledButHovered) p.model.SetReady(false);
            p.Paint();
            const int centreX = legacy ? kLegacyCentreX : kSeasonCentreX;
            const int faceX = legacy ? kLegacyX : kSeasonX;
            const std::string where = (legacy ? "Legacy case " : "Season case ") + std::to_string(&c - cases);
            if (c.expected) {
                EXPECT_RGB_NEAR(p.At(centreX, kCentreY), c.expected, 4) << where << ": image, no label";
                EXPECT_RGB_NEAR(p.At(faceX, kFaceY), c.expected, 12) << where;  // near the edge: blended a little
            } else {
                EXPECT_RGB_NEAR(p.At(faceX, kFaceY), legacy ? 0x2846D3 : 0x8233C2, 10) << where << ": vector";
            }
        }
    }
}

TEST(Painting, HoverOfWindowAndSidebarButtons)
{
    struct Case {
        int32_t id;
        int x, y;
        uint32_t hovered, plain;
    } cases[] = {
        {ButtonId::Close, 1000, 5, 0xD71E2D, kNoBackground},
        {ButtonId::Minimize, 930, 5, 0x45454A, kNoBackground},  // 0x37FFFFFF over the background
        {ButtonId::Website, 26, 63, 0x3F3E4B, kSidebar},        // 0x2DFFFFFF over the sidebar
        {ButtonId::Setup, 40, 590, 0x3F3E4B, kSidebar},
    };
    for (const Case& c : cases) {
        Painted p;
        p.Paint();
        EXPECT_RGB_NEAR(p.At(c.x, c.y), c.plain, 3) << c.id;
        p.model.SetHover(c.id);
        p.Paint();
        EXPECT_RGB_NEAR(p.At(c.x, c.y), c.hovered, 4) << c.id;
    }
}

// Texts need a font family; without one (or with one that makes no font) the
// window is painted all the same, only without its texts.
TEST(Painting, TextsWithAndWithoutFonts)
{
    Painted p;
    p.model.SetStatus("WWWW MMMM WWWW", 0.0f);
    p.Paint();
    ASSERT_NE(g_fontFamily, nullptr) << "the prefix maps Tahoma and Arial to Liberation Sans";
    EXPECT_TRUE(HasInk(p.canvas, 76, 548, 300, 570, kFooter)) << "status line";
    EXPECT_TRUE(HasInk(p.canvas, 76, 574, 200, 594, kFooter)) << "second line";
    EXPECT_TRUE(HasInk(p.canvas, 720, 565, 820, 585, p.At(kSeasonX, kCentreY))) << "button label";

    const Gdiplus::FontFamily* picked = g_fontFamily;
    Gdiplus::FontFamily missing(L"No Such Family At All");
    ASSERT_NE(missing.GetLastStatus(), Gdiplus::Ok);
    for (const Gdiplus::FontFamily* family : {static_cast<const Gdiplus::FontFamily*>(nullptr),
                                              static_cast<const Gdiplus::FontFamily*>(&missing)}) {
        g_fontFamily = family;
        p.model.SetServerStatus(true, true, true);
        p.Paint();
        EXPECT_FALSE(HasInk(p.canvas, 76, 548, 650, 594, kFooter)) << "no text without a font";
        EXPECT_RGB_NEAR(p.At(79, 21), 0x32EB64, 8) << "the rest is still painted";
        EXPECT_RGB_NEAR(p.At(25, 400), kSidebar, 2);
    }
    g_fontFamily = picked;
}

TEST(Painting, OddSizesAndEmptyModelsDoNotFail)
{
    Canvas canvas(kW, kH);
    LauncherWindow empty;
    empty.SetServerStatus(true, false, true);
    empty.progress_percent = std::numeric_limits<float>::infinity();
    for (int size : {0, 1, 10, 52, 530})
        empty.Paint(canvas.Dc(), size, size);
    empty.Paint(canvas.Dc(), kW, kH);
    EXPECT_RGB_NEAR(canvas.Rgb(500, 300), kNoBackground, 2);
    EXPECT_RGB_NEAR(canvas.Rgb(1000, 525), 0xF481FE, 8) << "an infinite percent fills the track";
}

TEST(FooterDetailText, PercentOrReadyText)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        bool ready, testLauncher;
        float percent;
        const wchar_t* text;
    } cases[] = {
        {false, false, 0.0f, L"0% complete"},
        {false, true, 42.9f, L"42% complete"},
        {false, false, 150.0f, L"150% complete"},
        {false, false, 99.99f, L"99% complete"},
        {false, false, -3.7f, L"-3% complete"},
        {false, false, nan, L"0% complete"},
        {false, false, inf, L"2147483647% complete"},
        {false, false, -inf, L"-2147483648% complete"},
        {true, false, 100.0f, L"Ready to play! Select realm on the right to enter."},
        {true, true, 0.0f, L"Ready to play! Click PLAY to enter the Test Server."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FooterDetailText(c.ready, c.testLauncher, c.percent), c.text) << c.percent;
}

TEST(AddRoundedRectPath, ClosedShapeWithRoundCorners)
{
    Gdiplus::GraphicsPath path;
    AddRoundedRectPath(path, 10.0f, 20.0f, 100.0f, 40.0f, 6.0f);
    Gdiplus::RectF bounds;
    ASSERT_EQ(path.GetBounds(&bounds), Gdiplus::Ok);
    EXPECT_NEAR(bounds.X, 10.0f, 0.01f);
    EXPECT_NEAR(bounds.Y, 20.0f, 0.01f);
    EXPECT_NEAR(bounds.Width, 100.0f, 0.01f);
    EXPECT_NEAR(bounds.Height, 40.0f, 0.01f);
    struct Probe {
        float x, y;
        bool inside;
    } probes[] = {
        {60, 40, true},      {10.5f, 40, true},    {60, 20.5f, true},   {108.0f, 40, true},
        {10.5f, 20.5f, false}, {109.5f, 20.5f, false}, {109.5f, 59.5f, false}, {10.5f, 59.5f, false},
        {111, 40, false},
    };
    for (const Probe& p : probes) EXPECT_EQ(path.IsVisible(p.x, p.y) != FALSE, p.inside) << p.x << "," << p.y;
}

TEST(PaintingTestLauncher, DISABLED_PillsAndButtons)
{
    ASSERT_TRUE(IsTestLauncher());
    Painted p;
    p.model.img_background = checks::SolidBitmap(4, 4, kWhite);
    p.model.img_legacy_normal = checks::SolidBitmap(4, 4, kGreen);  // not used on a test launcher
    p.model.SetServerStatus(false, false, true);
    p.Paint();
    const uint32_t pill = 0x4E5056;
    EXPECT_RGB_NEAR(p.At(79, 21), 0xEB3741, 8) << "WEBPAGE offline";
    EXPECT_RGB_NEAR(p.At(187, 21), 0x32EB64, 8) << "TEST SERVER online";
    EXPECT_RGB_NEAR(p.At(300, 32), pill, 8) << "the TEST SERVER pill is 138 wide";
    EXPECT_RGB_NEAR(p.At(318, 32), kWhite, 8) << "and there is no third pill";
    EXPECT_RGB_NEAR(p.At(370, 32), kWhite, 8);

    EXPECT_RGB_NEAR(p.At(kSeasonX, kFaceY), 0x07555F, 10) << "SYNC FILES enabled from the start";
    EXPECT_RGB_NEAR(p.At(kLegacyX, kFaceY), 0x1E1E28, 6) << "PLAY disabled, vector style";
    p.model.SetReady(true);
    p.Paint();
    EXPECT_RGB_NEAR(p.At(kLegacyX, kFaceY), 0x2846D3, 10) << "PLAY in the Legacy colours";
    EXPECT_FALSE(checks::Near(p.At(kLegacyCentreX, kCentreY), kGreen, 60)) << "no theme image";
}

TEST(Painting, TestLauncherPillsAndButtons)
{
    checks::ScratchDir dir("painting-test-launcher");
    EXPECT_EQ(checks::RunCheckInCopy(dir.Path(), "painting_TEST.exe", "PaintingTestLauncher.DISABLED_PillsAndButtons"), 0);
}
