#!/usr/bin/env bash
# The Debian package on this machine, as root: install it with apt-get (which pulls its
# dependencies), use what it installed, purge it, and check that none of its files is left.
#   deb_test.sh [PACKAGE.deb]      (default: build-deb/packages/cabrix_*.deb)
# The machine must not have the package installed already. Uses the loopback address
# 127.0.88.1 for its plcsim.
set -euo pipefail
cd "$(dirname "$0")/../.."

deb=${1:-$(ls build-deb/packages/cabrix_*.deb | head -n 1)}
deb=$(realpath "$deb")
address=127.0.88.1
export DEBIAN_FRONTEND=noninteractive

# What the checks use: man, desktop-file-validate.
bash scripts/deps.sh man-db desktop-file-utils

work=$(mktemp -d "${TMPDIR:-/tmp}/cabrix-deb.XXXXXX")
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
step() { echo "deb-test: $*"; }
fail() { echo "deb-test: FAIL: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' cabrix 2>/dev/null | grep -q 'install ok installed'; then
  fail "the package cabrix is installed already; purge it first"
fi

step "installing $deb"
apt-get install -y "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
dpkg-query -L cabrix | sort >"$work/files"

step "what it holds: the programs, and no test program, fuzzer or benchmark"
for f in /usr/bin/cabrix /usr/bin/plcsim /usr/bin/tollmark /usr/lib/tollmark/tollmark \
         /usr/lib/tollmark/cabrix /usr/lib/tollmark/cabrix_old /usr/share/man/man1/cabrix.1.gz \
         /usr/share/man/man1/plcsim.1.gz /usr/share/applications/tollmark.desktop \
         /usr/share/icons/hicolor/scalable/apps/tollmark.svg \
         /usr/share/icons/hicolor/48x48/apps/tollmark.png; do
  grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
if grep -E '(test|fuzz|bench|fake)' "$work/files"; then fail "the package holds the files above"; fi
[ "$(readlink -f /usr/bin/tollmark)" = /usr/lib/tollmark/tollmark ] || fail "bin/tollmark is no link"

step "cabrix /?, man -w, desktop-file-validate"
status=0
cabrix /? >"$work/help" || status=$?
[ "$status" -eq 0 ] || fail "cabrix /? ended with $status"
iconv -f CP866 -t UTF-8 "$work/help" | grep -q 'Утилита чтения записи файлов' || fail "no help"
[ "$(man -w cabrix)" = /usr/share/man/man1/cabrix.1.gz ] || fail "man -w cabrix: $(man -w cabrix)"
man -w plcsim >/dev/null || fail "man -w plcsim"
desktop-file-validate /usr/share/applications/tollmark.desktop || fail "desktop-file-validate"

step "a session of the installed cabrix against the installed plcsim"
mkdir -p "$work/store" "$work/pc" "$work/back"
head -c 20000 /dev/urandom >"$work/pc/program.bin"
plcsim --store "$work/store" --tcp "$address" >"$work/ready" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do grep -q '^plcsim ready' "$work/ready" && break; sleep 0.1; done
grep -q '^plcsim ready' "$work/ready" || fail "plcsim did not get ready: $(cat "$work/sim.err")"
run() {  # expected status, then the command line
  local expected=$1 status=0
  shift
  timeout 60 "$@" >"$work/out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "$* ended with $status, not $expected: $(cat "$work/out")"
}
run 0 cabrix "/TCP$address" "/FLDR\"$work/pc\"" /up program.bin
cmp "$work/pc/program.bin" "$work/store/program.bin" || fail "the controller's copy differs"
run 0 cabrix "/TCP$address" "/FLDR\"$work/back\"" /dn program.bin
cmp "$work/pc/program.bin" "$work/back/program.bin" || fail "the copy read back differs"
run 0 /usr/lib/tollmark/cabrix "/TCP$address" /dir
grep -q program.bin "$work/out" || fail "the front end's program does not list the file"
run 1 cabrix "/TCP$address" /del program.bin
[ ! -e "$work/store/program.bin" ] || fail "the delete left the file"
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=""

step "the installed tollmark, headless, for a few seconds"
(cd "$work" && QT_QPA_PLATFORM=offscreen exec tollmark >"$work/tollmark.log" 2>&1) &
front=$!
sleep 4
kill -0 "$front" 2>/dev/null || { cat "$work/tollmark.log"; fail "tollmark ended early"; }
kill "$front"
wait "$front" 2>/dev/null || true

step "purging"
apt-get purge -y cabrix >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
if dpkg-query -W -f='${Status}' cabrix 2>/dev/null | grep -q 'installed'; then
  fail "cabrix is still installed"
fi
left=0
while read -r f; do
  # Folders the package shares with the system (/usr, /usr/bin, ...) stay.
  if [ -e "$f" ] || [ -L "$f" ]; then
    [ -d "$f" ] && [ ! -L "$f" ] && continue
    echo "left behind: $f" >&2
    left=1
  fi
done <"$work/files"
[ -d /usr/lib/tollmark ] && { echo "left behind: /usr/lib/tollmark" >&2; left=1; }
[ -d /usr/share/doc/cabrix ] && { echo "left behind: /usr/share/doc/cabrix" >&2; left=1; }
[ "$left" -eq 0 ] || fail "the purge left files of the package"
step "passed"
