#!/usr/bin/env bash
# The Wine prefix that every Windows scenario copies into a world of its own
# (wine-world.sh), made once per ctest run by the fixture windows.world_template:
# a copy of the suite's prefix taken while every other test that runs Wine
# waits for this one (they require the fixture), without the shared folders,
# and never run in. Copied while the library's tests create and delete files
# in the suite's prefix, a world could fail for that alone, or start with
# their files.
#   world-template.sh TEMPLATE
set -euo pipefail
: "${WINEPREFIX:?run through ctest --preset windows}"
template=$1
rm -rf "$template" "$template.new"
cp -a "$WINEPREFIX" "$template.new"
rm -rf "$template.new/drive_c/ProgramData/boost_interprocess"
mv "$template.new" "$template"
