#include "client/option_info.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kMenu = "OptionInfoList[\"bShowMenuIcon\"]";
const std::string kDevice = "OptionInfoList[\"DEVICECNT\"]";

std::vector<std::string> CrLfLines(const std::string& text, bool& allCrLf)
{
    std::vector<std::string> lines;
    allCrLf = true;
    size_t start = 0;
    for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
        if (lf == start || text[lf - 1] != '\r') allCrLf = false;
        lines.push_back(text.substr(start, lf - start - (lf > start ? 1 : 0)));
    }
    if (start != text.size()) allCrLf = false;
    return lines;
}

TEST(OptionInfoDefaultText, EightyAssignmentLinesWithTheDigitOnLine64)
{
    for (char digit : {'0', '1'}) {
        const std::string text = OptionInfoDefaultText(digit);
        EXPECT_EQ(text.size(), 2776u);
        bool allCrLf = false;
        const std::vector<std::string> lines = CrLfLines(text, allCrLf);
        EXPECT_TRUE(allCrLf);
        ASSERT_EQ(lines.size(), 80u);
        const std::regex assignment("(CmdOnOffList|OptionInfoList)\\[\"[^\"]+\"\\] = \\S.*");
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i == 36) {
                EXPECT_EQ(lines[i], "");
                continue;
            }
            EXPECT_TRUE(std::regex_match(lines[i], assignment)) << "line " << i + 1 << ": " << lines[i];
            EXPECT_EQ(lines[i].rfind(i < 36 ? "CmdOnOffList[" : "OptionInfoList[", 0), 0u) << "line " << i + 1;
        }
        EXPECT_EQ(lines[0], "CmdOnOffList[\"/notrade\"] = 0");
        EXPECT_EQ(lines[35], "CmdOnOffList[\"/zoom\"] = 0");
        EXPECT_EQ(lines[47], "OptionInfoList[\"SkinName\"] = \"<Basic Skin>\"");
        EXPECT_EQ(lines[63], kDevice + " = " + digit);
        EXPECT_EQ(lines[76], "OptionInfoList[\"/zoom\"] = 0");
        EXPECT_EQ(lines[77], "OptionInfoList[\"Emblem Frame\"] = 0");
        EXPECT_EQ(lines[79], "OptionInfoList[\"bShowMapName\"] = 1");
        // A default file is kept as it is on the next launch.
        EXPECT_EQ(PrepareOptionInfoText(text, digit), text);
    }
}

// Enough bytes, with both mode keys, for a file to be edited rather than rebuilt.
std::string Body()
{
    return "OptionInfoList[\"SPRITEMODE\"] = 2\r\nOptionInfoList[\"TEXTUREMODE\"] = 2\r\n-- " +
           std::string(470, 'x') + "\r\n";
}

TEST(PrepareOptionInfoText, ShortOrIncompleteFilesAreRebuilt)
{
    const std::string keys = "OptionInfoList[\"SPRITEMODE\"] = 2\r\nOptionInfoList[\"TEXTUREMODE\"] = 2\r\n";
    auto padded = [&keys](size_t size) { return keys + std::string(size - keys.size(), ' '); };
    const std::string large = std::string(4000, ' ') + "\r\n";
    const struct {
        const char* name;
        std::string text;
        bool rebuilt;
    } cases[] = {
        {"empty", "", true},
        {"499 bytes with both keys", padded(499), true},
        {"500 bytes with both keys", padded(500), false},
        {"large without TEXTUREMODE", large + "OptionInfoList[\"SPRITEMODE\"] = 2\r\n", true},
        {"large without SPRITEMODE", large + "OptionInfoList[\"TEXTUREMODE\"] = 2\r\n", true},
        {"keys in another letter case", large + "OptionInfoList[\"spritemode\"] = 2\r\n"
                                                "OptionInfoList[\"texturemode\"] = 2\r\n", true},
    };
    for (const auto& c : cases) {
        const std::string out = PrepareOptionInfoText(c.text, '1');
        if (c.rebuilt) {
            EXPECT_EQ(out, OptionInfoDefaultText('1')) << c.name;
        } else {
            EXPECT_EQ(out, c.text + "\r\n" + kMenu + " = 1\r\n\r\n" + kDevice + " = 1\r\n") << c.name;
        }
    }
}

TEST(PrepareOptionInfoText, EditsOnlyTheMenuIconAndDeviceValues)
{
    const std::string M = kMenu, D = kDevice;
    const struct {
        const char* name;
        std::string tail;
        char digit;
        std::string expected;
    } cases[] = {
        {"both values set", M + " = 0\r\n" + D + " = 1\r\n", '0', M + " = 1\r\n" + D + " = 0\r\n"},
        {"values already right", M + " = 1\r\n" + D + " = 1\r\n", '1', M + " = 1\r\n" + D + " = 1\r\n"},
        {"every menu icon line", M + " = 0\r\nX = 0\r\n" + M + "\t=\t0\r\n" + D + " = 0\r\n", '0',
         M + " = 1\r\nX = 0\r\n" + M + "\t=\t1\r\n" + D + " = 0\r\n"},
        {"menu icon word value", M + " = off\r\nY = 0\r\n" + D + " = 0\r\n", '0',
         M + " = off\r\nY = 0\r\n" + D + " = 0\r\n"},
        {"menu icon first digit is 1", M + " = 10\r\n" + D + " = 0\r\n", '0', M + " = 10\r\n" + D + " = 0\r\n"},
        {"blanks before the device value kept", D + " =   1\r\n" + M + " = 1\r\n", '0',
         D + " =   0\r\n" + M + " = 1\r\n"},
        {"device value with a comment", M + " = 1\r\n" + D + " = 1 -- wrapper\r\nZ = 1\r\n", '0',
         M + " = 1\r\n" + D + " = 0\r\nZ = 1\r\n"},
        {"empty device value", M + " = 1\r\n" + D + " =\n", '1', M + " = 1\r\n" + D + " =1\n"},
        {"device line without a line end", M + " = 1\r\n" + D + " = 1", '0', M + " = 1\r\n" + D + " = 1"},
        {"only the first device line", M + " = 1\r\n" + D + " = 0\r\n" + D + " = 0\r\n", '1',
         M + " = 1\r\n" + D + " = 1\r\n" + D + " = 0\r\n"},
        // The menu icon line comes first, and its CR LF completes the device line.
        {"menu icon missing, no final line end", D + " = 0", '1', D + " = 1\r\n" + M + " = 1\r\n"},
        {"device count missing", M + " = 1\r\n", '1', M + " = 1\r\n\r\n" + D + " = 1\r\n"},
        // A key without its own '=' must not reach into the next option's line.
        {"menu icon key without '='", "-- " + M + "\r\nCmdOnOffList[\"/notrade\"] = 0\r\n" + D + " = 0\r\n", '0',
         "-- " + M + "\r\nCmdOnOffList[\"/notrade\"] = 0\r\n" + D + " = 0\r\n"},
        {"device key without '='", "-- " + D + "\r\nOptionInfoList[\"WIDTH\"] = 1024\r\n" + M + " = 1\r\n", '1',
         "-- " + D + "\r\nOptionInfoList[\"WIDTH\"] = 1024\r\n" + M + " = 1\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrepareOptionInfoText(Body() + c.tail, c.digit), Body() + c.expected) << c.name;
}

}  // namespace
