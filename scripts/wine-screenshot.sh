#!/usr/bin/env bash
# Takes docs/tollmark-windows.png: the Windows front end (build-win/tollmark/tollmark.exe) under
# Wine on Xvfb, listing plcsim on a loopback address with a few files in its store, the way
# scripts/screenshot.sh takes the POSIX one. Builds nothing: run scripts/build-win.sh and build
# the POSIX plcsim first (build/bin/plcsim).
#   scripts/wine-screenshot.sh [OUTPUT.png]
# Environment: BUILD_WIN_DIR (default build-win), BUILD_DIR (default build), SCREENSHOT_ADDRESS
# (default 127.0.77.1, any 127.x.y.z), CABRIX_TEST_DISPLAY (an X display number to use).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
output=${1:-$root/docs/tollmark-windows.png}
address=${SCREENSHOT_ADDRESS:-127.0.77.1}
case "$address" in
  127.*) ;;
  *) echo "wine-screenshot: $address is not a loopback address" >&2; exit 2 ;;
esac
source scripts/wine-env.sh "${BUILD_WIN_DIR:-build-win}" wineprefix-window
source tests/wine/window_lib.sh
plcsim="${BUILD_DIR:-build}/bin/plcsim"
front="$CABRIX_WIN_BUILD/tollmark"
for f in "$plcsim" "$front/tollmark.exe" "$front/cabrix.exe"; do
  [ -f "$f" ] || { echo "wine-screenshot: $f is missing" >&2; exit 1; }
done
bash scripts/deps.sh xvfb xdotool x11-utils imagemagick fonts-dejavu-core

work=$(mktemp -d)
window_pc="$WINEPREFIX/drive_c/pc"
cleanup() {
  window_cleanup
  cabrix_wine_stop_server
  rm -rf "$work" "$window_pc"
}
trap cleanup EXIT

# The controller's store: names are Windows-1251 bytes, as a controller keeps them.
mkdir -p "$work/store" "$window_pc"
printf 'G90 G21\r\nM30\r\n' >"$work/store/main.prg"
printf 'speed;300\r\n' >"$work/store/recipe_01.csv"
printf 'speed;450\r\n' >"$work/store/recipe_02.csv"
printf '[line]\r\nid=4\r\n' >"$work/store/config.ini"
printf 'ok\r\n' >"$work/store/$(printf '\xd0\xe5\xf6\xe5\xef\xf2.txt')"  # "Рецепт.txt"
# The operator's PC folder, where the front end starts.
printf 'report\r\n' >"$window_pc/report.txt"
printf 'speed;520\r\n' >"$window_pc/recipe_03.csv"
printf '[line]\r\nid=5\r\n' >"$window_pc/setup.ini"

window_sim_log="$work/plcsim.log"
window_log="$work/tollmark.log"
"$plcsim" --store "$work/store" --tcp "$address" --log "$window_sim_log" \
  --info-line "Контроллер линии 4" >"$work/plcsim.out" 2>&1 &
window_pids+=($!)
window_wait_for 10 grep -q 'plcsim ready' "$work/plcsim.out"

cabrix_wine_stop_server
window_start_display
cabrix_wine_russian_locale
cabrix_wine_restart_server

window_start_tollmark "$(winepath -w "$front")"
# The first listing runs with "192.168.." and fails before the main window shows: answer it.
window_answer Error Return
window_take_main
window_set_tcp "$address"
window_after 'command \(dir\)' 0
window_pick_plc 0
xdotool mousemove --window "$window_main" $(($(window_half) + 300)) 300
window_settle

mkdir -p "$(dirname "$output")"
import -window "$window_main" -strip -define png:exclude-chunk=date,time "$output"
echo "wine-screenshot: saved $output"
