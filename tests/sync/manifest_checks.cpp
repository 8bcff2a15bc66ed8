#include "sync/manifest.h"

#include "core/identity.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Flatten(const std::vector<ManifestEntry>& entries)
{
    std::vector<std::string> out;
    for (const ManifestEntry& e : entries)
        out.push_back(e.path + "|" + std::to_string(e.size) + "|" + e.crc32);
    return out;
}

TEST(ParseManifest, ReadsDocumentsByTextSearch)
{
    const struct {
        const char* name;
        std::string text;
        bool result;
        uint32_t version;
        std::string baseUrl;
        std::vector<std::string> entries;
    } cases[] = {
        {"typical",
         R"({"patch_version": 230, "base_url": "http://h/client/", "files": [
              {"path": "data.grf", "size": 1048577, "crc32": "0A1B2C3D"},
              {"path": "System\\itemInfo.lua", "size": 12, "crc32": "ffffffff"},
              {"path": "data.grf", "size": 1, "crc32": "00000001"}]})",
         true, 230, "http://h/client/",
         {"data.grf|1048577|0a1b2c3d", "System\\\\itemInfo.lua|12|ffffffff", "data.grf|1|00000001"}},
        {"empty array", R"({"patch_version": 3, "files": []})", false, 3, "", {}},
        {"no files key", R"({"patch_version": 3, "base_url": "x", "file": [{"path": "a", "crc32": "1"}]})",
         false, 3, "x", {}},
        {"no bracket after files", R"({"files": {"path": "a", "crc32": "1"}})", false, 0, "", {}},
        {"size missing", R"({"files": [{"path": "a.txt", "crc32": "0A1B2C3D"}]})", true, 0, "",
         {"a.txt|0|0a1b2c3d"}},
        {"path or crc missing",
         R"({"files": [{"size": 5, "crc32": "aa"}, {"path": "b", "size": 5}, {"path": "", "crc32": "cc"}]})",
         false, 0, "", {}},
        {"version keeps its low 32 bits", R"({"patch_version": 4294967297, "files": [{"path": "a", "crc32": "1"}]})",
         true, 1, "", {"a|0|1"}},
        {"quoted and negative numbers read as digits",
         R"({"patch_version": "-7", "files": [{"path": "a", "size": "-12", "crc32": "1"}]})", true, 7, "",
         {"a|12|1"}},
        {"objects after the array are read too",
         R"({"files": [{"path": "a", "crc32": "1"}], "extra": {"path": "b", "crc32": "2"}})", true, 0,
         "", {"a|0|1", "b|0|2"}},
        {"a nested object is cut at its brace",
         R"({"files": [{"meta": {"x": 1}, "path": "a", "crc32": "1"}, {"path": "c", "crc32": "3"}]})",
         true, 0, "", {"c|0|3"}},
        {"escapes stay as written", R"({"files": [{"path": "a\\b", "crc32": "AB\"C"}]})", true, 0, "",
         {"a\\\\b|0|ab\\"}},
        {"unclosed object", R"({"files": [{"path": "a", "crc32": "1")", false, 0, "", {}},
    };
    for (const auto& c : cases) {
        uint32_t version = 99;
        std::string baseUrl = "stale";
        std::vector<ManifestEntry> entries(2);
        EXPECT_EQ(ParseManifest(c.text, version, baseUrl, entries), c.result) << c.name;
        EXPECT_EQ(version, c.version) << c.name;
        EXPECT_EQ(baseUrl, c.baseUrl) << c.name;
        EXPECT_EQ(Flatten(entries), c.entries) << c.name;
    }
}

