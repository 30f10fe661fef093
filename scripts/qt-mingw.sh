#!/usr/bin/env bash
# Builds a static Qt 6 (Core, Gui, Widgets, the Windows platform plugin) for 64-bit Windows with
# Debian's MinGW-w64 compiler, from Debian's own qt6-base source of the same version as the
# host's qt6-base-dev (whose moc, rcc and uic serve as the host tools), and prints the prefix:
#   qt=$(bash scripts/qt-mingw.sh)
#   cmake ... -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake"
# The prefix lives in a cache outside the checkout, $CABRIX_QT_MINGW_CACHE (default
# ~/.cache/cabrix/qt-mingw), in a folder named by the Qt version and a digest of the configure
# options and the MinGW toolchain file; a complete one is reused at once. Only a build that
# succeeded and an install that holds the platform plugin are marked complete: a prefix without
# the mark is removed and built again (the build folder beside it is kept, so that a second try
# resumes where the first stopped). Building takes about 25 minutes on two idle cores.
# Installs what it needs from Debian's packages; adds a deb-src entry for the mirror and suite
# the host's Qt came from, in a file of its own under /etc/apt/sources.list.d/.
# Everything but the prefix goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

bash scripts/deps.sh cmake ninja-build perl dpkg-dev g++-mingw-w64-x86-64-posix qt6-base-dev \
  qt6-base-dev-tools

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
options=(
  # Built for size: the window's speed is the controller link's, and -Os compiles faster than
  # -O3 and makes a smaller program.
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
  -DFEATURE_testlib=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_icu=OFF
  # Debian's source leaves out src/3rdparty/wintab, which tablet events need.
  -DFEATURE_tabletevent=OFF
  # Nothing the window does not use: the Windows plugin draws text with GDI and its icons come
  # from the system, so no Direct2D plugin, no FreeType and no image formats but the built-in PNG.
  # Without Direct2D, 6.4.2 leaves out the DirectWrite font database but the plugin still refers
  # to it unless DirectWrite 3 is off too.
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF
  -DFEATURE_gif=OFF -DFEATURE_ico=OFF
  # The Windows platform plugin of 6.4.2 does not compile without OpenGL.
  -DFEATURE_opengl=ON -DINPUT_opengl=desktop
  # Nothing of the cross sysroot but the Windows API: the bundled libraries.
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_textmarkdownreader=OFF
  -DFEATURE_system_libb2=OFF
)
toolchain_src=cmake/mingw-w64-x86_64.cmake
key=$({ printf '%s\n' "$qt_version" "${options[@]}"; cat "$toolchain_src"; } | sha256sum | cut -c1-12)

cache=${CABRIX_QT_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/cabrix/qt-mingw}
name="qt-${qt_version//[^A-Za-z0-9.+-]/_}-$key"
prefix="$cache/$name"
build="$cache/$name.build"
mark="$prefix/.cabrix-complete"
mkdir -p "$cache"

if [ -f "$mark" ]; then
  echo "qt-mingw: reusing $prefix"
  echo "$prefix" >&3
  exit 0
fi

# One build at a time per cache; a second caller waits for the first and then reuses its result.
exec 4>"$cache/.lock"
flock 4
if [ -f "$mark" ]; then
  echo "qt-mingw: reusing $prefix"
  echo "$prefix" >&3
  exit 0
fi

started=$(date +%s)
src_root="$cache/src-${qt_version//[^A-Za-z0-9.+-]/_}"
if [ ! -f "$src_root/.cabrix-unpacked" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Same mirror and suite as the installed qt6-base-dev, read from apt's own version table:
  #  *** 6.4.2+dfsg-10 500
  #         500 http://deb.debian.org/debian bookworm/main amd64 Packages
  origin=$(apt-cache policy qt6-base-dev |
    awk '/^ \*\*\* /{found=1; next} found && $2 ~ /^[a-z]+:\/\// {print $2, $3; exit}')
  uri=${origin%% *}
  suite=${origin#* }
  suite=${suite%%/*}
  component=${origin##*/}
  [ -n "$uri" ] && [ -n "$suite" ] || { echo "qt-mingw: no origin of qt6-base-dev" >&2; exit 1; }
  sources=/etc/apt/sources.list.d/cabrix-qt6-base-src.sources
  entry="Types: deb-src
URIs: $uri
Suites: $suite
Components: $component
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  if [ ! -f "$sources" ] || [ "$(cat "$sources")" != "$entry" ]; then
    printf '%s\n' "$entry" | $sudo tee "$sources" >/dev/null
    $sudo apt-get update
  fi
  rm -rf "$src_root"
  mkdir -p "$src_root"
  (cd "$src_root" && apt-get source --only-source "qt6-base=$qt_version")
  touch "$src_root/.cabrix-unpacked"
fi
qtbase=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$qtbase" ] || { echo "qt-mingw: no unpacked source in $src_root" >&2; exit 1; }

rm -rf "$prefix"
mkdir -p "$prefix"
# Qt's installed qt.toolchain.cmake chains the toolchain it was built with; a copy inside the
# prefix keeps that chain valid whatever becomes of the checkout.
cp "$toolchain_src" "$prefix/mingw-w64-x86_64.cmake"

cmake -S "$qtbase" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
  "${options[@]}"
cmake --build "$build" -j "$(nproc)"
cmake --install "$build"

# An install after a failed build would still leave a prefix; only a whole one counts.
for f in lib/libQt6Core.a lib/libQt6Gui.a lib/libQt6Widgets.a plugins/platforms/libqwindows.a \
         lib/cmake/Qt6/qt.toolchain.cmake; do
  [ -f "$prefix/$f" ] || { echo "qt-mingw: $prefix lacks $f" >&2; exit 1; }
done
touch "$mark"
rm -rf "$build"
echo "qt-mingw: built $prefix in $(( ($(date +%s) - started) / 60 )) min"
echo "$prefix" >&3
