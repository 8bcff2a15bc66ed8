// download <url> <file>: DownloadFile's time and throughput on one transfer,
// written to file (removed afterwards).
#include "bench.h"

#include "core/handles.h"
#include "core/http.h"

#include <windows.h>

#include <chrono>
#include <cstdio>

VERANDEL_BENCH(download, "<url> <file>")
{
    if (args.size() != 2) {
        std::printf("usage: verandel_bench download <url> <file>\n");
        return 2;
    }
    InternetHandle session(OpenServiceSession());
    uint64_t reports = 0, bytes = 0;
    const ProgressCallback progress = [&](const std::string&, float, uint64_t done, uint64_t) {
        ++reports;
        bytes = done;
    };
    const auto start = std::chrono::steady_clock::now();
    const bool ok = session && DownloadFile(session.Get(), args[0], args[1], "bench", progress, false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DeleteFileA(args[1].c_str());

    const double mib = bytes / 1048576.0;
    std::printf("result    %s, %.1f MiB in %llu reports\n", ok ? "ok" : "FAILED", mib,
                static_cast<unsigned long long>(reports));
    std::printf("download  %.3f s, %.1f MiB/s\n", seconds, seconds > 0 ? mib / seconds : 0.0);
    return ok ? 0 : 1;
}
