# Cross-builds for 32-bit ARMv7 Linux (the CPU of Android's armeabi-v7a)
# with Debian's g++-arm-linux-gnueabihf, and runs the results under
# qemu-user (Debian's qemu-user) with the cross packages' target root:
#   cmake -S . -B build/armv7 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
# Debian's compiler already targets ARMv7-A with Thumb-2 and VFPv3-D16, as
# armeabi-v7a does; it uses the hard-float calling convention, where
# Android's armeabi-v7a passes floating-point arguments in core registers.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)
set(QUIBEX_TARGET_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
