#include "sync/integrity_cache.h"

#include "core/identity.h"
#include "sync/manifest.h"
#include "sync/text_lines.h"
#include "sync/record_file.h"

#include <cstdlib>

const char* IntegrityCacheFileName()
{
    return IsTestLauncher() ? "integrity_cache_test.dat" : "integrity_cache.dat";
}

IntegrityCache ParseIntegrityCache(const std::string& text)
{
    IntegrityCache cache;
    ForEachLine(text, [&](const std::string& line) {
        const size_t a = line.find('|');
        const size_t b = a == std::string::npos ? a : line.find('|', a + 1);
        const size_t c = b == std::string::npos ? b : line.find('|', b + 1);
        if (c == std::string::npos) return;
        IntegrityCacheEntry entry;
        // Lenient like strtoull: leading digits count, anything else reads as 0.
        entry.size = std::strtoull(line.substr(a + 1, b - a - 1).c_str(), nullptr, 10);
        entry.mtime = std::strtoull(line.substr(b + 1, c - b - 1).c_str(), nullptr, 10);
        entry.crc32 = ToLower(line.substr(c + 1));
        cache[PathKey(line.substr(0, a))] = entry;
    });
    return cache;
}

std::string FormatIntegrityCache(const IntegrityCache& cache)
{
    std::string text;
    for (const auto& [key, entry] : cache)
        text += key + "|" + std::to_string(entry.size) + "|" + std::to_string(entry.mtime) + "|" +
                entry.crc32 + "\n";
    return text;
}

IntegrityCache LoadIntegrityCache(const std::string& path)
{
    std::string text;
    if (!ReadWholeFile(path, text)) return IntegrityCache();
    return ParseIntegrityCache(text);
}

void SaveIntegrityCache(const std::string& path, const IntegrityCache& cache)
{
    ReplaceFileContents(path, FormatIntegrityCache(cache), true);
}
