# A Debian package of the check and the library on Linux, a .zip of the
# statically linked check on Windows. The version comes from project().

set(CPACK_PACKAGE_NAME okr)
set(CPACK_PACKAGE_VENDOR "okr")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "okr maintainers <maintainers@okr.invalid>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME okr-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_COMPONENTS_ALL runtime)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL_IN_ONE_PACKAGE ON)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The check needs wxWidgets' base library and libsystemd at run time
  # (found by dpkg-shlibdeps); the library's headers need Boost's.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libboost-dev (>= 1.74)")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

include(CPack)
