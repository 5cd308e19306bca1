# Gives a Windows executable a version resource, so that Explorer's
# Properties and installers can tell which build it is. Elsewhere it does
# nothing, so every executable can call it:
#
#   okr_version_resource(okr-shm-check "Console check of the okr shared-memory layer")

# The copyright line of LICENSE is the one notice every package carries.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE OKR_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright \\([cC]\\) [0-9, -]+ " "" OKR_COPYRIGHT_HOLDER "${OKR_COPYRIGHT}")

function(okr_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(OKR_RC_TARGET ${target})
  set(OKR_RC_DESCRIPTION "${description}")
  if(PROJECT_VERSION_TWEAK)
    set(OKR_RC_TWEAK ${PROJECT_VERSION_TWEAK})
  else()
    set(OKR_RC_TWEAK 0)
  endif()
  set(rc ${PROJECT_BINARY_DIR}/version-resource/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(TARGET ${target} PROPERTY OKR_DESCRIPTION "${description}")
  set_property(GLOBAL APPEND PROPERTY OKR_VERSIONED_EXECUTABLES ${target})
endfunction()
