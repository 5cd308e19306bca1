# Installs Debian packages that are missing, and only those, so that a
# second run on a prepared machine costs nothing.
# shellcheck shell=bash

okr_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

okr_missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || echo "$pkg"
  done
}

okr_ensure_packages() {
  local missing
  missing=$(okr_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "== installing: $(echo $missing)"
  # Third-party sources on the machine may be unreachable; Debian's own are enough.
  okr_as_root apt-get update -qq || true
  # shellcheck disable=SC2086
  okr_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# What the Linux build, its tests and the check need.
# libcli11-dev and nlohmann-json3-dev are header-only (the operator's tool);
# bsdextrautils has hexdump, against which the tool's dump is tested;
# unicode-data the Unicode Character Database that
# tool/output/make_unicode_ranges.py reads; strace holds a test's check or
# tool at the read it chooses (an interrupt, a rewrite arriving there).
OKR_LINUX_PACKAGES=(cmake make g++ python3 libboost-dev libwxgtk3.2-dev libgtest-dev libbenchmark-dev libsystemd-dev systemd
  valgrind libcli11-dev nlohmann-json3-dev bsdextrautils unicode-data strace)
# What scripts/bench needs beyond that: hyperfine times whole processes.
OKR_BENCH_PACKAGES=(hyperfine)
# What building and proving the packages needs beyond that: abigail-tools
# compares the library's binary interface with the one released.
OKR_PACKAGING_PACKAGES=(build-essential debhelper dpkg-dev lintian man-db pkg-config unzip abigail-tools autopkgtest)

# Makes this machine able to cross-build the packages of the tree given for
# i386: the architecture, the cross compiler and the i386 build
# dependencies. Fails when any of it cannot be installed.
okr_i386_build_dependencies() {
  local tree=$1
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    okr_as_root dpkg --add-architecture i386 || return 1
    okr_as_root apt-get update -qq || true
  fi
  okr_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    crossbuild-essential-i386 || return 1
  okr_as_root env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq -a i386 "$(realpath "$tree")"
}
