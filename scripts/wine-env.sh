# Source this to run the Windows build's programs under Wine, the way the tests do:
#   source scripts/wine-env.sh [windows build folder, default $BUILD_WIN_DIR or build-win]
#                              [prefix name, default wineprefix]
# It sets one Wine prefix under the build folder (<build>/<prefix name>), creates and initialises
# it once (bounded in time), and keeps Wine quiet and without a display, so that a message box
# returns at once instead of waiting for a click. Afterwards:
#   wine "$CABRIX_WIN_BIN/cabrix.exe" /?
#   cabrix_wine_map_com 11 /tmp/x/plc-pty     # COM11 is now that device (or link)
#   cabrix_wine_unmap_com 11
#   cabrix_wine_register_com 17 /tmp/x/plc-pty   # COM17 in the system's list of ports too
#   cabrix_wine_russian_locale                    # Wine programs with code pages 1251 and 866
# For a test harness: CABRIX_TOOL="$CABRIX_WIN_BIN/cabrix.exe" CABRIX_TOOL_LAUNCHER=wine.

_cabrix_win_build=${1:-${BUILD_WIN_DIR:-build-win}}
mkdir -p "$_cabrix_win_build"
CABRIX_WIN_BUILD=$(cd "$_cabrix_win_build" && pwd)
CABRIX_WIN_BIN="$CABRIX_WIN_BUILD/bin"
unset _cabrix_win_build

export WINEPREFIX="$CABRIX_WIN_BUILD/${2:-wineprefix}"
export WINEARCH=win64
# No debug channels: Wine's own notes would otherwise land on the programs' standard error.
export WINEDEBUG=-all
# No offers to install Mono or Gecko, no menu entries for the desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Without a display, MessageBoxA fails at once (it returns -1) rather than waiting for a click.
unset DISPLAY WAYLAND_DISPLAY

# Wine's relay trace limited to MessageBoxA: a run with WINEDEBUG=$CABRIX_WINE_MSGBOX_DEBUG
# shows every box on standard error as a line
#   <thread>:Call user32.MessageBoxA(00000000,<addr> "<text, \xNN escaped>",<addr> "cabrix",00000000)
# among lines of Wine's own (DLL loading and the like), while the box itself returns at once.
CABRIX_WINE_MSGBOX_DEBUG="-all,+relay"

# A prefix is initialised once per build folder, as <build>/wineprefix-pristine, which no
# program runs in afterwards; every named prefix starts as a copy of it, which takes a few
# seconds where an initialisation takes about twenty. The registry reaches the prefix's
# files only when the Wine server ends, hence the waits.
if [ ! -f "$WINEPREFIX/.cabrix-ready" ]; then
  _cabrix_pristine="$CABRIX_WIN_BUILD/wineprefix-pristine"
  exec {_cabrix_lock}>"$CABRIX_WIN_BUILD/.wineprefix-pristine.lock"
  flock "$_cabrix_lock"
  if [ ! -f "$_cabrix_pristine/.cabrix-ready" ]; then
    rm -rf "$_cabrix_pristine"
    if ! (export WINEPREFIX=$_cabrix_pristine
          timeout 180 wineboot -i && timeout 60 wineserver -w &&
            timeout 60 wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
              /d 'user32.MessageBoxA' /f && timeout 60 wineserver -w) >/dev/null 2>&1 ||
       ! grep -q RelayInclude "$_cabrix_pristine/user.reg"; then
      echo "wine-env: could not initialise $_cabrix_pristine" >&2
      exec {_cabrix_lock}>&-
      return 1 2>/dev/null || exit 1
    fi
    touch "$_cabrix_pristine/.cabrix-ready"
  fi
  rm -rf "$WINEPREFIX"
  cp -a "$_cabrix_pristine" "$WINEPREFIX"
  exec {_cabrix_lock}>&-
  unset _cabrix_pristine _cabrix_lock
fi

# The prefix's Wine server, started here so that it does not inherit a test's standard output
# or error. It opens the COM devices itself and, having no controlling terminal, takes the first
# pseudo-terminal it opens as its own: when the program behind that terminal ends, the server
# gets SIGHUP and writes a dump of its objects, which then lands in <build>/wineserver.log
# (<build>/<prefix name>.wineserver.log for another prefix)
# instead of in a test's captured output. It stays for 60 s after the last Wine program ends,
# so that the next run finds it; when one is running already (from an earlier run), that one
# serves.
_cabrix_server_log="$CABRIX_WIN_BUILD/wineserver.log"
[ "${2:-wineprefix}" = wineprefix ] || _cabrix_server_log="$CABRIX_WIN_BUILD/${2}.wineserver.log"
if [ -f "$_cabrix_server_log" ] && [ "$(stat -c %s "$_cabrix_server_log")" -gt 10000000 ]; then
  : >"$_cabrix_server_log"
