#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (default 20) on a copy of its seed
# corpus in fuzz/corpus/<target>/. Fails when a target finds a crash, a leak or a broken check;
# the input that did it is kept in build-fuzz/fuzz-runs/<target>/ with the target's log.
#
#   scripts/fuzz.sh                       every target
#   scripts/fuzz.sh fuzz_receive_frame    the named targets only
#   FUZZ_SECONDS=300 FUZZ_JOBS=2 scripts/fuzz.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-1}

# clang's fuzzer runtime comes with Debian's libclang-rt-14-dev.
if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  echo "fuzz.sh: installing clang and its fuzzer runtime" >&2
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get install -y clang-14 libclang-rt-14-dev
fi
clangxx=$(command -v clang++ || command -v clang++-14)

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clangxx" -DCABRIX_FUZZ=ON \
        -DCABRIX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

all=(fuzz_receive_frame fuzz_tool_args fuzz_dialect_args fuzz_sim_units fuzz_sim_session
     fuzz_frontend_split)
targets=("${@:-${all[@]}}")
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

runs=$build/fuzz-runs
failed=()
for t in "${targets[@]}"; do
  work=$runs/$t
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$root/fuzz/corpus/$t/"* "$work/corpus/"
  echo "fuzz.sh: $t for ${seconds} s"
  # Standard output is closed (the tool under test prints its messages there); the fuzzer's own
  # report goes to the log.
  if (cd "$work" && "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=1 -print_final_stats=1 corpus >"$work/log" 2>&1); then
    grep -E '^(Done|stat::number_of_executed_units)' "$work/log" | sed "s/^/  /"
  else
    failed+=("$t")
    echo "fuzz.sh: $t FAILED; log and input in $work" >&2
    grep -E 'ERROR|fuzz check|runtime error|SUMMARY|Test unit written' "$work/log" | head -20 >&2
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} target(s), no findings"
