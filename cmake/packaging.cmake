# `cpack` in the build folder (`make package`) writes two packages:
#  - qvo-vantorel_VERSION_ARCH.deb: the bundle in the standard plug-in folder
#    /usr/OFX/Plugins and the vantorel tool in /usr/bin, its dependencies
#    worked out from the binaries by dpkg-shlibdeps;
#  - QvoVantorel-VERSION-ARCH.tar.gz: the bundle alone, for hosts on other
#    systems.
# Both are built from the build tree as it stands; no install step runs.
set(PACKAGE_ROOT ${CMAKE_BINARY_DIR}/package-root)
configure_file(resources/copyright
  ${PACKAGE_ROOT}/usr/share/doc/qvo-vantorel/copyright COPYONLY)
add_custom_target(vantorel_package_root ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_ROOT}/usr/bin
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vantorel>
          ${PACKAGE_ROOT}/usr/bin/vantorel
  DEPENDS vantorel
  VERBATIM)

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME qvo-vantorel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0")
set(CPACK_PACKAGE_VENDOR "Qvo Vantorel")
set(CPACK_PACKAGE_CONTACT "Qvo Vantorel developers")
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
set(CPACK_INSTALLED_DIRECTORIES
  "${BUNDLE_DIR};/usr/OFX/Plugins/QvoVantorel.ofx.bundle"
  "${PACKAGE_ROOT};/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The archive holds only the bundle folder, named as hosts expect it.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackPerGenerator.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(CPACK_GENERATOR STREQUAL \"TGZ\")
  set(CPACK_INSTALLED_DIRECTORIES \"${BUNDLE_DIR};QvoVantorel.ofx.bundle\")
  set(CPACK_PACKAGE_FILE_NAME \"QvoVantorel-\${CPACK_PACKAGE_VERSION}-${OFX_ARCH}\")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
")
include(CPack)
