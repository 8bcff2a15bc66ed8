#!/usr/bin/env bash
# Boots the test prefix with the server running and every stream detached, so
# Wine's background services never hold a test's output open. --shutdown ends
# it; --plain boots it without font replacements, as a player's prefix is.
set -eu
. "$(dirname "$0")/wine_env.sh"
if [ "${1:-}" = "--shutdown" ]; then
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  exit 0
fi
mkdir -p "$WINEPREFIX"
# What the server itself says (a process it ended for a protocol error, say)
# goes to a log beside the prefix, for a test that fails to name.
server_log="$WINEPREFIX.wineserver.log"
booted=no
for attempt in 1 2 3; do
  if "$WINESERVER" -p </dev/null >>"$server_log" 2>&1 &&
     $WINE_START "$WINE64" wineboot -i </dev/null >/dev/null 2>&1; then
    booted=yes
    break
  fi
  echo "wineboot attempt $attempt failed; retrying" >&2
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  sleep 2
done
[ "$booted" = yes ] || { echo "could not boot the wine prefix $WINEPREFIX" >&2; exit 1; }
if [ "${1:-}" = "--plain" ]; then
  echo "wine prefix ready: $WINEPREFIX (no font replacements)"
  exit 0
fi
# GDI+ finds no Tahoma or Arial by default; map both to Liberation Sans.
for face in Tahoma Arial "Segoe UI"; do
  $WINE_START "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'Liberation Sans' /f \
    </dev/null >/dev/null 2>&1
done
echo "wine prefix ready: $WINEPREFIX"
