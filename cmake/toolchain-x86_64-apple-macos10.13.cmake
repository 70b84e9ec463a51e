# macOS 10.13 and later on 64-bit Intel, built with clang and ld64.lld (see
# macos.cmake); its tests run natively on Linux x86-64 through the host
# library's Mach-O loader:
#   cmake -S . -B build-macos-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-apple-macos10.13.cmake
# clang's default processor for this target is Penryn, so the whole module
# may use SSE4.1, the x86-64 baseline of the kernel sets.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)
