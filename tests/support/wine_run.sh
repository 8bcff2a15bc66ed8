#!/usr/bin/env bash
# Runs one Windows program under wine64 in the test prefix.
set -eu
. "$(dirname "$0")/wine_env.sh"
exec $WINE_START "$WINE64" "$@"
