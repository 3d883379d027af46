#!/usr/bin/env bash
# run-gui-test.sh PREFIX SHOTS NAME PROGRAM [ARGUMENTS...]
#
# Runs a Windows program under Wine in a virtual X display of its own, in a
# 1024x768 Wine desktop (so that windows get frames drawn by Wine), with a
# persistent wineserver for the run. Each line "SCREENSHOT <shot>" the
# program prints is answered with a screenshot, SHOTS/NAME-<shot>.png, and a
# line on its stdin. Exits with the program's status.
#
# The prefix gets the fonts the programs ask for. Wine's own (Marlett draws
# the caption buttons, "MS Sans Serif" the dialogs): Debian's Wine 8 does not
# load the copies fonts-wine puts in /usr/share/wine/fonts, only the fonts in
# the prefix's C:\windows\Fonts and fontconfig's, so they are linked there.
# And for "Times New Roman" Liberation Serif, which has its metrics: Wine
# does not take fontconfig's aliases. The desktop is not named "Default":
# that one exists as soon as any program has run, as the plain root window.
# With KF_WINE_DRIVER (the path of winekfmidi.drv) the MIDI driver for Wine
# is Wine's MIDI system; without it Wine has no MIDI devices. The screen has
# 96 DPI, or KF_WINE_DPI. KF_WINE_OVERRIDES adds to Wine's DLL overrides.
set -euo pipefail
prefix=$1 shots=$2 name=$3; shift 3
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=${KF_WINE_OVERRIDES:+;$KF_WINE_OVERRIDES}"
mkdir -p "$shots"

# Xvfb picks a free display number and reports it through -displayfd.
display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" 2>/dev/null &
xvfb=$!
# Everything started here ends with the run.
cleanup() { set +e; wineserver -k; kill "$xvfb"; wait "$xvfb"; rm -f "$display_file"; } 2>/dev/null
trap cleanup EXIT
# Up to 30 s: while the sanitizer builds load the machine, 10 s were seen to be too few.
for _ in $(seq 300); do [ -s "$display_file" ] && break; sleep 0.1; done
display=$(tr -dc 0-9 <"$display_file")
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display
echo "run-gui-test: display $DISPLAY, prefix $prefix"

"$(dirname "$0")/midi_driver/driver.sh" install "$prefix" "${KF_WINE_DRIVER:-}"
ln -sf /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
reg() { wine reg add "HKCU\\$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f >/dev/null 2>&1; }
reg 'Software\Wine\Fonts\Replacements' 'Times New Roman' 'Liberation Serif'
reg 'Software\Wine\Explorer' Desktop KelmoraTest
reg 'Software\Wine\Explorer\Desktops' KelmoraTest 1024x768
reg 'Control Panel\Desktop' LogPixels "${KF_WINE_DPI:-96}" REG_DWORD

coproc PROGRAM { wine "$@" 2>&1; }
program=$PROGRAM_PID out=${PROGRAM[0]} in=${PROGRAM[1]}
while IFS= read -r line <&"$out"; do
  line=${line%$'\r'}
  echo "$line"
  if [[ $line == "SCREENSHOT "* ]]; then
    import -display "$DISPLAY" -window root "$shots/$name-${line#SCREENSHOT }.png"
    echo done >&"$in"
  fi
done
status=0
wait "$program" || status=$?
exit "$status"
