# Cross-build with zig's clang, libc++ and musl through the wrapper scripts of
# scripts/zig_toolchain.sh:
#   -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DTARNIX_ZIG_BIN=<wrappers>
#   -DTARNIX_ZIG_TARGET=arm-linux-musleabihf [-DTARNIX_QEMU=<qemu-arm>]
# Executables are linked statically and run under TARNIX_QEMU when given.
# Libraries and packages are looked up only below CMAKE_PREFIX_PATH.
set(TARNIX_ZIG_BIN "" CACHE PATH "Directory of the zig wrapper scripts")
set(TARNIX_ZIG_TARGET "" CACHE STRING "zig target triple")
set(TARNIX_QEMU "" CACHE FILEPATH "User-mode emulator that runs the target's executables")
# try_compile projects see the same toolchain.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNIX_ZIG_BIN TARNIX_ZIG_TARGET)
if(NOT TARNIX_ZIG_BIN OR NOT TARNIX_ZIG_TARGET)
  message(FATAL_ERROR "cmake/zig.cmake needs TARNIX_ZIG_BIN and TARNIX_ZIG_TARGET")
endif()

set(CMAKE_SYSTEM_NAME Linux)
if(TARNIX_ZIG_TARGET MATCHES "^arm")
  set(CMAKE_SYSTEM_PROCESSOR arm)
elseif(TARNIX_ZIG_TARGET MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
elseif(TARNIX_ZIG_TARGET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_C_COMPILER "${TARNIX_ZIG_BIN}/${TARNIX_ZIG_TARGET}-cc")
set(CMAKE_CXX_COMPILER "${TARNIX_ZIG_BIN}/${TARNIX_ZIG_TARGET}-c++")
set(CMAKE_AR "${TARNIX_ZIG_BIN}/${TARNIX_ZIG_TARGET}-ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${TARNIX_ZIG_BIN}/${TARNIX_ZIG_TARGET}-ranlib" CACHE FILEPATH "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH "${CMAKE_PREFIX_PATH}")

if(TARNIX_QEMU AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TARNIX_QEMU}")
endif()
