#!/usr/bin/env bash
# Runs the Windows platform tests under Wine. The serial tests get two COM ports joined to each
# other: socat makes a pair of pseudo-terminals that pass bytes both ways, and the Wine prefix
# maps COM11 and COM12 onto them; COM13 is a link to nothing.
#   tests/wine/platform_tests.sh [windows build folder]    (after scripts/wine-env.sh has run)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"

exe="$CABRIX_WIN_BUILD/tests/platform_win_tests.exe"
[ -x "$exe" ] || { echo "platform_tests: $exe is missing (build with -DCABRIX_WINE_TESTS=ON)" >&2; exit 1; }

work=$(mktemp -d)
socat_pid=""
cleanup() {
  if [ -n "$socat_pid" ]; then
    kill "$socat_pid" 2>/dev/null || true
    wait "$socat_pid" 2>/dev/null || true
  fi
  cabrix_wine_unmap_com 11
  cabrix_wine_unmap_com 12
  cabrix_wine_unmap_com 13
  rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/com11" pty,raw,echo=0,link="$work/com12" 2>"$work/socat.log" &
socat_pid=$!
for _ in $(seq 100); do
  [ -e "$work/com11" ] && [ -e "$work/com12" ] && break
  sleep 0.05
done
if ! [ -e "$work/com11" ] || ! [ -e "$work/com12" ]; then
  echo "platform_tests: socat made no pseudo-terminals" >&2
  cat "$work/socat.log" >&2
  exit 1
fi
cabrix_wine_map_com 11 "$work/com11"
cabrix_wine_map_com 12 "$work/com12"
cabrix_wine_map_com 13 "$work/no-such-device"

CABRIX_WINE_COM_PAIR=11,12 CABRIX_WINE_COM_DANGLING=13 cabrix_wine 300 "$exe" </dev/null
