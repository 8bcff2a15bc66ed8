#!/usr/bin/env bash
# Checksum throughput: makes a file of random bytes (size as head -c takes it,
# default 2G) in a build folder and runs the crc benchmark on it under Wine.
#   tools/bench_crc.sh [size] [build folder, default build]
# The file is freshly written, so it is read from the page cache: the figure is
# the launcher's own cost of reading and checksumming, not the disk's speed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-2G}
build=$(cd "${2:-${VERANDEL_BUILD:-$here/build}}" && pwd)
bench="$build/bench/verandel_bench.exe"
[ -f "$bench" ] || { echo "no $bench: build the project first" >&2; exit 1; }

export VERANDEL_WINEPREFIX=${VERANDEL_WINEPREFIX:-$build/wineprefix}
data="$build/bench_crc.$$.bin"
out="$build/bench_crc.$$.out"
trap 'rm -f "$data" "$out"' EXIT
head -c "$size" /dev/urandom >"$data"
echo "linux crc32 for reference: $(python3 -c 'import sys, zlib
crc = 0
with open(sys.argv[1], "rb") as f:
    while block := f.read(1 << 24):
        crc = zlib.crc32(block, crc)
print("%08x" % crc)' "$data")"
# Output to a file, not a pipe: Wine's background services would keep a pipe
# open after the benchmark ends.
status=0
"$here/tests/support/wine_run.sh" "$bench" crc "Z:${data//\//\\}" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "$status"
