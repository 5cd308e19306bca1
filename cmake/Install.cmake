# Installs the check, the library with its public headers, and a package
# configuration so that other projects can do find_package(okr).

include(CMakePackageConfigHelpers)

set(OKR_PUBLIC_HEADERS
  ipc/SharedType ipc/SharedType.h
  ipc/SharedException ipc/SharedException.h
  common/LogInfo common/LogInfo.h
  common/SharedSyncInfo common/SharedSyncInfo.h
  common/RecordName common/RecordName.h
  common/UserIdentity common/UserIdentity.h
)
foreach(header ${OKR_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/okr/${folder} COMPONENT development)
endforeach()

install(TARGETS okr okr_platform_ipc EXPORT okrTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
set_target_properties(okr_platform_ipc PROPERTIES EXPORT_NAME platform_ipc)

set(OKR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/okr)
install(EXPORT okrTargets NAMESPACE okr:: DESTINATION ${OKR_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/okrConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/okrConfig.cmake
  INSTALL_DESTINATION ${OKR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/okrConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/okrConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/okrConfigVersion.cmake
  DESTINATION ${OKR_CMAKE_DIR} COMPONENT development)
