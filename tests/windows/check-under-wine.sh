#!/usr/bin/env bash
# A complete run of the Windows check under Wine, with standard input a pipe:
# the exact lines, both files in the shared folder while it waits, both gone
# after Enter, status 0. Run as LOGIN (default: this user), the information
# record's name must be built from HASHED, the login name as GetUserNameA
# gives it in the ANSI code page, re-encoded as UTF-8.
#   check-under-wine.sh CHECK_EXE WINE_LOADER [LOGIN HASHED]
set -euo pipefail
exe=$1
wine=$2
login=${3:-$(id -un)}
hashed=${4:-$login}
: "${WINEPREFIX:?run through ctest --preset windows}"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Wine cannot read its event log back, so the boot stamp is empty.
folder_windows='C:\ProgramData/boost_interprocess/'
folder="$WINEPREFIX/drive_c/ProgramData/boost_interprocess"

work=$(mktemp -d)
# A failed run leaves neither record behind for the next one.
trap 'exec 3>&- 2>/dev/null || true; kill "$pid" 2>/dev/null || true; rm -rf "$work" "$folder/${info:-none}" "$folder/okr-sync"' EXIT
mkfifo "$work/input"
# Without a UTF-8 locale Wine mangles a non-ASCII login name on its way in.
LC_ALL=C.UTF-8 USER=$login LOGNAME=$login "$wine" "$exe" <"$work/input" >"$work/output" &
pid=$!
exec 3>"$work/input"

for _ in $(seq 1 600); do
  grep -q "Press ENTER to finish test" "$work/output" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
mapfile -t lines < <(tr -d '\r' <"$work/output")
printf '  | %s\n' "${lines[@]}"
grep -q "Press ENTER to finish test" "$work/output" || fail "the check ended or waited 60 s without its prompt"

[ "${#lines[@]}" -ge 10 ] || fail "expected at least 10 lines"
[ "${lines[0]}" = "Simulate a boot time event" ] || fail "line 1"
[ "${lines[1]}" = "Register event source EventLog" ] || fail "line 2"
[ "${lines[2]}" = "Report event 6005" ] || fail "line 3"
[[ "${lines[3]}" =~ ^Creating\ info\ file\ (okr-info-[0-9]{1,10})$ ]] || fail "line 4"
info=${BASH_REMATCH[1]}
[ "${lines[4]}" = "Creating sync file okr-sync" ] || fail "line 5"
[ "${lines[5]}" = "Shared memory folder is: $folder_windows" ] || fail "line 6"
[ "${lines[6]}" = "List shared memory files" ] || fail "line 7"
[ "${lines[-1]}" = "Press ENTER to finish test" ] || fail "last line"
listed=("${lines[@]:7:${#lines[@]}-8}")
printf '%s\n' "${listed[@]}" | grep -qx "okr-sync" || fail "okr-sync not listed"
printf '%s\n' "${listed[@]}" | grep -qx "$info" || fail "$info not listed"

# The name is the CRC-32 of the Windows process id and the login name.
python3 - "$info" "$hashed" <<'PY' || fail "$info is no CRC-32 of a process id and $hashed"
import os, sys, zlib
checksum, user = int(sys.argv[1].rsplit("-", 1)[1]), os.fsencode(sys.argv[2])
sys.exit(0 if any(zlib.crc32(str(pid).encode() + user) == checksum for pid in range(0, 1 << 20, 4)) else 1)
PY

[ "$(stat -c %s "$folder/okr-sync")" = 16 ] || fail "okr-sync is not 16 bytes"
[ "$(stat -c %s "$folder/$info")" = 135880 ] || fail "$info is not 135880 bytes"
[ -z "$(tr -d '\0' <"$folder/okr-sync")" ] || fail "okr-sync is not zero"

echo >&3
exec 3>&-
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the check did not end within 30 s of Enter"
status=0
wait "$pid" || status=$?
[ "$status" = 0 ] || fail "status $status"
[ ! -e "$folder/okr-sync" ] || fail "okr-sync left behind"
[ ! -e "$folder/$info" ] || fail "$info left behind"
echo "complete run under Wine: lines, files and status as expected"
