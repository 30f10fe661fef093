#!/usr/bin/env bash
# Builds cabrix, plcsim and the benchmark in Release into build-bench/ and runs the benchmark:
# TCP and serial throughput against the protocol's ceilings, peak memory, processor time per
# frame and, where tftp-hpa and tftpd-hpa are installed, a TFTP put beside ours.
#   bash scripts/bench.sh [--quick] [--serial-only] [--out FILE] [--repetitions N]
# --quick skips the 1 MiB transfers over the 115200 line (over 90 s each way).
# --serial-only runs the two serial sections alone (the pseudo-terminal with and without pacing).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCABRIX_TESTS=OFF \
  -DCABRIX_FRONTEND=OFF >/dev/null
cmake --build "$build" -j1 --target cabrix plcsim cabrix_bench
uptime
exec timeout --signal=TERM --kill-after=10 1800 "$build/bin/cabrix_bench" \
  --cabrix "$build/bin/cabrix" --plcsim "$build/bin/plcsim" "$@"
