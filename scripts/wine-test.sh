#!/usr/bin/env bash
# Cross-builds the Windows programs with their platform tests into build-win/ (or $BUILD_WIN_DIR)
# and runs them under Wine: the platform tests, then cabrix.exe against the POSIX build in
# build/ (or $BUILD_DIR; its cabrix, plcsim and e2e_tests must have been built before): the
# help, a round of command lines over TCP and the serial line compared with the POSIX tool's,
# the whole end-to-end suite, and the stop of a running read through the programs' named event.
# With the front end (unless CABRIX_WIN_FRONTEND=OFF): its Windows units, the real window on Xvfb
# against plcsim (the short round from the build folder), and the installer with the window's whole
# round over TCP and COM from the installed folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh socat

bash scripts/build-win.sh -DCABRIX_WINE_TESTS=ON
build_win=${BUILD_WIN_DIR:-build-win}
frontend=${CABRIX_WIN_FRONTEND:-ON}
targets=(platform_win_tests)
[ "$frontend" = ON ] && targets+=(frontend_win_tests)
cmake --build "$build_win" --target "${targets[@]}" -j 2

rm -f "$build_win/wine-retries.log"
failed=0
run() {
  local started=$SECONDS
  echo "wine-test: $*"
  "$@" || { failed=1; echo "wine-test: FAILED: $*" >&2; }
  echo "wine-test: $* took $((SECONDS - started)) s"
}
run bash tests/wine/platform_tests.sh
run bash tests/wine/help_smoke.sh
run bash tests/wine/parity_smoke.sh
run bash tests/wine/stop_smoke.sh
run bash scripts/wine-e2e.sh
if [ "$frontend" = ON ]; then
  run bash tests/wine/frontend_units.sh
  # The installer test takes the window's whole round on the installed folder, whose programs are
  # these ones stripped: the build folder's own run is the short one, which tells a fault of the
  # window from one of the installation.
  run env CABRIX_WINDOW_STEPS=short bash tests/wine/window_test.sh
  run bash tests/wine/installer_test.sh
fi
if [ -s "$build_win/wine-retries.log" ]; then
  echo "wine-test: runs that Wine failed to start and that were started once more:"
  sed 's/^/  /' "$build_win/wine-retries.log"
fi
exit "$failed"
