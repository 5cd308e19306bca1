#!/bin/sh
# Renders a manual page as plain UTF-8 text (names outside ASCII are part of
# it) with the line ends Windows expects.
#   manual-text.sh GROFF PAGE TEXT
set -e
mkdir -p "$(dirname "$3")"
"$1" -man -Tutf8 -P-bcou "$2" >"$3.tmp"
sed 's/$/\r/' "$3.tmp" >"$3"
rm "$3.tmp"
