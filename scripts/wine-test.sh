#!/usr/bin/env bash
# Cross-builds the Windows programs with their platform tests into build-win/ (or $BUILD_WIN_DIR)
# and runs them under Wine: the platform tests, then cabrix.exe against the POSIX build in
# build/ (or $BUILD_DIR; its cabrix, plcsim and e2e_tests must have been built before): the
# help, a round of command lines over TCP and the serial line compared with the POSIX tool's,
# the whole end-to-end suite, and the stop of a running read through the programs' named event.
# With the front end (unless CABRIX_WIN_FRONTEND=OFF): its Windows units, the real window on Xvfb against plcsim over TCP and COM, and the installer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh socat

bash scripts/build-win.sh -DCABRIX_WINE_TESTS=ON
build_win=${BUILD_WIN_DIR:-build-win}
frontend=${CABRIX_WIN_FRONTEND:-ON}
targets=(platform_win_tests)
[ "$frontend" = ON ] && targets+=(frontend_win_tests)
cmake --build "$build_win" --target "${targets[@]}" -j 2

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
  run bash tests/wine/window_test.sh
  run bash tests/wine/installer_test.sh
fi
exit "$failed"
