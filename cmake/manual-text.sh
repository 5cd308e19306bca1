#!/bin/sh
# Renders a manual page as text for Windows readers (-rW1: what holds only on
# Linux is left out) with the line ends Windows expects: plain ASCII, which
# every console code page shows as it is; a page that needs a character
# outside ASCII becomes UTF-8 with a byte-order mark, which Notepad and
# PowerShell read as UTF-8.
#   manual-text.sh GROFF PAGE TEXT
set -e
mkdir -p "$(dirname "$3")"
if "$1" -man -Tascii -P-bcou -rW1 "$2" >"$3.tmp" 2>"$3.warnings" && [ ! -s "$3.warnings" ]; then
  rm "$3.warnings"
else
  cat "$3.warnings" >&2
  rm "$3.warnings"
  { printf '\357\273\277' && "$1" -man -Tutf8 -P-bcou -rW1 "$2"; } >"$3.tmp"
fi
sed 's/$/\r/' "$3.tmp" >"$3"
rm "$3.tmp"
