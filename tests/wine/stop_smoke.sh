#!/usr/bin/env bash
# The Windows console programs under Wine, stopped through their named event as the front end
# stops them, while they wait on a controller (plcsim) that has gone silent in the middle of a
# read: each ends within a moment with status 0xC000013A, leaves no temporary file, keeps the old
# target file and starts no further file of its list. Once cabrix.exe over TCP, once the front
# end's own program over the serial line.
#   tests/wine/stop_smoke.sh [windows build folder] [POSIX build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh "${1:-${BUILD_WIN_DIR:-build-win}}"
posix_bin=$(cd "${2:-${BUILD_DIR:-build}}/bin" && pwd)
runner="$CABRIX_WIN_BUILD/tests/stop_runner.exe"
for t in "$posix_bin/plcsim" "$CABRIX_WIN_BIN/cabrix.exe" "$CABRIX_WIN_BUILD/tollmark/cabrix.exe" "$runner"; do
  [ -x "$t" ] || { echo "stop_smoke: $t is missing" >&2; exit 1; }
done

# An address of this checkout's own, so that checkouts side by side do not meet on port 1200.
salt_octet=$(( $(printf '%s' "${CABRIX_TEST_ADDRESS_SALT:-}" | cksum | cut -d' ' -f1) % 200 + 20 ))
readonly com=22 address="127.45.$salt_octet.1" stop_bound_ms=3000
work=$(mktemp -d)
sim_pid=""
failed=0
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  cabrix_wine_unmap_com "$com"
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/store" "$work/tcp" "$work/serial"
head -c 5000 /dev/urandom >"$work/store/big.bin"
printf 'n' >"$work/store/next.bin"
cabrix_wine_map_com "$com" "$work/com$com"
"$posix_bin/plcsim" --store "$work/store" --tcp "$address" --pty "$work/com$com" \
  --log "$work/sim.log" --idle-timeout 30 \
  --fault silent,op=download,at=reply-frame,frame=3,times=always >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q 'plcsim ready' "$work/sim.out" && break
  sleep 0.1
done
grep -q 'plcsim ready' "$work/sim.out" || { echo "stop_smoke: plcsim not ready" >&2; cat "$work/sim.out" >&2; exit 1; }

# stop <label> <folder> <program> <arguments...>: runs the program under the runner in the folder
# (which holds an old big.bin) and checks what the stop left.
stop() {
  local label=$1 dir=$2 program=$3
  shift 3
  printf 'old' >"$dir/big.bin"
  local before result ms
  before=$(wc -l <"$work/sim.log")
  (cd "$work" && cabrix_wine 120 "$runner" "$(winepath -w "$dir")" \
    "\"$(winepath -w "$program")\" $*" </dev/null >"$work/$label.out" 2>"$work/$label.err") || true
  result=$(grep -a -E '^(exit|no |still|cannot)' "$work/$label.err" | tr -d '\r')
  local ok=1
  if [[ "$result" != "exit 0xC000013A after "* ]]; then
    echo "FAIL $label: $result" >&2
    ok=0
  else
    ms=${result##* after }
    ms=${ms% ms}
    if [ "$ms" -ge "$stop_bound_ms" ]; then
      echo "FAIL $label: the stop took $ms ms" >&2
      ok=0
    fi
  fi
  if compgen -G "$dir/.cbx*" >/dev/null; then
    echo "FAIL $label: a temporary file is left" >&2
    ok=0
  fi
  if [ "$(cat "$dir/big.bin")" != old ]; then
    echo "FAIL $label: the old target file changed" >&2
    ok=0
  fi
  # next.bin in hex, as plcsim logs the read request that would name it.
  if tail -n +"$((before + 1))" "$work/sim.log" | grep -q '6E 65 78 74 2E 62 69 6E'; then
    echo "FAIL $label: the next file of the list was started" >&2
    ok=0
  fi
  [ "$ok" -eq 1 ] && echo "ok   $label ($result)"
  [ "$ok" -eq 1 ] || failed=1
}

stop tcp "$work/tcp" "$CABRIX_WIN_BIN/cabrix.exe" "/TCP$address" "/FLDR\"$(winepath -w "$work/tcp")\"" \
  /dn big.bin next.bin
stop serial "$work/serial" "$CABRIX_WIN_BUILD/tollmark/cabrix.exe" "/COM$com" \
  "/FLDR\"$(winepath -w "$work/serial")\"" /get big.bin next.bin
exit "$failed"
