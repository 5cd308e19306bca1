# shellcheck shell=bash
# Windows cross-build plumbing: source this file, then call okr_windows_toolchain
# (and okr_wine_prefix DIR before running tests under Wine).
#
#   . scripts/lib/windows-toolchain.sh
#   okr_windows_toolchain      # exports OKR_WX_MINGW_PREFIX, OKR_BOOST_MINGW_INCLUDE,
#                              # OKR_HEADER_ONLY_MINGW_PREFIX, OKR_WINE
#   okr_wine_prefix /tmp/okr-wine
#
# Everything built lives under OKR_CACHE_DIR, outside the work tree, so a
# second call only checks stamps and returns in well under a second.

OKR_CACHE_DIR="${OKR_CACHE_DIR:-/var/cache/okr}"

# shellcheck source=packages.sh
. "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

# Prints the wxWidgets source version apt would fetch; adds a deb-src entry for
# Debian's own archive first if apt knows no source for it.
_okr_wx_source_version() {
  local v uri suite
  v=$(apt-cache showsrc --only-source wxwidgets3.2 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1)
  if [ -z "$v" ]; then
    uri=$(sed -n 's/^URIs: *\(.*\/debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "${uri:-http://deb.debian.org/debian}" "${suite:-bookworm}" >/etc/apt/sources.list.d/okr-debian-src.sources
    apt-get update >&2 || true
    v=$(apt-cache showsrc --only-source wxwidgets3.2 | sed -n 's/^Version: //p' | sort -V | tail -n1)
  fi
  [ -n "$v" ] || { echo "no source package wxwidgets3.2 in apt" >&2; return 1; }
  echo "$v"
}

# Bumped whenever _okr_build_wxbase changes what it builds: the cache folder
# carries it, so a build of an older recipe is never reused (nor touched).
OKR_WX_RECIPE=r2

# Static, unicode, base-only (no GUI) wxWidgets for x86_64-w64-mingw32, built
# reproducibly: in a fixed folder, with that folder mapped away in the file
# names the library keeps (its assertions carry __FILE__), and with the
# source package's own date for anything that asks for the time. The source
# package's copyright file goes with it, for the notices of what we ship.
_okr_build_wxbase() {
  local version=$1 prefix=$2
  local tmp=$prefix.build
  # set -e does not apply inside a subshell on the left of ||, so every step
  # is chained with && explicitly.
  (
    rm -rf "$tmp" && mkdir -p "$tmp" || exit 1
    trap 'rm -rf "$tmp"' EXIT
    chmod 755 "$tmp" # lets apt's _apt user write the download (no sandbox warning)
    cd "$tmp" && apt-get source -q "wxwidgets3.2=$version" >/dev/null &&
      src=$(echo "$tmp"/wxwidgets3.2-*/) && src=${src%/} && mkdir build && cd build &&
      SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp) &&
      export SOURCE_DATE_EPOCH &&
      map="-ffile-prefix-map=$src=wxwidgets3.2 -ffile-prefix-map=$tmp/build=wxwidgets3.2" &&
      # Debian's dfsg tarball drops the bundled zlib/expat/png/...: MinGW has
      # none of them either, so everything optional that needs them is off.
      "$src/configure" --host=x86_64-w64-mingw32 \
        CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
        CFLAGS="-O2 $map" CXXFLAGS="-O2 $map" \
        --prefix="$prefix" --disable-gui --disable-shared --enable-unicode \
        --without-zlib --without-expat --without-liblzma --without-libcurl \
        --disable-webrequest --with-regex=builtin --without-libiconv \
        --without-subdirs --disable-tests --disable-precomp-headers &&
      make -j2 && rm -rf "$prefix" && make install &&
      # wx 3.2's base-only install forgets two MSW headers that wx/init.h,
      # wx/app.h and wx/tls.h include.
      for h in wx/msw/init.h wx/msw/tls.h; do
        install -m 644 "$src/include/$h" "$prefix/include/wx-3.2/$h" || exit 1
      done &&
      install -D -m 644 "$src/debian/copyright" "$prefix/share/doc/wxwidgets3.2/copyright" &&
      echo "$version" >"$prefix/share/doc/wxwidgets3.2/version" &&
      touch "$prefix/.okr-complete" # only now is the install trusted
  ) >"$prefix.build.log" 2>&1 || {
    tail -n 40 "$prefix.build.log" >&2
    echo "wxWidgets MinGW build failed; full log: $prefix.build.log" >&2
    return 1
  }
}

