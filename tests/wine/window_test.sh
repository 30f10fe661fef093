#!/usr/bin/env bash
# The Windows front end (tollmark.exe with its two console programs) under Wine on Xvfb, driven
# with the mouse and the keyboard as an operator drives it, against plcsim over TCP and over a
# COM port that the prefix links to plcsim's pseudo-terminal: the start-up listing, Set, Copy
# both ways with the overwrite questions (Enter, which is No there, then Yes), Del, Info, and
# Cyrillic names both ways. Each step is checked in plcsim's store and in the PC folder. The Wine
# programs run with a Russian locale (code pages 1251 and 866), as on an operator's PC.
#   tests/wine/window_test.sh [windows build folder] [POSIX build folder] [front end's folder]
# The front end's folder defaults to <windows build>/tollmark; the installer test passes the
# installed one. With CABRIX_WINDOW_STEPS=short it takes the TCP link only, without the overwrite
# questions, the Cyrillic names and Info: the listing, Copy both ways and Del (scripts/wine-test.sh
# runs that on the build folder and the whole round through the installer test). Environment:
# CABRIX_TEST_DISPLAY (an X display number to use; default the first free one),
# CABRIX_WINE_WINDOW_ADDRESS (default 127.0.44.1), CABRIX_KEEP_FAILED (keep the work folder of a
# failed run).
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$PWD
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}" "${CABRIX_WINE_WINDOW_PREFIX:-wineprefix-window}"
source tests/wine/window_lib.sh
posix_bin=$(cd "${2:-${BUILD_DIR:-build}}/bin" && pwd)
front=${3:-$CABRIX_WIN_BUILD/tollmark}
for f in "$posix_bin/plcsim" "$front/tollmark.exe" "$front/cabrix.exe" "$front/cabrix_old.exe"; do
  [ -f "$f" ] || { echo "window_test: $f is missing" >&2; exit 1; }
done
bash scripts/deps.sh xvfb xdotool x11-utils imagemagick fonts-dejavu-core

readonly address=${CABRIX_WINE_WINDOW_ADDRESS:-127.0.44.1} com=17
case "$address" in
  127.*) ;;
  *) echo "window_test: $address is not a loopback address" >&2; exit 2 ;;
esac

steps=${CABRIX_WINDOW_STEPS:-all}
case "$steps" in
  all | short) ;;
  *) echo "window_test: no steps named $steps" >&2; exit 2 ;;
