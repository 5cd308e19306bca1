# shellcheck shell=bash
# The library's binary interface against the one released, which abi/ keeps
# as libabigail's XML, one file per SONAME: abi/libokr.so.0.abi.

# How a baseline is written: the exported interface only, without the
# build's folders and source lines, so that the file changes when the
# interface does and not otherwise.
OKR_ABIDW_OPTIONS=(--exported-interfaces-only --drop-private-types --no-corpus-path --no-comp-dir-path
  --no-show-locs --type-id-style hash)

# The shared library that the Debian package build left, with its debug
# information: build/debian/okr/obj-<triplet>/libokr.so.<version>.
okr_abi_package_library() {
  local lib
  lib=$(ls build/debian/okr/obj-"$(dpkg-architecture -qDEB_HOST_GNU_TYPE)"/libokr.so.*.*.* 2>/dev/null | head -n 1)
  [ -n "$lib" ] || { echo "no library built: run scripts/check-packages first" >&2; return 1; }
  echo "$lib"
}

# abi/<SONAME>.abi for the library given.
okr_abi_baseline() {
  local soname
  soname=$(objdump -p "$1" | sed -n 's/^ *SONAME *//p')
  [ -n "$soname" ] || { echo "$1 has no SONAME" >&2; return 1; }
  echo "abi/$soname.abi"
}

# Fails, with abidiff's report, when the library takes anything from the
# interface released or changes it in a way libabigail cannot call safe;
# additions pass, with a reminder to record them.
okr_abi_check() {
  local lib=$1 baseline report status=0
  baseline=$(okr_abi_baseline "$lib") || return 1
  if [ ! -f "$baseline" ]; then
    echo "no baseline $baseline: a new SONAME needs one (scripts/abi-baseline)" >&2
    return 1
  fi
  report=$(abidiff --no-added-syms "$baseline" "$lib") || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$report" >&2
    echo "abidiff: the library breaks the interface of $baseline (status $status)" >&2
    return 1
  fi
  if ! abidiff "$baseline" "$lib" >/dev/null; then
    echo "abidiff: compatible with $baseline, and adds to it (record that with scripts/abi-baseline)"
  else
    echo "abidiff: the interface of $baseline, unchanged"
  fi
}
