#!/usr/bin/env bash
# The help of the Windows tool under Wine, with no arguments and with "/?": exit status 0, nothing
# on standard error, and standard output byte for byte what the POSIX tool prints (code page 866
# text, CR LF line ends, no doubled CR).
#   tests/wine/help_smoke.sh [windows build folder] [POSIX build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"
posix_tool="${2:-${BUILD_DIR:-build}}/bin/cabrix"
win_tool="$CABRIX_WIN_BIN/cabrix.exe"

for t in "$posix_tool" "$win_tool"; do
  [ -x "$t" ] || { echo "help_smoke: $t is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

"$posix_tool" </dev/null >"$work/expected" 2>"$work/expected.err"
grep -q $'\r\n' "$work/expected" || { echo "help_smoke: POSIX help has no CR LF" >&2; failed=1; }

for run in none help; do
  args=()
  label="cabrix.exe (no arguments)"
  if [ "$run" = help ]; then args=("/?"); label="cabrix.exe /?"; fi
  status=0
  timeout 60 wine "$win_tool" "${args[@]}" </dev/null >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 0 ]; then echo "FAIL $label: exit status $status" >&2; failed=1; fi
  if [ -s "$work/err" ]; then
    echo "FAIL $label: wrote to standard error:" >&2; cat "$work/err" >&2; failed=1
  fi
  if ! cmp -s "$work/expected" "$work/out"; then
    echo "FAIL $label: standard output differs from $posix_tool:" >&2
    cmp -l "$work/expected" "$work/out" | head -20 >&2 || true
    failed=1
  fi
  if grep -q $'\r\r' "$work/out"; then echo "FAIL $label: doubled CR" >&2; failed=1; fi
  [ "$failed" -eq 0 ] && echo "ok   $label"
done
exit "$failed"
