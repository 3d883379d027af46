#!/usr/bin/env bash
# install-driver.sh PREFIX DLL     install the MIDI driver for Wine
# install-driver.sh --stop PREFIX  end the prefix's wineserver
#
# The one install step of every test that uses the driver. It gets a prefix
# of its own: the other Wine tests expect a Wine without MIDI devices. The
# prefix is created as tools/wine-run creates it, DLL goes into its system32
# as winekfmidi.drv, and HKCU\Software\Wine\Drivers "Audio" = "kfmidi"
# selects it. As in tools/test-all, one persistent wineserver serves the
# tests, with Wine's background services started here, away from ctest's
# pipes (ctest would wait for them); the fixture's cleanup ends it.
set -euo pipefail
if [ "$1" = --stop ]; then
  WINEPREFIX=$2 wineserver -k 2>/dev/null || true
  exit 0
fi
prefix=$1 dll=$2
wine_run=$(cd "$(dirname "$0")/../../.." && pwd)/tools/wine-run
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A server left from an interrupted run would still serve the old driver.
wineserver -k 2>/dev/null || true
"$wine_run" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -w
cp "$dll" "$prefix/drive_c/windows/system32/winekfmidi.drv"
wineserver -p </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d kfmidi /f </dev/null >/dev/null 2>&1
echo "install-driver: winekfmidi.drv is the MIDI driver of $prefix"
