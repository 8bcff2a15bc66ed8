#!/usr/bin/env bash
# Extraction: ExtractArchive under Wine on a ZIP of 20,000 small files in 200
# folders, beside a bare loop under the same Wine that creates the same files
# through a temporary name and a rename, and beside Info-ZIP's unzip (medians
# of three rounds); then a large ZIP (size of its files as numfmt --from=iec
# takes it; the default 2816M makes a ZIP of about 1.5 GiB) with the
# extracting process's peak memory. Both archives are made once in the build
# folder and kept.
#   tools/bench_extract.sh [size] [build folder, default build] [rounds, default 3]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-2816M}
build=$(cd "${2:-${VERANDEL_BUILD:-$here/build}}" && pwd)
exec python3 "$here/bench/extract_bench.py" "$build" "$size" "${3:-3}"
