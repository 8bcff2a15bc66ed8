#!/usr/bin/env bash
# Runs one Windows program under wine64 with a private Xvfb display, for checks
# that need real windows. Xvfb picks a free display itself (-displayfd), so
# checks running side by side never share or kill each other's server.
set -eu
. "$(dirname "$0")/../support/wine_env.sh"

fdfile=$(mktemp)
Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$fdfile"' EXIT

display=""
for _ in $(seq 100); do
  display=$(tr -dc 0-9 <"$fdfile")
  [ -n "$display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$display" ]; then
  echo "Xvfb did not start" >&2
  exit 1
fi
# The display number is written before the server takes clients only on some
# versions; one short wait covers the others.
sleep 0.2
# The program runs in the background so that a signal to this script is
# taken at once (and the trap stops Xvfb); its own time stays below the ctest
# time-out, so the script always ends and cleans up by itself.
# Its report (GoogleTest's XML, written when the checks are over) is the
# verdict when the process is still there long after it: once in a while, on a
# loaded machine, Wine does not end a process that had windows on a desktop of
# its own.
report="$fdfile.xml"
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$fdfile" "$report"' EXIT
DISPLAY=":$display" timeout -k 10 "${VERANDEL_CHECK_SECONDS:-270}" "$WINE64" "$@" \
  --gtest_output="xml:Z:$report" &
program=$!
trap 'kill "$program" 2>/dev/null || true; exit 143' TERM INT HUP
set +e
while kill -0 "$program" 2>/dev/null && [ ! -s "$report" ]; do sleep 0.2; done
for _ in $(seq 150); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$program" 2>/dev/null; then
  echo "xvfb_run: the program had not ended 30 s after its checks; ending it" >&2
  pkill -KILL -P "$program" 2>/dev/null
  kill -KILL "$program" 2>/dev/null
  wait "$program" 2>/dev/null
  summary=$(grep -m1 '<testsuites ' "$report")
  case "$summary" in
    *' failures="0" '*' errors="0" '*) exit 0 ;;
    *) exit 1 ;;
  esac
fi
wait "$program"
status=$?
exit "$status"
