// The window's look where it is not fixed: button labels, colours, background
// and logo. The record, its built-in values and its loader (theme.json or the
// embedded document).
#pragma once

#include <cstdint>
#include <string>

// Colours are Windows COLORREF values: 0x00BBGGRR, red in the low byte.
using ThemeColor = uint32_t;

struct ThemeConfig {
    std::string theme_id;
    std::string name;
    std::string background_image;
    std::string music_file;
    std::string season_button_label;
    std::string legacy_button_label;
    ThemeColor primary_accent;
    ThemeColor season_button_color;
    ThemeColor legacy_button_color;
    ThemeColor text_color;
    ThemeColor sidebar_color;
    ThemeColor footer_color;
    std::string logo_image;  // relative to the launcher directory, not the theme folder
    int32_t logo_x;
    int32_t logo_y;
    int32_t logo_w;
    int32_t logo_h;

    ThemeConfig();  // the built-in theme (equal to the embedded document)
};

extern ThemeConfig g_theme;

// Reads <themeFolder>/theme.json, else the embedded theme document; an empty
// text leaves the built-in theme. Never fails: unreadable keys keep their values.
ThemeConfig LoadThemeConfig(const std::string& themeFolder);

// The record a theme document gives (no file access).
ThemeConfig ThemeFromDocument(const std::string& document);

// "#RRGGBB" (further characters ignored) as a COLORREF; fallback otherwise.
ThemeColor ParseHexColor(const std::string& text, ThemeColor fallback);
