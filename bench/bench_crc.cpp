// crc <file>: ComputeFileCrc32's throughput on a file next to zlib's crc32 over
// the same bytes already in memory, so the cost of reading shows.
#include "bench.h"

#include "core/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr uint64_t kMemoryBufferSize = 256ull * 1024 * 1024;
constexpr double kMiB = 1048576.0;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

VERANDEL_BENCH(crc, "<file>")
{
    if (args.size() != 1) {
        std::printf("usage: verandel_bench crc <file>\n");
        return 2;
    }
    const std::string& path = args[0];

    std::string fileCrc;
    uint64_t size = 0;
    const auto fileStart = std::chrono::steady_clock::now();
    if (!ComputeFileCrc32(path, fileCrc, size, {}, "", 0, 0)) {
        std::printf("cannot checksum %s\n", path.c_str());
        return 1;
    }
    const double fileSeconds = Seconds(std::chrono::steady_clock::now() - fileStart);

    // The file's first bytes, looped until as many bytes as the file holds.
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min(size, kMemoryBufferSize)));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    uLong memoryCrc = 0;
    const auto memoryStart = std::chrono::steady_clock::now();
    for (uint64_t left = size; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, buffer.size());
        memoryCrc = crc32(memoryCrc, buffer.data(), static_cast<uInt>(n));
        left -= n;
    }
    const double memorySeconds = Seconds(std::chrono::steady_clock::now() - memoryStart);

    std::printf("file            %s\n", path.c_str());
    std::printf("size            %llu bytes (%.1f MiB)\n", static_cast<unsigned long long>(size),
                size / kMiB);
    std::printf("ComputeFileCrc32 %8.1f MiB/s  (%.3f s, crc %s)\n",
                fileSeconds > 0 ? size / kMiB / fileSeconds : 0.0, fileSeconds, fileCrc.c_str());
    std::printf("zlib crc32 (RAM) %8.1f MiB/s  (%.3f s over a %.0f MiB buffer%s)\n",
                memorySeconds > 0 ? size / kMiB / memorySeconds : 0.0, memorySeconds,
                buffer.size() / kMiB, size <= kMemoryBufferSize ? "" : ", looped");
    if (size <= kMemoryBufferSize) {
        char text[16];
        std::snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(memoryCrc));
        std::printf("checksums %s\n", fileCrc == text ? "agree" : "DIFFER");
    }
    return 0;
}
