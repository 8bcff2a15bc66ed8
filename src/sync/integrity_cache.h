// Remembered checksums of large files (integrity_cache.dat), so an unchanged
// file of 200 MiB or more is not read again on every validation.
#pragma once

#include <cstdint>
#include <map>
#include <string>

constexpr uint64_t kIntegrityCacheMinSize = 209715200;  // files of 200 MiB and more

struct IntegrityCacheEntry {
    uint64_t size = 0;
    uint64_t mtime = 0;  // ftLastWriteTime as one 64-bit value
    std::string crc32;
};

using IntegrityCache = std::map<std::string, IntegrityCacheEntry>;

// "integrity_cache.dat", or "integrity_cache_test.dat" on a test launcher.
const char* IntegrityCacheFileName();

IntegrityCache LoadIntegrityCache(const std::string& path);
void SaveIntegrityCache(const std::string& path, const IntegrityCache& cache);

// The records as text (no file access).
IntegrityCache ParseIntegrityCache(const std::string& text);
std::string FormatIntegrityCache(const IntegrityCache& cache);
