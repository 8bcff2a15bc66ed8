// Records of files that incremental patches wrote (patched_hashes.dat), so that
// validation keeps a patched file instead of restoring the manifest's older one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PatchedHashEntry {
    uint32_t version = 0;
    std::string crc32;
};

using PatchedHashes = std::map<std::string, PatchedHashEntry>;

// "patched_hashes.dat", or "patched_hashes_test.dat" on a test launcher.
const char* PatchedHashesFileName();

// How much longer than a game file's own path the longest name is that the
// launcher makes of it elsewhere: on a live launcher, the Legacy profile copy
// of a realm profile file (under "profiles\legacy\", staged beside its place
// first), which recording a patched file and the validation make.
size_t LegacyCopyReserve(const std::string& relativePath);

// No records when the file is missing; unreadable (when given) is set when it
// exists but cannot be read, which must not pass for "no records".
PatchedHashes LoadPatchedHashes(const std::string& path, bool* unreadable = nullptr);
// False when the Legacy profile copy cannot be written, or the records file
// cannot be read or written. A patched file that cannot be read is left
// without a record.
bool RecordPatchedFile(const std::string& relativePath, uint32_t version);
// The same for every file one patch wrote, with one read and one write of the
// records file. On failure failedName is the file whose Legacy copy could not
// be written, else the first file of the list that got a checksum.
bool RecordPatchedFiles(const std::vector<std::string>& relativePaths, uint32_t version,
                        std::string& failedName);

// The records as text (no file access).
PatchedHashes ParsePatchedHashes(const std::string& text);
std::string FormatPatchedHashes(const PatchedHashes& records);
