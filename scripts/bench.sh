#!/usr/bin/env bash
# The benchmark command: installs what is missing, builds a Release tree in
# build/bench, runs the Google Benchmark suite (plain and accelerated side
# by side), then prints the Markdown report of load time, latency and memory
# (also written to build/bench/report.md), then the heap a load adds per
# rule on this machine and, when the ARM cross compiler and qemu-user are
# installed, on the 32-bit ARM build run under the emulator (malloc's
# counters: the emulator distorts resident memory), and last the same
# engine timed through the Java bridge in a real JVM, on the short records
# and the long URLs, each figure the median of QUIBEX_BRIDGE_RUNS runs (8
# unless the environment says otherwise). Benchmarks are never part of the
# test run; they read ../shared/data/ and skip when it is absent.
#
#   scripts/bench.sh                    suite, then report
#   scripts/bench.sh --report-only      report only
#   scripts/bench.sh --heap-only        the heap per rule of each build only
#   scripts/bench.sh --benchmark_filter=ShouldBlock   other arguments go to
#                                       the suite (Google Benchmark flags)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

report_only=0 heap_only=0
if [ "${1:-}" = "--report-only" ]; then
  report_only=1
  shift
elif [ "${1:-}" = "--heap-only" ]; then
  heap_only=1
  shift
fi

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=ON -DQUIBEX_BUILD_TOOLS=OFF \
  -DQUIBEX_BUILD_BENCHMARKS=ON >/dev/null

# One table row per build: this machine's, then the 32-bit ARM one (a
# Release cross tree in build/bench-armv7, configured with the toolchain
# file of the test command's armv7 configuration: armeabi-v7a's softfp
# calling convention) under qemu-arm.
armv7_triple=arm-linux-gnueabi
heap_rows() {
  cmake --build build/bench -j "$(nproc)" --target quibex_heap_report
  local native armv7=""
  native=$(build/bench/bench/quibex_heap_report)
  if command -v "$armv7_triple-g++" >/dev/null && command -v qemu-arm >/dev/null; then
    # CMake keeps the compiler of a configured tree whatever toolchain file
    # it is given: a tree of another ARM compiler is started afresh.
    if [ -f build/bench-armv7/CMakeCache.txt ] &&
       ! grep -q "^CMAKE_LINKER:FILEPATH=.*/$armv7_triple-ld\$" build/bench-armv7/CMakeCache.txt; then
      rm -rf build/bench-armv7
    fi
    cmake -S . -B build/bench-armv7 -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$armv7_triple.cmake" \
      -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=OFF -DQUIBEX_BUILD_TOOLS=OFF \
      -DQUIBEX_BUILD_BENCHMARKS=ON >/dev/null
    cmake --build build/bench-armv7 -j "$(nproc)" --target quibex_heap_report
    armv7=$(qemu-arm -L "/usr/$armv7_triple" \
            build/bench-armv7/bench/quibex_heap_report)
  fi
  {
    echo
    echo "### Heap added by loading both lists, per build (malloc's counters; armv7 under qemu-arm)"
    echo
    echo "| target | rules | heap bytes added (MB) | heap bytes per rule |"
    echo "|---|---:|---:|---:|"
    echo "$native"
    [ -n "$armv7" ] && echo "$armv7"
    [ -n "$armv7" ] || echo "| armv7 (32-bit) | not measured: no $armv7_triple-g++ or qemu-arm | | |"
  } >build/bench/heap.md
}

if [ "$heap_only" -eq 1 ]; then
  heap_rows
  cat build/bench/heap.md
  exit 0
fi

cmake --build build/bench -j "$(nproc)" --target quibex_bench quibex_bench_report
if [ "$report_only" -eq 0 ]; then
  build/bench/bench/quibex_bench "$@"
fi
build/bench/bench/quibex_bench_report | tee build/bench/report.md
heap_rows
tee -a build/bench/report.md <build/bench/heap.md
QUIBEX_BRIDGE_RUNS=${QUIBEX_BRIDGE_RUNS:-8} \
  cmake --build build/bench -j "$(nproc)" --target quibex_jvm_bench | tee -a build/bench/report.md
