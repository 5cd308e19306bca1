# The Windows release: everything the runtime component installs (the
# statically linked executables, their manual pages as text, README,
# LICENSE and the third-party notices) under one top-level folder, zipped
# reproducibly by windows/release-zip.sh, with its SHA256SUMS beside it:
#
#   cmake --build --preset windows --target release
#
# gives build/windows/release/okr-<version>-windows-x86_64.zip and SHA256SUMS.
# The version comes from project(). On Linux the Debian packages are built
# from debian/ by debhelper.

if(WIN32)
  set(OKR_RELEASE_NAME okr-${PROJECT_VERSION}-windows-x86_64)
  add_custom_target(release
    COMMAND sh ${PROJECT_SOURCE_DIR}/windows/release-zip.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
            ${OKR_RELEASE_NAME} ${CMAKE_BINARY_DIR}/release ${PROJECT_SOURCE_DIR}/debian/changelog
    COMMENT "Windows release ${OKR_RELEASE_NAME}.zip"
    VERBATIM)
  add_dependencies(release okr-shm-check okr-shm okr_manual_texts okr_release_texts)
endif()
