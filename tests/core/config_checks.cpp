#include "core/config.h"
#include "core/foundation_support.h"
#include "core/identity.h"

#include <deployment.h>
#include <resource_ids.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using checks::ScratchDir;
using checks::WriteBytes;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Every field as it is written in a configuration document, in record order.
Fields AsDocumentValues(const LauncherConfig& c)
{
    auto q = [](const std::string& s) { return "\"" + s + "\""; };
    return {{"server_name", q(c.server_name)},
            {"patch_list_url", q(c.patch_list_url)},
            {"patch_base_url", q(c.patch_base_url)},
            {"full_client_url", q(c.full_client_url)},
            {"manifest_url", q(c.manifest_url)},
            {"base_download_url", q(c.base_download_url)},
            {"season_manifest_url", q(c.season_manifest_url)},
            {"season_download_url", q(c.season_download_url)},
            {"server_status_url", q(c.server_status_url)},
            {"season_status_url", q(c.season_status_url)},
            {"website_url", q(c.website_url)},
            {"wiki_url", q(c.wiki_url)},
            {"discord_url", q(c.discord_url)},
            {"account_url", q(c.account_url)},
            {"patch_notes_url", q(c.patch_notes_url)},
            {"client_exe", q(c.client_exe)},
            {"client_args", q(c.client_args)},
            {"setup_exe", q(c.setup_exe)},
            {"active_theme", q(c.active_theme)},
            {"season_enabled", c.season_enabled ? "true" : "false"},
            {"season_disabled_label", q(c.season_disabled_label)},
            {"auto_start_seconds", std::to_string(c.auto_start_seconds)}};
}

// Reads a document in the embedded layout, strictly: "{", one "  \"key\": value"
// line per key with a comma on all but the last, "}", LF line ends.
Fields ParseEmbeddedLayout(const std::string& doc)
{
    Fields out;
    if (doc.rfind("{\n", 0) != 0 || doc.size() < 4 || doc.substr(doc.size() - 2) != "}\n") {
        ADD_FAILURE() << "not framed by {\\n ... }\\n";
        return out;
    }
    if (doc.find('\r') != std::string::npos) ADD_FAILURE() << "CR in document";
    std::vector<std::string> lines;
    for (size_t start = 2, end; (end = doc.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(doc.substr(start, end - start));
    lines.pop_back();  // "}"
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        const bool last = i + 1 == lines.size();
        if (!last) {
            EXPECT_EQ(line.back(), ',') << line;
            line.pop_back();
        }
        const size_t sep = line.find("\": ");
        EXPECT_EQ(line.rfind("  \"", 0), 0u) << line;
        if (sep == std::string::npos || line.rfind("  \"", 0) != 0) continue;
        out.emplace_back(line.substr(3, sep - 3), line.substr(sep + 3));
    }
    return out;
}

Fields Without(Fields fields, const std::vector<std::string>& keys)
{
    Fields out;
    for (auto& f : fields) {
        bool drop = false;
        for (const auto& k : keys) drop = drop || f.first == k;
        if (!drop) out.push_back(std::move(f));
    }
    return out;
}

void Set(Fields& fields, const std::string& key, const std::string& value)
{
    for (auto& f : fields)
        if (f.first == key) f.second = value;
}

const std::string kSite = VERANDEL_SITE_ROOT;

}  // namespace

TEST(EmbeddedConfig, LiveDocumentEqualsTheBuiltInRecord)
{
    const std::string doc = LoadResourceString(IDR_CONFIG_LIVE);
    ASSERT_EQ(doc.rfind("{\n  \"server_name\": ", 0), 0u);
    EXPECT_EQ(ParseEmbeddedLayout(doc), AsDocumentValues(LauncherConfig()));
    EXPECT_EQ(AsDocumentValues(ConfigFromDocument(doc, false)), AsDocumentValues(LauncherConfig()));
    // One deployment value feeds record and document alike.
    EXPECT_EQ(LauncherConfig().website_url, kSite);
    EXPECT_EQ(LauncherConfig().wiki_url, std::string(VERANDEL_WIKI_ROOT) + "/Main_Page");
    EXPECT_EQ(LauncherConfig().discord_url, VERANDEL_DISCORD_URL);
}

