#include "sync/validate.h"

#include "core/checksum.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/log.h"
#include "core/path_limit.h"
#include "core/safe_path.h"
#include "sync/base_check.h"
#include "sync/integrity_cache.h"
#include "sync/manifest.h"
#include "sync/patch_list.h"
#include "sync/patched_hashes.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// Interrupted downloads of 50 MiB and more continue from their ".part".
constexpr uint64_t kResumeMinSize = 52428800;
// A larger savedata/OptionInfo.lua holds the user's own options.
constexpr uint64_t kOptionInfoMaxSize = 499;

struct LocalFileInfo {
    uint64_t size = 0;
    uint64_t mtime = 0;
};

bool QueryLocalFile(const std::string& path, LocalFileInfo& info)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.mtime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
    return true;
}

void Report(const ProgressCallback& progress, const std::string& text, float percent,
            uint64_t done, uint64_t total)
{
    if (progress) progress(text, percent, done, total);
}

bool IsNeverValidated(const std::string& key, const std::string& launcherKey)
{
    return key == launcherKey || key == "qvx_launcher.exe" || key == "qvx_test_launcher.exe" ||
           key.compare(0, 5, "data/") == 0;
}

bool IsUserIniFile(const std::string& key)
{
    return key == "opensetup.ini" || key == "dinput.ini" || key == "data.ini" ||
           key == "data_legacy.ini" || key == "data_season.ini";
}

// True when the file is the user's own and must stay as it is.
bool IsUserOwnedFile(const std::string& key, uint64_t size)
{
    if (key == "savedata/optioninfo.lua") return size > kOptionInfoMaxSize;
    if (IsUserIniFile(key)) return size > 0;
    return false;
}

bool IsUserFile(const std::string& key)
{
    return key == "savedata/optioninfo.lua" || IsUserIniFile(key);
}

std::string ToBackslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// One validation run: everything the per-entry rules and the queue share.
struct Validation {
    std::string dir;
    HINTERNET session = nullptr;
    const ProgressCallback* progress = nullptr;
    std::string baseUrl;
    uint32_t manifestVersion = 0;
    uint32_t localVersion = 0;
    bool test = false;
    std::string launcherKey;
    std::string cachePath;
    IntegrityCache cache;
    bool cacheChanged = false;
    PatchedHashes patched;
    bool rollback = false;
    uint32_t lowestRolledBack = UINT32_MAX;  // lowest patch whose file was replaced
    std::vector<ManifestEntry> queue;

    bool IsLegacyProfile(const std::string& key) const { return !test && IsRealmProfileFile(key); }
    std::string LocalPath(const std::string& rel, bool legacy) const
    {
        return legacy ? dir + "\\profiles\\legacy\\" + rel : dir + "\\" + rel;
    }
};

// A file that a patch later than the manifest wrote gets the manifest's
// older copy: the level must come down for that patch to come again.
void NoteRolledBackFile(Validation& v, const std::string& key)
{
    auto it = v.patched.find(key);
    if (it == v.patched.end() || v.manifestVersion >= it->second.version) return;
    v.rollback = true;
    v.lowestRolledBack = std::min(v.lowestRolledBack, it->second.version);
}

// True when a patched-file record explains the local checksum.
bool AcceptPatchedFile(Validation& v, const std::string& p, const std::string& key,
                       const std::string& checksum)
{
    auto it = v.patched.find(key);
    if (it == v.patched.end()) return false;
    const PatchedHashEntry& record = it->second;
    if (v.localVersion >= record.version && v.manifestVersion < record.version &&
        checksum == record.crc32) {
        LogLine("[INFO] File " + p + " matches incremental patch v" +
                std::to_string(record.version) + " hash (" + checksum + ").");
        return true;
    }
    NoteRolledBackFile(v, key);
    return false;
}

