#!/usr/bin/env bash
# The help of the Windows tool under Wine, with no arguments and with "/?": exit status 0, nothing
# on standard error, and standard output byte for byte what the POSIX tool prints (code page 866
# text, CR LF line ends, no doubled CR). Only the build date and time may differ, as the two
# programs are compiled apart: both must show one in the compiler's form.
#   tests/wine/help_smoke.sh [windows build folder] [POSIX build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"
posix_tool="${2:-${BUILD_DIR:-build}}/bin/cabrix"
win_tool="$CABRIX_WIN_BIN/cabrix.exe"

for t in "$posix_tool" "$win_tool"; do
  [ -x "$t" ] || { echo "help_smoke: $t is missing" >&2; exit 1; }
done

# "Apr 13 2007  10:37:37", and "Apr  3 2007" for a day below 10.
build_time='[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}  [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
without_build_time() {
  LC_ALL=C sed -E "s/$build_time/<build time>/" "$1"
}
has_build_time() {
  [ "$(LC_ALL=C grep -Ec "$build_time" "$1")" -eq 1 ]
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

"$posix_tool" </dev/null >"$work/expected" 2>"$work/expected.err"
grep -q $'\r\n' "$work/expected" || { echo "help_smoke: POSIX help has no CR LF" >&2; failed=1; }
has_build_time "$work/expected" || { echo "help_smoke: POSIX help has no build time" >&2; failed=1; }
without_build_time "$work/expected" >"$work/expected.cmp"

for run in none help; do
  args=()
  label="cabrix.exe (no arguments)"
  if [ "$run" = help ]; then args=("/?"); label="cabrix.exe /?"; fi
  status=0
  cabrix_wine 60 "$win_tool" "${args[@]}" </dev/null >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 0 ]; then echo "FAIL $label: exit status $status" >&2; failed=1; fi
  if [ -s "$work/err" ]; then
    echo "FAIL $label: wrote to standard error:" >&2; cat "$work/err" >&2; failed=1
  fi
  without_build_time "$work/out" >"$work/out.cmp"
  if ! has_build_time "$work/out"; then
    echo "FAIL $label: no build date and time in the help" >&2; failed=1
  elif ! cmp -s "$work/expected.cmp" "$work/out.cmp"; then
    echo "FAIL $label: standard output differs from $posix_tool:" >&2
    cmp -l "$work/expected.cmp" "$work/out.cmp" | head -20 >&2 || true
    failed=1
  fi
  if grep -q $'\r\r' "$work/out"; then echo "FAIL $label: doubled CR" >&2; failed=1; fi
  [ "$failed" -eq 0 ] && echo "ok   $label"
done
exit "$failed"
