#!/usr/bin/env bash
# run-with-display.sh WINE_RUN PREFIX PROGRAM [ARGS...]
#
# Runs a Windows test program under Wine in a virtual X display of its own,
# for tests that create real windows in their own process. Exits with the
# program's status.
set -euo pipefail
wine_run=$1 prefix=$2; shift 2

# shellcheck source=tests/wine/xvfb.sh
source "$(dirname "$0")/../xvfb.sh"
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
start_xvfb
# A server left from an interrupted run would still serve a display that is gone.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
"$wine_run" "$prefix" "$@"
