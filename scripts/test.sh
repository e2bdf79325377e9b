#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every
# test in each configuration the project is checked in:
#   gcc     - the default build with g++
#   clang   - the same with clang
#   asan    - clang with AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    - clang with ThreadSanitizer, for the concurrency tests
#   fuzz    - a short run of every libFuzzer target (ASan + UBSan)
# Build trees go to build/<configuration>. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
configure_and_test() {
  local name=$1 labels=$2
  shift 2
  echo "=== $name: configure and build"
  cmake -S . -B "build/$name" -G Ninja -DQUIBEX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
  cmake --build "build/$name" -j "$jobs"
  echo "=== $name: test"
  local args=(--test-dir "build/$name" --output-on-failure -j "$jobs")
  [ -n "$labels" ] && args+=(-L "$labels")
  ctest "${args[@]}"
}

configure_and_test gcc "" -DCMAKE_CXX_COMPILER=g++
configure_and_test clang "" -DCMAKE_CXX_COMPILER=clang++
configure_and_test asan "" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=address,undefined
configure_and_test tsan "concurrency" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=thread
configure_and_test fuzz "fuzz" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=address,undefined -DQUIBEX_BUILD_FUZZERS=ON \
  -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=OFF -DQUIBEX_BUILD_TOOLS=OFF
echo "=== all configurations passed"