void CheckEntry(Validation& v, const ManifestEntry& entry, size_t index, size_t count)
{
    const std::string p = NormalizeRelPath(entry.path);
    const std::string key = ToLower(p);
    if (IsNeverValidated(key, v.launcherKey)) return;

    const std::string rel = ToBackslashes(p);
    const bool legacy = v.IsLegacyProfile(key);
    const std::string local = v.LocalPath(rel, legacy);

    const std::string text = "Validating files integrity (" + std::to_string(index) + "/" +
                             std::to_string(count) + "): " + p;
    const float base = static_cast<float>(index - 1) / static_cast<float>(count) * 100.0f;
    Report(*v.progress, text, base, index, count);

    LocalFileInfo info;
    if (!QueryLocalFile(local, info)) {
        if (legacy) {
            // A root copy that a patch wrote is as good as the manifest's:
            // downloading the older copy into the profile would put it over
            // the patched file at the next Legacy launch.
            const std::string root = v.dir + "\\" + rel;
            std::string rootCrc;
            uint64_t rootSize = 0;
            if (ComputeFileCrc32(root, rootCrc, rootSize, ProgressCallback(), "", 0, 0) &&
                (rootCrc == entry.crc32 || AcceptPatchedFile(v, p, key, rootCrc)) && LinkOrCopyFile(root, local)) {
                LogLine("[INFO] Migrated matching local file into profiles/legacy: " + p);
                return;
            }
        }
        NoteRolledBackFile(v, key);
        LogLine("[INFO] Missing file: " + p + " -> queued for download.");
        v.queue.push_back(entry);
        return;
    }

    if (IsUserOwnedFile(key, info.size)) return;

    std::string checksum;
    const bool large = info.size >= kIntegrityCacheMinSize;
    auto cached = v.cache.find(key);
    if (!IsUserFile(key) && large && cached != v.cache.end() && cached->second.size == info.size &&
        cached->second.mtime == info.mtime) {
        checksum = cached->second.crc32;
    } else {
        uint64_t size = 0;
        if (!ComputeFileCrc32(local, checksum, size, *v.progress, text, base,
                              100.0f / static_cast<float>(count))) {
            // Replaced like a missing file, and like one it takes the level
            // below the patch that wrote it, so that the patch comes again.
            NoteRolledBackFile(v, key);
            v.queue.push_back(entry);
            return;
        }
        if (large) {
            v.cache[key] = IntegrityCacheEntry{info.size, info.mtime, checksum};
            v.cacheChanged = true;
        }
    }

    if (checksum == entry.crc32) return;
    if (AcceptPatchedFile(v, p, key, checksum)) return;
    LogLine("[WARN] Hash mismatch for " + p + " (local=" + checksum + ", server=" + entry.crc32 +
            "). Queueing download...");
    v.queue.push_back(entry);
}

// Downloads one queued file through its ".part", verifies it and moves it in.
bool InstallQueuedFile(Validation& v, const ManifestEntry& entry, size_t index, size_t count,
                       std::string& error)
{
    const std::string p = NormalizeRelPath(entry.path);
    const std::string key = ToLower(p);
    const std::string local = v.LocalPath(ToBackslashes(p), v.IsLegacyProfile(key));
    const std::string part = local + ".part";
    const std::string url = v.baseUrl + UrlEncodePath(p);
    const std::string label = "(" + std::to_string(index) + "/" + std::to_string(count) + ") " + p;

    // Its ".part" could not be written: it fails as such a download does,
    // with the reason in the log and without fetching it.
    if (!FitsPathLimit(local, part.size() - local.size())) {
        error = "Failed to download file: " + p;
        return false;
    }

    if (!DownloadFile(v.session, url, part, label, *v.progress, entry.size >= kResumeMinSize)) {
        DeleteFileA(part.c_str());
        if (!DownloadFile(v.session, url, part, label, *v.progress, false)) {
            DeleteFileA(part.c_str());
            error = "Failed to download file: " + p;
            return false;
        }
    }

    std::string checksum;
    uint64_t size = 0;
    if (!ComputeFileCrc32(part, checksum, size, ProgressCallback(), "", 0, 0) ||
        checksum != entry.crc32) {
        LogLine("[ERROR] Downloaded file hash verification failed for " + p + " (got=" + checksum +
                ", expected=" + entry.crc32 + ")");
        DeleteFileA(part.c_str());
        error = "Hash verification failed after downloading: " + p;
        return false;
    }

    if (!MoveFileIntoPlace(part, local)) {
        DeleteFileA(part.c_str());
        error = "Could not write verified file to disk: " + p;
        return false;
    }

    LocalFileInfo info;
    if (size >= kIntegrityCacheMinSize && QueryLocalFile(local, info)) {
        v.cache[key] = IntegrityCacheEntry{info.size, info.mtime, checksum};
        SaveIntegrityCache(v.cachePath, v.cache);
    }
    LogLine("[INFO] Verified and updated: " + p + " (crc32=" + checksum + ")");
    return true;
}

bool WriteLevel(uint32_t level, const std::string& versionPath, const std::string& logLine,
                std::string& error)
{
    if (!WritePatchVersion(level, versionPath)) {
        error = "Failed to write patch version file: " + versionPath;
        return false;
    }
    LogLine(logLine);
    return true;
}

bool WriteManifestBase(uint32_t m, const std::string& versionPath, std::string& error)
{
    return WriteLevel(m, versionPath,
                      "[INFO] Synchronized local patch version to manifest base v" + std::to_string(m),
                      error);
}

