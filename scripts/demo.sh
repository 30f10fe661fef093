#!/usr/bin/env bash
# Installs what is missing, builds, and runs one real session of the console tool against the
# substitute controller: the information record, the file list, an upload, a download, and a
# check that the file came back unchanged. Over TCP by default; `--serial` uses a
# pseudo-terminal as COM3 instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target cabrix plcsim

work=$(mktemp -d /tmp/cabrix-demo.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/store" "$work/pc" "$work/back"

if [ "${1:-}" = "--serial" ]; then
  export XDG_CONFIG_HOME="$work/xdg"
  mkdir -p "$XDG_CONFIG_HOME/cabrix/dosdevices"
  endpoint=(--pty "$XDG_CONFIG_HOME/cabrix/dosdevices/com3")
  link=/COM3
else
  endpoint=(--tcp 127.0.77.1)
  link=/TCP127.0.77.1
fi

"$root/$build/bin/plcsim" --store "$work/store" "${endpoint[@]}" --log "$work/plcsim.log" \
  >"$work/plcsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/plcsim.out" 2>/dev/null && break
  sleep 0.1
done
head -1 "$work/plcsim.out"

show() {  # the tool writes code page 866 with CR LF: show it as a terminal here would
  iconv -f CP866 -t UTF-8 | tr -d '\r'
}
run() {
  echo "\$ cabrix $*"
  local status=0
  "$root/$build/bin/cabrix" "$@" >"$work/out" || status=$?
  show <"$work/out"
  echo
  echo "(exit status $status)"
  echo
}

head -c 50000 /dev/urandom >"$work/pc/program.bin"
run "$link" /inf /dir
run "$link" "/FLDR$work/pc" /up program.bin
run "$link" /dir
run "$link" "/FLDR$work/back" /dn program.bin
cmp "$work/pc/program.bin" "$work/back/program.bin"
echo "program.bin ($(stat -c %s "$work/back/program.bin") bytes) came back unchanged."
