#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-win/ (or $BUILD_WIN_DIR):
#   build-win/bin/cabrix.exe                     the console tool
#   build-win/tollmark/tollmark.exe              the front end (static Qt, no DLLs), beside
#   build-win/tollmark/cabrix.exe, cabrix_old.exe   its two console programs
#   build-win/packages/Tollmark-<version>-setup.exe, Tollmark-<version>-portable.zip
# The front end needs Qt for MinGW: scripts/qt-mingw.sh builds it once from Debian's source into
# a cache outside the checkout (about 20 minutes on two cores) and reuses it afterwards. With
# CABRIX_WIN_FRONTEND=OFF only the console programs are built, without Qt. Installs what it
# needs from Debian's packages (as root, or through sudo). Extra arguments go to CMake's
# configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64

build=${BUILD_WIN_DIR:-build-win}
frontend=${CABRIX_WIN_FRONTEND:-ON}
if [ "$frontend" = ON ]; then
  # The icon is drawn as SVG and made into an .ico; the installer is made with NSIS.
  bash scripts/deps.sh librsvg2-bin icoutils nsis
  qt=$(bash scripts/qt-mingw.sh)
  # Qt's toolchain file finds Qt and chains the project's MinGW toolchain.
  toolchain="$qt/lib/cmake/Qt6/qt.toolchain.cmake"
else
  toolchain="$PWD/cmake/mingw-w64-x86_64.cmake"
fi

# CMake keeps the toolchain of a folder's first configuration: a folder configured with another
# one is configured afresh (its Wine prefix stays).
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qxE "CMAKE_TOOLCHAIN_FILE:[A-Z]+=$(printf '%s' "$toolchain" | sed 's/[][\.*^$+?(){}|/]/\\&/g')" \
     "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCABRIX_TESTS=OFF -DCABRIX_FRONTEND="$frontend" "$@"
cmake --build "$build" -j 2
