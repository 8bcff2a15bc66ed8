// The launcher's server configuration: the record, its built-in values and
// its loader (config.json, the embedded documents, or the built-in values).
#pragma once

#include <cstdint>
#include <string>

struct LauncherConfig {
    std::string server_name;
    std::string patch_list_url;
    std::string patch_base_url;
    std::string full_client_url;
    std::string manifest_url;
    std::string base_download_url;
    std::string season_manifest_url;
    std::string season_download_url;
    std::string server_status_url;
    std::string season_status_url;
    std::string website_url;
    std::string wiki_url;
    std::string discord_url;
    std::string account_url;
    std::string patch_notes_url;
    std::string client_exe;
    std::string client_args;
    std::string setup_exe;
    std::string active_theme;
    bool season_enabled;
    std::string season_disabled_label;
    int32_t auto_start_seconds;

    LauncherConfig();  // the built-in values (equal to the embedded live document)
};

extern LauncherConfig g_config;

// The bytes of an RCDATA resource of the launcher's own file; empty when missing.
std::string LoadResourceString(int id);

// Value readers by plain text search: the first occurrence of the quoted key,
// its ':', then the next quoted text (strings) or a base-10 number (ints).
std::string JsonGetString(const std::string& text, const std::string& key,
                          const std::string& defaultValue);
int JsonGetInt(const std::string& text, const std::string& key, int defaultValue);

// Reads config.json (a test launcher: config_test.json), else the embedded
// document of the launcher's kind, else keeps the built-in values.
LauncherConfig LoadLauncherConfig(const std::string& path);

// The record a document gives for a live or a test launcher (no file access).
LauncherConfig ConfigFromDocument(const std::string& document, bool testLauncher);
