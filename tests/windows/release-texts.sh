#!/usr/bin/env bash
# The texts of the Windows release as a Windows reader meets them: legible in
# any console code page (plain ASCII, or UTF-8 that says so with a byte-order
# mark), with Windows line ends, and the manuals free of what holds only on
# Linux.
#   release-texts.sh BUILD_DIR
set -euo pipefail
build=$1
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
manuals=("$build"/doc/*.txt)
[ -e "${manuals[0]}" ] || fail "no manual in $build/doc"
for text in "${manuals[@]}" "$build/README.txt" "$build/LICENSE.txt" "$build/THIRD-PARTY-NOTICES.txt"; do
  [ -f "$text" ] || fail "no $text"
  if LC_ALL=C grep -q -P '[^\x00-\x7f]' "$text"; then
    [ "$(head -c 3 "$text" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$text: not ASCII, and no byte-order mark"
  fi
  ! LC_ALL=C grep -q -P '(?<!\r)$' "$text" || fail "$text: a line without CR LF"
done
for manual in "${manuals[@]}"; do
  if grep -n -E 'SIG(TERM|HUP|INT|KILL|PIPE)|/proc|/dev/shm|bash-completion|journal|hidepid|fuser|errno|\$ |-lokr|pkg-config|shm_open|link\(2\)|flock|fcntl|fork\(2\)' "$manual"; then
    fail "$manual speaks of Linux"
  fi
done
echo "release texts: legible, and the manuals written for Windows"
