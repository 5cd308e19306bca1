# Installs the library with its public headers, a package configuration so
# that other projects can do find_package(okr) and a pkg-config file for
# those that do not use CMake; and, beside the executables (each installs
# itself in COMPONENT runtime), every manual page of man/.

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

if(NOT WIN32)
  # The link needs of okr::platform_ipc, for builds that do not use CMake.
  set(OKR_PC_LIBS "-pthread")
  if(OKR_RT_LIBRARY)
    string(PREPEND OKR_PC_LIBS "-lrt ")
  endif()
  # Relative to the file itself, so that it holds for any install prefix.
  file(RELATIVE_PATH OKR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" OKR_PC_TO_PREFIX "${OKR_PC_TO_PREFIX}")
  configure_file(cmake/okr.pc.in ${CMAKE_CURRENT_BINARY_DIR}/okr.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/okr.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

  install(DIRECTORY man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime
    FILES_MATCHING PATTERN "*.1")
else()
  # Windows has no man: the .zip carries the pages as plain text, and the
  # README and LICENSE, all with the line ends Notepad expects.
  find_program(OKR_GROFF groff REQUIRED)
  file(GLOB OKR_MANUAL_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
  set(OKR_MANUAL_TEXTS)
  foreach(page ${OKR_MANUAL_PAGES})
    get_filename_component(name ${page} NAME_WE)
    set(text ${CMAKE_CURRENT_BINARY_DIR}/doc/${name}.txt)
    add_custom_command(OUTPUT ${text}
      COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/manual-text.sh ${OKR_GROFF} ${page} ${text}
      DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/manual-text.sh VERBATIM)
    list(APPEND OKR_MANUAL_TEXTS ${text})
  endforeach()
  add_custom_target(okr_manual_texts ALL DEPENDS ${OKR_MANUAL_TEXTS})
  install(FILES ${OKR_MANUAL_TEXTS} DESTINATION doc COMPONENT runtime)

  foreach(file README.md LICENSE)
    get_filename_component(name ${file} NAME_WE)
    configure_file(${file} ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt DESTINATION . COMPONENT runtime)
  endforeach()
endif()
