#!/usr/bin/env bash
# Runs the launcher as a player would, against a demo update service on
# 127.0.0.1: installs what it needs, builds the launcher and the stand-in game
# client when they are missing, then hands over to tools/demo.py.
#
#   bash tools/demo.sh                    the window on $DISPLAY (else a private Xvfb)
#   bash tools/demo.sh --screenshot FILE  headless: PNG of the window, status line,
#                                         game directory, PLAY LEGACY; exit 0 when all held
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VERANDEL_BUILD:-"$here/build"}

bash "$here/tools/setup.sh"
if [ ! -f "$build/launcher/QVX_Launcher.exe" ] || [ ! -f "$build/tests/standin_client.exe" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release
  cmake --build "$build" -j"$(nproc)" --target verandel_launcher standin_client
fi
# The demo stops nginx, Wine and Xvfb itself on every way out, Ctrl-C included.
exec python3 "$here/tools/demo.py" "$build" "$@"
