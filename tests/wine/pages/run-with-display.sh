#!/usr/bin/env bash
# run-with-display.sh WINE_RUN PREFIX PROGRAM [ARGS...]
#
# Runs a Windows test program under Wine in a virtual X display of its own,
# for tests that create real windows in their own process. Exits with the
# program's status.
set -euo pipefail
wine_run=$1 prefix=$2; shift 2

display_file=$(mktemp)
xvfb_pid=
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -f "$display_file"
}
trap cleanup EXIT
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
display_number=$(tr -dc 0-9 <"$display_file")
if [ -z "$display_number" ]; then
  echo "run-with-display: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=:$display_number
# A server left from an interrupted run would still serve a display that is gone.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
"$wine_run" "$prefix" "$@"
