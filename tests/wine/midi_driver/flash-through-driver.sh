#!/usr/bin/env bash
# flash-through-driver.sh PREFIX FLASH_EXE IMAGE_TOOL DIR [BEHAVIOURS]
#
# kelmora-flash.exe flash --yes with a small image (IMAGE_TOOL writes it and
# its plain firmware into DIR), through the MIDI driver for Wine installed in
# PREFIX, in the driver behaviours given (KF_WINE_MIDI's syntax, without
# firmware=). Prints the exit code, the last lines of the flash and whether
# the firmware the instrument wrote is the image's plain firmware; exits 0
# only when both are right. A flash that hangs is ended after FLASH_TIMEOUT
# seconds (default 240).
set -uo pipefail
prefix=$1 flash=$2 tool=$3 dir=$4 behaviours=${5:-}
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$dir"
rm -f "$dir/firmware.bin"
windows() { winepath -w "$1" 2>/dev/null; }
wine "$tool" "$(windows "$dir/image.mid")" "$(windows "$dir/plain.bin")" || exit 1

export KF_WINE_MIDI="firmware=$(windows "$dir/firmware.bin")${behaviours:+,$behaviours}"
echo "KF_WINE_MIDI=$KF_WINE_MIDI"
status=0
timeout -k 10 "${FLASH_TIMEOUT:-240}" wine "$flash" --image "$(windows "$dir/image.mid")" flash --yes \
  </dev/null >"$dir/flash.log" 2>&1 || status=$?
echo "exit code: $status$([ "$status" = 124 ] && echo " (timed out)")"
tail -n 12 "$dir/flash.log" | tr '\r' '\n' | tail -n 12
if cmp -s "$dir/firmware.bin" "$dir/plain.bin"; then
  echo "firmware: equal to the image's plain firmware"
else
  echo "firmware: $( [ -f "$dir/firmware.bin" ] && echo "differs from the image's plain firmware" || echo "not written")"
  [ "$status" = 0 ] && status=1
fi
exit "$status"
