# Driving the Windows front end under Wine on Xvfb the way an operator does: mouse clicks at the
# controls' places and keys, through xdotool. Sourced by the window tests and the screenshot
# script after scripts/wine-env.sh; they call window_cleanup on exit.
#   window_start_display              an Xvfb of its own (display $CABRIX_TEST_DISPLAY, or the
#                                     first free one), with DISPLAY exported
#   window_start_tollmark DIR         runs DIR\tollmark.exe (a Windows path) in the PC folder
#                                     $window_pc, its output in $window_log
#   window_set_tcp ADDRESS | window_set_com N
#   window_pick_pc I | window_pick_plc I    clicks the list and moves to its item I (from 0)
#   window_press Del|Copy|Dir|Info    the bottom bar's buttons
#   window_answer TITLE KEY           waits for the box of that title and answers it with KEY
#   window_after REGEX N              waits until plcsim's log has more than N lines matching
#                                     REGEX (window_count REGEX tells how many it has now) and
#                                     the front end has finished with its console programs
#   window_after_refresh REGEX N      the same, then also the listing that follows a copy or
#                                     a delete
# Every wait is bounded; a wait that gives up fails the test with a line on standard error (and a
# picture of the screen in $window_shots, when that names a folder).

window_pids=()
window_main=""
window_tollmark_pid=""

window_fail() {
  echo "window: $*" >&2
  # What the screen showed, for a look afterwards.
  if [ -n "${window_shots:-}" ] && [ -n "${DISPLAY:-}" ]; then
    import -window root "$window_shots/failure-$(date +%s%N).png" 2>/dev/null || true
  fi
  return 1
}

window_cleanup() {
  local pid
  for pid in "${window_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${window_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  window_pids=()
}

# Polls a command, at most $1 seconds, until it succeeds.
window_wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  window_fail "gave up waiting for: $*"
}

window_start_display() {
  local fd_file
  fd_file=$(mktemp)
  if [ -n "${CABRIX_TEST_DISPLAY:-}" ]; then
    Xvfb ":$CABRIX_TEST_DISPLAY" -screen 0 1024x768x24 -nolisten tcp 2>"$fd_file.err" &
    window_pids+=($!)
    echo "$CABRIX_TEST_DISPLAY" >"$fd_file"
    window_wait_for 10 xdpyinfo -display ":$CABRIX_TEST_DISPLAY" || return 1
  else
    # Xvfb picks a free display and writes its number once it accepts clients.
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fd_file" 2>"$fd_file.err" &
    window_pids+=($!)
    window_wait_for 10 test -s "$fd_file" || return 1
  fi
  export DISPLAY=":$(head -n1 "$fd_file")"
  rm -f "$fd_file" "$fd_file.err"
}

# True while a console program that the front end started runs in this prefix.
window_child_running() {
  local pid
  for pid in $(pgrep -f 'cabrix(_old)?\.exe' || true); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      return 0
    fi
  done
  return 1
}

# Two grabs of the main window in a row that agree: the window has finished painting.
window_settle() {
  local previous="" current
  for _ in $(seq 50); do
    current=$(import -window "$window_main" rgb:- 2>/dev/null | md5sum)
    [ "$current" = "$previous" ] && return 0
    previous=$current
    sleep 0.2
  done
  window_fail "the window kept changing"
}

# Waits until no console program runs and the window is still.
window_idle() {
  for _ in $(seq 1200); do
    window_child_running || break
    sleep 0.1
  done
  ! window_child_running || { window_fail "a console program still runs"; return 1; }
  window_settle
}

# After a copy either way or a delete the window lists the controller again, and the
# window takes input meanwhile: waits as window_after does, then for that listing, the first
# since the last window_press. A delete's console program lists the controller itself first, to
# check the name is gone: $3 (default 0) counts such listings before the window's own.
window_after_refresh() {
  window_after "$1" "$2" && window_after 'command \(dir\)' "$((window_dirs + ${3:-0}))"
}

# How many lines of plcsim's log ($window_sim_log) match an extended regular expression.
window_count() {
  LC_ALL=C grep -acE "$1" "$window_sim_log" 2>/dev/null || true
}

# Waits until more than $2 lines of plcsim's log match $1, then until the front end is idle.
window_after() {
  window_wait_for 120 sh -c "[ \$(LC_ALL=C grep -acE '$1' '$window_sim_log') -gt $2 ]" || return 1
  window_idle
}

window_find() {
  timeout "${2:-60}" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n1
}

# Waits for the box titled $1, answers it with the key $2 and waits until it is gone.
window_answer() {
  local box
  box=$(window_find "$1") || true
  [ -n "$box" ] || { window_fail "no \"$1\" box"; return 1; }
  # A click on the box gives it the keyboard.
  xdotool mousemove --window "$box" 5 5 click 1
  xdotool key --clearmodifiers "$2"
  window_wait_for 30 sh -c "! xdotool search --onlyvisible --name '^$1\$' | grep -qx '$box'"
}

# Clicks at x, y of the main window's client area.
window_click() {
  xdotool mousemove --window "$window_main" "$1" "$2" click 1
}

window_width() {
  xdotool getwindowgeometry "$window_main" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p'
}

window_height() {
  xdotool getwindowgeometry "$window_main" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p'
}

# The controller half starts at half the client width; its top bar holds the link choice.
window_half() {
  local width
  width=$(window_width)
  echo $(((width + 1) / 2))
}

window_type_into() {
  window_click "$1" "$2"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 30 "$3"
}

window_start_tollmark() {
  local dir=$1
  (cd "$window_pc" && exec wine "$dir\\tollmark.exe") >>"$window_log" 2>&1 &
  window_tollmark_pid=$!
  window_pids+=($window_tollmark_pid)
}

# After the first listing: the main window, placed at the screen's corner.
window_take_main() {
  window_main=$(window_find Form1 60) || true
  [ -n "$window_main" ] || { window_fail "no main window"; return 1; }
  xdotool windowmove "$window_main" 0 0
  window_wait_for 10 sh -c "xdotool getwindowgeometry '$window_main' | grep -q 'Position: 0,0'"
}

window_press() {
  window_dirs=$(window_count 'command \(dir\)')
  local x
  case "$1" in
    Del) x=8 ;;
    Copy) x=96 ;;
    Dir) x=184 ;;
    Info) x=272 ;;
    *) window_fail "no button $1"; return 1 ;;
  esac
  window_click $((x + 37)) $(($(window_height) - 41 + 8 + 12))
}

# The link kind (TCP or COM) in its drop-down, the address or port in the field beside it (for
# COM the port drop-down, at the same place), then Set.
window_set_link() {
  local half
  half=$(window_half)
  window_type_into $((half + 6 + 30)) 12 "$1"
  window_type_into $((half + 80 + 40)) 12 "$2"
  window_click $((half + 184 + 37)) 12
}

window_set_tcp() { window_set_link TCP "$1"; }
window_set_com() { window_set_link COM "COM$1"; }

# Clicks the first item of a list, then walks down to item $3.
window_pick() {
  window_click "$1" "$2"
  xdotool key --clearmodifiers Home
  local i
  for ((i = 0; i < $3; i++)); do xdotool key --clearmodifiers Down; done
}

window_pick_plc() { window_pick $(($(window_half) + 40)) 38 "$1"; }
window_pick_pc() { window_pick $((168 + 40)) 38 "$1"; }
