#!/usr/bin/env bash
# Takes docs/tollmark.png: builds the front end, its two console programs and plcsim, starts
# plcsim on a loopback address with a few files in its store, starts build/tollmark/tollmark
# under Xvfb, answers the start-up error box (the address field's initial text names no
# controller), enters plcsim's address, presses Set and saves the main window with the listed
# controller. Then takes docs/tollmark-progress.png: a second plcsim on a pseudo-terminal at
# 115200 baud as COM3, the front end started again (it remembers the link, so the settings are
# seeded with COM3), a large file copied to the controller with F5, and the window with its
# progress box a few seconds into the copy. Everything it started is stopped again at the end;
# the front end's settings live in a folder of the run's own.
#
#   scripts/screenshot.sh [OUTPUT.png [PROGRESS.png]]
#
# Environment: BUILD_DIR (default build), SCREENSHOT_ADDRESS (default 127.0.77.1, any 127.x.y.z),
# DISPLAY_NUMBER (default: a free one), CANCEL_SHOT (where to save the window as the cancelled
# copy is reported; not saved by default).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
address=${SCREENSHOT_ADDRESS:-127.0.77.1}
output=${1:-$root/docs/tollmark.png}
progress_output=${2:-$(dirname "$output")/tollmark-progress.png}

case "$address" in
  127.*) ;;
  *) echo "screenshot: $address is not a loopback address" >&2; exit 2 ;;
esac

# What the screenshot needs beyond the build: a virtual X server, a way to press keys and
# buttons in it, a screen grabber, fonts with Cyrillic letters, and one with the metrics of the
# Arial that the free-space label asks for.
bash "$root/scripts/deps.sh" xvfb x11-utils xdotool imagemagick fonts-dejavu-core fonts-liberation2

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target tollmark cabrix_dialect_program cabrix plcsim

