#!/usr/bin/env bash
# The one command: installs what the build needs, cross-compiles the launcher
# and its test programs, and runs every test under Wine. Exits non-zero on any
# failure and ends with ctest's summary.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VERANDEL_BUILD:-"$here/build"}

bash "$here/tools/setup.sh"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900
