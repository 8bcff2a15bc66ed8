// The service's numbered patch list, single patch downloads, and the installed
// patch level in main.inf.
#pragma once

#include "core/progress.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

struct PatchListEntry {
    uint32_t version = 0;
    std::string file;
    std::string flag;
};

// Lines of the patch list as entries, in document order (no file access).
std::vector<PatchListEntry> ParsePatchList(const std::string& text);

std::vector<PatchListEntry> DownloadPatchList(const std::string& url, std::string& error);
bool DownloadPatchFile(HINTERNET session, const char* url, const std::string& target,
                       ProgressCallback progress, const std::string& name);

// "main.inf", or "main_test.inf" on a test launcher.
const char* PatchVersionFileName();

// The installed level. A missing file gives 0, or 221 (and the file) beside a
// full client. unreadable, when given, tells a file that exists but could not
// be read (the result is then 0 and means nothing).
uint32_t ReadPatchVersion(const std::string& path, bool* unreadable = nullptr);
bool WritePatchVersion(uint32_t version, const std::string& path);
