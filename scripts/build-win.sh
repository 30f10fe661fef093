#!/usr/bin/env bash
# Cross-builds the Windows console programs with MinGW-w64 into build-win/ (or $BUILD_WIN_DIR):
# build-win/bin/cabrix.exe. Installs the cross compiler and Wine from Debian's packages when
# they are missing (as root, or through sudo). Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64

build=${BUILD_WIN_DIR:-build-win}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCABRIX_TESTS=OFF -DCABRIX_FRONTEND=OFF "$@"
cmake --build "$build" -j 2
