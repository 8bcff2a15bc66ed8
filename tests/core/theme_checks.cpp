#include "core/config.h"
#include "core/foundation_support.h"
#include "core/theme.h"

#include <resource_ids.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using checks::ScratchDir;
using checks::WriteBytes;

namespace {

// Every field in record order, colours as hex, so that a mismatch names the field.
std::string Describe(const ThemeConfig& t)
{
    std::ostringstream s;
    s << std::hex << "theme_id=" << t.theme_id << "\nname=" << t.name << "\nbackground_image="
      << t.background_image << "\nmusic_file=" << t.music_file << "\nseason_button_label="
      << t.season_button_label << "\nlegacy_button_label=" << t.legacy_button_label
      << "\nprimary_accent=" << t.primary_accent << "\nseason_button_color=" << t.season_button_color
      << "\nlegacy_button_color=" << t.legacy_button_color << "\ntext_color=" << t.text_color
      << "\nsidebar_color=" << t.sidebar_color << "\nfooter_color=" << t.footer_color
      << "\nlogo_image=" << t.logo_image << std::dec << "\nlogo=" << t.logo_x << "," << t.logo_y << ","
      << t.logo_w << "," << t.logo_h << "\n";
    return s.str();
}

TEST(ParseHexColor, TableOfTexts)
{
    const ThemeColor fallback = 0x00123456;
    const struct {
        const char* text;
        ThemeColor expected;
    } cases[] = {
        {"#8a2be2", 0x00E22B8A},
        {"#8A2BE2", 0x00E22B8A},   // letter case does not matter
        {"#AABBCCDD", 0x00CCBBAA}, // characters after the seventh are ignored
        {"#8z0000", 0x00000008},   // a piece with at least one digit counts
        {"#000000", 0x00000000},
        {"#ffffff", 0x00FFFFFF},
        {"#-10000", 0x000000FF},   // strtol accepts a sign: -1 keeps its low byte
        {"# 80000", 0x00000008},   // and leading white space
        {"#12zz56", fallback},     // no digit in one piece: the whole colour falls back
        {"#zz3456", fallback},
        {"#1234zz", fallback},
        {"#FFF", fallback},
        {"8a2be2", fallback},
        {"8a2be2x", fallback},
        {"", fallback},
        {"#12345", fallback},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHexColor(c.text, fallback), c.expected) << c.text;
}

TEST(ThemeConfig, EmbeddedDocumentHasTheBuiltInValuesInItsLayout)
{
    const std::string doc = LoadResourceString(IDR_THEME_JSON);
    ASSERT_FALSE(doc.empty());
    EXPECT_EQ(Describe(ThemeFromDocument(doc)), Describe(ThemeConfig()));

    // The layout is fixed too: two-blank indent, LF only, lower-case colours,
    // unquoted logo numbers, a comma on every key line but the last.
    const char* keys[] = {"theme_id", "name", "background_image", "music_file", "sidebar_color",
                          "footer_color", "season_button_label", "legacy_button_label", "primary_accent",
                          "season_button_color", "legacy_button_color", "text_color", "logo_image",
                          "logo_x", "logo_y", "logo_w", "logo_h"};
    const ThemeConfig t;
    auto hex = [](ThemeColor c) {
        char b[16];
        std::snprintf(b, sizeof(b), "\"#%02x%02x%02x\"", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        return std::string(b);
    };
    auto q = [](const std::string& s) { return "\"" + s + "\""; };
    const std::string values[] = {q(t.theme_id), q(t.name), q(t.background_image), q(t.music_file),
                                  hex(t.sidebar_color), hex(t.footer_color), q(t.season_button_label),
                                  q(t.legacy_button_label), hex(t.primary_accent), hex(t.season_button_color),
                                  hex(t.legacy_button_color), hex(t.text_color), q(t.logo_image),
                                  std::to_string(t.logo_x), std::to_string(t.logo_y), std::to_string(t.logo_w),
                                  std::to_string(t.logo_h)};
    std::string expected = "{\n";
    for (size_t i = 0; i < 17; ++i)
        expected += std::string("  \"") + keys[i] + "\": " + values[i] + (i + 1 < 17 ? ",\n" : "\n");
    expected += "}\n";
    EXPECT_EQ(doc, expected);
}

TEST(ThemeFromDocument, KeysAreReadByTextSearch)
{
    const ThemeConfig builtIn;
    {
        SCOPED_TRACE("one key changes one field");
        ThemeConfig expected;
        expected.season_button_label = "ENTER";
        EXPECT_EQ(Describe(ThemeFromDocument("{\"season_button_label\": \"ENTER\"}")), Describe(expected));
    }
    {
        SCOPED_TRACE("the first occurrence counts; order, blanks and line ends do not matter");
        const ThemeConfig t = ThemeFromDocument(
            "{\r\n\"logo_h\":7,\"name\" :  \"First\",\r\n\t\"name\": \"Second\", \"extra\": 1,\n"
            "\"sidebar_color\":\"#010203\", \"sidebar_color\": \"#ffffff\", \"logo_x\": -12}");
        EXPECT_EQ(t.name, "First");
        EXPECT_EQ(t.sidebar_color, 0x00030201u);
        EXPECT_EQ(t.logo_x, -12);
        EXPECT_EQ(t.logo_h, 7);
        EXPECT_EQ(t.logo_y, builtIn.logo_y);
    }
    {
        SCOPED_TRACE("unreadable values keep the built-in ones");
        const ThemeConfig t = ThemeFromDocument(
            "{\"text_color\": 16777215, \"footer_color\": \"#12zz56\", \"primary_accent\": \"8a2be2\","
            " \"logo_x\": \"570x\", \"logo_w\": \"100\"}");
        EXPECT_EQ(t.text_color, builtIn.text_color);  // the next quoted text is a key name
        EXPECT_EQ(t.footer_color, builtIn.footer_color);
        EXPECT_EQ(t.primary_accent, builtIn.primary_accent);
        EXPECT_EQ(t.logo_x, builtIn.logo_x);
        EXPECT_EQ(t.logo_w, builtIn.logo_w);  // a quoted number is not a number
    }
}

TEST(LoadThemeConfig, FileEmbeddedDocumentOrBuiltIn)
{
    ScratchDir dir("theme");
    const std::string builtIn = Describe(ThemeConfig());
    {
        SCOPED_TRACE("no folder, or a folder without theme.json: the embedded theme");
        EXPECT_EQ(Describe(LoadThemeConfig(dir / "no_such_theme")), builtIn);
        CreateDirectoryA((dir / "bare").c_str(), nullptr);
        EXPECT_EQ(Describe(LoadThemeConfig(dir / "bare")), builtIn);
    }
    {
        SCOPED_TRACE("an empty theme.json: the built-in theme, not the embedded one");
        CreateDirectoryA((dir / "empty").c_str(), nullptr);
        WriteBytes(dir / "empty\\theme.json", "");
        EXPECT_EQ(Describe(LoadThemeConfig(dir / "empty")), builtIn);
    }
    {
        SCOPED_TRACE("a theme.json of its own");
        CreateDirectoryA((dir / "dark").c_str(), nullptr);
        WriteBytes(dir / "dark\\theme.json",
                   "{\n  \"legacy_button_label\": \"LEGACY\",\n  \"legacy_button_color\": \"#102030\",\n"
                   "  \"logo_image\": \"themes/dark/logo.png\",\n  \"logo_w\": 300\n}\n");
        ThemeConfig expected;
        expected.legacy_button_label = "LEGACY";
        expected.legacy_button_color = 0x00302010;
        expected.logo_image = "themes/dark/logo.png";
        expected.logo_w = 300;
        EXPECT_EQ(Describe(LoadThemeConfig(dir / "dark")), Describe(expected));
    }
}

}  // namespace
