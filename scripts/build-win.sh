#!/usr/bin/env bash
# Cross-builds the Windows console programs with MinGW-w64 into build-win/ (or $BUILD_WIN_DIR):
# build-win/bin/cabrix.exe. Installs the cross compiler and Wine from Debian's packages when
# they are missing (as root, or through sudo). Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

build=${BUILD_WIN_DIR:-build-win}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCABRIX_TESTS=OFF -DCABRIX_FRONTEND=OFF "$@"
cmake --build "$build" -j 2
