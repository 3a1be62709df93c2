# Cross-build of the module for a Debian armhf root (scripts/armhf_python.sh)
# with the build machine's arm-linux-gnueabihf compilers: headers and
# libraries (Python, NumPy, oneTBB, abseil, glibc) come from the root, given as
# TARNIX_ARMHF_ROOT. The root's interpreter cannot run in CMake's configure
# step, so Python_SOABI and NUMPY_INCLUDE_DIR come from the caller.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_SYSROOT "${TARNIX_ARMHF_ROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNIX_ARMHF_ROOT)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# GCC's notes on ABI changes of the ARM argument passing concern code built by
# GCC older than 7 only.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
