// validate_floor <game dir> <manifest.json>: the floor for a validation of the
// game directory, a bare loop that stats every listed file, then opens, reads
// in large blocks and checksums it with zlib's crc32. Files of the integrity
// cache's size are only stat'ed, as the launcher does once they are cached.
#include "bench.h"

#include "core/handles.h"
#include "core/whole_file.h"
#include "sync/integrity_cache.h"
#include "sync/manifest.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kBlockSize = 1 << 20;
constexpr double kMiB = 1048576.0;

}  // namespace

VERANDEL_BENCH(validate_floor, "<game dir> <manifest.json>")
{
    if (args.size() != 2) {
        std::printf("usage: verandel_bench validate_floor <game dir> <manifest.json>\n");
        return 2;
    }
    std::string document;
    uint32_t version = 0;
    std::string baseUrl;
    std::vector<ManifestEntry> entries;
    if (!ReadWholeFile(args[1], document) || !ParseManifest(document, version, baseUrl, entries)) {
        std::printf("cannot read the manifest %s\n", args[1].c_str());
        return 1;
    }

    std::vector<unsigned char> buffer(kBlockSize);
    size_t read = 0, statted = 0, mismatched = 0;
    uint64_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const ManifestEntry& entry : entries) {
        std::string path = args[0] + "\\" + NormalizeRelPath(entry.path);
        std::replace(path.begin(), path.end(), '/', '\\');
        WIN32_FILE_ATTRIBUTE_DATA attrs;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attrs)) {
            ++mismatched;
            continue;
        }
        if ((uint64_t(attrs.nFileSizeHigh) << 32 | attrs.nFileSizeLow) >= kIntegrityCacheMinSize) {
            ++statted;
            continue;
        }
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        uLong crc = 0;
        DWORD got = 0;
        while (file && ReadFile(file.Get(), buffer.data(), kBlockSize, &got, nullptr) && got > 0) {
            crc = crc32(crc, buffer.data(), got);
            bytes += got;
        }
        char text[16];
        std::snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(crc));
        if (!file || entry.crc32 != text) ++mismatched;
        ++read;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("files     %zu read (%.1f MiB), %zu only stat'ed, %zu missing or mismatched\n", read,
                bytes / kMiB, statted, mismatched);
    std::printf("floor     %.3f s\n", seconds);
    return mismatched == 0 ? 0 : 1;
}
