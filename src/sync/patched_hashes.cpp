#include "sync/patched_hashes.h"

#include "core/checksum.h"
#include "core/files.h"
#include "core/identity.h"
#include "core/path_limit.h"
#include "sync/manifest.h"
#include "sync/text_lines.h"
#include "sync/record_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

const char* PatchedHashesFileName()
{
    return IsTestLauncher() ? "patched_hashes_test.dat" : "patched_hashes.dat";
}

namespace {
const char kLegacyProfileFolder[] = "profiles\\legacy\\";
}  // namespace

size_t LegacyCopyReserve(const std::string& relativePath)
{
    if (IsTestLauncher() || !IsRealmProfileFile(PathKey(relativePath))) return 0;
    return sizeof kLegacyProfileFolder - 1 + std::max(kBesideNameReserve, LinkOrCopyStagingReserve());
}

PatchedHashes ParsePatchedHashes(const std::string& text)
{
    PatchedHashes records;
    ForEachLine(text, [&](const std::string& line) {
        const size_t a = line.find('|');
        const size_t b = a == std::string::npos ? a : line.find('|', a + 1);
        if (b == std::string::npos) return;
        PatchedHashEntry entry;
        entry.version = uint32_t(std::strtoul(line.substr(a + 1, b - a - 1).c_str(), nullptr, 10));
        entry.crc32 = ToLower(line.substr(b + 1));
        records[PathKey(line.substr(0, a))] = entry;
    });
    return records;
}

std::string FormatPatchedHashes(const PatchedHashes& records)
{
    std::string text;
    for (const auto& [key, entry] : records)
        text += key + "|" + std::to_string(entry.version) + "|" + entry.crc32 + "\n";
    return text;
}

PatchedHashes LoadPatchedHashes(const std::string& path, bool* unreadable)
{
    if (unreadable) *unreadable = false;
    std::string text;
    if (ReadWholeFile(path, text)) return ParsePatchedHashes(text);
    // Only a missing file means "no records".
    const DWORD error = GetLastError();
    if (unreadable && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) *unreadable = true;
    return PatchedHashes();
}

namespace {

// Decides, for one file a patch wrote, which copy its record is taken from,
// and keeps the Legacy profile's copy in step on the way.
class CheckedFiles {
public:
    explicit CheckedFiles(const std::string& dir) : dir_(dir) {}

    // False when the Legacy profile copy cannot be written.
    bool Choose(const std::string& key, const std::string& rel, std::string& checked)
    {
        // The validation checks realm profile files in the Legacy profile, so
        // a live launcher keeps that copy in step and records its checksum.
        // Only a profile that is there already: one begun by a patch would
        // hold that patch's files alone, and activating it would take every
        // other System file from the game directory.
        checked = dir_ + "\\" + rel;
        if (IsTestLauncher() || !IsRealmProfileFile(key) || !HasLegacyProfile()) return true;
        const std::string legacy = dir_ + "\\" + kLegacyProfileFolder + rel;
        // A stale copy there would be checked, recorded and activated over the
        // patched file.
        if (GetFileAttributesA(checked.c_str()) != INVALID_FILE_ATTRIBUTES && !LinkOrCopyFile(checked, legacy))
            return false;
        checked = legacy;
        return true;
    }

private:
    // Asked once per list: recording a file never makes or removes the
    // profile's System folder.
    bool HasLegacyProfile()
    {
        if (legacyProfile_ < 0)
            legacyProfile_ = IsDirectoryPath(dir_ + "\\" + kLegacyProfileFolder + "System") ? 1 : 0;
        return legacyProfile_ == 1;
    }

    const std::string dir_;
    int legacyProfile_ = -1;  // not asked yet
};

}  // namespace

bool RecordPatchedFiles(const std::vector<std::string>& relativePaths, uint32_t version, std::string& failedName)
{
    const std::string dir = GetLauncherDir();
    CheckedFiles files(dir);
    std::vector<std::pair<std::string, std::string>> made;  // key, checksum, in list order
    made.reserve(relativePaths.size());
    const std::string* firstRecorded = nullptr;
    std::string checked, crc;
    for (const std::string& relativePath : relativePaths) {
        const std::string normalized = NormalizeRelPath(relativePath);
        std::string key = ToLower(normalized);
        std::string rel = normalized;
        std::replace(rel.begin(), rel.end(), '/', '\\');
        if (!files.Choose(key, rel, checked)) {
            failedName = relativePath;
            return false;
        }
        uint64_t size = 0;
        // A file that cannot be read gets no record, as before; that includes
        // a listed name the code page cannot spell, which must not fail a
        // patch that installed.
        if (!ComputeFileCrc32(checked, crc, size, ProgressCallback(), std::string(), 0.0f, 0.0f)) continue;
        if (!firstRecorded) firstRecorded = &relativePath;
        made.emplace_back(std::move(key), ToLower(crc));
    }
    if (made.empty()) return true;

    // One read and one write for the whole list: rewriting the file per
    // record made a patch of many files take time in the square of its files.
    const std::string path = dir + "\\" + PatchedHashesFileName();
    bool unreadable = false;
    PatchedHashes records = LoadPatchedHashes(path, &unreadable);
    // Rewritten from nothing, every other record would be lost.
    if (!unreadable) {
        for (auto& [key, checksum] : made) records[key] = PatchedHashEntry{version, std::move(checksum)};
        if (ReplaceFileContents(path, FormatPatchedHashes(records), true)) return true;
    }
    failedName = *firstRecorded;
    return false;
}

bool RecordPatchedFile(const std::string& relativePath, uint32_t version)
{
    std::string failedName;
    return RecordPatchedFiles({relativePath}, version, failedName);
}
