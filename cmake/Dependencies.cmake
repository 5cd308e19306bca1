find_package(Boost 1.74 REQUIRED)

# Boost.Interprocess on POSIX needs the real-time library (shm_open) and
# threads; on Windows it needs nothing beyond the system libraries.
add_library(okr_platform_ipc INTERFACE)
add_library(okr::platform_ipc ALIAS okr_platform_ipc)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  find_library(OKR_RT_LIBRARY rt)
  if(OKR_RT_LIBRARY)
    # By name, so that an installed package does not carry this machine's path.
    target_link_libraries(okr_platform_ipc INTERFACE rt)
  endif()
  target_link_libraries(okr_platform_ipc INTERFACE Threads::Threads)
else()
  # Event log, registry and account look-ups.
  target_link_libraries(okr_platform_ipc INTERFACE advapi32)
endif()

if(OKR_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # No GoogleTest exists for the target system: build Debian's sources
    # with the cross compiler.
    set(OKR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${OKR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
