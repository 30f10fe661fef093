#!/usr/bin/env bash
# Runs the end-to-end tests of the POSIX build (build/ or $BUILD_DIR, which holds plcsim and the
# test programs) against the Windows tool under Wine (build-win/ or $BUILD_WIN_DIR). Extra
# arguments go to ctest; without a -R among them, every test of the e2e_tests program runs.
#   scripts/wine-e2e.sh [ctest arguments]
# The tests see CABRIX_TOOL (the .exe), CABRIX_TOOL_LAUNCHER=wine and WINEPREFIX; a test that
# needs COM<n> links $WINEPREFIX/dosdevices/com<n> to plcsim's pseudo-terminal (n from 30 up,
# one number per test, since all tests share the prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
posix_build=${BUILD_DIR:-build}
source scripts/wine-env.sh "${BUILD_WIN_DIR:-build-win}"

[ -x "$CABRIX_WIN_BIN/cabrix.exe" ] || { echo "wine-e2e: $CABRIX_WIN_BIN/cabrix.exe is missing" >&2; exit 1; }
suite="$posix_build/tests/e2e_tests"
[ -x "$suite" ] || { echo "wine-e2e: $suite is missing (build the target e2e_tests)" >&2; exit 1; }
export CABRIX_TOOL="$CABRIX_WIN_BIN/cabrix.exe"
export CABRIX_TOOL_LAUNCHER=wine

# Links of the tests' ports that a killed run left behind; no test of this run has begun yet.
for n in $(seq 30 250); do
  link="$WINEPREFIX/dosdevices/com$n"
  if [ -L "$link" ] && [ ! -e "$link" ]; then rm -f "$link"; fi
done

if [[ " $* " != *" -R "* ]]; then
  # The suites of e2e_tests ("Links/Upload." and the like), as a ctest name pattern.
  suites=$("$suite" --gtest_list_tests | sed -n -E 's/^([A-Za-z0-9_/]+)\.$/\1/p' | paste -sd '|')
  [ -n "$suites" ] || { echo "wine-e2e: $suite lists no tests" >&2; exit 1; }
  set -- -R "^($suites)\\." "$@"
fi
ctest --test-dir "$posix_build" --output-on-failure -j 2 --timeout 300 "$@"
