#!/usr/bin/env bash
# run-gui-test.sh WINE_RUN PREFIX SHOTS_DIR NAME ROBOT SCENARIO PROGRAM
#
# Runs one robot scenario against a Windows program under Wine in a virtual X
# display of its own: Xvfb on a free display number (it picks one itself and
# reports it through -displayfd), Wine's virtual desktop so that windows get
# Wine-drawn frames, a persistent wineserver for the run, and the robot as a
# coprocess that asks for screenshots on its stdout; they are saved as
# SHOTS_DIR/NAME-<shot>.png. The screen has 96 DPI, or KF_WINE_DPI. Exits
# with the robot's status; everything started here is stopped again.
set -euo pipefail

wine_run=$1 prefix=$2 shots=$3 name=$4 robot=$5 scenario=$6 program=$7

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix" "$shots"

# shellcheck source=tests/wine/xvfb.sh
source "$(dirname "$0")/xvfb.sh"
cleanup() {
  wineserver -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
start_xvfb
echo "run-gui-test: display $DISPLAY, prefix $prefix"

# A wineserver left over from an interrupted run would still serve a display
# that is gone.
wineserver -k 2>/dev/null || true
if [ ! -f "$prefix/.ready" ]; then
  # First use: wine-run creates the prefix; its server must end before the
  # persistent one can start.
  "$wine_run" "$prefix" cmd /c exit >/dev/null 2>&1
  wineserver -w
fi
wineserver -p
# Every program in the prefix gets a 1024x768 virtual desktop, with frames
# drawn by Wine. Not named "Default": that desktop exists as soon as any
# program (reg.exe here) has run, as the plain root window.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d KelmoraTest /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v KelmoraTest /d 1024x768 /f >/dev/null
# The screen's DPI (Windows' LogPixels): 96 unless KF_WINE_DPI asks for
# another, e.g. 144 for a screen at 150 %. Set on every run, since the
# prefix keeps it.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${KF_WINE_DPI:-96}" /f >/dev/null

program_win=$(winepath -w "$program" 2>/dev/null)
coproc ROBOT { wine "$robot" "$scenario" "$program_win" 2>&1; }
robot_pid=$ROBOT_PID
robot_out=${ROBOT[0]} robot_in=${ROBOT[1]}
while IFS= read -r line <&"$robot_out"; do
  line=${line%$'\r'}
  echo "$line"
  if [[ $line == "SCREENSHOT "* ]]; then
    shot="$shots/$name-${line#SCREENSHOT }.png"
    import -display "$DISPLAY" -window root "$shot"
    echo "run-gui-test: saved $shot"
    echo done >&"$robot_in"
  fi
done
status=0
wait "$robot_pid" || status=$?
exit "$status"