esac
work=$(mktemp -d)
window_pc="$WINEPREFIX/drive_c/pc"
failed=1
cleanup() {
  window_cleanup
  cabrix_wine_stop_server
  rm -rf "$window_pc"
  if [ "$failed" -ne 0 ] && [ -n "${CABRIX_KEEP_FAILED:-}" ]; then
    echo "window_test: work folder kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# Names on the controller are Windows-1251 bytes; in the PC folder, Unix file names, UTF-8.
cyr_recipe_1251=$(printf '\xd0\xe5\xf6\xe5\xef\xf2.txt')   # Рецепт.txt
cyr_report_1251=$(printf '\xce\xf2\xf7\xe5\xf2.txt')       # Отчет.txt
mkdir -p "$work/store"
# The front end remembers its link between runs; each run starts as the first start ever.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/cabrix
rm -rf "$window_pc"
mkdir -p "$window_pc"
printf 'alpha\r\n' >"$work/store/alpha.txt"
head -c 3000 /dev/urandom >"$work/store/beta.bin"
printf 'speed;300\r\n' >"$work/store/$cyr_recipe_1251"
head -c 20000 /dev/urandom >"$window_pc/program.bin"
printf 'notes\r\n' >"$window_pc/notes.txt"
printf 'report\r\n' >"$window_pc/Отчет.txt"

window_sim_log="$work/plcsim.log"
window_log="$work/tollmark.log"
window_shots="$work"
"$posix_bin/plcsim" --store "$work/store" --tcp "$address" --pty "$work/com$com" \
  --log "$window_sim_log" --info-line "Контроллер линии 4" >"$work/plcsim.out" 2>&1 &
window_pids+=($!)
window_wait_for 10 grep -q 'plcsim ready' "$work/plcsim.out"
[ "$steps" = short ] || cabrix_wine_register_com "$com" "$work/com$com"

# The session starts again with the display and the locale of the window.
cabrix_wine_stop_server
window_start_display
cabrix_wine_russian_locale
cabrix_wine_restart_server

step() { echo "window_test: $*"; }
same() { cmp -s "$1" "$2" || window_fail "$1 and $2 differ"; }

step "start-up: the address field's initial text names no controller"
window_start_tollmark "$(winepath -w "$front")"
window_answer Error Return
window_take_main
[ "$(window_count 'command \(dir\)')" -eq 0 ] || window_fail "a listing reached plcsim"
window_settle

step "Set: TCP $address"
n=$(window_count 'tcp#.*command \(dir\)')
window_set_tcp "$address"
window_after 'tcp#.*command \(dir\)' "$n"
# The list: alpha.txt, beta.bin, Рецепт.txt. The PC folder: notes.txt, program.bin, Отчет.txt.

step "Copy to the controller: program.bin"
window_pick_pc 1
window_press Copy
window_answer Confirm Return
window_after_refresh 'tcp#.*stored program.bin' 0
same "$work/store/program.bin" "$window_pc/program.bin"
# The list: alpha.txt, beta.bin, program.bin, Рецепт.txt.

full() { [ "$steps" = all ]; }
if full; then
  step "Copy to the controller again: Enter to the overwrite question is No, then Yes"
  cp "$work/store/program.bin" "$work/program.before"
  head -c 7000 /dev/urandom >"$window_pc/program.bin"
  n=$(window_count 'tcp#.*writing program.bin')
  window_pick_pc 1
  window_press Copy
  window_answer Confirm Return
  window_answer Confirm Return
  window_settle
  same "$work/store/program.bin" "$work/program.before"
  window_pick_pc 1
  window_press Copy
  window_answer Confirm Return
  window_answer Confirm y
  window_after_refresh 'tcp#.*stored program.bin' 1
  same "$work/store/program.bin" "$window_pc/program.bin"
  # One write since the No: a No taken for a Yes would have written the file before it.
  [ "$(window_count 'tcp#.*writing program.bin')" -eq $((n + 1)) ] || window_fail "No wrote the file"
fi

step "Copy to the PC: alpha.txt$(full && echo ", then again over the changed file")"
window_pick_plc 0
window_press Copy
window_answer Confirm Return
window_after_refresh 'tcp#.*sent alpha.txt' 0
same "$window_pc/alpha.txt" "$work/store/alpha.txt"
if full; then
  printf 'alpha, second\r\n' >"$work/store/alpha.txt"
  window_pick_plc 0
  window_press Copy
  window_answer Confirm Return
  window_answer Confirm y
  window_after_refresh 'tcp#.*sent alpha.txt' 1
  same "$window_pc/alpha.txt" "$work/store/alpha.txt"
  # The PC folder: alpha.txt, notes.txt, program.bin, Отчет.txt.

  step "Cyrillic names: Рецепт.txt to the PC, Отчет.txt to the controller"
  window_pick_plc 3
  window_press Copy
  window_answer Confirm Return
  window_after_refresh 'tcp#.*sent ' 2
  same "$window_pc/Рецепт.txt" "$work/store/$cyr_recipe_1251"
  # The PC folder: alpha.txt, notes.txt, program.bin, Отчет.txt, Рецепт.txt.
  window_pick_pc 3
  window_press Copy
  window_answer Confirm Return
  window_after_refresh 'tcp#.*stored ' 2
  same "$work/store/$cyr_report_1251" "$window_pc/Отчет.txt"
  # The list: alpha.txt, beta.bin, program.bin, Отчет.txt, Рецепт.txt.
fi

step "Del: beta.bin"
window_pick_plc 1
window_press Del
window_answer Confirm y
window_after_refresh 'tcp#.*deleted beta.bin' 0 1
[ ! -e "$work/store/beta.bin" ] || window_fail "beta.bin is still in the store"
if full; then
  # The list: alpha.txt, program.bin, Отчет.txt, Рецепт.txt.

  step "Info"
  n=$(window_count 'tcp#.*command \(info\)')
  window_press Info
  window_find 'PLC Info' 60 >/dev/null || window_fail "no PLC Info dialog"
  [ "$(window_count 'tcp#.*command \(info\)')" -gt "$n" ] || window_fail "no information request"
  window_answer 'PLC Info' Return
  window_idle

  step "Set: COM$com, then Copy both ways and Del over the serial line"
  n=$(window_count 'pty#.*command \(dir\)')
  window_set_com "$com"
  window_after 'pty#.*command \(dir\)' "$n"
  printf 'notes, second\r\n' >"$window_pc/notes.txt"
  window_pick_pc 1
  window_press Copy
  window_answer Confirm Return
  window_after_refresh 'pty#.*stored notes.txt' 0
  same "$work/store/notes.txt" "$window_pc/notes.txt"
  # The list: alpha.txt, notes.txt, program.bin, Отчет.txt, Рецепт.txt.
  rm "$window_pc/program.bin"
  window_pick_plc 2
  window_press Copy
  window_answer Confirm Return
  window_after_refresh 'pty#.*sent program.bin' 0
  same "$window_pc/program.bin" "$work/store/program.bin"
  window_pick_plc 0
  window_press Del
  window_answer Confirm y
  window_after_refresh 'pty#.*deleted alpha.txt' 0 1
  [ ! -e "$work/store/alpha.txt" ] || window_fail "alpha.txt is still in the store"
fi

failed=0
step "passed"
