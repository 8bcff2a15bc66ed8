#!/usr/bin/env bash
# Patch installation: CheckAndInstallPatches under Wine on one ZIP patch of
# small files (64 bytes each, stored) served by nginx, beside ExtractArchive
# alone on the same archive in the same round (medians of three rounds). The
# patch is made once per file count in the build folder and kept.
#   tools/bench_patch.sh [files, default 16000] [build folder, default build] [rounds, default 3]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
files=${1:-16000}
build=$(cd "${2:-${VERANDEL_BUILD:-$here/build}}" && pwd)
exec python3 "$here/bench/patch_bench.py" "$build" "$files" "${3:-3}"
