#!/usr/bin/env bash
# driver.sh install PREFIX [DLL]  make PREFIX a Wine prefix whose MIDI system is
#                                 the driver DLL (without one: no MIDI devices),
#                                 with a persistent wineserver
# driver.sh stop PREFIX           end that wineserver
# driver.sh flash PREFIX FLASH_EXE IMAGES DIR BEHAVIOURS [busy]
#   kelmora-flash.exe flashes IMAGES/small.mid (--yes) through the driver in
#   the behaviours given (KF_WINE_MIDI's syntax); the instrument writes the
#   firmware it received into DIR. Passes when the flash ends with "Upload
#   Complete", exit code 0 and the instrument holding the image's plain
#   firmware; with "busy" (another program holds the instrument's input) when
#   the command line names that input and why, finds no instrument, exits 1,
#   and the instrument received no firmware.
#
# The driver gets prefixes of its own: the other Wine tests expect a Wine
# without MIDI devices. Wine's background services start at the install,
# away from ctest's pipes, which ctest would otherwise wait for.
set -uo pipefail
command=$1 prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case $command in
  stop) wineserver -k 2>/dev/null; exit 0 ;;
  install)
    set -e
    # A server left from an interrupted run would serve an old driver, or a display that is gone.
    wineserver -k 2>/dev/null || true
    if [ ! -f "$prefix/.ready" ]; then  # a new prefix: its first server must end before a persistent one starts
      "$(dirname "$0")/../../../tools/wine-run" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    wineserver -p </dev/null >/dev/null 2>&1
    if [ -n "${3:-}" ]; then
      cp "$3" "$prefix/drive_c/windows/system32/winekfmidi.drv"
      wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d kfmidi /f </dev/null >/dev/null 2>&1
    else
      wine reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f </dev/null >/dev/null 2>&1 || true
    fi
    exit 0 ;;
esac
flash=$3 images=$4 dir=$5 expect=${7:-flash}
export KF_WINE_MIDI="firmware=Z:$dir/firmware.bin,$6"
mkdir -p "$dir"
rm -f "$dir/firmware.bin"
status=0
timeout -k 10 240 wine "$flash" --image "Z:$images/small.mid" flash --yes </dev/null >"$dir/flash.log" 2>&1 ||
  status=$?
tr '\r' '\n' <"$dir/flash.log" | grep -v '^$' | tail -n 8
echo "KF_WINE_MIDI=$KF_WINE_MIDI: exit code $status"
fail() { echo "FAIL: $*"; exit 1; }
if [ "$expect" = busy ]; then
  [ "$status" = 1 ] || fail "exit code $status, not 1"
  grep -qi "MIDI Interface A In.*in use" "$dir/flash.log" || fail "the input it could not open, and why, not named"
  grep -q "no device to flash" "$dir/flash.log" || fail "an instrument found"
  [ ! -s "$dir/firmware.bin" ] || fail "the instrument received firmware"
else
  [ "$status" = 0 ] && grep -q "Upload Complete" "$dir/flash.log" || fail "no \"Upload Complete\" with exit code 0"
  cmp -s "$dir/firmware.bin" "$images/small.plain" || fail "the instrument's firmware is not the image's"
fi
echo PASS
