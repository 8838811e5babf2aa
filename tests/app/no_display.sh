#!/usr/bin/env bash
# Starts the program where it cannot make its windows (no X display): the guard around its
# body must report "Cannot create the application window" (to the debugger's output, as no
# message box can be shown there) and end it with exit code 1, not with terminate.
set -u
exe=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A Wine server of its own: one already running would lend its X desktop to the program, and
# the display-less desktop this run makes must not outlive it into the next test.
restart_wineserver() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
restart_wineserver
trap 'restart_wineserver; rm -f "$log"' EXIT
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all,+debugstr timeout 120 wine "$exe" >"$log" 2>&1 || rc=$?
if [[ $rc -ne 1 ]]; then
  echo "expected exit code 1, got $rc"
  cat "$log"
  exit 1
fi
if ! grep -aq 'VoltAtlas: Cannot create the application window' "$log"; then
  echo "the failure was not reported:"
  cat "$log"
  exit 1
fi
echo "exit code 1, reported: Cannot create the application window"
