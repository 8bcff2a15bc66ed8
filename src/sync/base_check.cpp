#include "sync/base_check.h"

#include "core/archive.h"
#include "core/checksum.h"
#include "core/game_client.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/log.h"
#include "sync/patched_hashes.h"

#include <algorithm>
#include <cstdint>

namespace {

void Report(const ProgressCallback& progress, const std::string& text, float percent)
{
    if (progress) progress(text, percent, 0, 0);
}

// A transfer that broke off leaves fewer bytes than the server announced, or
// none at all when it broke before the first block. It is a failed download,
// not an archive to extract: extracting would fail and delete it, and the next
// start would fetch the whole client again instead of resuming from what
// arrived. Without an announced length (the total is then 0, or only the
// resumed offset) the archive's own directory at its end tells.
bool DownloadWholeClient(HINTERNET session, const std::string& url, const std::string& zip,
                         const ProgressCallback& progress)
{
    bool arrived = false;
    uint64_t done = 0, total = 0;
    const ProgressCallback watch = [&](const std::string& text, float percent, uint64_t d,
                                       uint64_t t) {
        arrived = true;
        done = d;
        total = t;
        if (progress) progress(text, percent, d, t);
    };
    if (!DownloadFile(session, url, zip, "Full Client Archive", watch, true)) return false;
    return arrived && (done == total || ((total == 0 || done > total) && HasZipDirectory(zip)));
}

bool IsClientInstalled(const std::string& dir)
{
    const std::string path = dir + "\\" + kClientMainArchive;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return true;
    return static_cast<uint64_t>(size.QuadPart) >= kInstalledClientMinSize;
}

// What a failed extraction wrote must not pass for an installed client on the
// next start: the main archive goes, so the next check installs again.
void ForgetUnfinishedClient(const std::string& dir)
{
    const std::string path = dir + "\\" + kClientMainArchive;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
    const std::string old = path + ".old";
    DeleteFileA(old.c_str());
    MoveFileExA(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

bool LegacyBaseCheck(HINTERNET session, const std::string& manifestUrl,
                     const std::string& fullClientUrl, const std::string& dir,
                     const ProgressCallback& progress, std::string& error)
{
    LogLine("[WARN] Could not load remote manifest.json from " + manifestUrl +
            ". Falling back to legacy base check.");
    if (IsClientInstalled(dir)) return true;
    if (fullClientUrl.empty()) return true;

    const std::string zip = dir + "\\temp_client.zip";
    Report(progress, "Downloading full game client (~5.1 GB)...", 0);
    // An archive already whole at start (the launcher was closed while it was
    // being extracted) would only get a 416 to its range request: it is
    // extracted as it is. A partial one (no directory at its end yet) is
    // continued.
    if (!HasZipDirectory(zip) && !DownloadWholeClient(session, fullClientUrl, zip, progress)) {
        error = "Failed to download full game client from server.";
        return false;
    }

    Report(progress, "Extracting game files (this may take a few minutes)...", 100);
    const bool extracted = ExtractZipArchive(zip, dir, nullptr, LegacyCopyReserve);
    // Whatever the result: after a failure the next start fetches the archive
    // anew, which may be a newer one, rather than trying the same one again.
    DeleteFileA(zip.c_str());
    if (extracted) return true;
    ForgetUnfinishedClient(dir);
    error = "Failed to extract game client archive.";
    return false;
}

void SelfUpdateFromManifest(HINTERNET session, const std::vector<ManifestEntry>& entries,
                            const std::string& baseUrl, const ProgressCallback& progress)
{
    const std::string nameKey = ToLower(GetLauncherFileName());
    const std::string path = GetLauncherPath();

    const ManifestEntry* own = nullptr;
    for (const ManifestEntry& entry : entries) {
        if (PathKey(entry.path) == nameKey) {
            own = &entry;
            break;
        }
    }
    if (!own) return;

    std::string local;
    uint64_t size = 0;
    if (!ComputeFileCrc32(path, local, size, ProgressCallback(), "", 0, 0) || local == own->crc32)
        return;

    LogLine("[INFO] Launcher binary hash mismatch (local=" + local + ", server=" + own->crc32 +
            "). Downloading new launcher...");
    Report(progress, "Updating launcher to latest version...", 50);

    const std::string url = baseUrl + UrlEncodePath(own->path);
    const std::string fresh = path + ".new";
    if (ReplaceLauncherBinary(session, url, fresh, own->crc32, progress)) {
        InternetCloseHandle(session);
        RestartLauncher();
    }
    LogLine("[WARN] Could not self-update launcher binary from manifest; continuing.");
}

bool ReplaceLauncherBinary(HINTERNET session, const std::string& url, const std::string& fresh,
                           const std::string& expectedCrc, const ProgressCallback& progress)
{
    const std::string path = GetLauncherPath();
    if (!DownloadFile(session, url, fresh, GetLauncherFileName(), progress, false)) return false;

    // Only a download that is whole and is the listed build may replace the
    // running launcher.
    std::string got;
    uint64_t size = 0;
    if (!ComputeFileCrc32(fresh, got, size, ProgressCallback(), "", 0, 0) || got != expectedCrc) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    if (!SwapLauncherFile(fresh, path)) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

bool SwapLauncherFile(const std::string& fresh, const std::string& path)
{
    const std::string old = path + ".old";
    DeleteFileA(old.c_str());
    if (!MoveFileExA(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    if (MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    // A launcher must stay at its path, so the running file goes back.
    if (!MoveFileExA(old.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        LogLine("[ERROR] Could not move " + old + " back to " + path);
    return false;
}
