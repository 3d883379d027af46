#!/usr/bin/env bash
# Runs kf_progress_shots in a virtual X display of its own, inside a Wine
# virtual desktop, and takes a screenshot of the whole display each time the
# program asks for one. Passes when the program's pixel checks all passed and
# every scene has its screenshot.
#
# Usage: run-progress-shots.sh <wine-run> <wine prefix> <program.exe> <output directory>
set -euo pipefail
wine_run=$1 prefix=$2 exe=$3 out=$4
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done "$out"/*.png "$out"/result.txt "$out"/progress-shots.log

# shellcheck source=tests/wine/xvfb.sh
source "$(dirname "$0")/../xvfb.sh"
trap stop_xvfb EXIT
start_xvfb "$out/xvfb.log"
display=$DISPLAY
echo "Xvfb on $display"

# A named virtual desktop of the screen's size: Wine draws the frames and the
# screen metrics are 1024 x 768, without touching the prefix's settings.
"$wine_run" "$prefix" explorer /desktop=KfProgressShots,1024x768 "$exe" "Z:$out" \
  >"$out/program.out" 2>"$out/program.err" &
program=$!

shots=0
while kill -0 "$program" 2>/dev/null || compgen -G "$out/*.ready" >/dev/null; do
  for ready in "$out"/*.ready; do
    [ -e "$ready" ] || continue
    scene=$(basename "$ready" .ready)
    import -display "$display" -window root "$out/$scene.png"
    shots=$((shots + 1))
    rm -f "$ready"
    touch "$out/$scene.done"
  done
  sleep 0.1
done
wait "$program" || true

cat "$out/progress-shots.log" 2>/dev/null || true

# What X shows must agree with what the windows painted: every screenshot has
# the band's pure blue, and those with a "!" status the highlight's pure red.
colours_ok=1
for shot in "$out"/*.png; do
  [ -e "$shot" ] || continue
  histogram=$(convert "$shot" -format %c histogram:info:-)
  grep -q '#0000FF' <<<"$histogram" || { echo "FAIL $(basename "$shot"): no band blue"; colours_ok=0; }
  case $(basename "$shot") in
    *retry* | *error* | *bang*)
      grep -q '#FF0000' <<<"$histogram" || { echo "FAIL $(basename "$shot"): no highlight red"; colours_ok=0; } ;;
  esac
done

result=$(tail -1 "$out/result.txt" 2>/dev/null | tr -d '\r' || true)
echo "$result; $shots screenshots in $out"
[[ $result =~ ^passed\ ([0-9]+)\ failed\ 0$ ]] && [ "${BASH_REMATCH[1]}" -gt 0 ] && [ "$shots" -ge 8 ] && [ "$colours_ok" -eq 1 ]