fi
wineserver -p60 </dev/null >>"$_cabrix_server_log" 2>&1 || true
# The first program of a Wine session starts the session's services (services.exe and the
# rest), which inherit its standard output and error and keep them open as long as the server
# runs: a test reading a tool's output until the end would wait for them. A program of our own
# goes first, with its output in the log.
timeout 60 wine cmd.exe /c exit </dev/null >>"$_cabrix_server_log" 2>&1 || true
unset _cabrix_server_log

# Runs a Windows program under Wine for at most SECONDS, as `timeout SECONDS wine ...` does,
# and starts it once more if Wine itself failed to start it: status 1, and Wine's loader said so
# on standard error (now and then "wine: failed to map the shared user data: c0000018", a clash
# at the fixed address Wine maps for every process). The retry is noted in
# <build>/wine-retries.log, which scripts/wine-test.sh shows at its end; the run's own standard
# error comes out at the run's end.
#   cabrix_wine 300 "$CABRIX_WIN_BIN/cabrix.exe" /?
cabrix_wine() {
  local seconds=$1 err status try
  shift
  err=$(mktemp)
  for try in 1 2; do
    status=0
    timeout "$seconds" wine "$@" 2>"$err" || status=$?
    if [ "$try" -eq 2 ] || [ "$status" -ne 1 ] ||
       ! grep -q -E '(^|[: ])wine: (failed|could not)' "$err"; then
      break
    fi
    echo "$(date '+%F %T') Wine failed to start $*: $(grep -m1 -E 'wine: ' "$err"); started it once more" \
      >>"$CABRIX_WIN_BUILD/wine-retries.log"
  done
  cat "$err" >&2
  rm -f "$err"
  return "$status"
}

# Ends the prefix's Wine server and every Wine program still running in the prefix.
cabrix_wine_stop_server() {
  wineserver -k 2>/dev/null || true
}

# COM<n> of the Windows programs is $WINEPREFIX/dosdevices/com<n>, a link to a Unix device.
# Wine's mount manager rewrites the links of the ports it finds itself (com1 for /dev/ttyS0 and
# so on) whenever a Wine session starts, so tests use port numbers of 10 and above.
cabrix_wine_map_com() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

cabrix_wine_unmap_com() {
  rm -f "$WINEPREFIX/dosdevices/com$1"
}

# Registers COM<n> with Wine's mount manager (HKLM\Software\Wine\Ports), which makes the link
# $WINEPREFIX/dosdevices/com<n> and, unlike a bare link, puts the port into the system's list of
# DOS devices (QueryDosDeviceA), where the front end finds its ports. The mount manager reads the
# list when a Wine session starts: the port is there from the next one (cabrix_wine_restart_server).
cabrix_wine_register_com() {
  timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f \
    </dev/null >/dev/null 2>&1
}

cabrix_wine_unregister_com() {
  timeout 60 wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$1" /f </dev/null >/dev/null 2>&1
  cabrix_wine_unmap_com "$1"
}

# Ends the prefix's Wine session and starts a new one the way the sourcing did.
cabrix_wine_restart_server() {
  local log="$CABRIX_WIN_BUILD/wineserver.log"
  [ "$(basename "$WINEPREFIX")" = wineprefix ] ||
    log="$CABRIX_WIN_BUILD/$(basename "$WINEPREFIX").wineserver.log"
  wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
  wineserver -p60 </dev/null >>"$log" 2>&1 || true
  timeout 60 wine cmd.exe /c exit </dev/null >>"$log" 2>&1 || true
}

# Runs the Wine programs started from here with a Russian user locale, as an operator's PC has
# it: ANSI code page 1251 (the code page of the programs' "A" calls, their command lines
# included) and OEM code page 866. Wine takes the locale from the Unix one, and uses UTF-8 for
# Unix file names only when the Unix locale really exists; ru_RU.UTF-8 is made once into
# <build>/locale (from Debian's locales package) and reached through LOCPATH, so the system's
# own locales stay as they are.
cabrix_wine_russian_locale() {
  local dir="$CABRIX_WIN_BUILD/locale"
  if [ ! -f "$dir/ru_RU.UTF-8/LC_CTYPE" ]; then
    bash "$(dirname "${BASH_SOURCE[0]}")/deps.sh" locales || return 1
    mkdir -p "$dir"
    localedef -i ru_RU -f UTF-8 "$dir/ru_RU.UTF-8" >/dev/null 2>&1 ||
      [ -f "$dir/ru_RU.UTF-8/LC_CTYPE" ] || return 1
  fi
  # The shell itself cannot take the locale (it reads LOCPATH at its own start), and says so.
  { export LOCPATH="$dir" LC_ALL=ru_RU.UTF-8; } 2>/dev/null
}
