#!/usr/bin/env bash
# The Windows tool under Wine against the POSIX tool, both talking to one plcsim over TCP and over
# the serial line: for each command line, the same exit status, the same bytes on standard output
# and the same files in the end. The serial line is plcsim's pseudo-terminal, reached as COM21 by
# the POSIX tool through its device map and by the Windows tool through the Wine prefix's.
# Message boxes: the POSIX tool writes the box's text on standard error; under Wine without a
# display MessageBoxA returns at once, and the relay trace shows its text and title instead.
#   tests/wine/parity_smoke.sh [windows build folder] [POSIX build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"
posix_bin=$(cd "${2:-${BUILD_DIR:-build}}/bin" && pwd)
win_tool="$CABRIX_WIN_BIN/cabrix.exe"
for t in "$posix_bin/cabrix" "$posix_bin/plcsim" "$win_tool"; do
  [ -x "$t" ] || { echo "parity_smoke: $t is missing" >&2; exit 1; }
done

readonly com=21 address=127.0.44.1
work=$(mktemp -d)
sim_pid=""
failed=0
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  cabrix_wine_unmap_com "$com"
  if [ "$failed" -ne 0 ] && [ -n "${CABRIX_KEEP_FAILED:-}" ]; then
    echo "parity_smoke: outputs kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

mkdir -p "$work/store" "$work/pc" "$work/posix" "$work/win" "$work/xdg/cabrix/dosdevices"
printf 'first line\r\nsecond line\n' >"$work/pc/a.txt"
head -c 20000 /dev/urandom >"$work/pc/big.bin"
ln -s "$work/com$com" "$work/xdg/cabrix/dosdevices/com$com"
cabrix_wine_map_com "$com" "$work/com$com"

"$posix_bin/plcsim" --store "$work/store" --tcp "$address" --pty "$work/com$com" \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q 'plcsim ready' "$work/sim.out" && break
  sleep 0.1
done
grep -q 'plcsim ready' "$work/sim.out" || { echo "parity_smoke: plcsim not ready" >&2; cat "$work/sim.out" >&2; exit 1; }

# compare <label> <cabrix arguments...>; in the arguments, @DIR@ stands for each tool's own folder.
compare() {
  local label=$1
  shift
  local side args status
  for side in posix win; do
    args=("${@//@DIR@/$work/$side}")
    status=0
    if [ "$side" = posix ]; then
      (cd "$work" && XDG_CONFIG_HOME="$work/xdg" timeout 120 "$posix_bin/cabrix" "${args[@]}") \
        </dev/null >"$work/$label.$side.out" 2>"$work/$label.$side.err" || status=$?
    else
      (cd "$work" && WINEDEBUG=$CABRIX_WINE_MSGBOX_DEBUG cabrix_wine 120 "$win_tool" "${args[@]}") \
        </dev/null >"$work/$label.$side.out" 2>"$work/$label.$side.trace" || status=$?
    fi
    echo "$status" >"$work/$label.$side.status"
  done
  local ok=1
  if ! cmp -s "$work/$label.posix.status" "$work/$label.win.status"; then
    echo "FAIL $label: exit status $(cat "$work/$label.posix.status") on POSIX," \
      "$(cat "$work/$label.win.status") under Wine" >&2
    ok=0
  fi
  if ! cmp -s "$work/$label.posix.out" "$work/$label.win.out"; then
    echo "FAIL $label: standard output differs" >&2
    cmp -l "$work/$label.posix.out" "$work/$label.win.out" | head -10 >&2 || true
    ok=0
  fi
  # Every line of the trace that is not Wine's own is the tool's standard error: none.
  if grep -v -E '^[0-9a-f]{4}:(trace:relay:|Call |Ret |Starting )' "$work/$label.win.trace" |
      grep -q .; then
    echo "FAIL $label: the Windows tool wrote to standard error" >&2
    ok=0
  fi
  [ "$ok" -eq 1 ] && echo "ok   $label (status $(cat "$work/$label.win.status"))"
  [ "$ok" -eq 1 ] || failed=1
}

# The message boxes of a run under Wine, one line each: text (\xNN escaped) and title.
boxes() {
  sed -n -E 's/^[0-9a-f]{4}:Call user32\.MessageBoxA\(00000000,[0-9a-f]+ "(.*)",[0-9a-f]+ "(.*)",00000000\) ret=.*/\1|\2/p' \
    "$work/$1.win.trace"
}

# The files that both tools read into their folders must equal the originals.
same_files() {
  local name
  for name in "$@"; do
    if ! cmp -s "$work/pc/$name" "$work/posix/$name" || ! cmp -s "$work/pc/$name" "$work/win/$name"; then
      echo "FAIL $name read from the controller differs from the original" >&2
      failed=1
    fi
  done
}

for link in "/TCP$address" "/COM$com"; do
  kind=${link:1:3}
  compare "up-$kind" "$link" "/FLDR$work/pc" /up a.txt big.bin
  cmp -s "$work/pc/big.bin" "$work/store/big.bin" || { echo "FAIL up-$kind: store differs" >&2; failed=1; }
  compare "inf-dir-$kind" "$link" /inf /dir
  compare "dn-$kind" "$link" "/FLDR@DIR@" /dn a.txt big.bin
  same_files a.txt big.bin
  rm -f "$work/posix/"* "$work/win/"*
  compare "dn-missing-$kind" "$link" "/FLDR@DIR@" /dn no-such-file.txt
done
compare del "/TCP$address" /del a.txt
compare no-action "/TCP$address"
compare bad-com /COMx /dir

# A port that cannot be opened: "Порт занят!" in a box titled with the program's name.
compare busy "/COM$((com + 1))" /dir
expected_box='\xcf\xee\xf0\xf2 \xe7\xe0\xed\xff\xf2!|cabrix'
if [ "$(boxes busy)" != "$expected_box" ]; then
  echo "FAIL busy: message boxes under Wine: '$(boxes busy)', expected '$expected_box'" >&2
  failed=1
fi
if [ "$(cat "$work/busy.posix.err")" != "$(printf '\x8f\xae\xe0\xe2 \xa7\xa0\xad\xef\xe2!\r')" ]; then
  echo "FAIL busy: the POSIX tool's box text on standard error is not the expected one" >&2
  failed=1
fi
exit "$failed"