// A file that a later patch wrote is about to get the manifest's older copy:
// the level comes down before the first queued file is replaced, so that a
// run stopped after that (a failed download, a full disk, a closed launcher)
// leaves no level that claims the patch. A level that cannot be written fails
// the run before anything is replaced.
bool LowerLevelForRollback(const Validation& v, const std::string& versionPath, std::string& error)
{
    if (!v.rollback) return true;
    const uint32_t m = v.manifestVersion;
    if (m != 0) {
        // Below the manifest already: no rolled-back patch is claimed, and
        // the level rises to the base only once every file is in place.
        return v.localVersion < m || WriteManifestBase(m, versionPath, error);
    }
    // A manifest without a base version gives no level to fall back to; the
    // level must still drop below every patch whose file is replaced, so that
    // the installer brings that patch again.
    const uint32_t level = std::min(v.localVersion, v.lowestRolledBack - 1);
    return level == v.localVersion ||
           WriteLevel(level, versionPath,
                      "[INFO] Lowered local patch version to v" + std::to_string(level) +
                          " after restoring files of later patches",
                      error);
}

// Raises a level below the manifest's base once every file is in place. A
// level that cannot be written fails the run: left below the base, it would
// bring patches older than the manifest over the files this run checked.
bool RaiseLevelToManifest(const Validation& v, const std::string& versionPath, std::string& error)
{
    const uint32_t m = v.manifestVersion;
    return m == 0 || v.localVersion >= m || WriteManifestBase(m, versionPath, error);
}

}  // namespace

bool ValidateGameFiles(const std::string& manifestUrl, const std::string& fullClientUrl,
                       const std::string& baseDownloadUrl, const std::string& gameDir,
                       const ProgressCallback& progress, std::string& error)
{
    Validation v;
    v.dir = gameDir.empty() ? GetLauncherDir() : gameDir;
    while (v.dir.size() > 1 && (v.dir.back() == '\\' || v.dir.back() == '/')) v.dir.pop_back();
    v.progress = &progress;

    InternetHandle session(OpenServiceSession());
    if (!session) {
        error = "Failed to initialize internet connection.";
        return false;
    }
    v.session = session.Get();
    Report(progress, "Validating files integrity...", 0, 0, 0);

    std::string document;
    std::vector<ManifestEntry> entries;
    if (manifestUrl.empty() || !DownloadToString(v.session, manifestUrl.c_str(), document) ||
        !ParseManifest(document, v.manifestVersion, v.baseUrl, entries)) {
        return LegacyBaseCheck(v.session, manifestUrl, fullClientUrl, v.dir, progress, error);
    }
    if (v.baseUrl.empty()) v.baseUrl = baseDownloadUrl + "client/";
    if (v.baseUrl.back() != '/') v.baseUrl += '/';
    LogLine("[INFO] Loaded server manifest (patch_version=" + std::to_string(v.manifestVersion) +
            ", files=" + std::to_string(entries.size()) + ")");

    if (!IsTestLauncher() && !entries.empty())
        SelfUpdateFromManifest(v.session, entries, v.baseUrl, progress);

    v.test = IsTestLauncher();
    v.launcherKey = ToLower(GetLauncherFileName());
    v.cachePath = v.dir + "\\" + IntegrityCacheFileName();
    v.cache = LoadIntegrityCache(v.cachePath);
    const std::string recordsPath = v.dir + "\\" + PatchedHashesFileName();
    bool recordsUnreadable = false;
    v.patched = LoadPatchedHashes(recordsPath, &recordsUnreadable);
    if (recordsUnreadable) {
        // Read as no records, every patched file would pass for a damaged one
        // and get the manifest's older copy.
        error = "Could not read patched file records: " + recordsPath;
        return false;
    }
    const std::string versionPath = v.dir + "\\" + PatchVersionFileName();
    bool unreadable = false;
    v.localVersion = ReadPatchVersion(versionPath, &unreadable);
    if (unreadable) {
        // Level 0 would take files of installed patches for damaged ones and
        // put the manifest's older copies in their place.
        error = "Could not read patch version file: " + versionPath;
        return false;
    }

    const size_t count = entries.size();
    for (size_t i = 0; i < count; ++i) {
        // The manifest reader drops such paths already; nothing outside the
        // game directory is ever touched, whatever reaches this point.
        if (!IsSafeRelativePath(entries[i].path)) continue;
        CheckEntry(v, entries[i], i + 1, count);
    }
    if (v.cacheChanged) SaveIntegrityCache(v.cachePath, v.cache);

    if (!LowerLevelForRollback(v, versionPath, error)) return false;
    if (!v.queue.empty()) {
        LogLine("[INFO] Downloading " + std::to_string(v.queue.size()) +
                " missing/mismatched file(s)...");
        for (size_t j = 0; j < v.queue.size(); ++j)
            if (!InstallQueuedFile(v, v.queue[j], j + 1, v.queue.size(), error)) return false;
    }
    if (!RaiseLevelToManifest(v, versionPath, error)) return false;
    Report(progress, "File integrity validation complete.", 100, count, count);
    return true;
}
