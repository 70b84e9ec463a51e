# macOS 11 and later on Apple silicon, built with clang and ld64.lld (see
# macos.cmake), which signs the module ad hoc as macOS requires there; its
# tests run on Linux aarch64 under QEMU through the host library's Mach-O
# loader:
#   cmake -S . -B build-macos-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64-apple-macos11.cmake
set(CMAKE_SYSTEM_PROCESSOR arm64)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)
