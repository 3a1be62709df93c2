# Cross-build for 32-bit ARM (hard-float) Linux with Debian's
# arm-linux-gnueabihf compilers and the armhf (multiarch) libraries; the
# test binaries run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# GCC's notes on ABI changes of the ARM argument passing concern code built by
# GCC older than 7 only.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TARNIX_QEMU_ARM qemu-arm REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TARNIX_QEMU_ARM}")
endif()
