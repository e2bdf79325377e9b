#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every
# test in each configuration the project is checked in:
#   gcc     - the default build with g++
#   clang   - the same with clang
#   libcxx  - clang with LLVM's libc++, the standard library of Android's
#             NDK (GoogleTest built from source against it)
#   asan    - clang with AddressSanitizer, UndefinedBehaviorSanitizer and
#             the alignment check
#   tsan    - clang with ThreadSanitizer, for the concurrency tests
#   fuzz    - a short run of every libFuzzer target (ASan + UBSan)
#   arm64   - cross-built for 64-bit ARM (arm64-v8a's CPU), C++ tests run
#             under qemu-user and the tool compared with the gcc build's
#   armv7   - the same for 32-bit ARMv7 with armeabi-v7a's calling
#             convention (softfp)
#   x86     - the same for 32-bit x86 (Android's x86), run natively through
#             the target root's loader
# The cross builds are optimised with -O1 only: the emulator runs each test
# ten to twenty times slower than the machine, and -O1 halves their build.
# The gcc configuration also shrinks the host classes with ProGuard and runs
# the JVM checks against the shrunk jar (CTest label "java").
# Build trees go to build/<configuration>. Exits non-zero on any failure;
# at the end prints each configuration's time, its test counts and the size
# of its stripped libquibex.so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
summary=()
configure_and_test() {
  local name=$1 labels=$2
  shift 2
  local start=$SECONDS build="build/$name" arg
  # A tree configured with another toolchain file cannot be reconfigured.
  for arg in "$@"; do
    if [[ $arg == -DCMAKE_TOOLCHAIN_FILE=* && -f $build/CMakeCache.txt ]] &&
       ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=${arg#*=}" "$build/CMakeCache.txt"; then
      rm -rf "$build"
    fi
  done
  echo "=== $name: configure and build"
  cmake -S . -B "$build" -G Ninja -DQUIBEX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
  cmake --build "$build" -j "$jobs"
  echo "=== $name: test"
  local args=(--test-dir "$build" --output-on-failure -j "$jobs")
  [ -n "$labels" ] && args+=(-L "$labels")
  ctest "${args[@]}" | tee "$build/ctest.log"
  local counts size=""
  counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$build/ctest.log" |
           sed -E 's/([0-9]+) tests failed out of ([0-9]+)/\2 tests/')
  counts="$counts, $(grep -c '(Skipped)' "$build/ctest.log" || true) skipped"
  if [ -f "$build/jni/libquibex.so" ]; then
    local strip
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
    "$strip" -o "$build/libquibex.stripped.so" "$build/jni/libquibex.so"
    size=", stripped libquibex.so $(stat -c %s "$build/libquibex.stripped.so") bytes"
  fi
  summary+=("$(printf '%-7s %4d s  %s%s' "$name" $((SECONDS - start)) "$counts" "$size")")
}

configure_and_test gcc "" -DCMAKE_CXX_COMPILER=g++
configure_and_test clang "" -DCMAKE_CXX_COMPILER=clang++
configure_and_test libcxx "" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-stdlib=libc++
configure_and_test asan "" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=address,undefined,alignment
configure_and_test tsan "concurrency" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=thread
configure_and_test fuzz "fuzz" -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIBEX_SANITIZE=address,undefined -DQUIBEX_BUILD_FUZZERS=ON \
  -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_JNI=OFF -DQUIBEX_BUILD_TOOLS=OFF
cross=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
       -DQUIBEX_NATIVE_BUILD_DIR="$PWD/build/gcc")
configure_and_test arm64 "" "${cross[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake"
configure_and_test armv7 "" "${cross[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/arm-linux-gnueabi.cmake"
configure_and_test x86 "" "${cross[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686-linux-gnu.cmake"

echo "=== all configurations passed"
printf '%s\n' "${summary[@]}"
echo "total   $SECONDS s"
