#include "sync/season.h"

#include "core/checksum.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/log.h"
#include "core/path_limit.h"
#include "core/safe_path.h"
#include "sync/manifest.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

void Report(const ProgressCallback& progress, const std::string& text, float percent, uint64_t done,
            uint64_t total)
{
    if (progress) progress(text, percent, done, total);
}

// True when the file can be read and has exactly the expected checksum text.
bool HasChecksum(const std::string& path, const std::string& expected)
{
    std::string crc;
    uint64_t size = 0;
    return ComputeFileCrc32(path, crc, size, ProgressCallback(), "", 0, 0) && crc == expected;
}

// Where one overlay entry lives on disk and on the service.
struct OverlayFile {
    std::string shown;   // the normalised path, as logs and texts show it
    std::string season;  // dir\profiles\season\...
    std::string legacy;  // dir\profiles\legacy\...
    std::string url;
    std::string crc32;
};

OverlayFile Locate(const ManifestEntry& entry, const std::string& dir, const std::string& baseUrl)
{
    OverlayFile f;
    f.shown = NormalizeRelPath(entry.path);
    std::string local = f.shown;
    std::replace(local.begin(), local.end(), '/', '\\');
    f.season = dir + "\\profiles\\season\\" + local;
    f.legacy = dir + "\\profiles\\legacy\\" + local;
    f.url = baseUrl + UrlEncodePath(f.shown);
    f.crc32 = entry.crc32;
    return f;
}

// Downloads one file through its ".part", verifies it and only then moves it
// over the Season file.
bool InstallSeasonFile(HINTERNET session, const OverlayFile& f, size_t index, size_t count,
                       const ProgressCallback& progress, std::string& error)
{
    const std::string part = f.season + ".part";
    const std::string label =
        "[Season] (" + std::to_string(index) + "/" + std::to_string(count) + ") " + f.shown;
    // As the validation does: a path the file calls cannot name is not fetched.
    if (!FitsPathLimit(f.season, part.size() - f.season.size())) {
        error = "Failed to download Season file: " + f.shown;
        return false;
    }
    if (!DownloadFile(session, f.url, part, label, progress, false)) {
        DeleteFileA(part.c_str());
        error = "Failed to download Season file: " + f.shown;
        return false;
    }
    std::string crc;
    uint64_t size = 0;
    if (!ComputeFileCrc32(part, crc, size, ProgressCallback(), "", 0, 0) || crc != f.crc32) {
        DeleteFileA(part.c_str());
        error = "Season file hash verification failed: " + f.shown;
        return false;
    }
    // The busy-file rule is for a file in use: a folder of that name stays.
    if (IsDirectoryPath(f.season) || !MoveFileIntoPlace(part, f.season)) {
        DeleteFileA(part.c_str());
        error = "Could not write Season file to disk: " + f.shown;
        return false;
    }
    LogLine("[INFO] Updated Season profile file: " + f.shown + " (crc32=" + crc + ")");
    return true;
}

}  // namespace

std::string SeasonDownloadBaseUrl(const std::string& manifestBaseUrl,
                                  const std::string& seasonDownloadUrl)
{
    // Appended as configured, as the live validation does with its own URL.
    if (manifestBaseUrl.empty()) return seasonDownloadUrl + "client/";
    if (manifestBaseUrl.back() == '/') return manifestBaseUrl;
    return manifestBaseUrl + "/";
}

bool SyncSeasonProfile(const std::string& seasonManifestUrl, const std::string& seasonDownloadUrl,
                       const std::string& gameDir, const ProgressCallback& progress,
                       std::string& error)
{
    if (seasonManifestUrl.empty()) return true;
    const std::string dir = gameDir.empty() ? GetLauncherDir() : gameDir;

    InternetHandle session(OpenServiceSession());
    if (!session) {
        error = "Failed to initialize internet connection for Season profile.";
        return false;
    }
    Report(progress, "Checking Season realm files...", 0, 0, 0);

    std::string document;
    uint32_t patchVersion = 0;
    std::string manifestBaseUrl;
    std::vector<ManifestEntry> entries;
    if (!DownloadToString(session.Get(), seasonManifestUrl.c_str(), document) ||
        !ParseManifest(document, patchVersion, manifestBaseUrl, entries)) {
        LogLine("[WARN] Season manifest unavailable at " + seasonManifestUrl +
                "; skipping Season profile sync.");
        return true;
    }
    const std::string baseUrl = SeasonDownloadBaseUrl(manifestBaseUrl, seasonDownloadUrl);

    std::vector<OverlayFile> overlay;
    for (const ManifestEntry& entry : entries) {
        // The manifest reader drops such paths already; none is ever joined.
        if (!IsSafeRelativePath(entry.path) || !IsRealmProfileFile(PathKey(entry.path))) continue;
        overlay.push_back(Locate(entry, dir, baseUrl));
    }
    const size_t count = overlay.size();
    LogLine("[INFO] Loaded Season manifest (patch_version=" + std::to_string(patchVersion) +
            ", overlay_files=" + std::to_string(count) + ")");

    std::vector<const OverlayFile*> queue;
    for (size_t i = 0; i < count; ++i) {
        const OverlayFile& f = overlay[i];
        Report(progress,
               "Validating Season profile (" + std::to_string(i + 1) + "/" + std::to_string(count) +
                   "): " + f.shown,
               static_cast<float>(i) / static_cast<float>(count) * 100.0f, i + 1, count);
        if (HasChecksum(f.season, f.crc32)) continue;
        if (HasChecksum(f.legacy, f.crc32) && LinkOrCopyFile(f.legacy, f.season)) {
            LogLine("[INFO] Linked unchanged file from Legacy to Season profile: " + f.shown);
            continue;
        }
        queue.push_back(&f);
    }

    if (!queue.empty()) {
        LogLine("[INFO] Downloading " + std::to_string(queue.size()) + " Season profile file(s)...");
        for (size_t j = 0; j < queue.size(); ++j)
            if (!InstallSeasonFile(session.Get(), *queue[j], j + 1, queue.size(), progress, error))
                return false;
    }

    Report(progress, "Season profile is up to date.", 100.0f, count, count);
    return true;
}
