// extract <archive> <destination>: ExtractArchive's time and throughput on a
// ".zip" or ".rgz" archive, counted in bytes written.
// stage_floor <archive.zip> <destination>: the floor for extracting a ZIP of
// many files, a bare loop that creates the same files with the same sizes,
// each through a temporary name and a rename, as the extractors stage them.
#include "bench.h"

#include "core/archive.h"
#include "core/handles.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <vector>

namespace {

constexpr double kMiB = 1048576.0;

uint64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attrs)) return 0;
    return uint64_t(attrs.nFileSizeHigh) << 32 | attrs.nFileSizeLow;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    const double seconds = SecondsSince(start);

    uint64_t written = 0;
    for (const std::string& name : names) written += FileSize(destination + "\\" + name);
    std::printf("archive   %s (%.1f MiB)\n", archive.c_str(), FileSize(archive) / kMiB);
    std::printf("result    %s, %zu files, %.1f MiB written\n", ok ? "ok" : "FAILED", names.size(),
                written / kMiB);
    std::printf("extract   %.3f s, %.1f MiB/s\n", seconds, seconds > 0 ? written / kMiB / seconds : 0.0);
    return ok ? 0 : 1;
}

VERANDEL_BENCH(stage_floor, "<archive.zip> <destination>")
{
    if (args.size() != 2) {
        std::printf("usage: verandel_bench stage_floor <archive.zip> <destination>\n");
        return 2;
    }
    std::vector<ZipEntry> entries;
    if (!ReadZipEntries(args[0], entries)) {
        std::printf("cannot read the central directory of %s\n", args[0].c_str());
        return 1;
    }
    const std::string& destination = args[1];
    CreateDirectoryA(destination.c_str(), nullptr);

    uint64_t largest = 0;
    for (const ZipEntry& e : entries) largest = std::max(largest, e.uncompressedSize);
    const std::vector<char> content(size_t(largest), 'x');
    std::set<std::string> folders;
    size_t files = 0;
    uint64_t written = 0;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (const ZipEntry& e : entries) {
        if (e.IsDirectory()) continue;
        std::string name = e.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        const std::string target = destination + "\\" + name;
        for (size_t cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\', cut + 1)) {
            if (folders.insert(name.substr(0, cut)).second)
                CreateDirectoryA((destination + "\\" + name.substr(0, cut)).c_str(), nullptr);
        }
        const std::string temp = target + ".~x1";
        UniqueHandle out(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        ok = out && WriteFile(out.Get(), content.data(), DWORD(e.uncompressedSize), &done, nullptr) && ok;
        out.Reset();
        ok = MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) && ok;
        ++files;
        written += e.uncompressedSize;
    }
    const double seconds = SecondsSince(start);
    std::printf("result    %s, %zu files, %.1f MiB written\n", ok ? "ok" : "FAILED", files, written / kMiB);
    std::printf("floor     %.3f s\n", seconds);
    return ok ? 0 : 1;
}