TEST(EmbeddedConfig, TestDocumentDiffersWhereItShould)
{
    const std::string doc = LoadResourceString(IDR_CONFIG_TEST);
    ASSERT_EQ(doc.rfind("{\n  \"server_name\": ", 0), 0u);
    Fields expected = Without(AsDocumentValues(LauncherConfig()), {"season_manifest_url", "season_download_url"});
    Set(expected, "server_name", "\"Verandel [TEST]\"");
    Set(expected, "patch_list_url", "\"" + kSite + "/patcher_testers/patch_qvx.txt\"");
    Set(expected, "patch_base_url", "\"" + kSite + "/patcher_testers/\"");
    Set(expected, "manifest_url", "\"" + kSite + "/patcher_testers/manifest.json\"");
    Set(expected, "base_download_url", "\"" + kSite + "/patcher_testers/\"");
    Set(expected, "server_status_url", "\"" + kSite + "/api/render/serverstatus.json?env=test\"");
    EXPECT_EQ(ParseEmbeddedLayout(doc), expected);
}

TEST(EmbeddedConfig, EnglishUsRcdataAndMissingIds)
{
    for (int id : {IDR_CONFIG_LIVE, IDR_CONFIG_TEST}) {
        EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id), 1033), nullptr) << id;
    }
    EXPECT_EQ(LoadResourceString(4242), "");
}

TEST(JsonGetString, NextQuotedTextRule)
{
    struct Case {
        const char* text;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {R"({"a": "x"})", "a", "x"},
        {"{\"a\"\r\n\t :\n  \"x y\"}", "a", "x y"},
        {R"({"a": ""})", "a", ""},
        {R"({"a": "x\"y"})", "a", "x\\"},
        {R"({"a": "1", "a": "2"})", "a", "1"},
        {R"({"server_name": 42, "patch_list_url": "u"})", "server_name", "patch_list_url"},
        {R"({"a": true})", "a", "default"},
        {R"({"A": "x"})", "a", "default"},
        {R"({"b": "x"})", "a", "default"},
        {R"({"a" "x"})", "a", "default"},
        {R"({"a": "x)", "a", "default"},
        {R"({"a": 5})", "a", "default"},
        {R"({"outer": {"a": "deep"}})", "a", "deep"},
        {"", "a", "default"},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonGetString(c.text, c.key, "default"), c.expected) << c.text;
}

TEST(JsonGetInt, BareDecimalNumbers)
{
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {R"({"n": 570,})", 570},
        {R"({"n": -20})", -20},
        {R"({"n": +7})", 7},
        {R"({"n": 12.7})", 12},
        {"{\"n\":\n\t 5\n}", 5},
        {R"({"n": 2147483647})", 2147483647},
        {R"({"n": -2147483648})", -2147483647 - 1},
        {R"({"n": 2147483648})", -1},
        {R"({"n": -2147483649})", -1},
        {R"({"n": 99999999999999999999999})", -1},
        {R"({"n": "5"})", -1},
        {R"({"n": true})", -1},
        {R"({"n": 3, "n": 4})", 3},
        {R"({"n": })", -1},
        {R"({"n":)", -1},
        {R"({"n" 5})", -1},
        {R"({"m": 5})", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonGetInt(c.text, "n", -1), c.expected) << c.text;
}

TEST(ConfigFromDocument, SeasonEnabledRule)
{
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {R"({"season_enabled": true})", true},
        {R"({"season_enabled":true})", true},
        {"{\"season_enabled\":\r\n\t true\n}", true},
        {R"({"season_enabled": trueish})", true},
        {R"({"season_enabled": "true"})", false},
        {R"({"season_enabled": True})", false},
        {R"({"season_enabled": 1})", false},
        {R"({"season_enabled": false})", false},
        {R"({"season_enabled": })", false},
        {R"({"other": true})", false},
        {R"({"season_enabled": false, "season_enabled": true})", false},
    };
    for (const Case& c : cases) EXPECT_EQ(ConfigFromDocument(c.text, false).season_enabled, c.expected) << c.text;
}

