#!/usr/bin/env bash
# The benchmark command: installs what is missing, builds a Release tree in
# build/bench, runs the Google Benchmark suite (plain and accelerated side
# by side), then prints the Markdown report of load time, latency and memory
# (also written to build/bench/report.md), and last the same engine timed
# through the Java bridge in a real JVM. Benchmarks are never part of the
# test run; they read ../shared/data/ and skip when it is absent.
#
#   scripts/bench.sh                    suite, then report
#   scripts/bench.sh --report-only      report only
#   scripts/bench.sh --benchmark_filter=ShouldBlock   other arguments go to
#                                       the suite (Google Benchmark flags)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

report_only=0
if [ "${1:-}" = "--report-only" ]; then
  report_only=1
  shift
fi

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=ON -DQUIBEX_BUILD_TOOLS=OFF \
  -DQUIBEX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target quibex_bench quibex_bench_report

if [ "$report_only" -eq 0 ]; then
  build/bench/bench/quibex_bench "$@"
fi
build/bench/bench/quibex_bench_report | tee build/bench/report.md
cmake --build build/bench -j "$(nproc)" --target quibex_jvm_bench | tee -a build/bench/report.md
