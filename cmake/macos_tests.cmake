# The tests of the macOS builds run on Linux. A macOS build made here (with
# toolchain-x86_64-apple-macos10.13.cmake or toolchain-arm64-apple-macos11.cmake)
# holds only the modules, the shipping one and the test builds, and records
# where they are (vantorel_record_macos_modules). A Linux build of the same
# processor configured with VANTOREL_MACHO_MODULES set to that build folder
# builds the host library and the tests for them
# (vantorel_test_macos_modules): they load the modules through the host
# library's Mach-O loader, x86_64 natively and arm64 under QEMU.

set(VANTOREL_MACOS_RECORD vantorel-macos-modules.cmake)

macro(vantorel_record_macos_modules)
  file(WRITE ${CMAKE_BINARY_DIR}/${VANTOREL_MACOS_RECORD}
    "# Written by the macOS build in this folder, for vantorel_test_macos_modules.\n"
    "set(MACOS_PROCESSOR ${CMAKE_SYSTEM_PROCESSOR})\n"
    "set(MACOS_BUNDLE_DIR \"${BUNDLE_DIR}\")\n"
    "set(MACOS_REFERENCE_BUNDLE_DIR \"${REFERENCE_BUNDLE_DIR}\")\n"
    "set(MACOS_KERNEL_BUNDLES \"${KERNEL_BUNDLES}\")\n")
endmacro()

macro(vantorel_test_macos_modules)
  set(record ${VANTOREL_MACHO_MODULES}/${VANTOREL_MACOS_RECORD})
  if(NOT EXISTS ${record})
    message(FATAL_ERROR "${VANTOREL_MACHO_MODULES} is not a configured macOS "
                        "build of the modules (it has no ${VANTOREL_MACOS_RECORD})")
  endif()
  include(${record})
  set(slice_arch_pairs "x86_64|Linux-x86-64" "arm64|Linux-aarch64")
  if(NOT "${MACOS_PROCESSOR}|${OFX_ARCH}" IN_LIST slice_arch_pairs)
    message(FATAL_ERROR "A ${OFX_ARCH} build cannot run the tests of the "
                        "${MACOS_PROCESSOR} macOS modules in ${VANTOREL_MACHO_MODULES}")
  endif()
  set(OFX_ARCH MacOS)
  if(VANTOREL_MACHO_BUNDLE)
    set(BUNDLE_DIR ${VANTOREL_MACHO_BUNDLE})
  else()
    set(BUNDLE_DIR ${MACOS_BUNDLE_DIR})
  endif()
  set(REFERENCE_BUNDLE_DIR ${MACOS_REFERENCE_BUNDLE_DIR})
  set(KERNEL_BUNDLES ${MACOS_KERNEL_BUNDLES})
  set(KERNEL_TARGETS "")
  set(VANTOREL_BUILD_TOOLS OFF)
  add_subdirectory(host)
  enable_testing()
  add_subdirectory(tests)
endmacro()
