# Cross build for the camera: 32-bit ARM, hard-float, Linux with glibc, using
# Debian's cross compiler (g++-arm-linux-gnueabihf). Binaries built here run
# on this machine through user-mode emulation (qemu-arm), so the tests can be
# run with ctest as usual.
#
#   cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#
# A firmware build system with its own cross compiler may set
# ARM_TOOLCHAIN_PREFIX (e.g. /opt/sdk/bin/arm-linux-gnueabihf-) and
# ARM_SYSROOT; the emulator is only used for running tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ARM_TOOLCHAIN_PREFIX "arm-linux-gnueabihf-" CACHE STRING "Prefix of the cross compiler's tools")
set(ARM_SYSROOT "/usr/arm-linux-gnueabihf" CACHE PATH "Target's root for libraries, headers and the emulator")

set(CMAKE_C_COMPILER ${ARM_TOOLCHAIN_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${ARM_TOOLCHAIN_PREFIX}g++)

set(CMAKE_FIND_ROOT_PATH ${ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests, test discovery and try_run go through the emulator; -L makes it find
# the target's dynamic loader and C library.
find_program(ARM_EMULATOR qemu-arm)
if(ARM_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ARM_EMULATOR} -L ${ARM_SYSROOT})
endif()
