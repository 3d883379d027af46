#!/usr/bin/env bash
# driver.sh install PREFIX [DLL]  make PREFIX a Wine prefix whose MIDI system is
#                                 the driver DLL (without one: no MIDI devices),
#                                 with a persistent wineserver
# driver.sh stop PREFIX           end that wineserver
# driver.sh flash PREFIX FLASH_EXE IMAGES DIR BEHAVIOURS [EXPECT]
#   kelmora-flash.exe flashes IMAGES/small.mid (--yes, with a transcript)
#   through the driver in the behaviours given (KF_WINE_MIDI's syntax); the
#   instrument writes the firmware it received into DIR. Every run: the
#   driver's closing line shows that each behaviour did something (early
#   input may lose nothing). EXPECT:
#   flash    (the default) "Upload Complete", exit code 0, one device found
#            and the instrument holding the image's plain firmware
#   clean    as flash, and no message was sent twice: the instrument heard
#            as many as in a run without behaviours (79)
#   busy     another program holds the instrument's input: the command line
#            names that input and why, finds no instrument, exits 1, and the
#            instrument received no firmware
#   lost     the interface went away: one "MIDI Connection Lost" box naming
#            its port, in the transcript too, exit code 4, within 20 s
#   errors   answered by hand (OK to start, then end of input): the
#            "Device reports Transfer Errors" box after a minute of
#            refusals, "Upload Error", exit code 1
#   refused  a behaviour the driver does not know: refused, no ports, exit 1
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
rm -f "$dir/firmware.bin" "$dir/transcript.txt"
yes=--yes input=/dev/null
[ "$expect" = errors ] && { yes=; input=$dir/answers; printf 'o\n' >"$input"; }
status=0 began=$SECONDS
timeout -k 10 240 wine "$flash" --image "Z:$images/small.mid" --transcript "Z:$dir/transcript.txt" flash $yes \
  <"$input" >"$dir/flash.log" 2>&1 || status=$?
took=$((SECONDS - began))
tr '\r' '\n' <"$dir/flash.log" | grep -v '^$' | tail -n 8
echo "KF_WINE_MIDI=$KF_WINE_MIDI: exit code $status after $took s"
fail() { echo "FAIL: $*"; exit 1; }
box() { grep -q "^[0-9]* BOX $1 |" "$dir/transcript.txt" 2>/dev/null || fail "no \"$1\" box in the transcript"; }
world=$(grep 'winekfmidi: world:' "$dir/flash.log" | tail -n 1)
case ${world/early-input: 0 /} in
  *": 0 "* | *"not reached"*) fail "a behaviour did nothing: $world" ;;
esac
case $expect in
  busy)
    [ "$status" = 1 ] || fail "exit code $status, not 1"
    grep -qi "MIDI Interface A In.*in use" "$dir/flash.log" || fail "the input it could not open, and why, not named"
    grep -q "no device to flash" "$dir/flash.log" || fail "an instrument found"
    [ ! -s "$dir/firmware.bin" ] || fail "the instrument received firmware" ;;
  lost)
    [ "$status" = 4 ] || fail "exit code $status, not 4"
    [ "$(grep -c '== MIDI Connection Lost ==' "$dir/flash.log")" = 1 ] || fail "not one \"MIDI Connection Lost\" box"
    grep -Eq 'The MIDI port "MIDI Interface A (In|Out)" went away' "$dir/flash.log" || fail "the interface not named"
    box "MIDI Connection Lost"
    [ "$took" -le 20 ] || fail "$took s to the end" ;;
  errors)
    [ "$status" = 1 ] || fail "exit code $status, not 1"
    box "Device reports Transfer Errors"
    box "Upload Error" ;;
  refused)
    [ "$status" = 1 ] || fail "exit code $status, not 1"
    grep -q "winekfmidi: KF_WINE_MIDI refused: unknown behaviour" "$dir/flash.log" || fail "not refused"
    grep -q "No MIDI Inputs are found!" "$dir/flash.log" || fail "the driver offered ports" ;;
  *)
    [ "$status" = 0 ] && grep -q "Upload Complete" "$dir/flash.log" || fail "no \"Upload Complete\" with exit code 0"
    grep -q "^1 device found" "$dir/flash.log" || fail "not exactly one device found"
    cmp -s "$dir/firmware.bin" "$images/small.plain" || fail "the instrument's firmware is not the image's"
    if [ "$expect" = clean ]; then
      grep -q "winekfmidi: instrument heard 79 messages" "$dir/flash.log" || fail "a message was sent again"
    fi ;;
esac
echo "PASS: $world"
