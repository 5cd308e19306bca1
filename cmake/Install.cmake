# Installs the libraries with their public headers, a package configuration
# so that other projects can do find_package(okr) (okr::okr and
# okr::okr_static) and a pkg-config file for those that do not use CMake;
# and, beside the executables (each installs itself in COMPONENT runtime),
# every manual page of man/. On Windows the SDK's README, LICENSE and
# example are COMPONENT sdk (see cmake/Packaging.cmake).

include(CMakePackageConfigHelpers)

set(OKR_PUBLIC_HEADERS
  ipc/Export.h
  ipc/SharedType ipc/SharedType.h
  ipc/SharedRecord ipc/SharedRecord.h
  ipc/SharedException ipc/SharedException.h
  ipc/SharedName ipc/SharedName.h
  common/LogInfo common/LogInfo.h
  common/SharedSyncInfo common/SharedSyncInfo.h
  common/RecordName common/RecordName.h
  common/UserIdentity common/UserIdentity.h
)
foreach(header ${OKR_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/okr/${folder} COMPONENT development)
endforeach()

set(OKR_LIBRARIES okr okr_platform_ipc)
if(TARGET okr_static)
  list(APPEND OKR_LIBRARIES okr_static)
endif()
install(TARGETS ${OKR_LIBRARIES} EXPORT okrTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
set_target_properties(okr_platform_ipc PROPERTIES EXPORT_NAME platform_ipc)
if(WIN32)
  # The static library is okr::okr_static everywhere; okrConfig.cmake lets
  # okr::okr name it too on Windows, which has no other.
  set_target_properties(okr PROPERTIES EXPORT_NAME okr_static)
endif()

set(OKR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/okr)
install(EXPORT okrTargets NAMESPACE okr:: DESTINATION ${OKR_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/okrConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/okrConfig.cmake
  INSTALL_DESTINATION ${OKR_CMAKE_DIR})
# The major version is the shared library's SONAME, which promises its
# binary interface; a minor version only adds to it.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/okrConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/okrConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/okrConfigVersion.cmake
  DESTINATION ${OKR_CMAKE_DIR} COMPONENT development)

if(NOT WIN32)
  # What linking the static archive needs besides (pkg-config --static);
  # the shared library brings its own.
  set(OKR_PC_LIBS_PRIVATE "-pthread")
  if(OKR_RT_LIBRARY)
    string(PREPEND OKR_PC_LIBS_PRIVATE "-lrt ")
  endif()
  # Absolute, as pkg-config needs it to recognise the system's own folders
  # and leave them off the command lines it prints; written at install time,
  # so that it names the prefix given to cmake --install.
  foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(OKR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
      set(OKR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
  endforeach()
  set(pc ${CMAKE_CURRENT_BINARY_DIR}/okr.pc)
  install(CODE "
    set(PROJECT_VERSION ${PROJECT_VERSION})
    set(OKR_PC_LIBDIR [[${OKR_PC_LIBDIR}]])
    set(OKR_PC_INCLUDEDIR [[${OKR_PC_INCLUDEDIR}]])
    set(OKR_PC_LIBS_PRIVATE [[${OKR_PC_LIBS_PRIVATE}]])
    configure_file(${PROJECT_SOURCE_DIR}/cmake/okr.pc.in ${pc} @ONLY)" COMPONENT development)
  install(FILES ${pc} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

  if(NOT OKR_LIBRARY_ONLY)
    install(DIRECTORY man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime
      FILES_MATCHING PATTERN "*.1")
  endif()
  # The library's manual goes with its headers.
  file(GLOB OKR_LIBRARY_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.3)
  if(OKR_LIBRARY_PAGES)
    install(FILES ${OKR_LIBRARY_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  endif()
else()
  # Windows has no man: the .zips carry the pages as plain text, beside
  # README, LICENSE and the notices, all with the line ends Notepad expects.
  find_program(OKR_GROFF groff REQUIRED)
  if(OKR_LIBRARY_ONLY)
    file(GLOB OKR_MANUAL_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.3)
  else()
    file(GLOB OKR_MANUAL_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1 ${PROJECT_SOURCE_DIR}/man/*.3)
  endif()
  set(OKR_MANUAL_TEXTS)
  foreach(page ${OKR_MANUAL_PAGES})
    get_filename_component(name ${page} NAME_WE)
    set(text ${CMAKE_CURRENT_BINARY_DIR}/doc/${name}.txt)
    add_custom_command(OUTPUT ${text}
      COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/manual-text.sh ${OKR_GROFF} ${page} ${text}
      DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/manual-text.sh VERBATIM)
    list(APPEND OKR_MANUAL_TEXTS ${text})
    # The executables' pages go with them, the library's with the SDK.
    if(page MATCHES "[.]1$")
      install(FILES ${text} DESTINATION doc COMPONENT runtime)
    else()
      install(FILES ${text} DESTINATION doc COMPONENT sdk)
    endif()
  endforeach()
  add_custom_target(okr_manual_texts ALL DEPENDS ${OKR_MANUAL_TEXTS})

  configure_file(LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  # The SDK: for the developer who builds against libokr.a with MinGW-w64.
  configure_file(windows/SDK-README.txt ${CMAKE_CURRENT_BINARY_DIR}/sdk/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/sdk/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
    DESTINATION . COMPONENT sdk)
  if(EXISTS ${PROJECT_SOURCE_DIR}/examples/record-pair)
    install(DIRECTORY examples/record-pair DESTINATION examples COMPONENT sdk)
  endif()
endif()

if(WIN32 AND NOT OKR_LIBRARY_ONLY)
  # README.txt is written for the administrator who unpacks the .zip.
  configure_file(windows/README.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  # The licences of what the executables contain, from the copyright files
  # of the packages that supplied it.
  find_program(OKR_PYTHON python3 REQUIRED)
  set(notices ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
  add_custom_command(OUTPUT ${notices}
    COMMAND ${OKR_PYTHON} ${PROJECT_SOURCE_DIR}/windows/third-party-notices.py
            --cxx ${CMAKE_CXX_COMPILER} --wx ${OKR_WX_MINGW_PREFIX} --out ${notices}
    DEPENDS ${PROJECT_SOURCE_DIR}/windows/third-party-notices.py VERBATIM)
  add_custom_target(okr_release_texts ALL DEPENDS ${notices})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt ${notices}
    DESTINATION . COMPONENT runtime)
endif()
