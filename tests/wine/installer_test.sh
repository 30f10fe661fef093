#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own: a silent install (/S) puts the three
# programs into C:\Program Files\Tollmark, a Start-menu entry for Tollmark and an entry in the list
# of installed programs; the installed programs are the packed ones, and those are the build
# folder's programs stripped of their symbols; the installed front end takes the window test's
# whole round on the installed folder (TCP and COM, the overwrite questions, Info, Cyrillic names),
# with a decoy C:\Program.exe that an unquoted program path would start instead of the console
# programs; a silent uninstall (/S) removes all of it, and drive C then holds exactly the files it
# held before the install (Wine's own windows folder and the temporary folders aside; the COM port
# the window test registers lives in the prefix's registry and device folder, outside drive C).
# The portable zip holds the same three programs in one folder.
#   tests/wine/installer_test.sh [windows build folder] [POSIX build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
win_build=${1:-${BUILD_WIN_DIR:-build-win}}
posix_build=${2:-${BUILD_DIR:-build}}
readonly prefix_name=wineprefix-install
source scripts/wine-env.sh "$win_build" "$prefix_name"
bash scripts/deps.sh unzip

fail() {
  echo "installer_test: $*" >&2
  exit 1
}

shopt -s nullglob
setups=("$CABRIX_WIN_BUILD"/packages/Tollmark-*-setup.exe)
zips=("$CABRIX_WIN_BUILD"/packages/Tollmark-*-portable.zip)
shopt -u nullglob
[ ${#setups[@]} -eq 1 ] || fail "expected one installer in $CABRIX_WIN_BUILD/packages"
[ ${#zips[@]} -eq 1 ] || fail "expected one portable zip in $CABRIX_WIN_BUILD/packages"
setup=${setups[0]}
version=$(basename "$setup" -setup.exe)
version=${version#Tollmark-}

work=$(mktemp -d)
decoy="$WINEPREFIX/drive_c/Program.exe"
trap 'rm -rf "$work" "$decoy"' EXIT

echo "installer_test: the portable zip"
unzip -Z1 "${zips[0]}" | sort >"$work/zip.list"
printf '%s\n' "Tollmark-$version/" "Tollmark-$version/cabrix.exe" "Tollmark-$version/cabrix_old.exe" \
  "Tollmark-$version/tollmark.exe" | sort >"$work/zip.expected"
diff -u "$work/zip.expected" "$work/zip.list" || fail "the zip holds other files"

# Every file and folder of drive C but Wine's own folder and the temporary folders.
drive_c_files() {
  (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 \( -path ./windows -o -iname temp \) -prune -o -print) |
    LC_ALL=C sort
}
installed="$WINEPREFIX/drive_c/Program Files/Tollmark"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tollmark.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tollmark'
[ ! -e "$installed" ] || fail "$installed is there before the install"
drive_c_files >"$work/before"

echo "installer_test: silent install of $(basename "$setup")"
timeout 300 wine "$(winepath -w "$setup")" /S </dev/null >"$work/install.out" 2>&1 ||
  { cat "$work/install.out" >&2; fail "the installer failed"; }
for f in tollmark.exe cabrix.exe cabrix_old.exe uninstall.exe; do
  [ -f "$installed/$f" ] || fail "no $f in $installed"
done
# The packed programs are the build folder's, stripped: the window test's round on either folder
# proves the same programs. A strip writes the time of its run into the program's PE header, with
# the header's checksum over it; those two fields aside, the files agree.
strip_tool=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$CABRIX_WIN_BUILD/CMakeCache.txt")
[ -x "$strip_tool" ] || fail "no strip program named in $CABRIX_WIN_BUILD/CMakeCache.txt"
unstamped() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  cp "$1" "$2"
  for field in $((pe + 8)) $((pe + 88)); do
    printf '\0\0\0\0' | dd of="$2" bs=1 seek="$field" conv=notrunc status=none
  done
}
for f in tollmark.exe cabrix.exe cabrix_old.exe; do
  cmp -s "$installed/$f" "$CABRIX_WIN_BUILD/packages/Tollmark-$version/$f" ||
    fail "the installed $f is not the packed one"
  "$strip_tool" -o "$work/stripped" "$CABRIX_WIN_BUILD/tollmark/$f"
  unstamped "$work/stripped" "$work/built"
  unstamped "$installed/$f" "$work/packed"
  cmp -s "$work/built" "$work/packed" || fail "the installed $f is not the build folder's, stripped"
done
rm -f "$work/stripped" "$work/built" "$work/packed"
[ -f "$shortcut" ] || fail "no Start-menu entry"
timeout 60 wine reg query "$key" /v DisplayVersion </dev/null 2>/dev/null | grep -q "$version" ||
  fail "no entry for Tollmark $version in the list of installed programs"

echo "installer_test: the installed front end, the window test's whole round"
# Any program will do as the decoy: the console tool fails the run on the stray arguments.
cp "$CABRIX_WIN_BUILD/bin/cabrix.exe" "$decoy"
CABRIX_WINE_WINDOW_PREFIX=$prefix_name CABRIX_WINDOW_STEPS=all \
  bash tests/wine/window_test.sh "$win_build" "$posix_build" "$installed"
rm -f "$decoy"
# The window test has ended its session; this one runs without a display again.
source scripts/wine-env.sh "$win_build" "$prefix_name"

echo "installer_test: silent uninstall"
timeout 120 wine "$(winepath -w "$installed/uninstall.exe")" /S </dev/null >"$work/uninstall.out" 2>&1 ||
  { cat "$work/uninstall.out" >&2; fail "the uninstaller failed"; }
# The uninstaller hands over to a copy of itself in the temporary folder and returns at once;
# the copy removes the files, then the uninstall entry.
key_gone() { ! timeout 60 wine reg query "$key" </dev/null >/dev/null 2>&1; }
for _ in $(seq 600); do
  if [ ! -e "$installed" ] && [ ! -e "$shortcut" ] && key_gone; then break; fi
  sleep 0.2
done
[ ! -e "$installed" ] || fail "$installed is still there"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
key_gone || fail "the uninstall entry is still there"
drive_c_files >"$work/after"
diff -u "$work/before" "$work/after" || fail "drive C holds other files after the uninstall"
cabrix_wine_stop_server
echo "installer_test: passed"
