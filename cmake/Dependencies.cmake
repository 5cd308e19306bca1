find_package(Boost 1.74 REQUIRED)

# What every unit that uses Boost.Interprocess here needs, the library's
# and the tests' alike. On POSIX the real-time library (shm_open) and
# threads; on Windows the system libraries, and agreement on the shared
# folder: this library supplies it, see ipc/BoostSharedDirWindows.cpp.
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
  target_compile_definitions(okr_platform_ipc INTERFACE BOOST_INTERPROCESS_SHARED_DIR_FUNC)
  # Boost 1.74's Windows file removal indexes past a one-element array; GCC's
  # loop optimisations turn that into a remove() that always fails.
  target_compile_options(okr_platform_ipc INTERFACE $<$<CXX_COMPILER_ID:GNU>:-fno-aggressive-loop-optimizations>)
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
