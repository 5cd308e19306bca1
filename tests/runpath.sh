#!/bin/sh
# Fails when an ELF file under BUILD_DIR has an RPATH or RUNPATH entry that
# is empty (the loader reads it as the current folder) or relative (to the
# folder the program runs in): either lets whoever writes that folder plant
# a library. Entries must be absolute or start with $ORIGIN.
#   tests/runpath.sh BUILD_DIR
set -eu
checked=0
bad=0
for file in $(find "$1" -type f -size +63c ! -name '*.o' ! -name '*.a'); do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = "177ELF" ] || continue
  checked=$((checked + 1))
  paths=$(readelf -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
  [ -n "$paths" ] || continue
  found=$(printf '%s\n' "$paths" | awk -F: -v file="$file" '{
    for (i = 1; i <= NF; ++i)
      if ($i !~ /^(\/|\$ORIGIN(\/|$)|\$\{ORIGIN\}(\/|$))/)
        printf "%s: RUNPATH [%s] has the entry \"%s\" (empty or relative)\n", file, $0, $i
  }')
  [ -z "$found" ] || { echo "$found"; bad=1; }
done
echo "$checked ELF files checked"
[ "$checked" -gt 0 ] || { echo "no ELF file under $1" >&2; exit 1; }
exit "$bad"
