# Cross-builds for 64-bit ARM Linux (the CPU of Android's arm64-v8a) with
# Debian's g++-aarch64-linux-gnu, and runs the results under qemu-user
# (Debian's qemu-user) with the cross packages' target root:
#   cmake -S . -B build/arm64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUIBEX_TARGET_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
