# Sourced by the wine scripts: one prefix per build folder, quiet, no Mono or
# Gecko installer, and no proxy between the tests and 127.0.0.1.
: "${VERANDEL_WINEPREFIX:?VERANDEL_WINEPREFIX must name the test prefix}"
export WINEPREFIX="$VERANDEL_WINEPREFIX"
# Quiet unless a caller asks for some of Wine's messages (VERANDEL_WINEDEBUG).
export WINEDEBUG=${VERANDEL_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY DISPLAY
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
