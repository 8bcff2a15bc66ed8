// patch <patch list url> <patch base url>: CheckAndInstallPatches's time on the
// folder this program lies in. The records and the level go beside the
// launcher's own file, so the script runs a copy placed in a game directory.
#include "bench.h"

#include "core/identity.h"
#include "sync/patches.h"

#include <chrono>
#include <cstdio>

VERANDEL_BENCH(patch, "<patch list url> <patch base url>")
{
    if (args.size() != 2) {
        std::printf("usage: verandel_bench patch <patch list url> <patch base url>\n");
        return 2;
    }
    uint64_t reports = 0;
    const ProgressCallback progress = [&](const std::string&, float, uint64_t, uint64_t) { ++reports; };
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = CheckAndInstallPatches(args[0], args[1], GetLauncherDir(), progress, message);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("result    %s: %s (%llu reports)\n", ok ? "ok" : "FAILED", message.c_str(),
                static_cast<unsigned long long>(reports));
    std::printf("patch     %.3f s\n", seconds);
    return ok ? 0 : 1;
}
