#!/usr/bin/env bash
# Builds the Debian package of the console tool, plcsim and the front end in Release into
# build-deb/ (or $BUILD_DEB_DIR): build-deb/packages/cabrix_<version>_<arch>.deb. Installs what
# it needs from Debian's packages when it is missing (as root, or through sudo). Install the
# package with: apt-get install ./build-deb/packages/cabrix_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
# dpkg-shlibdeps (dpkg-dev, with file) computes the package's dependencies from its programs;
# rsvg-convert draws the icon at the desktop's sizes.
bash scripts/deps.sh dpkg-dev file librsvg2-bin

build=${BUILD_DEB_DIR:-build-deb}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCABRIX_TESTS=OFF "$@"
cmake --build "$build" -j "$(nproc)"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB)
ls "$build"/packages/*.deb
