# The Windows .zip: the statically linked executables, their manual pages as
# text, README and LICENSE. The version comes from project(). On Linux the
# Debian packages are built from debian/ by debhelper.

if(WIN32)
  set(CPACK_PACKAGE_NAME okr)
  set(CPACK_PACKAGE_VENDOR "${OKR_COPYRIGHT_HOLDER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME okr-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_COMPONENTS_ALL runtime)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL_IN_ONE_PACKAGE ON)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # What a release ships: the debug information stays in the build.
  set(CPACK_STRIP_FILES ON)
  include(CPack)
endif()
