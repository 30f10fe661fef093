#!/usr/bin/env bash
# Runs the end-to-end tests of the POSIX build (build/ or $BUILD_DIR, which holds plcsim and the
# test programs) against the Windows tool under Wine (build-win/ or $BUILD_WIN_DIR). Extra
# arguments go to ctest; by default the tests whose names hold "e2e" (in any case) run.
#   scripts/wine-e2e.sh [ctest arguments]
# The tests see CABRIX_TOOL (the .exe), CABRIX_TOOL_LAUNCHER=wine and WINEPREFIX; a test that
# needs COM<n> links $WINEPREFIX/dosdevices/com<n> to plcsim's pseudo-terminal (n of 10 and
# above, one number per test, since all tests share the prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
posix_build=${BUILD_DIR:-build}
source scripts/wine-env.sh "${BUILD_WIN_DIR:-build-win}"

[ -x "$CABRIX_WIN_BIN/cabrix.exe" ] || { echo "wine-e2e: $CABRIX_WIN_BIN/cabrix.exe is missing" >&2; exit 1; }
export CABRIX_TOOL="$CABRIX_WIN_BIN/cabrix.exe"
export CABRIX_TOOL_LAUNCHER=wine
[ $# -gt 0 ] || set -- -R '[Ee]2[Ee]'
ctest --test-dir "$posix_build" --output-on-failure -j 2 --timeout 300 "$@"
