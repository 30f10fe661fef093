#!/usr/bin/env bash
# Cross-builds the Windows programs with their platform tests into build-win/ (or $BUILD_WIN_DIR)
# and runs them under Wine: the platform tests, then cabrix.exe against the POSIX build in
# build/ (or $BUILD_DIR; its cabrix, plcsim and e2e_tests must have been built before): the
# help, a round of command lines over TCP and the serial line compared with the POSIX tool's,
# the whole end-to-end suite, and the stop of a running read through the programs' named event.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh socat

bash scripts/build-win.sh -DCABRIX_WINE_TESTS=ON
cmake --build "${BUILD_WIN_DIR:-build-win}" --target platform_win_tests -j 2

failed=0
bash tests/wine/platform_tests.sh || failed=1
bash tests/wine/help_smoke.sh || failed=1
bash tests/wine/parity_smoke.sh || failed=1
bash tests/wine/stop_smoke.sh || failed=1
bash scripts/wine-e2e.sh || failed=1
exit "$failed"
