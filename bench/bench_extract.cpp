// extract <archive> <destination>: ExtractArchive's time and throughput on a
// ".zip" or ".rgz" archive, counted in bytes written.
#include "bench.h"

#include "core/archive.h"

#include <windows.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr double kMiB = 1048576.0;

uint64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attrs)) return 0;
    return uint64_t(attrs.nFileSizeHigh) << 32 | attrs.nFileSizeLow;
}

}  // namespace

VERANDEL_BENCH(extract, "<archive> <destination>")
{
    if (args.size() != 2) {
        std::printf("usage: verandel_bench extract <archive> <destination>\n");
        return 2;
    }
    const std::string& archive = args[0];
    const std::string& destination = args[1];
    CreateDirectoryA(destination.c_str(), nullptr);

    std::vector<std::string> names;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ExtractArchive(archive, destination, &names);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    uint64_t written = 0;
    for (const std::string& name : names) written += FileSize(destination + "\\" + name);
    std::printf("archive   %s (%.1f MiB)\n", archive.c_str(), FileSize(archive) / kMiB);
    std::printf("result    %s, %zu files, %.1f MiB written\n", ok ? "ok" : "FAILED", names.size(),
                written / kMiB);
    std::printf("extract   %.3f s, %.1f MiB/s\n", seconds, seconds > 0 ? written / kMiB / seconds : 0.0);
    return ok ? 0 : 1;
}
