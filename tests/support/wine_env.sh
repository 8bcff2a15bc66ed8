# Sourced by the wine scripts: one prefix per build folder, quiet, no Mono or
# Gecko installer, no proxy between the tests and 127.0.0.1, and programs
# started through $WINE_START.
: "${VERANDEL_WINEPREFIX:?VERANDEL_WINEPREFIX must name the test prefix}"
export WINEPREFIX="$VERANDEL_WINEPREFIX"
# Quiet unless a caller asks for some of Wine's messages (VERANDEL_WINEDEBUG).
export WINEDEBUG=${VERANDEL_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY DISPLAY
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Debian's Wine has no preloader, so nothing keeps the page at 0x7ffe0000,
# which every Wine process maps for its shared user data, free of the heap:
# the kernel starts the heap of wine64 at a random place in the 1 GiB after it
# (0x7d00xxxx), and about one start in several thousand finds its heap there
# and ends with exit code 1 ("failed to map the shared user data", an err:
# message). Without address randomisation the heap follows wine64 at once; the
# programs a Wine program starts inherit that.
WINE_START="setarch -R"
