#!/bin/sh
# Renders a manual page as plain text with the line ends Windows expects.
#   manual-text.sh GROFF PAGE TEXT
set -e
mkdir -p "$(dirname "$3")"
"$1" -man -Tascii -P-bcou "$2" >"$3.tmp"
sed 's/$/\r/' "$3.tmp" >"$3"
rm "$3.tmp"
