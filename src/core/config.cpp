#include "core/config.h"

#include <deployment.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Literals, not string objects: other files' static records are built from
// these before this file's dynamic initialisers might have run.
constexpr const char* kSiteRoot = VERANDEL_SITE_ROOT;
constexpr const char* kLivePatchList = VERANDEL_SITE_ROOT "/patcher/patch_qvx.txt";
constexpr const char* kLivePatchBase = VERANDEL_SITE_ROOT "/patcher/";
constexpr const char* kLiveManifest = VERANDEL_SITE_ROOT "/patcher/manifest.json";
constexpr const char* kSeasonManifest = VERANDEL_SITE_ROOT "/patcher_season/manifest.json";
constexpr const char* kSeasonDownload = VERANDEL_SITE_ROOT "/patcher_season/";
constexpr const char* kTestPatchList = VERANDEL_SITE_ROOT "/patcher_testers/patch_qvx.txt";
constexpr const char* kTestPatchBase = VERANDEL_SITE_ROOT "/patcher_testers/";
constexpr const char* kTestManifest = VERANDEL_SITE_ROOT "/patcher_testers/manifest.json";

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// Position just after the ':' that follows the first quoted key, or npos.
size_t ValueStart(const std::string& text, const std::string& key)
{
    const std::string needle = "\"" + key + "\"";
    const size_t at = text.find(needle);
    if (at == std::string::npos) return std::string::npos;
    const size_t colon = text.find(':', at + needle.size());
    return colon == std::string::npos ? std::string::npos : colon + 1;
}

void ReadSeasonEnabled(const std::string& text, bool& value)
{
    const size_t start = ValueStart(text, "season_enabled");
    if (start == std::string::npos) return;
    const size_t word = text.find_first_not_of(" \t\r\n", start);
    if (word == std::string::npos) return;
    if (text.compare(word, 4, "true") == 0) {
        value = true;
    } else if (text.compare(word, 5, "false") == 0) {
        value = false;
    }
}

// A test launcher never talks to the live patch paths, a live one never to the
// testers' ones, whatever the document says.
void CorrectUrls(LauncherConfig& c, bool testLauncher)
{
    if (testLauncher) {
        auto toTest = [](std::string& field, const char* fixed) {
            if (Contains(field, "/patcher/") || Contains(field, ":8080")) field = fixed;
        };
        toTest(c.patch_list_url, kTestPatchList);
        toTest(c.patch_base_url, kTestPatchBase);
        toTest(c.manifest_url, kTestManifest);
        toTest(c.base_download_url, kTestPatchBase);
        return;
    }
    auto toLive = [](std::string& field, const char* fixed) {
        if (Contains(field, ":8081") || Contains(field, "patcher_testers")) field = fixed;
    };
    toLive(c.patch_list_url, kLivePatchList);
    toLive(c.patch_base_url, kLivePatchBase);
    toLive(c.manifest_url, kLiveManifest);
    toLive(c.base_download_url, kLivePatchBase);
    toLive(c.season_manifest_url, kSeasonManifest);
    toLive(c.season_download_url, kSeasonDownload);
}

}  // namespace

LauncherConfig::LauncherConfig()
    : server_name("Verandel"),
      patch_list_url(kLivePatchList),
      patch_base_url(kLivePatchBase),
      full_client_url(VERANDEL_SITE_ROOT "/downloads/files/Quillfen_Full_Client.zip"),
      manifest_url(kLiveManifest),
      base_download_url(kLivePatchBase),
      season_manifest_url(kSeasonManifest),
      season_download_url(kSeasonDownload),
      server_status_url(VERANDEL_SITE_ROOT "/api/render/serverstatus.json?env=prod"),
      season_status_url(VERANDEL_SITE_ROOT "/api/render/serverstatus.json?env=season"),
      website_url(kSiteRoot),
      wiki_url(VERANDEL_WIKI_ROOT "/Main_Page"),
      discord_url(VERANDEL_DISCORD_URL),
      account_url(VERANDEL_SITE_ROOT "/account"),
      patch_notes_url(VERANDEL_SITE_ROOT "/patch-notes"),
      client_exe("qvx.dll"),
      client_args("4tul8"),
      setup_exe("opensetup.exe"),
      active_theme("season_1"),
      season_enabled(false),
      season_disabled_label("SEASON (SOON)"),
      auto_start_seconds(0)
{
}

LauncherConfig g_config;

std::string JsonGetString(const std::string& text, const std::string& key, const std::string& defaultValue)
{
    const size_t start = ValueStart(text, key);
    if (start == std::string::npos) return defaultValue;
    const size_t open = text.find('"', start - 1);
    if (open == std::string::npos) return defaultValue;
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) return defaultValue;
    return text.substr(open + 1, close - open - 1);
}

int JsonGetInt(const std::string& text, const std::string& key, int defaultValue)
{
    const size_t start = ValueStart(text, key);
    if (start == std::string::npos) return defaultValue;
    // strtoll reads what a base-10 string-to-int reads: white space, a sign, digits.
    const char* begin = text.c_str() + start;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX) return defaultValue;
    return static_cast<int>(value);
}

LauncherConfig ConfigFromDocument(const std::string& document, bool testLauncher)
{
    LauncherConfig c;
    if (document.empty()) return c;
    auto str = [&document](const char* key, std::string& field) { field = JsonGetString(document, key, field); };
    str("server_name", c.server_name);
    if (testLauncher && !Contains(c.server_name, "TEST")) c.server_name += " [TEST]";
    str("patch_list_url", c.patch_list_url);
    str("patch_base_url", c.patch_base_url);
    str("full_client_url", c.full_client_url);
    str("manifest_url", c.manifest_url);
    str("base_download_url", c.base_download_url);
    str("season_manifest_url", c.season_manifest_url);
    str("season_download_url", c.season_download_url);
    str("server_status_url", c.server_status_url);
    str("season_status_url", c.season_status_url);
    str("website_url", c.website_url);
    str("wiki_url", c.wiki_url);
    str("discord_url", c.discord_url);
    str("account_url", c.account_url);
    str("patch_notes_url", c.patch_notes_url);
    str("client_exe", c.client_exe);
    str("client_args", c.client_args);
    str("setup_exe", c.setup_exe);
    str("active_theme", c.active_theme);
    ReadSeasonEnabled(document, c.season_enabled);
    str("season_disabled_label", c.season_disabled_label);
    c.auto_start_seconds = JsonGetInt(document, "auto_start_seconds", c.auto_start_seconds);
    CorrectUrls(c, testLauncher);
    return c;
}
