#!/bin/sh
# Runs Wine's loader, as `wine` would:  wine.sh PROGRAM [ARGS...]
#
# Debian's Wine 8 has no preloader, so nothing holds the address every
# Windows process maps its shared user data at (0x7ffe0000) before the
# loader's heap is placed. With address randomisation the kernel puts that
# heap anywhere in the 1 GiB above the loader (0x7d000000): about one start
# in 8,000 it covers 0x7ffe0000, and the process ends at once, status 1,
# silently under WINEDEBUG=-all ("failed to map the shared user data:
# c0000018"). Without randomisation the heap starts right after the loader.
# The programs a Windows program starts inherit the setting.
loader=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || command -v wine) || {
  echo "wine.sh: no Wine loader (wine64, wine)" >&2
  exit 127
}
exec setarch "$(uname -m)" --addr-no-randomize "$loader" "$@"
