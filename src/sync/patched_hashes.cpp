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

bool RecordPatchedFile(const std::string& relativePath, uint32_t version)
{
    const std::string dir = GetLauncherDir();
    const std::string normalized = NormalizeRelPath(relativePath);
    const std::string key = ToLower(normalized);
    std::string rel = normalized;
    std::replace(rel.begin(), rel.end(), '/', '\\');

    // The validation checks realm profile files in the Legacy profile, so a
    // live launcher keeps that copy in step and records its checksum. Only a
    // profile that is there already: one begun by a patch would hold that
    // patch's files alone, and activating it would take every other System
    // file from the game directory.
    std::string checked = dir + "\\" + rel;
    if (!IsTestLauncher() && IsRealmProfileFile(key) && IsDirectoryPath(dir + "\\profiles\\legacy\\System")) {
        const std::string legacy = dir + "\\profiles\\legacy\\" + rel;
        // A stale copy there would be checked, recorded and activated over the
        // patched file.
        if (GetFileAttributesA(checked.c_str()) != INVALID_FILE_ATTRIBUTES && !LinkOrCopyFile(checked, legacy))
            return false;
        checked = legacy;
    }
    std::string crc;
    uint64_t size = 0;
    // A file that cannot be read gets no record, as before; that includes a
    // listed name the code page cannot spell, which must not fail a patch
    // that installed.
    if (!ComputeFileCrc32(checked, crc, size, ProgressCallback(), std::string(), 0.0f, 0.0f)) return true;

    const std::string path = dir + "\\" + PatchedHashesFileName();
    bool unreadable = false;
    PatchedHashes records = LoadPatchedHashes(path, &unreadable);
    if (unreadable) return false;  // rewritten from nothing, every other record would be lost
    records[key] = PatchedHashEntry{version, ToLower(crc)};
    return ReplaceFileContents(path, FormatPatchedHashes(records), true);
}
