# Shared part of the Debian cross toolchain files: the cross compiler of
# QUIBEX_TARGET_TRIPLE, its target root as the only place to find
# libraries and headers, and qemu-user as the emulator through which CTest
# runs every test program (there is no binfmt handler to run them directly);
# 32-bit x86 programs run on the machine itself, through their loader.
set(CMAKE_C_COMPILER ${QUIBEX_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUIBEX_TARGET_TRIPLE}-g++)
set(QUIBEX_TARGET_ROOT /usr/${QUIBEX_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${QUIBEX_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  # The machine runs 32-bit x86 programs itself; the target root's loader
  # finds their libraries. (qemu-i386 hangs as soon as a test starts a
  # load thread.)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUIBEX_TARGET_ROOT}/lib/ld-linux.so.2
      --library-path ${QUIBEX_TARGET_ROOT}/lib)
  return()
endif()
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(quibex_qemu qemu-aarch64)
else()
  set(quibex_qemu qemu-arm)
endif()
find_program(QUIBEX_QEMU ${quibex_qemu})
if(QUIBEX_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUIBEX_QEMU} -L ${QUIBEX_TARGET_ROOT})
endif()
