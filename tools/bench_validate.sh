#!/usr/bin/env bash
# Start-up validation: the real launcher (window under Xvfb, nginx on
# 127.0.0.1) on a game directory of 3,000 files and a 1 GiB data.grf, beside
# a bare loop over the same files under the same Wine; medians of three rounds
# and their ratio, the launcher's peak memory, and DownloadFile's peak memory
# on a 2 GiB transfer. The game directory is made once in the build folder.
#   tools/bench_validate.sh [build folder, default build] [rounds, default 3]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${VERANDEL_BUILD:-$here/build}}" && pwd)
exec python3 "$here/bench/validate_bench.py" "$build" "${2:-3}"
