// The theme document is read by plain key search, like the configuration, so
// this file needs no windows.h; the embedded copy comes through config.h.
#include "core/theme.h"

#include "core/config.h"

#include <resource_ids.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

ThemeConfig::ThemeConfig()
    : theme_id("season_1"),
      name("Verandel - Season 1"),
      background_image("bg.jpg"),
      music_file("bg.mp3"),
      season_button_label("PLAY SEASON"),
      legacy_button_label("PLAY LEGACY"),
      primary_accent(0x00E22B8A),
      season_button_color(0x00DD4E9D),
      legacy_button_color(0x00EE6143),
      text_color(0x00FFFFFF),
      sidebar_color(0x00241516),
      footer_color(0x001C1112),
      logo_image("themes/season_1/logo.png"),
      logo_x(570),
      logo_y(40),
      logo_w(380),
      logo_h(200)
{
}

ThemeConfig g_theme;

namespace {

// One two-character piece read as strtol reads base 16 (white space, a sign,
// digits up to the first non-digit); false when it yields no digit at all.
bool ParseColorPiece(const std::string& text, size_t pos, long& value)
{
    const char piece[3] = {text[pos], text[pos + 1], '\0'};
    char* end = nullptr;
    value = std::strtol(piece, &end, 16);
    return end != piece;
}

}  // namespace

ThemeColor ParseHexColor(const std::string& text, ThemeColor fallback)
{
    if (text.size() < 7 || text[0] != '#') return fallback;
    long red = 0, green = 0, blue = 0;
    if (!ParseColorPiece(text, 1, red) || !ParseColorPiece(text, 3, green) || !ParseColorPiece(text, 5, blue))
        return fallback;
    return static_cast<ThemeColor>((red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16);
}

ThemeConfig ThemeFromDocument(const std::string& document)
{
    ThemeConfig t;
    if (document.empty()) return t;
    auto str = [&document](const char* key, std::string& field) { field = JsonGetString(document, key, field); };
    auto color = [&document](const char* key, ThemeColor& field) {
        field = ParseHexColor(JsonGetString(document, key, std::string()), field);
    };
    auto number = [&document](const char* key, int32_t& field) { field = JsonGetInt(document, key, field); };
    str("theme_id", t.theme_id);
    str("name", t.name);
    str("background_image", t.background_image);
    str("music_file", t.music_file);
    str("season_button_label", t.season_button_label);
    str("legacy_button_label", t.legacy_button_label);
    color("primary_accent", t.primary_accent);
    color("season_button_color", t.season_button_color);
    color("legacy_button_color", t.legacy_button_color);
    color("text_color", t.text_color);
    color("sidebar_color", t.sidebar_color);
    color("footer_color", t.footer_color);
    str("logo_image", t.logo_image);
    number("logo_x", t.logo_x);
    number("logo_y", t.logo_y);
    number("logo_w", t.logo_w);
    number("logo_h", t.logo_h);
    return t;
}

ThemeConfig LoadThemeConfig(const std::string& themeFolder)
{
    std::ifstream file(themeFolder + "/theme.json", std::ios::binary);
    std::string document;
    if (file) {
        document.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        // Every theme without a readable document gets the embedded one.
        document = LoadResourceString(IDR_THEME_JSON);
    }
    return ThemeFromDocument(document);
}
