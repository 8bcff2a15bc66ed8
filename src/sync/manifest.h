// The service's manifest.json: its entries, path keys and the realm-profile rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestEntry {
    std::string path;   // as listed
    uint64_t size = 0;
    std::string crc32;  // lower-case hex
};

// Reads patch version, base URL and entries by plain text search. Entries whose
// path would leave the game directory are dropped with a "[WARN] " log line.
// True when at least one entry was read.
bool ParseManifest(const std::string& text, uint32_t& patchVersion, std::string& baseUrl,
                   std::vector<ManifestEntry>& entries);

uint64_t JsonGetUInt64(const std::string& text, const char* key, size_t keyLength);
std::string JsonGetStringOrEmpty(const std::string& text, const char* key, size_t keyLength);

// '\' to '/', a run of separators as one, leading "./" removed.
std::string NormalizeRelPath(const std::string& path);
// ASCII letters lower-cased, other bytes unchanged.
std::string ToLower(const std::string& text);
// The path key: ToLower(NormalizeRelPath(path)).
std::string PathKey(const std::string& path);
// False when Windows would open the path under another name than its key says:
// a "." segment, or a segment ending in a dot or a blank (Windows drops those),
// so that "savedata/OptionInfo.lua." would reach a file that no rule of its
// key protects. Doubled separators pass: manifests written with escaped
// backslashes hold them, and keys read them as one.
bool NamesWhatItsKeySays(const std::string& path);
// "qvx_patch.grf" or anything under "system/" (expects a path key).
bool IsRealmProfileFile(const std::string& key);
