#!/usr/bin/env bash
# planted_dlls.sh PREFIX SHOTS DRIVER PLANT ROBOT DIR PROGRAM...
#
# The shipped programs started from a folder DIR that also holds PLANT (a DLL
# that leaves "<its path>.loaded" when loaded, planted_dll.cpp) as winmm.dll,
# comctl32.dll and winekfmidi.drv, with Wine told to prefer a DLL of the
# program's own to its builtin one for winmm and comctl32, and the MIDI
# driver for Wine (DRIVER) as Wine's MIDI system. Passes when kelmora-flash
# lists the driver's ports, the robot sees kelmora-flasher start MIDI and end
# (Planted.*), and no planted DLL left its mark.
set -uo pipefail
prefix=$1 shots=$2 driver=$3 plant=$4 robot=$5 dir=$6
shift 6
here=$(dirname "$0")
rm -rf "$dir"
mkdir -p "$dir"
cp "$@" "$dir/"
for name in winmm.dll comctl32.dll winekfmidi.drv; do cp "$plant" "$dir/$name"; done
fail() { echo "FAIL: $*"; failed=1; }
failed=0
export KF_WINE_OVERRIDES="winmm,comctl32=n,b"

"$here/midi_driver/driver.sh" install "$prefix" "$driver"
ports=$(WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;$KF_WINE_OVERRIDES" \
  timeout -k 5 60 wine "$dir/kelmora-flash.exe" ports </dev/null 2>&1 | tr -d '\r')
"$here/midi_driver/driver.sh" stop "$prefix"
echo "$ports"
grep -q "^In00\[7A01 0011\]: MIDI Interface A In enabled$" <<<"$ports" || fail "kelmora-flash.exe did not list the driver's ports"

KF_WINE_DRIVER=$driver "$here/run-gui-test.sh" "$prefix" "$shots" planted "$robot" --gtest_filter=Planted.* \
  "Z:$dir/kelmora-flasher.exe" || fail "the robot's checks of kelmora-flasher.exe"

for mark in "$dir"/*.loaded; do
  [ -e "$mark" ] && fail "loaded: $(basename "$mark" .loaded)"
done
[ "$failed" -eq 0 ] && echo PASS
exit "$failed"
