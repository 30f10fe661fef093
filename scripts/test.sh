#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ (or $BUILD_DIR) and runs every test.
# Extra arguments go to CMake's configure step, e.g. -DCABRIX_SANITIZE=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja "$@"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
