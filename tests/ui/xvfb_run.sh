#!/usr/bin/env bash
# Runs one Windows program under wine64 with a private Xvfb display, for checks
# that need real windows. Xvfb picks a free display itself (-displayfd), so
# checks running side by side never share or kill each other's server.
#
# The program runs in a Wine prefix of its own, VERANDEL_WINDOW_PREFIX. The
# desktop process that Wine starts for the program's windows takes the
# program's display and output, and outlives the program; in the shared test
# prefix nothing may end it, and it held ctest's pipe open after the script had
# gone (ctest waits for EOF, so the test ran into its time-out). Here the
# program and everything it starts write to a file, not to ctest's pipe, and
# the whole prefix is ended before its display is, so nothing is left running
# and nothing sees its display vanish.
#
# The outcome is the program's exit status; its GoogleTest report is the
# verdict only when Wine leaves the program running after the report.
set -eu
: "${VERANDEL_WINDOW_PREFIX:?VERANDEL_WINDOW_PREFIX must name the window checks prefix}"
export VERANDEL_WINEPREFIX="$VERANDEL_WINDOW_PREFIX"
support="$(dirname "$0")/../support"
. "$support/wine_env.sh"

budget=${VERANDEL_CHECK_SECONDS:-200}  # the program's; boot and clean-up stay within ctest's 300
grace=30                                # after the report, for the program to end
work=$(mktemp -d)
output="$work/output.txt"
report="$work/report.xml"
notes="$work/notes.txt"
xvfb=""
program=""

# Whether the process is there and not a zombie.
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

stop_prefix() {
  timeout 30 "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  timeout 30 "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
}

finish() {
  # The prefix before the display: its processes never lose their display.
  stop_prefix
  if [ -n "$program" ] && running "$program"; then kill -KILL "$program" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    for _ in $(seq 50); do running "$xvfb" || break; sleep 0.1; done
    kill -KILL "$xvfb" 2>/dev/null || true
  fi
  cat "$output" 2>/dev/null || true
  cat "$notes" >&2 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
trap 'echo "xvfb_run: stopped by a signal" >>"$notes"; exit 143' TERM INT HUP

report_complete() {
  grep -qs '</testsuites>' "$report"
}

report_passed() {
  local summary
  summary=$(grep -m1 -o '<testsuites [^>]*>' "$report") || return 1
  case "$summary" in *' failures="0" '*) ;; *) return 1 ;; esac
  case "$summary" in *' errors="0" '*) ;; *) return 1 ;; esac
}

stop_prefix  # whatever a killed run left behind
"$support/wine_boot.sh" >/dev/null

Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
display=""
for _ in $(seq 100); do
  display=$(tr -dc 0-9 <"$work/display")
  [ -n "$display" ] && break
  running "$xvfb" || break
  sleep 0.1
done
if [ -z "$display" ]; then
  echo "Xvfb did not start" >&2
  exit 1
fi
# The display number is written before the server takes clients only on some
# versions; one short wait covers the others.
sleep 0.2

# In the background, so that a signal to this script is taken at once.
DISPLAY=":$display" $WINE_START "$WINE64" "$@" --gtest_output="xml:Z:$report" </dev/null >"$output" 2>&1 &
program=$!
started=$SECONDS
reported=""
while running "$program"; do
  if [ -z "$reported" ] && report_complete; then reported=$SECONDS; fi
  [ -n "$reported" ] && [ $((SECONDS - reported)) -ge "$grace" ] && break
  [ $((SECONDS - started)) -ge "$budget" ] && break
  sleep 0.2
done
if ! running "$program"; then
  set +e
  wait "$program"
  exit $?
fi
if ! report_complete; then
  echo "xvfb_run: the program gave no report within $budget s; ended it" >>"$notes"
  exit 1
fi
# Once in a while, on a loaded machine, Wine does not end a process that had
# windows on a desktop of its own.
echo "xvfb_run: the program had not ended $grace s after its report; ended it, the report is the verdict" >>"$notes"
report_passed && exit 0
exit 1