work=$(mktemp -d "${TMPDIR:-/tmp}/tollmark-shot.XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
# The front end's settings, and the serial device map of the second part.
export XDG_CONFIG_HOME="$work/xdg"
mkdir -p "$XDG_CONFIG_HOME/cabrix/dosdevices"

# Polls a command, at most $1 seconds, until it succeeds.
wait_for() {
  local limit=$1
  shift
  local tries=$((limit * 10))
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "screenshot: gave up waiting for: $*" >&2
  return 1
}

# The controller's store: names are Windows-1251 bytes, as a controller keeps them.
mkdir -p "$work/store" "$work/pc"
printf 'G90 G21\r\nM30\r\n' >"$work/store/main.prg"
printf 'speed;300\r\n' >"$work/store/recipe_01.csv"
printf 'speed;450\r\n' >"$work/store/recipe_02.csv"
printf '[line]\r\nid=4\r\n' >"$work/store/config.ini"
printf 'ok\r\n' >"$work/store/$(printf '\xd0\xe5\xf6\xe5\xef\xf2.txt')"  # "Рецепт.txt"
# The operator's PC folder, where the front end starts.
printf 'report\n' >"$work/pc/report.txt"
printf 'speed;520\n' >"$work/pc/recipe_03.csv"
printf '[line]\nid=5\n' >"$work/pc/setup.ini"

"$build/bin/plcsim" --store "$work/store" --tcp "$address" --log "$work/plcsim.log" \
  --info-line "Контроллер линии 4" >"$work/plcsim.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q "plcsim ready" "$work/plcsim.out"

# Xvfb picks a free display (or takes the one given) and writes its number once it accepts
# clients.
if [ -n "${DISPLAY_NUMBER:-}" ]; then
  Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp 2>"$work/xvfb.err" &
  pids+=($!)
  export DISPLAY=":$DISPLAY_NUMBER"
  wait_for 10 xdpyinfo
else
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.err" &
  pids+=($!)
  wait_for 10 test -s "$work/display"
  export DISPLAY=":$(head -n1 "$work/display")"
fi

(cd "$work/pc" && exec env QT_QPA_PLATFORM=xcb "$build/tollmark/tollmark") >"$work/tollmark.out" 2>&1 &
pids+=($!)

# The first listing runs with "192.168.." and fails before the main window shows: answer it.
error_box=$(timeout 30 xdotool search --sync --onlyvisible --name '^Error$' | head -n1)
xdotool windowfocus --sync "$error_box" key Return
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Form1$' | head -n1)
xdotool windowmove "$window" 0 0
wait_for 10 sh -c "xdotool getwindowgeometry '$window' | grep -q 'Position: 0,0'"

# Edit1 and Set sit in the controller half's top bar (it starts at half the width).
width=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
half=$(((width + 1) / 2))
xdotool mousemove --window "$window" $((half + 80 + 40)) 12 click 1
xdotool key ctrl+a type --delay 20 "$address"
dirs_before=$(grep -c 'command (dir)' "$work/plcsim.log" || true)
xdotool mousemove --window "$window" $((half + 184 + 37)) 12 click 1
wait_for 10 sh -c "[ \$(grep -c 'command (dir)' '$work/plcsim.log') -gt $dirs_before ]"
# The listing is in once the console program has ended; then pick the first controller file.
wait_for 10 sh -c "! pgrep -P ${pids[2]} >/dev/null"
xdotool mousemove --window "$window" $((half + 40)) 40 click 1
xdotool mousemove --window "$window" $((half + 300)) 300

# Save once two grabs in a row agree (the window has finished painting). The grabs are compared
# as raw pixels; the PNG is written without time stamps, so that an unchanged window gives an
# unchanged file.
# Saves window $1 (or the screen's area $2, WxH+X+Y) once two grabs in a row agree.
save() {
  local what=$1 crop=${2:-} file=$3 previous="" current
  local args=(-window "$what")
  [ -n "$crop" ] && args+=(-crop "$crop")
  mkdir -p "$(dirname "$file")"
  for _ in $(seq 30); do
    import "${args[@]}" "rgb:$work/shot.rgb"
    current=$(md5sum <"$work/shot.rgb")
    [ "$current" = "$previous" ] && break
    previous=$current
    sleep 0.2
  done
  import "${args[@]}" -strip -define png:exclude-chunk=date,time "$file"
  echo "screenshot: saved $file"
}
save "$window" "" "$output"

# The progress box. The first front end goes; the next one starts on the remembered COM3, where a
# plcsim at 115200 baud is, and reads a large file from it (the controller's side of the line is
# the paced one).
kill "${pids[2]}"
wait_for 10 sh -c "! kill -0 ${pids[2]}"
"$build/bin/plcsim" --store "$work/store" --pty "$XDG_CONFIG_HOME/cabrix/dosdevices/com3" --baud 115200 \
  --log "$work/plcsim-com.log" >"$work/plcsim-com.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q "plcsim ready" "$work/plcsim-com.out"
printf '[link]\nkind=COM\naddress=192.168..\nport=COM3\n' >"$XDG_CONFIG_HOME/cabrix/tollmark.ini"
mkdir -p "$work/pc-com"
head -c $((768 * 1024)) /dev/urandom >"$work/store/big_program.bin"
(cd "$work/pc-com" && exec env QT_QPA_PLATFORM=xcb "$build/tollmark/tollmark") >"$work/tollmark-com.out" 2>&1 &
pids+=($!)
tollmark_com=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Form1$' | head -n1)
xdotool windowmove "$window" 0 0
wait_for 10 sh -c "xdotool getwindowgeometry '$window' | grep -q 'Position: 0,0'"
wait_for 30 grep -q 'command (dir)' "$work/plcsim-com.log"
wait_for 30 sh -c "! pgrep -P $tollmark_com >/dev/null"
# The controller list starts at half the width, under the 28-pixel link bar; its first name is
# the large file.
xdotool mousemove --window "$window" $((half + 60)) $((28 + 8)) click 1
xdotool key F5
confirm=$(timeout 30 xdotool search --sync --onlyvisible --name '^Confirm$' | head -n1)
xdotool windowfocus --sync "$confirm" key Return
wait_for 30 sh -c "pgrep -P $tollmark_com >/dev/null"
sleep 6
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9x]*\).*/\1/p')
save root "$geometry+0+0" "$progress_output"
# Cancel on the box (the front end's window that is not the main one) stops the copy; the front
# end then lists the controller again and says so.
box=$(xdotool search --onlyvisible --pid "$tollmark_com" | grep -vx "$window" | head -n1)
xdotool mousemove --window "$box" $((400 - 12 - 37)) $((110 + 12)) click 1
notice=$(timeout 30 xdotool search --sync --onlyvisible --name '^Information$' | head -n1)
[ -n "${CANCEL_SHOT:-}" ] && save root "$geometry+0+0" "$CANCEL_SHOT"
xdotool windowfocus --sync "$notice" key Return
wait_for 30 sh -c "! pgrep -P $tollmark_com >/dev/null"