TEST(ConfigFromDocument, ValuesAndDefaults)
{
    const LauncherConfig c = ConfigFromDocument(
        R"({"server_name": 42, "patch_list_url": "https://h/p.txt", "client_exe": "", "client_args": "-x",
            "auto_start_seconds": "5", "active_theme": "winter", "active_theme": "summer"})",
        false);
    EXPECT_EQ(c.server_name, "patch_list_url");
    EXPECT_EQ(c.patch_list_url, "https://h/p.txt");
    EXPECT_EQ(c.client_exe, "");
    EXPECT_EQ(c.client_args, "-x");
    EXPECT_EQ(c.auto_start_seconds, 0);
    EXPECT_EQ(c.active_theme, "winter");
    EXPECT_EQ(c.setup_exe, LauncherConfig().setup_exe);
    EXPECT_EQ(ConfigFromDocument(R"({"auto_start_seconds": 5})", false).auto_start_seconds, 5);
    // An empty document is the built-in record, for a test launcher too.
    EXPECT_EQ(AsDocumentValues(ConfigFromDocument("", true)), AsDocumentValues(LauncherConfig()));
}

TEST(ConfigFromDocument, TestSuffix)
{
    struct Case {
        const char* name;
        bool test;
        const char* expected;
    };
    const Case cases[] = {
        {"Verandel", true, "Verandel [TEST]"},
        {"Verandel Test Realm", true, "Verandel Test Realm [TEST]"},
        {"Verandel TEST", true, "Verandel TEST"},
        {"Verandel", false, "Verandel"},
        {"Verandel Test", false, "Verandel Test"},
    };
    for (const Case& c : cases) {
        const std::string doc = std::string("{\"server_name\": \"") + c.name + "\"}";
        EXPECT_EQ(ConfigFromDocument(doc, c.test).server_name, c.expected) << c.name;
    }
    // Without a server_name key the built-in name gets the suffix.
    EXPECT_EQ(ConfigFromDocument(R"({"client_exe": "a.exe"})", true).server_name, "Verandel [TEST]");
}

TEST(ConfigFromDocument, UrlCorrections)
{
    struct Case {
        const char* key;
        const char* value;
        bool test;
        std::string expected;
    };
    const std::string custom = "https://mirror.example/patcher/patch_qvx.txt";
    const Case cases[] = {
        // A test launcher leaves the live paths and port 8080.
        {"patch_list_url", "https://mirror.example/patcher/patch_qvx.txt", true,
         kSite + "/patcher_testers/patch_qvx.txt"},
        {"patch_base_url", "http://10.0.0.1:8080/files/", true, kSite + "/patcher_testers/"},
        {"manifest_url", "https://mirror.example/patcher/manifest.json", true,
         kSite + "/patcher_testers/manifest.json"},
        {"base_download_url", "https://mirror.example/patcher/", true, kSite + "/patcher_testers/"},
        {"base_download_url", "https://mirror.example/patcher_testers/", true, "https://mirror.example/patcher_testers/"},
        {"season_manifest_url", "https://mirror.example/patcher/manifest.json", true,
         "https://mirror.example/patcher/manifest.json"},
        {"full_client_url", "http://h:8080/patcher/full.zip", true, "http://h:8080/patcher/full.zip"},
        // A live launcher leaves the testers' paths and port 8081.
        {"patch_list_url", "https://mirror.example/patcher_testers/patch_qvx.txt", false,
         kSite + "/patcher/patch_qvx.txt"},
        {"patch_base_url", "http://10.0.0.1:8081/", false, kSite + "/patcher/"},
        {"manifest_url", "https://h/patcher_testers/manifest.json", false, kSite + "/patcher/manifest.json"},
        {"base_download_url", "https://h/patcher_testers/", false, kSite + "/patcher/"},
        {"season_manifest_url", "http://h:8081/m.json", false, kSite + "/patcher_season/manifest.json"},
        {"season_download_url", "https://h/patcher_testers/s/", false, kSite + "/patcher_season/"},
        {"patch_list_url", custom.c_str(), false, custom},
        {"server_status_url", "http://h:8081/status", false, "http://h:8081/status"},
        {"full_client_url", "https://h/patcher_testers/full.zip", false, "https://h/patcher_testers/full.zip"},
    };
    for (const Case& c : cases) {
        const std::string doc = std::string("{\"") + c.key + "\": \"" + c.value + "\"}";
        const Fields fields = AsDocumentValues(ConfigFromDocument(doc, c.test));
        for (const auto& f : fields) {
            if (f.first != c.key) continue;
            EXPECT_EQ(f.second, "\"" + c.expected + "\"") << c.key << " " << c.value;
        }
    }
}

