#!/usr/bin/env bash
# Runs the front end's Windows units under Wine (frontend_win_tests.exe): the runner against real
# Windows child processes, the DOS device list with a COM port registered in the prefix (linked
# to a file, which is all the list needs), and the drives with the free space of drive C, which
# the test compares with what the file system says.
#   tests/wine/frontend_units.sh [windows build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"

exe="$CABRIX_WIN_BUILD/tests/frontend_win_tests.exe"
[ -f "$exe" ] || { echo "frontend_units: $exe is missing (build with -DCABRIX_WINE_TESTS=ON)" >&2; exit 1; }

readonly com=19
work=$(mktemp -d)
cleanup() {
  cabrix_wine_unregister_com "$com" || true
  cabrix_wine_restart_server
  rm -rf "$work"
}
trap cleanup EXIT
: >"$work/com$com"
cabrix_wine_register_com "$com" "$work/com$com"
cabrix_wine_restart_server

total=$(stat -f -c '%b * %S' "$WINEPREFIX/drive_c/")
CABRIX_WINE_COM_LISTED=$com CABRIX_WINE_C_TOTAL_BYTES=$((total)) cabrix_wine 300 "$exe" </dev/null
