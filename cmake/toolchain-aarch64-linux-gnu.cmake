# Linux on 64-bit ARM, built with Debian's cross compiler (g++-aarch64-linux-gnu,
# libc6-dev-arm64-cross) and run under user-mode QEMU (qemu-user):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross C library; QEMU finds the dynamic loader and libraries under it.
set(VANTOREL_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${VANTOREL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and GoogleTest's test discovery run the test programs through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${VANTOREL_SYSROOT})
