// The skinned window drawn with GDI+: sidebar, background and logo, status
// pills, progress bar, footer texts and the buttons.
#include "ui/painting.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cmath>
#include <memory>
#include <string>

#include "core/identity.h"
#include "ui/images.h"
#include "ui/window_model.h"

using namespace Gdiplus;

const FontFamily* g_fontFamily = nullptr;

namespace {

// The top of the progress track: the background ends there, the footer
// starts 10 rows below.
constexpr int kTrackTop = 520;
constexpr int kSidebarWidth = 52;

// The lookup runs once even when it finds nothing, so a system without fonts
// does not pay for it at every paint.
bool g_fontFamilyPicked = false;

// The first family the system has installed, or null when it has none. Wine
// without font replacements offers none of the named families and no generic
// one either, yet it does list the system's own fonts.
const FontFamily* FirstInstalledFontFamily()
{
    InstalledFontCollection installed;
    if (installed.GetLastStatus() != Ok || installed.GetFamilyCount() <= 0) return nullptr;
    std::unique_ptr<FontFamily> family(new FontFamily());
    INT found = 0;
    if (installed.GetFamilies(1, family.get(), &found) != Ok || found < 1 || !family->IsAvailable())
        return nullptr;
    return family.release();
}

void PickFontFamily()
{
    if (g_fontFamily || g_fontFamilyPicked) return;
    g_fontFamilyPicked = true;
    for (const wchar_t* name : {L"Tahoma", L"Segoe UI", L"Arial"}) {
        std::unique_ptr<FontFamily> family(new FontFamily(name));
        if (family->GetLastStatus() == Ok) {
            g_fontFamily = family.release();
            return;
        }
    }
    // GDI+ may hand out a generic family that holds no font; drawing with it
    // fails or, on some runtimes, crashes.
    const FontFamily* generic = FontFamily::GenericSansSerif();
    if (generic && generic->IsAvailable() && generic->GetLastStatus() == Ok) {
        g_fontFamily = generic;
        return;
    }
    // Null only when the system has no font at all; the paint then leaves out its texts.
    g_fontFamily = FirstInstalledFontFamily();
}

Color Opaque(ThemeColor c)
{
    return Color(0xFF, GetRValue(c), GetGValue(c), GetBValue(c));
}

BYTE Shift(BYTE channel, int delta)
{
    int v = channel + delta;
    return static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

Color Shifted(const Color& c, int delta)
{
    return Color(0xFF, Shift(c.GetR(), delta), Shift(c.GetG(), delta), Shift(c.GetB(), delta));
}

void FillRect(Graphics& g, ARGB colour, int x, int y, int w, int h)
{
    SolidBrush brush{Color(colour)};
    g.FillRectangle(&brush, x, y, w, h);
}

void Line(Graphics& g, ARGB colour, float width, int x1, int y1, int x2, int y2)
{
    Pen pen(Color(colour), width);
    g.DrawLine(&pen, x1, y1, x2, y2);
}

// The four fonts of a paint; a font that cannot be made stays null and its
// texts are left out.
struct PaintFonts {
    std::unique_ptr<Font> pill, status, detail, button;

    PaintFonts()
    {
        PickFontFamily();
        if (!g_fontFamily) return;
        pill = Make(10.0f, FontStyleBold);
        status = Make(13.0f, FontStyleBold);
        detail = Make(11.0f, FontStyleRegular);
        button = Make(13.0f, FontStyleBold);
    }

    static std::unique_ptr<Font> Make(float size, int style)
    {
        std::unique_ptr<Font> font(new Font(g_fontFamily, size, style, UnitPixel));
        if (font->GetLastStatus() != Ok) font.reset();
        return font;
    }
};

void Text(Graphics& g, const std::wstring& text, const Font* font, ARGB colour,
          const RectF& box, const StringFormat& format)
{
    if (!font || text.empty()) return;
    SolidBrush brush{Color(colour)};
    g.DrawString(text.c_str(), static_cast<INT>(text.size()), font, box, &format, &brush);
}

// The whole-percent figure of the second line. Out-of-range values (an
// infinite or undefined ratio of an unknown total) must not reach the integer
// conversion, whose result would then be undefined.
int WholePercent(float percent)
{
    if (std::isnan(percent)) return 0;
    if (percent >= 2147483647.0f) return 2147483647;
    if (percent <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(percent);
}

struct Pill {
    const wchar_t* label;
    bool online;
    int width;
};

void PaintPill(Graphics& g, const Pill& pill, int x, const Font* font)
{
    GraphicsPath shape;
    AddRoundedRectPath(shape, static_cast<float>(x), 10.0f, static_cast<float>(pill.width), 24.0f, 6.0f);
    SolidBrush face{Color(0xBE12141C)};
    Pen border(Color(0x78464B5F), 1.0f);
    g.FillPath(&face, &shape);
    g.DrawPath(&border, &shape);

    Pen ring(Color(pill.online ? 0x7832EB64 : 0x78EB3741), 3.0f);
    SolidBrush dot{Color(pill.online ? 0xFF32EB64 : 0xFFEB3741)};
    g.DrawEllipse(&ring, x + 7, 17, 9, 9);
    g.FillEllipse(&dot, x + 8, 18, 7, 7);

    StringFormat format;
    format.SetAlignment(StringAlignmentNear);
    format.SetLineAlignment(StringAlignmentCenter);
    std::wstring text = std::wstring(pill.label) + (pill.online ? L": ONLINE" : L": OFFLINE");
    Text(g, text, font, pill.online ? 0xFFDCFFE6 : 0xFFFFBEBE,
         RectF(static_cast<REAL>(x + 20), 10.0f, static_cast<REAL>(pill.width - 22), 24.0f), format);
}

void PaintProgress(Graphics& g, float percent, int width)
{
    const int track = width - kSidebarWidth;
    FillRect(g, 0xFF0E0D16, kSidebarWidth, kTrackTop, track, 10);
    Line(g, 0x2DFFFFFF, 1.0f, kSidebarWidth, kTrackTop, width, kTrackTop);
    Line(g, 0x2DFFFFFF, 1.0f, kSidebarWidth, kTrackTop + 9, width, kTrackTop + 9);
    if (!(percent > 0.0f)) return;
    const float shown = percent < 100.0f ? percent : 100.0f;
    const int f = static_cast<int>(shown / 100.0f * static_cast<float>(track));
    if (f <= 0) return;
    // The gradient spans the whole track; the fill shows its left part.
    LinearGradientBrush gradient(Point(kSidebarWidth, kTrackTop), Point(width, kTrackTop),
                                 Color(0xFFA03CF0), Color(0xFFF582FF));
    gradient.SetWrapMode(WrapModeTile);
    g.FillRectangle(&gradient, kSidebarWidth, kTrackTop, f, 10);
    Line(g, 0xB4FFFFFF, 1.0f, kSidebarWidth, kTrackTop + 1, kSidebarWidth + f, kTrackTop + 1);
    if (f < track) Line(g, 0xFFFFFFFF, 2.0f, kSidebarWidth + f, kTrackTop, kSidebarWidth + f, kTrackTop + 10);
}

struct VectorColours {
    Color face, glow, rim;
};

VectorColours ColoursOf(const Button& b, const ThemeConfig& theme)
{
    if (b.id == ButtonId::PlaySeason)
        return {Opaque(theme.season_button_color), Color(0x82B450FF), Color(0xFFE178FF)};
    if (b.id == ButtonId::PlayLegacy)
        return {Opaque(theme.legacy_button_color), Color(0x8246A0FF), Color(0xFF82DCFF)};
    return {Color(0xFF22707A), Color(0x822DAFBE), Color(0xFF46C8D7)};
}

void PaintVectorButton(Graphics& g, const Button& b, const ThemeConfig& theme, const Font* font)
{
    const REAL x = static_cast<REAL>(b.rect.left), y = static_cast<REAL>(b.rect.top);
    const REAL w = static_cast<REAL>(b.rect.right - b.rect.left);
    const REAL h = static_cast<REAL>(b.rect.bottom - b.rect.top);
    const VectorColours colours = ColoursOf(b, theme);
    GraphicsPath face;
    AddRoundedRectPath(face, x, y, w, h, 7.0f);

    if (!b.enabled) {
        SolidBrush fill{Color(0xB423232D)};
        Pen outline(Color(0x6441414B), 1.5f);
        g.FillPath(&fill, &face);
        g.DrawPath(&outline, &face);
    } else {
        GraphicsPath shadowShape;
        AddRoundedRectPath(shadowShape, x, y + 3.0f, w, h, 7.0f);
        SolidBrush shadow{Color(0x64000000)};
        g.FillPath(&shadow, &shadowShape);

        Pen glow(colours.glow, b.hovered ? 5.0f : 3.0f);
        g.DrawPath(&glow, &face);

        const Color top = b.hovered ? Shifted(colours.face, 40) : colours.face;
        const Color bottom = b.hovered ? colours.face : Shifted(colours.face, -35);
        LinearGradientBrush faceFill(PointF(x, y), PointF(x, y + h), top, bottom);
        faceFill.SetWrapMode(WrapModeTile);
        g.FillPath(&faceFill, &face);

        const RectF glossBox(x + 1.0f, y + 1.0f, w - 2.0f, (b.hovered ? 0.45f : 0.42f) * h);
        LinearGradientBrush gloss(glossBox, Color(b.hovered ? 0x6EFFFFFF : 0x50FFFFFF),
                                  Color(0x00FFFFFF), LinearGradientModeVertical);
        gloss.SetWrapMode(WrapModeTile);
        g.FillRectangle(&gloss, glossBox);

        Pen rim(b.hovered ? Color(0xFFFFFFFF) : colours.rim, b.hovered ? 2.2f : 1.8f);
        g.DrawPath(&rim, &face);
    }

    StringFormat format;
    format.SetAlignment(StringAlignmentCenter);
    format.SetLineAlignment(StringAlignmentCenter);
    Text(g, Utf8ToWide(b.label), font, b.enabled ? 0xFFFFFFFF : 0xB4787882, RectF(x, y, w, h), format);
}

// A play button from the theme's pictures when it has one for the state,
// else in the vector style.
void PaintPlayButton(Graphics& g, const Button& b, Bitmap* disabled, Bitmap* hover,
                     Bitmap* normal, const ThemeConfig& theme, const Font* font)
{
    Bitmap* chosen = nullptr;
    if (!b.enabled && disabled) chosen = disabled;
    else if (b.hovered && hover) chosen = hover;
    else if (normal) chosen = normal;
    if (!chosen) {
        PaintVectorButton(g, b, theme, font);
        return;
    }
    g.DrawImage(chosen, static_cast<INT>(b.rect.left), static_cast<INT>(b.rect.top),
                static_cast<INT>(b.rect.right - b.rect.left), static_cast<INT>(b.rect.bottom - b.rect.top));
}

void PaintWindowGlyph(Graphics& g, const Button& b)
{
    const int w = b.rect.right - b.rect.left, h = b.rect.bottom - b.rect.top;
    const int cx = b.rect.left + w / 2, cy = b.rect.top + h / 2;
    if (b.id == ButtonId::Close) {
        if (b.hovered) FillRect(g, 0xFFD71E2D, b.rect.left, b.rect.top, w, h);
        Line(g, 0xFFFFFFFF, 1.8f, cx - 5, cy - 5, cx + 5, cy + 5);
        Line(g, 0xFFFFFFFF, 1.8f, cx + 5, cy - 5, cx - 5, cy + 5);
    } else {
        if (b.hovered) FillRect(g, 0x37FFFFFF, b.rect.left, b.rect.top, w, h);
        Line(g, 0xFFFFFFFF, 1.8f, cx - 5, cy, cx + 5, cy);
    }
}

void PaintSidebarButton(Graphics& g, const Button& b, Bitmap* icon)
{
    const int w = b.rect.right - b.rect.left, h = b.rect.bottom - b.rect.top;
    if (b.hovered) {
        GraphicsPath shape;
        AddRoundedRectPath(shape, static_cast<float>(b.rect.left), static_cast<float>(b.rect.top),
                           static_cast<float>(w), static_cast<float>(h), 6.0f);
        SolidBrush fill{Color(0x2DFFFFFF)};
        Pen outline(Color(0x50FFFFFF), 1.0f);
        g.FillPath(&fill, &shape);
        g.DrawPath(&outline, &shape);
    }
    if (icon) g.DrawImage(icon, b.rect.left + (w - 22) / 2, b.rect.top + (h - 22) / 2, 22, 22);
}

void PaintLogo(Graphics& g, Bitmap* logo, const ThemeConfig& theme)
{
    if (!logo) return;
    const UINT iw = logo->GetWidth(), ih = logo->GetHeight();
    if (iw == 0 || ih == 0) return;
    const float byHeight = static_cast<float>(theme.logo_h) / static_cast<float>(ih);
    const float byWidth = static_cast<float>(theme.logo_w) / static_cast<float>(iw);
    const float scale = byHeight < byWidth ? byHeight : byWidth;
    const int dw = static_cast<int>(static_cast<float>(iw) * scale);
    const int dh = static_cast<int>(static_cast<float>(ih) * scale);
    g.DrawImage(logo, theme.logo_x + (theme.logo_w - dw) / 2, theme.logo_y + (theme.logo_h - dh) / 2, dw, dh);
}

}  // namespace

void AddRoundedRectPath(GraphicsPath& path, float x, float y, float width, float height, float r)
{
    const float d = 2.0f * r;
    path.AddArc(x, y, d, d, 180.0f, 90.0f);
    path.AddArc(x + width - d, y, d, d, 270.0f, 90.0f);
    path.AddArc(x + width - d, y + height - d, d, d, 0.0f, 90.0f);
    path.AddArc(x, y + height - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

std::wstring FooterDetailText(bool ready, bool testLauncher, float percent)
{
    if (!ready) return std::to_wstring(WholePercent(percent)) + L"% complete";
    return testLauncher ? L"Ready to play! Click PLAY to enter the Test Server."
                        : L"Ready to play! Select realm on the right to enter.";
}

void LauncherWindow::Paint(HDC dc, int32_t width, int32_t height) const
{
    Graphics g(dc);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
    g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    const bool testLauncher = IsTestLauncher();

    FillRect(g, Opaque(theme.sidebar_color).GetValue(), 0, 0, kSidebarWidth, height);
    Line(g, 0x32FFFFFF, 1.0f, kSidebarWidth - 1, 0, kSidebarWidth - 1, height);
    if (img_crest) g.DrawImage(img_crest, 10, 10, 32, 32);
    if (img_background) g.DrawImage(img_background, kSidebarWidth, 0, width - kSidebarWidth, kTrackTop);
    else FillRect(g, 0xFF121218, kSidebarWidth, 0, width - kSidebarWidth, kTrackTop);
    PaintLogo(g, img_logo, theme);

    PaintFonts fonts;
    if (status_known) {
        const Pill live[] = {{L"WEBPAGE", website_online, 100}, {L"SEASON", season_online, 100},
                             {L"LEGACY", legacy_online, 100}};
        const Pill test[] = {{L"WEBPAGE", website_online, 100}, {L"TEST SERVER", legacy_online, 138}};
        const Pill* pills = testLauncher ? test : live;
        const int count = testLauncher ? 2 : 3;
        int x = 68;
        for (int i = 0; i < count; ++i) {
            PaintPill(g, pills[i], x, fonts.pill.get());
            x += pills[i].width + 8;
        }
    }

    PaintProgress(g, progress_percent, width);
    FillRect(g, Opaque(theme.footer_color).GetValue(), kSidebarWidth, kTrackTop + 10,
             width - kSidebarWidth, height - (kTrackTop + 10));

    StringFormat plain;
    Text(g, Utf8ToWide(status_text), fonts.status.get(), 0xFFEBEBF5, RectF(76, 548, 580, 22), plain);
    Text(g, FooterDetailText(ready, testLauncher, progress_percent), fonts.detail.get(), 0xFFA5A0C3,
         RectF(76, 574, 580, 20), plain);

    for (const Button& b : buttons) {
        switch (b.id) {
        case ButtonId::Close:
        case ButtonId::Minimize: PaintWindowGlyph(g, b); break;
        case ButtonId::PlaySeason:
            PaintPlayButton(g, b, img_season_disabled, img_season_hover, img_season_normal, theme,
                            fonts.button.get());
            break;
        case ButtonId::PlayLegacy:
            if (testLauncher) PaintVectorButton(g, b, theme, fonts.button.get());
            else PaintPlayButton(g, b, img_legacy_disabled, img_legacy_hover, img_legacy_normal, theme,
                                 fonts.button.get());
            break;
        case ButtonId::SyncFiles: PaintVectorButton(g, b, theme, fonts.button.get()); break;
        case ButtonId::Website: PaintSidebarButton(g, b, img_website); break;
        case ButtonId::Wiki: PaintSidebarButton(g, b, img_wiki); break;
        case ButtonId::Discord: PaintSidebarButton(g, b, img_discord); break;
        case ButtonId::Account: PaintSidebarButton(g, b, img_account); break;
        case ButtonId::GraphicsFix: PaintSidebarButton(g, b, img_fix); break;
        case ButtonId::Setup: PaintSidebarButton(g, b, img_settings); break;
        default: PaintSidebarButton(g, b, nullptr); break;
        }
    }
}
