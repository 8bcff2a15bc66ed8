#!/usr/bin/env bash
# Extraction throughput: builds a large ZIP of mixed content (random bytes that
# zip stores, and text that deflates; total size as head -c takes it, default
# 1536M) in a build folder, then extracts it with ExtractArchive under Wine and
# with Info-ZIP's unzip, one after the other, and prints both times.
#   tools/bench_extract.sh [size] [build folder, default build]
# The archive is freshly written and both runs read it from the page cache.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-1536M}
build=$(cd "${2:-${VERANDEL_BUILD:-$here/build}}" && pwd)
bench="$build/bench/verandel_bench.exe"
[ -f "$bench" ] || { echo "no $bench: build the project first" >&2; exit 1; }
command -v unzip >/dev/null || { echo "unzip is not installed (tools/setup.sh)" >&2; exit 1; }

export VERANDEL_WINEPREFIX=${VERANDEL_WINEPREFIX:-$build/wineprefix}
work="$build/bench_extract.$$"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/data" "$work/tree/text"

bytes=$(numfmt --from=iec "$size")
# Half random (like packed GRF archives), half text: a few large files and
# many small ones, as in the client archive.
head -c $((bytes / 4)) /dev/urandom >"$work/tree/data/big1.grf"
head -c $((bytes / 8)) /dev/urandom >"$work/tree/data/big2.grf"
for i in $(seq 1 256); do head -c $((bytes / 8 / 256)) /dev/urandom >"$work/tree/data/small_$i.bin"; done
python3 - "$work/tree/text" $((bytes / 2)) <<'PY'
import os, sys
folder, total = sys.argv[1], int(sys.argv[2])
line = b"".join(b"%08d: item_%d = { name = \"potion\", weight = %d }\n" % (i, i, i % 97) for i in range(4096))
per_file = total // 64
for n in range(64):
    with open(os.path.join(folder, "script_%02d.lua" % n), "wb") as f:
        left = per_file
        while left > 0:
            chunk = line[:left]
            f.write(chunk)
            left -= len(chunk)
PY
(cd "$work/tree" && zip -q -r "$work/client.zip" .)
rm -rf "$work/tree"
echo "archive: $(du -h "$work/client.zip" | cut -f1) for $size of files"

out="$work/extract.out"
status=0
# Output to a file, not a pipe: Wine's background services would keep a pipe open.
"$here/tests/support/wine_run.sh" "$bench" extract "Z:${work//\//\\}\\client.zip" "Z:${work//\//\\}\\ours" \
    </dev/null >"$out" 2>&1 || status=$?
sed 's/^/ours:  /' "$out"
rm -rf "$work/ours"

start=$(date +%s.%N)
unzip -q -o "$work/client.zip" -d "$work/unzip"
end=$(date +%s.%N)
python3 -c "import sys; s=float(sys.argv[2])-float(sys.argv[1]); print('unzip: extract   %.3f s, %.1f MiB/s' % (s, int(sys.argv[3]) / 1048576 / s))" \
    "$start" "$end" "$bytes"
exit "$status"