std::string ReadLauncherLog()
{
    std::ifstream in(GetLauncherDir() + "\\launcher.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ParseManifest, DropsEntriesThatWouldLeaveTheGameDirectory)
{
    // A tag of this run, so that the log lines found are this run's own.
    const std::string tag = "u" + std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(GetTickCount64());
    const std::vector<std::string> unsafe = {
        "../" + tag + ".dll",          "..\\\\" + tag + ".dll",    "data/../../" + tag,
        "/" + tag + "/abs.txt",        "\\\\" + tag + "\\\\abs",   "C:\\\\" + tag + ".exe",
        "c:" + tag + ".txt",           "\\\\\\\\srv\\\\" + tag,    "//srv/" + tag,
        tag + ".txt:stream",           "./",                       ".\\\\",
        // Names that Windows reads as another key: a user file's rule would miss them.
        "savedata/" + tag + ".lua.",   "savedata/" + tag + ".lua ", "savedata/./" + tag,
    };
    std::string text = R"({"patch_version": 5, "files": [{"path": "keep/a.txt", "crc32": "A1"},)";
    for (const std::string& p : unsafe) text += R"({"path": ")" + p + R"(", "crc32": "ff"},)";
    text += R"({"path": "./keep/b..c.txt", "size": 3, "crc32": "B2"}]})";

    uint32_t version = 0;
    std::string baseUrl;
    std::vector<ManifestEntry> entries;
    EXPECT_TRUE(ParseManifest(text, version, baseUrl, entries));
    EXPECT_EQ(Flatten(entries), (std::vector<std::string>{"keep/a.txt|0|a1", "./keep/b..c.txt|3|b2"}));

    const std::string log = ReadLauncherLog();
    for (const std::string& p : unsafe) {
        if (p.find(tag) == std::string::npos) continue;  // "./" alone cannot be told apart
        EXPECT_NE(log.find("[WARN] Ignoring manifest entry with unsafe path: " + p), std::string::npos)
            << p;
    }

    // Nothing usable left: the manifest counts as missing.
    const std::string onlyUnsafe = R"({"files": [{"path": "../)" + tag + R"(", "crc32": "1"}]})";
    EXPECT_FALSE(ParseManifest(onlyUnsafe, version, baseUrl, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(JsonScan, TakesTheNextValueAfterTheFirstKey)
{
    const struct {
        std::string text;
        const char* key;
        uint64_t number;
        std::string string;
    } cases[] = {
        {R"({"n": 42, "n": 7})", "n", 42, "n"},
        {R"({"n":"abc", "m": 9})", "n", 9, "abc"},
        {R"({"n": 18446744073709551616})", "n", UINT64_MAX, ""},
        {R"({"n" 5})", "n", 0, ""},
        {R"({"other": 1})", "n", 0, ""},
        {R"({"xn": "a", "n": "b"})", "n", 0, "b"},
        {R"({"n": true, "s": "later"})", "n", 0, "s"},
        {R"({"n": "unterminated)", "n", 0, ""},
        {R"({"n": "\u00e9\\"})", "n", 0, "\\u00e9\\\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonGetUInt64(c.text, c.key, strlen(c.key)), c.number) << c.text;
        EXPECT_EQ(JsonGetStringOrEmpty(c.text, c.key, strlen(c.key)), c.string) << c.text;
    }
}

TEST(PathKey, NormalisesSeparatorsLeadingDotsAndCase)
{
    const struct {
        const char* path;
        const char* normalized;
        const char* key;
        bool realmProfile;
    } cases[] = {
        {".\\System\\a.lua", "System/a.lua", "system/a.lua", true},
        {"././QVX_Patch.GRF", "QVX_Patch.GRF", "qvx_patch.grf", true},
        {"qvx_patch.grf.old", "qvx_patch.grf.old", "qvx_patch.grf.old", false},
        {"data\\qvx_patch.grf", "data/qvx_patch.grf", "data/qvx_patch.grf", false},
        {"system", "system", "system", false},
        {"SYSTEM/", "SYSTEM/", "system/", true},
        {"/Abs/./x", "/Abs/./x", "/abs/./x", false},
        // Runs of separators, as a JSON writer's escaped backslashes leave them.
        {"a\\\\b", "a/b", "a/b", false},
        {".\\\\System\\\\a.lua", "System/a.lua", "system/a.lua", true},
        {"a//b///c", "a/b/c", "a/b/c", false},
        {".//./x", "x", "x", false},
        {"../Up", "../Up", "../up", false},
        {"Caf\xc9.txt", "Caf\xc9.txt", "caf\xc9.txt", false},
        {"", "", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeRelPath(c.path), c.normalized) << c.path;
        EXPECT_EQ(PathKey(c.path), c.key) << c.path;
        EXPECT_EQ(IsRealmProfileFile(PathKey(c.path)), c.realmProfile) << c.path;
    }
    // The rule expects a key: the spelling as listed does not match.
    EXPECT_FALSE(IsRealmProfileFile("QVX_PATCH.GRF"));
    EXPECT_FALSE(IsRealmProfileFile("System/a.lua"));
}

}  // namespace
