#!/bin/sh
# Makes the Windows release from a build: the runtime component, stripped,
# under one top-level folder NAME, zipped as OUT/NAME.zip, with OUT/SHA256SUMS.
# The same sources give the same bytes on any machine at any time: every
# entry is dated at the newest changelog entry (SOURCE_DATE_EPOCH), in UTC,
# in one fixed order, with fixed permissions and without the extra fields
# that would carry the builder's user and clock.
#   release-zip.sh CMAKE BUILD_DIR NAME OUT CHANGELOG
set -eu
cmake=$1 build=$2 name=$3 out=$4 changelog=$5
: "${SOURCE_DATE_EPOCH:=$(dpkg-parsechangelog -l "$changelog" -S Timestamp)}"
# strip, too, writes a time into each .exe: this one.
export SOURCE_DATE_EPOCH

stage=$out/stage
rm -rf "$out"
mkdir -p "$stage"
"$cmake" --install "$build" --component runtime --prefix "$stage/$name" --strip >/dev/null
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -type f -name '*.exe' -exec chmod 755 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -@ "../$name.zip")
rm -rf "$stage"
(cd "$out" && sha256sum "$name.zip" >SHA256SUMS)
echo "$out/$name.zip"
