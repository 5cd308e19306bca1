#!/bin/sh
# Makes the Windows release from a build: for each NAME=COMPONENTS, what
# those install components hold (comma-separated), stripped, under one
# top-level folder NAME, zipped as OUT/NAME.zip; then OUT/SHA256SUMS.
# The same sources give the same bytes on any machine at any time: every
# entry is dated at the newest changelog entry (SOURCE_DATE_EPOCH), in UTC,
# in one fixed order, with fixed permissions and without the extra fields
# that would carry the builder's user and clock.
#   release-zip.sh CMAKE BUILD_DIR OUT CHANGELOG NAME=COMPONENTS...
set -eu
cmake=$1 build=$2 out=$3 changelog=$4
shift 4
: "${SOURCE_DATE_EPOCH:=$(dpkg-parsechangelog -l "$changelog" -S Timestamp)}"
# strip, too, writes a time into each .exe: this one.
export SOURCE_DATE_EPOCH

rm -rf "$out"
mkdir -p "$out"
for zip in "$@"; do
  name=${zip%%=*}
  stage=$out/stage
  mkdir -p "$stage"
  for component in $(echo "${zip#*=}" | tr , ' '); do
    "$cmake" --install "$build" --component "$component" --prefix "$stage/$name" --strip >/dev/null
  done
  find "$stage" -type d -exec chmod 755 {} +
  find "$stage" -type f -exec chmod 644 {} +
  find "$stage" -type f -name '*.exe' -exec chmod 755 {} +
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -@ "../$name.zip")
  rm -rf "$stage"
  echo "$out/$name.zip"
done
(cd "$out" && sha256sum -- *.zip >SHA256SUMS)
