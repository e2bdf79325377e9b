#!/usr/bin/env bash
# Runs every libFuzzer target for longer than the test command does.
#   scripts/fuzz.sh [seconds-per-target] [target...]
# Builds into build/fuzz (clang, ASan + UBSan), keeps the corpus each run
# grows in build/fuzz/fuzz/corpus/<target>, and writes any crashing input
# to build/fuzz/fuzz/ (crash-*, leak-*, timeout-*). Prints the executions
# and findings of each target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

seconds=${1:-600}
shift || true
targets=("$@")

cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=address,undefined -DQUIBEX_BUILD_FUZZERS=ON \
  -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=OFF -DQUIBEX_BUILD_TOOLS=OFF \
  -DQUIBEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"
# Every target, as fuzz/CMakeLists.txt lists them, unless some are named.
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets <build/fuzz/fuzz/targets.txt
fi

status=0
for target in "${targets[@]}"; do
  work=build/fuzz/fuzz/corpus/$target
  mkdir -p "$work"
  log=build/fuzz/fuzz/$target.log
  echo "=== $target: ${seconds}s"
  if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
       -artifact_prefix=build/fuzz/fuzz/ "$work" "fuzz/corpus/$target" \
       >"$log" 2>&1; then
    result=clean
  else
    result="FINDING (see $log)"
    status=1
  fi
  execs=$(grep -o 'number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  echo "$target: ${execs:-?} executions, $result"
done
exit $status
