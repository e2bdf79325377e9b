#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every
# test in each configuration the project is checked in, or in those named:
#   scripts/test.sh [CONFIG...]   every configuration, or only those named
#                                 (run in the order below)
#   scripts/test.sh --list        the names of the configurations
# The configurations:
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
# They compare their tool with build/gcc's, which is built first (the tool
# alone) when the gcc configuration is not among those run.
# The gcc configuration also shrinks the host classes with ProGuard and runs
# the JVM checks against the shrunk jar (CTest label "java").
# Build trees go to build/<configuration> and are reused when present (a
# tree configured with another toolchain file is made afresh). Stops at the
# first configuration that fails, exiting non-zero. At the end prints one
# line per configuration run: its tests passed, skipped and failed, its
# seconds and the size of its stripped libquibex.so.
set -euo pipefail
cd "$(dirname "$0")/.."

configurations=(gcc clang libcxx asan tsan fuzz arm64 armv7 x86)
usage() {
  echo "usage: scripts/test.sh [--list] [CONFIG...]" >&2
  echo "configurations: ${configurations[*]}" >&2
  exit 2
}

# The CTest labels (empty: every test) and CMake arguments of each
# configuration, in labels and args.
labels=""
args=()
settings() {
  local cross=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
               -DQUIBEX_NATIVE_BUILD_DIR="$PWD/build/gcc")
  labels=""
  case $1 in
    gcc) args=(-DCMAKE_CXX_COMPILER=g++) ;;
    clang) args=(-DCMAKE_CXX_COMPILER=clang++) ;;
    libcxx) args=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++) ;;
    asan) args=(-DCMAKE_CXX_COMPILER=clang++
                "-DQUIBEX_SANITIZE=address,undefined,alignment") ;;
    tsan) labels=concurrency
          args=(-DCMAKE_CXX_COMPILER=clang++ -DQUIBEX_SANITIZE=thread) ;;
    fuzz) labels=fuzz
          args=(-DCMAKE_CXX_COMPILER=clang++ "-DQUIBEX_SANITIZE=address,undefined"
                -DQUIBEX_BUILD_FUZZERS=ON -DQUIBEX_BUILD_TESTS=OFF
                -DQUIBEX_BUILD_JNI=OFF -DQUIBEX_BUILD_TOOLS=OFF) ;;
    arm64) args=("${cross[@]}"
                 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake") ;;
    armv7) args=("${cross[@]}"
                 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/arm-linux-gnueabi.cmake") ;;
    x86) args=("${cross[@]}"
               -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686-linux-gnu.cmake") ;;
    *) return 1 ;;
  esac
}

selected=()
for name in "$@"; do
  case $name in
    --list) printf '%s\n' "${configurations[@]}"; exit 0 ;;
    -h|--help) usage ;;
  esac
  if ! settings "$name"; then
    echo "scripts/test.sh: unknown configuration '$name'" >&2
    usage
  fi
done
for name in "${configurations[@]}"; do
  if [ $# -eq 0 ] || [[ " $* " == *" $name "* ]]; then
    selected+=("$name")
  fi
done

scripts/setup.sh

jobs=$(nproc)
summary=()
running=""
print_summary() {
  [ -n "$running" ] && summary+=("$(printf '%-7s configure or build failed' "$running")")
  [ ${#summary[@]} -gt 0 ] && printf '%s\n' "${summary[@]}"
  echo "total   $SECONDS s"
}
trap print_summary EXIT

configure() {
  local build=$1 arg
  shift
  # A tree configured with another toolchain file cannot be reconfigured.
  for arg in "$@"; do
    if [[ $arg == -DCMAKE_TOOLCHAIN_FILE=* && -f $build/CMakeCache.txt ]] &&
       ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=${arg#*=}" "$build/CMakeCache.txt"; then
      rm -rf "$build"
    fi
  done
  cmake -S . -B "$build" -G Ninja -DQUIBEX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
}

configure_and_test() {
  local name=$1
  local start=$SECONDS build="build/$name"
  running=$name
  echo "=== $name: configure and build"
  configure "$build" "${args[@]}"
  cmake --build "$build" -j "$jobs"
  echo "=== $name: test"
  local ctest_args=(--test-dir "$build" --output-on-failure -j "$jobs") status=0
  [ -n "$labels" ] && ctest_args+=(-L "$labels")
  ctest "${ctest_args[@]}" | tee "$build/ctest.log" || status=$?
  running=""
  local total failed skipped size=""
  read -r failed total < <(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' \
                              "$build/ctest.log" | tail -n 1) || true
  skipped=$(grep -c '(Skipped)' "$build/ctest.log" || true)
  if [ -f "$build/jni/libquibex.so" ]; then
    local strip
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
    "$strip" -o "$build/libquibex.stripped.so" "$build/jni/libquibex.so"
    size=", stripped libquibex.so $(stat -c %s "$build/libquibex.stripped.so") bytes"
  fi
  summary+=("$(printf '%-7s %4d passed, %3d skipped, %3d failed  %5d s%s' "$name" \
    $((${total:-0} - ${failed:-0} - skipped)) "$skipped" "${failed:-0}" \
    $((SECONDS - start)) "$size")")
  if [ "$status" -ne 0 ]; then
    echo "=== $name: failed"
    exit 1
  fi
}

for name in "${selected[@]}"; do
  if [[ $name == arm64 || $name == armv7 || $name == x86 ]] &&
     [[ " ${selected[*]} " != *" gcc "* && -z ${native_tool_built:-} ]]; then
    echo "=== gcc: the tool the cross builds compare with"
    settings gcc
    configure build/gcc "${args[@]}"
    cmake --build build/gcc -j "$jobs" --target quibex quibex_probe_report
    native_tool_built=1
  fi
  settings "$name"
  configure_and_test "$name"
done

echo "=== all configurations run passed"