okr_windows_toolchain() {
  # "|| return 1" everywhere: callers need not run under set -e.
  okr_ensure_packages g++-mingw-w64-x86-64-posix wine64 wine dpkg-dev googletest libboost-dev groff-base \
    libcli11-dev nlohmann-json3-dev python3 zip ||
    return 1
  mkdir -p "$OKR_CACHE_DIR"

  local version prefix
  version=$(_okr_wx_source_version) || return 1
  prefix="$OKR_CACHE_DIR/wxbase-mingw-${version//:/_}-$OKR_WX_RECIPE"
  if [ ! -f "$prefix/.okr-complete" ]; then
    echo "building wxWidgets $version base for MinGW into $prefix (about 2 minutes)" >&2
    _okr_build_wxbase "$version" "$prefix" || return 1
  fi

  # A folder holding only boost/ keeps the host's /usr/include (glibc headers)
  # off the cross compiler's include path.
  mkdir -p "$OKR_CACHE_DIR/boost-include"
  ln -sfn /usr/include/boost "$OKR_CACHE_DIR/boost-include/boost"

  # The same for the header-only CLI11 and nlohmann-json: a prefix holding
  # only their headers and CMake packages, which find their headers relative
  # to themselves.
  local headers="$OKR_CACHE_DIR/header-only"
  mkdir -p "$headers/include" "$headers/share/cmake"
  ln -sfn /usr/include/CLI "$headers/include/CLI"
  ln -sfn /usr/include/nlohmann "$headers/include/nlohmann"
  ln -sfn /usr/share/cmake/CLI11 "$headers/share/cmake/CLI11"
  ln -sfn /usr/share/cmake/nlohmann_json "$headers/share/cmake/nlohmann_json"

  export OKR_WX_MINGW_PREFIX="$prefix"
  export OKR_BOOST_MINGW_INCLUDE="$OKR_CACHE_DIR/boost-include"
  export OKR_HEADER_ONLY_MINGW_PREFIX="$headers"
  # Wine's loader, started as every start needs (see cmake/wine.sh).
  OKR_WINE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake" && pwd)/wine.sh
  export OKR_WINE
}

# Creates a 64-bit Wine prefix at DIR once and exports what later wine/ctest
# runs need: no display (headless), no debug chatter, and no Mono/Gecko
# installer dialogs, which would otherwise block wineboot forever.
# Each Wine process costs ~2.5 s of start-up while no wineserver runs; for many
# short tests run `wineserver -p` first and `wineserver -k` afterwards.
okr_wine_prefix() {
  local dir=${1:?usage: okr_wine_prefix DIR}
  mkdir -p "$dir" || return 1
  export WINEPREFIX
  WINEPREFIX=$(cd "$dir" && pwd)
  export WINEARCH=win64 WINEDEBUG=-all DISPLAY='' WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/.okr-ready" ] && return 0
  "${OKR_WINE:-wine}" wineboot --init >/dev/null 2>&1 || return 1
  wineserver -w # registry files are written when the server exits
  touch "$WINEPREFIX/.okr-ready"
}

# Starts one Wine server for the prefix in WINEPREFIX and keeps it up, so
# that test programs do not each start their own; okr_wine_stop ends it.
# The first program that starts a child of its own in a fresh server can hang
# at exit while Wine brings up its services, so a throwaway one does that.
okr_wine_start() {
  wineserver -p 2>/dev/null || true # already running is fine
  timeout 120 "${OKR_WINE:-wine}" cmd.exe /c "cmd.exe /c exit" </dev/null >/dev/null 2>&1 || true
}

okr_wine_stop() {
  wineserver -k 2>/dev/null || true
}
