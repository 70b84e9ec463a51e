# 64-bit Windows, built with Debian's MinGW-w64 compilers in their POSIX-threads
# flavour (g++-mingw-w64-x86-64-posix) and run under Wine (wine, wine64):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs link the compiler's runtimes (libstdc++, libgcc, winpthread)
# statically, so they run with only Windows' own DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and GoogleTest's test discovery run the test programs under Wine,
# quietly, in a Wine prefix of the build's own, without the .NET and HTML
# engines a new prefix would offer to install. Debian's wine64 keeps its
# loader out of PATH unless the wine package is installed too.
find_program(VANTOREL_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${VANTOREL_WINE})
