#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# when any is missing. Run as root on a fresh machine; as another user it
# only reports what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  openjdk-17-jdk-headless libbcprov-java openssl python3
  # Java bridge: javac and the JVM (with libjsig.so) for the JVM tests,
  # Bouncy Castle to open the keystore image, nm and readelf to check the
  # library's symbols and segments, openssl and python3 for
  # scripts/make_keystore.py; python3 also for scripts/check_links.py.
  binutils
  # Android's targets approximated: LLVM's libc++ with GoogleTest's sources
  # to build against it, the 64-bit ARM, 32-bit ARM (soft-float, for
  # armeabi-v7a's softfp calling convention) and 32-bit x86 cross
  # compilers, and qemu-user to run the ARM tests.
  libc++-14-dev libc++abi-14-dev googletest
  g++-aarch64-linux-gnu g++-arm-linux-gnueabi
  g++-i686-linux-gnu qemu-user
  # The release-build check: ProGuard shrinks the host classes with the
  # project's keep rules.
  proguard-cli
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing Debian packages: ${missing[*]}" >&2
  echo "setup: run this script as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
