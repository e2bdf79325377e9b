# Cross-builds for 32-bit ARMv7 Linux with Android's armeabi-v7a calling
# convention: ARMv7-A, Thumb-2, VFPv3-D16, floating-point arguments passed
# in core registers (softfp). Debian's soft-float g++-arm-linux-gnueabi
# links against its target root (soft float and softfp share the calling
# convention), and the results run under qemu-user:
#   cmake -S . -B build/armv7 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabi.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)
set(QUIBEX_TARGET_TRIPLE arm-linux-gnueabi)
set(CMAKE_CXX_FLAGS_INIT
    "-march=armv7-a -mthumb -mfloat-abi=softfp -mfpu=vfpv3-d16")
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
