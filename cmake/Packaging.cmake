# The Windows release, zipped reproducibly by windows/release-zip.sh with
# their SHA256SUMS beside them:
#
#   cmake --build --preset windows --target release
#
# gives in build/windows/release/
# - okr-<version>-windows-x86_64.zip: everything the runtime component
#   installs (the statically linked executables, their manual pages as
#   text, README, LICENSE and the third-party notices);
# - okr-<version>-windows-x86_64-sdk.zip: what the development and sdk
#   components install (the headers, libokr.a, the CMake package, the
#   two-process example, the SDK's README, LICENSE).
# Each holds one top-level folder named as the .zip. The version comes from
# project(). On Linux the Debian packages are built from debian/ by
# debhelper.

if(WIN32 AND NOT OKR_LIBRARY_ONLY)
  set(OKR_RELEASE_NAME okr-${PROJECT_VERSION}-windows-x86_64)
  add_custom_target(release
    COMMAND sh ${PROJECT_SOURCE_DIR}/windows/release-zip.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/release ${PROJECT_SOURCE_DIR}/debian/changelog
            ${OKR_RELEASE_NAME}=runtime ${OKR_RELEASE_NAME}-sdk=development,sdk
    COMMENT "Windows release ${OKR_RELEASE_NAME}.zip and ${OKR_RELEASE_NAME}-sdk.zip"
    VERBATIM)
  add_dependencies(release okr okr-shm-check okr-shm okr_manual_texts okr_release_texts)
endif()
