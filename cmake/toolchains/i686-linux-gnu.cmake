# Cross-builds for 32-bit x86 Linux (the CPU of Android's x86 ABI) with
# Debian's g++-i686-linux-gnu, as the NDK builds that ABI: i686 with SSSE3,
# floating point in SSE registers, the stack realigned on entry:
#   cmake -S . -B build/x86 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-linux-gnu.cmake
# An x86-64 kernel runs the programs natively; they start through the
# target root's own dynamic loader, which serves as the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUIBEX_TARGET_TRIPLE i686-linux-gnu)
set(CMAKE_CXX_FLAGS_INIT "-mssse3 -mfpmath=sse -mstackrealign")
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
