# `cpack` in the build folder (`make package`) writes two packages:
#  - qvo-vantorel_VERSION_ARCH.deb: the bundle in the standard plug-in folder
#    /usr/OFX/Plugins, the vantorel tool in /usr/bin with its manual page,
#    the copyright file, changelog and lintian overrides, its dependencies
#    worked out from the binaries by dpkg-shlibdeps;
#  - QvoVantorel-VERSION-ARCH.tar.gz: the bundle alone, for hosts on other
#    systems.
# Both take their files from the package root that every build lays out
# (package-root/); no install step runs. The module and the tool are
# stripped there. The build keeps them unstripped and writes them, as they
# are, into dist/qvo-vantorel-debug_VERSION_ARCH.tar.gz, to read crash
# reports of the packaged ones by (see cmake/debug_symbols.cmake).
set(PACKAGE_NAME qvo-vantorel)
set(PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0")
# The project has no mail address yet: the reserved .invalid domain names
# nobody.
set(PACKAGE_MAINTAINER "Qvo Vantorel developers <developers@qvo-vantorel.invalid>")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE PACKAGE_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg --print-architecture failed: the package is built on Debian")
endif()
# The date of the changelog entry and the manual page: SOURCE_DATE_EPOCH
# when it is set, else the time of the commit built when the sources are a
# git checkout (so a commit always packages the same), else now.
set(source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
find_package(Git QUIET)
if(NOT source_date_epoch AND GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
string(TIMESTAMP PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP MAN_PAGE_DATE "%Y-%m-%d" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${source_date_epoch}")

set(PACKAGE_ROOT ${CMAKE_BINARY_DIR}/package-root)
set(PACKAGE_BUNDLE ${PACKAGE_ROOT}/usr/OFX/Plugins/QvoVantorel.ofx.bundle)
set(PACKAGE_MODULE ${PACKAGE_BUNDLE}/Contents/${OFX_ARCH}/QvoVantorel.ofx)
set(PACKAGE_TOOL ${PACKAGE_ROOT}/usr/bin/vantorel)
set(PACKAGE_DOC ${PACKAGE_ROOT}/usr/share/doc/${PACKAGE_NAME})
set(PACKAGE_MAN_PAGE ${PACKAGE_ROOT}/usr/share/man/man1/vantorel.1.gz)
set(PACKAGE_DEBUG_SYMBOLS
    ${CMAKE_BINARY_DIR}/dist/${PACKAGE_NAME}-debug_${PACKAGE_VERSION}_${PACKAGE_ARCH}.tar.gz)
# The page as the tool's help makes it, before it is compressed.
set(VANTOREL_MAN_PAGE ${CMAKE_BINARY_DIR}/man/vantorel.1)

configure_file(resources/copyright ${PACKAGE_DOC}/copyright COPYONLY)
configure_file(resources/lintian-overrides
  ${PACKAGE_ROOT}/usr/share/lintian/overrides/${PACKAGE_NAME} COPYONLY)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/changelog CONTENT
"${PACKAGE_NAME} (${PACKAGE_VERSION}) unstable; urgency=medium

  * Qvo Vantorel ${PACKAGE_VERSION}: the OpenFX plug-in and the vantorel tool.

 -- ${PACKAGE_MAINTAINER}  ${PACKAGE_DATE}
")

# Compressed as Debian wants documentation: the most, with no name or time
# stamp in the header.
set(GZIP_TO "gzip -9n -c \"$0\" > \"$1\"")

# Stripped as dh_strip does it: the module keeps the symbols it exports.
if(NOT CMAKE_STRIP OR NOT CMAKE_READELF)
  message(FATAL_ERROR "the package needs strip and readelf (binutils)")
endif()
set(STRIP_NOTES --remove-section=.comment --remove-section=.note)
add_custom_command(
  OUTPUT ${PACKAGE_MODULE} ${PACKAGE_TOOL} ${PACKAGE_DEBUG_SYMBOLS}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${BUNDLE_DIR}/Contents/Resources
          ${PACKAGE_BUNDLE}/Contents/Resources
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_BUNDLE}/Contents/${OFX_ARCH}
          ${PACKAGE_ROOT}/usr/bin ${CMAKE_BINARY_DIR}/dist
  COMMAND ${CMAKE_STRIP} --strip-unneeded ${STRIP_NOTES}
          -o ${PACKAGE_MODULE} $<TARGET_FILE:QvoVantorel>
  COMMAND ${CMAKE_STRIP} ${STRIP_NOTES} -o ${PACKAGE_TOOL} $<TARGET_FILE:vantorel>
  COMMAND ${CMAKE_COMMAND} -DARCHIVE=${PACKAGE_DEBUG_SYMBOLS} -DREADELF=${CMAKE_READELF}
          "-DFILES=usr/bin/vantorel=$<TARGET_FILE:vantorel>;usr/OFX/Plugins/QvoVantorel.ofx.bundle/Contents/${OFX_ARCH}/QvoVantorel.ofx=$<TARGET_FILE:QvoVantorel>"
          -P ${CMAKE_SOURCE_DIR}/cmake/debug_symbols.cmake
  DEPENDS QvoVantorel vantorel ${CMAKE_SOURCE_DIR}/cmake/debug_symbols.cmake
          ${BUNDLE_DIR}/Contents/Resources/${PLUGIN_IDENTIFIER}.svg
          ${BUNDLE_DIR}/Contents/Resources/${PLUGIN_IDENTIFIER}.png
  COMMENT "Stripping the module and the tool for the package"
  VERBATIM)

add_custom_command(
  OUTPUT ${VANTOREL_MAN_PAGE} ${PACKAGE_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
          ${PACKAGE_ROOT}/usr/share/man/man1
  COMMAND sh ${CMAKE_SOURCE_DIR}/tools/vantorel/make_man_page.sh
          $<TARGET_FILE:vantorel> ${CMAKE_SOURCE_DIR}/tools/vantorel/vantorel.1.in
          ${MAN_PAGE_DATE} ${VANTOREL_MAN_PAGE}
  COMMAND sh -c ${GZIP_TO} ${VANTOREL_MAN_PAGE} ${PACKAGE_MAN_PAGE}
  DEPENDS vantorel ${CMAKE_SOURCE_DIR}/tools/vantorel/make_man_page.sh
          ${CMAKE_SOURCE_DIR}/tools/vantorel/vantorel.1.in
  COMMENT "Writing the manual page of vantorel from its help"
  VERBATIM)

add_custom_command(
  OUTPUT ${PACKAGE_DOC}/changelog.gz
  COMMAND sh -c ${GZIP_TO} ${CMAKE_BINARY_DIR}/changelog ${PACKAGE_DOC}/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/changelog
  VERBATIM)

add_custom_target(vantorel_package_root ALL
  DEPENDS ${PACKAGE_MODULE} ${PACKAGE_TOOL} ${PACKAGE_DEBUG_SYMBOLS}
          ${VANTOREL_MAN_PAGE} ${PACKAGE_MAN_PAGE} ${PACKAGE_DOC}/changelog.gz)

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME ${PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Qvo Vantorel")
set(CPACK_PACKAGE_CONTACT ${PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "OpenFX plug-in with exposure and framing aids for camera and grading work")
set(CPACK_PACKAGE_DESCRIPTION
  "Qvo Vantorel draws analysis aids over the picture in any OpenFX host: a
false-colour exposure map, a squeeze into legal video levels, skin-tone
reference patches and line, a middle-gray band, composition guides and
letterbox bars. The package installs the plug-in bundle in /usr/OFX/Plugins
and the vantorel command-line tool, which applies the plug-in to image
files.")
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES "${PACKAGE_ROOT};/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PACKAGE_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The archive holds only the bundle folder, named as hosts expect it.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackPerGenerator.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(CPACK_GENERATOR STREQUAL \"TGZ\")
  set(CPACK_INSTALLED_DIRECTORIES \"${PACKAGE_BUNDLE};QvoVantorel.ofx.bundle\")
  set(CPACK_PACKAGE_FILE_NAME \"QvoVantorel-\${CPACK_PACKAGE_VERSION}-${OFX_ARCH}\")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
")
include(CPack)
