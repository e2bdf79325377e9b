# Checks what Android's loader and app stores require of the shared library
# LIBRARY, read with READELF. Run with
#   cmake -DREADELF=... -DLIBRARY=... -DCHECK=segments -P check_elf.cmake
#   cmake -DREADELF=... -DLIBRARY=... -DCHECK=imports -DSYMBOLS=table.tsv
#         -DABI=arm64-v8a -DAPI=21 -P check_elf.cmake
#
# segments: every LOAD segment is aligned to at least 16 KB (devices with
#   16 KB pages refuse less) and the stack is not executable.
# imports: every C-library symbol the library takes from outside is one
#   that Android's C library (libc, libm, libdl) offers on ABI at API level
#   API or lower, by the table SYMBOLS (columns: library, symbol, then the
#   lowest level per ABI, "-" where the ABI lacks it), or that Android's
#   liblog offers (the log's __android_log_print). The C++ runtime's
#   symbols are not checked: on Android the runtime is linked into the
#   library. Prints "SKIPPED" and passes when the table is absent.
cmake_minimum_required(VERSION 3.16)

function(fail message)
  message(FATAL_ERROR "${LIBRARY}: ${message}")
endfunction()

function(read_elf option out)
  execute_process(COMMAND "${READELF}" ${option} -W "${LIBRARY}"
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${READELF} ${option} failed")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(check_segments)
  read_elf(--segments lines)
  set(loads 0)
  set(stack "")
  foreach(line IN LISTS lines)
    # Type, offset, addresses, sizes, flags, then the alignment.
    if(line MATCHES "^ *LOAD .* (0x[0-9a-f]+)$")
      math(EXPR align "${CMAKE_MATCH_1}")
      if(align LESS 16384)
        fail("a LOAD segment is aligned to ${align} bytes, not 16384:\n${line}")
      endif()
      math(EXPR loads "${loads} + 1")
    elseif(line MATCHES "^ *GNU_STACK .* ([RWE ]+) +0x[0-9a-f]+$")
      string(STRIP "${CMAKE_MATCH_1}" stack)
    endif()
  endforeach()
  if(loads EQUAL 0)
    fail("no LOAD segments found")
  endif()
  if(stack STREQUAL "")
    fail("no GNU_STACK header: the loader may make the stack executable")
  endif()
  if(stack MATCHES "E")
    fail("the stack is executable (GNU_STACK ${stack})")
  endif()
  message(STATUS "${loads} LOAD segments aligned to 16 KB or more; stack ${stack}")
endfunction()

# Names without a glibc version that are not the C library's: the C++
# runtime (mangled names, the ABI's __cxa_ and personality routines, the
# unwinder) and the weak hooks of the start-up files, which the NDK's own
# start-up files replace. (glibc versions every symbol it exports, so its
# __cxa_atexit and __cxa_finalize are still checked.)
set(not_c_library
  "^_Z" "^__cxa_" "^__gxx_personality" "^_Unwind_" "^__aeabi_unwind_cpp_pr"
  "^__dynamic_cast$" "^__gmon_start__$" "^_ITM_")
# The compiler runtime's 64-bit division on 32-bit x86, which glibc also
# exports (versioned as its own, so the linker binds to it there); the
# NDK links its compiler runtime into the library instead.
set(compiler_runtime "^__u?(div|mod)di3$")
# What the compilers make of the same source for glibc and for Android:
# errno is __errno_location() on glibc and __errno() on Android; clang
# turns a memcmp() whose result is only compared with zero into bcmp() for
# glibc targets only; on 64-bit ARM the compiler runtime's test for the
# ARMv8.1 atomic instructions asks glibc's __getauxval(), and Android's
# getauxval().
set(glibc_names __errno_location bcmp __getauxval)
set(bionic_names __errno memcmp getauxval)
# Calls that only glibc offers and the sources make only under
# #ifdef __GLIBC__ (malloc_trim: engine/filter_engine_impl.cpp).
set(glibc_only malloc_trim)
# Android's log library, liblog, which an NDK build links for the library's
# log: these have been there on every ABI since API level 1.
set(liblog_symbols __android_log_print)

function(check_imports)
  if(NOT EXISTS "${SYMBOLS}")
    message("SKIPPED: no table of Android's C-library symbols at ${SYMBOLS}")
    return()
  endif()
  file(READ "${SYMBOLS}" table)
  string(REGEX MATCH "\nlibrary\t[^\n]*" header "${table}")
  string(STRIP "${header}" header)
  string(REPLACE "\t" ";" columns "${header}")
  list(FIND columns "${ABI}" abi_column)
  if(abi_column LESS 2)
    fail("the table has no column for ABI '${ABI}'")
  endif()

  read_elf(--dyn-syms lines)
  set(checked 0)
  set(problems "")
  foreach(line IN LISTS lines)
    # "Num: Value Size Type Bind Vis UND name[@version (n)]"
    if(NOT line MATCHES " UND ([^ @]+)(@([^ ]+))?")
      continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(version "${CMAKE_MATCH_3}")
    if(version MATCHES "^(GLIBCXX|CXXABI|GCC)_")
      continue()  # libstdc++, its ABI library or the compiler's libgcc_s
    endif()
    if(NOT version MATCHES "^GLIBC_")
      set(runtime FALSE)
      foreach(pattern IN LISTS not_c_library)
        if(name MATCHES "${pattern}")
          set(runtime TRUE)
        endif()
      endforeach()
      if(runtime)
        continue()
      endif()
    endif()
    if(name MATCHES "${compiler_runtime}")
      message(STATUS "${name}: the compiler runtime's")
      continue()
    endif()
    list(FIND glibc_only "${name}" only)
    if(only GREATER -1)
      message(STATUS "${name}: glibc only, made under #ifdef __GLIBC__")
      continue()
    endif()
    list(FIND liblog_symbols "${name}" logging)
    if(logging GREATER -1)
      message(STATUS "${name}: Android's liblog, API 1")
      math(EXPR checked "${checked} + 1")
      continue()
    endif()
    list(FIND glibc_names "${name}" alias)
    if(alias GREATER -1)
      list(GET bionic_names ${alias} name)
    endif()
    math(EXPR checked "${checked} + 1")
    if(NOT table MATCHES "\n(libc|libm|libdl)\t${name}\t([^\n]*)")
      string(APPEND problems "\n  ${name}: not in Android's C library")
      continue()
    endif()
    string(REPLACE "\t" ";" levels "${CMAKE_MATCH_2}")
    math(EXPR level_index "${abi_column} - 2")
    list(GET levels ${level_index} level)
    if(level STREQUAL "-")
      string(APPEND problems "\n  ${name}: not offered on ${ABI}")
    elseif(level GREATER API)
      string(APPEND problems "\n  ${name}: only from API level ${level} on ${ABI}")
    endif()
  endforeach()
  if(problems)
    fail("C-library symbols Android's C library lacks at API ${API}:${problems}")
  endif()
  message(STATUS "${checked} C-library symbols, all offered on ${ABI} at API ${API}")
endfunction()

if(CHECK STREQUAL "segments")
  check_segments()
elseif(CHECK STREQUAL "imports")
  check_imports()
else()
  message(FATAL_ERROR "CHECK must be segments or imports")
endif()