// Live launcher: this program's own name holds no "test".
TEST(LoadLauncherConfig, LiveLauncher)
{
    ASSERT_FALSE(IsTestLauncher());
    ScratchDir dir("config-live");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));

    EXPECT_EQ(AsDocumentValues(LoadLauncherConfig("config.json")), AsDocumentValues(LauncherConfig()));

    WriteBytes(dir / "config.json", "");
    EXPECT_EQ(AsDocumentValues(LoadLauncherConfig("config.json")), AsDocumentValues(LauncherConfig()));

    WriteBytes(dir / "config.json",
               "{\r\n  \"server_name\": \"Verandel Prime\",\r\n  \"manifest_url\": \"https://h:8081/m.json\",\r\n"
               "  \"client_exe\": \"game.exe\",\r\n  \"season_enabled\": true\r\n}\r\n");
    WriteBytes(dir / "config_test.json", R"({"server_name": "wrong file"})");
    const LauncherConfig c = LoadLauncherConfig("config.json");
    EXPECT_EQ(c.server_name, "Verandel Prime");
    EXPECT_EQ(c.manifest_url, kSite + "/patcher/manifest.json");
    EXPECT_EQ(c.client_exe, "game.exe");
    EXPECT_TRUE(c.season_enabled);
    EXPECT_EQ(LoadLauncherConfig(dir / "config_test.json").server_name, "wrong file");

    SetCurrentDirectoryA(previous);
}

// The three below run in a copy of this program named as a test launcher.
TEST(TestLauncherConfig, DISABLED_WithoutFile)
{
    ASSERT_TRUE(IsTestLauncher());
    WriteBytes("config.json", R"({"server_name": "live file must be ignored"})");
    const LauncherConfig c = LoadLauncherConfig("config.json");
    EXPECT_EQ(c.server_name, "Verandel [TEST]");
    EXPECT_EQ(c.patch_list_url, kSite + "/patcher_testers/patch_qvx.txt");
    EXPECT_EQ(c.patch_base_url, kSite + "/patcher_testers/");
    EXPECT_EQ(c.manifest_url, kSite + "/patcher_testers/manifest.json");
    EXPECT_EQ(c.base_download_url, kSite + "/patcher_testers/");
    EXPECT_EQ(c.server_status_url, kSite + "/api/render/serverstatus.json?env=test");
    EXPECT_EQ(c.season_manifest_url, LauncherConfig().season_manifest_url);
    EXPECT_EQ(c.season_download_url, LauncherConfig().season_download_url);
    EXPECT_EQ(c.full_client_url, LauncherConfig().full_client_url);
    DeleteFileA("config.json");
}

TEST(TestLauncherConfig, DISABLED_WithLiveDocumentAsFile)
{
    ASSERT_TRUE(IsTestLauncher());
    WriteBytes("config_test.json", LoadResourceString(IDR_CONFIG_LIVE));
    const LauncherConfig c = LoadLauncherConfig("config.json");
    EXPECT_EQ(c.server_name, "Verandel [TEST]");
    EXPECT_EQ(c.patch_list_url, kSite + "/patcher_testers/patch_qvx.txt");
    EXPECT_EQ(c.patch_base_url, kSite + "/patcher_testers/");
    EXPECT_EQ(c.manifest_url, kSite + "/patcher_testers/manifest.json");
    EXPECT_EQ(c.base_download_url, kSite + "/patcher_testers/");
    EXPECT_EQ(c.server_status_url, LauncherConfig().server_status_url);
    DeleteFileA("config_test.json");
}

TEST(TestLauncherConfig, DISABLED_EmptyFile)
{
    ASSERT_TRUE(IsTestLauncher());
    WriteBytes("config_test.json", "");
    EXPECT_EQ(AsDocumentValues(LoadLauncherConfig("config.json")), AsDocumentValues(LauncherConfig()));
    DeleteFileA("config_test.json");
}

TEST(LoadLauncherConfig, TestLauncher)
{
    ScratchDir dir("config-test");
    EXPECT_EQ(checks::RunCheckInCopy(dir.Path(), "QVX_TEST_LAUNCHER.exe", "TestLauncherConfig.DISABLED_*"), 0);
}
