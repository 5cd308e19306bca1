# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix thread
# model, so std::thread/std::mutex work) and runs the results under Wine.
#
# Prepare the dependencies with scripts/lib/windows-toolchain.sh, then:
#
#   . scripts/lib/windows-toolchain.sh && okr_windows_toolchain
#   cmake -S . -B build-win \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DOKR_WX_MINGW_PREFIX="$OKR_WX_MINGW_PREFIX" \
#     -DBoost_INCLUDE_DIR="$OKR_BOOST_MINGW_INCLUDE"
#
# Both -D values default to the environment variables of the same name
# (OKR_WX_MINGW_PREFIX, OKR_BOOST_MINGW_INCLUDE), so passing them is optional
# when okr_windows_toolchain ran in the same shell.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_okr_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_okr_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_okr_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_okr_triple}-windres)

# try_compile() projects re-read this file without the cache; forward ours.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OKR_WX_MINGW_PREFIX OKR_HEADER_ONLY_MINGW_PREFIX)

if(NOT OKR_WX_MINGW_PREFIX AND DEFINED ENV{OKR_WX_MINGW_PREFIX})
  set(OKR_WX_MINGW_PREFIX "$ENV{OKR_WX_MINGW_PREFIX}" CACHE PATH
      "wxWidgets (base, static) built for MinGW; holds bin/wx-config")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${_okr_triple} ${OKR_WX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# FindwxWidgets takes its "unix" branch whenever CMAKE_CROSSCOMPILING is set
# (its Windows branch, which wants a wxWidgets_ROOT_DIR/lib/gcc_lib tree, is
# only for native Windows builds), so it asks the cross wx-config for flags
# and for the static libraries plus the Windows system libraries they need.
# Naming the script directly keeps a host /usr/bin/wx-config out of reach;
# it follows OKR_WX_MINGW_PREFIX, so that a build folder configured against
# an earlier wxWidgets build moves on with it.
if(OKR_WX_MINGW_PREFIX)
  set(wxWidgets_CONFIG_EXECUTABLE "${OKR_WX_MINGW_PREFIX}/bin/wx-config"
      CACHE FILEPATH "wx-config of the MinGW wxWidgets build" FORCE)
endif()

# Boost is header-only here: the folder holds just a boost/ symlink to
# Debian's headers, so the host's /usr/include (glibc) never reaches the
# MinGW compiler. Pass -DBoost_INCLUDE_DIR=... or set OKR_BOOST_MINGW_INCLUDE.
if(NOT Boost_INCLUDE_DIR AND DEFINED ENV{OKR_BOOST_MINGW_INCLUDE})
  set(Boost_INCLUDE_DIR "$ENV{OKR_BOOST_MINGW_INCLUDE}" CACHE PATH
      "Folder containing boost/ for the MinGW build")
endif()
# Debian's BoostConfig.cmake describes the host's libraries; use FindBoost.
set(Boost_NO_BOOST_CMAKE ON)

# CLI11 and nlohmann-json are header-only; their packages come from a prefix
# that holds just them (OKR_HEADER_ONLY_MINGW_PREFIX), so that their include
# folder is not the host's /usr/include either.
if(NOT OKR_HEADER_ONLY_MINGW_PREFIX AND DEFINED ENV{OKR_HEADER_ONLY_MINGW_PREFIX})
  set(OKR_HEADER_ONLY_MINGW_PREFIX "$ENV{OKR_HEADER_ONLY_MINGW_PREFIX}" CACHE PATH
      "Prefix with the header-only CLI11 and nlohmann-json for the MinGW build")
endif()
if(OKR_HEADER_ONLY_MINGW_PREFIX)
  set(CLI11_DIR "${OKR_HEADER_ONLY_MINGW_PREFIX}/share/cmake/CLI11" CACHE PATH "")
  set(nlohmann_json_DIR "${OKR_HEADER_ONLY_MINGW_PREFIX}/share/cmake/nlohmann_json" CACHE PATH "")
endif()

# Static runtime: the .exe then needs no MinGW DLLs (libstdc++, libgcc,
# libwinpthread) next to it, under Wine or on a real Windows machine. No
# link time in the PE header, so that a build is reproducible.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Tests (ctest, gtest_discover_tests, try_run) run the .exe through Wine,
# started by wine.sh with the fixed memory layout every start needs.
# Debian's wine64 package ships the loader in /usr/lib/wine; the `wine`
# wrapper script picks it too when no 32-bit wine is installed.
find_program(OKR_WINE_LOADER NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OKR_WINE_LOADER)
  set(OKR_WINE "${CMAKE_CURRENT_LIST_DIR}/wine.sh")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${OKR_WINE}")
endif()
