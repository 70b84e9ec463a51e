# What the two macOS toolchain files share: clang for the processor in
# CMAKE_SYSTEM_PROCESSOR and its oldest macOS, linked by ld64.lld (package
# lld) against the project's own C declarations and libSystem stub in
# macos-sysroot/ instead of Apple's SDK. Only the plug-in module and its
# test builds are made for macOS; a Linux build runs their tests through the
# host library's Mach-O loader (cmake/macos_tests.cmake).
set(CMAKE_SYSTEM_NAME Darwin)

# The oldest macOS each processor's slice runs on (the bundle's Info.plist
# lists both).
set(VANTOREL_MACOS_MINIMUM_x86_64 10.13.0)
set(VANTOREL_MACOS_MINIMUM_arm64 11.0.0)
set(CMAKE_OSX_DEPLOYMENT_TARGET ${VANTOREL_MACOS_MINIMUM_${CMAKE_SYSTEM_PROCESSOR}})
set(VANTOREL_APPLE_TARGET ${CMAKE_SYSTEM_PROCESSOR}-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${VANTOREL_APPLE_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${VANTOREL_APPLE_TARGET})
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/macos-sysroot)
# The module includes no C++ library header (it runs without the C++
# runtime), so no C++ library's headers are searched.
set(CMAKE_CXX_FLAGS_INIT -nostdinc++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)

# There is no C runtime to link a test program against: CMake's compiler
# checks build a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
