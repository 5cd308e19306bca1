#!/usr/bin/env bash
# The Windows okr-shm under Wine, beside real runs of the Windows check, in a
# Wine prefix of its own (a copy of the suite's), so nothing else is in its
# shared folder and nothing is left behind.
#   tool-under-wine.sh TOOL_EXE CHECK_EXE WINE_LOADER list|clean|show|usage|edges
set -euo pipefail
tool=$1
check=$2
wine=$3
scenario=$4
: "${WINEPREFIX:?run through ctest --preset windows}"

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
checks=()
cleanup() {
  exec 3>&- 4>&- 5>&- 2>/dev/null || true
  for pid in "${checks[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
# Wine cannot read its event log back: the boot stamp is empty.
folder=$WINEPREFIX/drive_c/ProgramData/boost_interprocess
folder_windows='C:\ProgramData/boost_interprocess'
mkdir -p "$folder"
wineserver -p

# okr-shm ARGS...: sets status, out and err (line ends as on Linux).
okr_shm() {
  status=0
  timeout 60 "$wine" "$tool" "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

# Starts the check with its input on descriptor $1; sets info and check_pid.
start_check() {
  mkfifo "$work/in$1"
  "$wine" "$check" <"$work/in$1" >"$work/check$1" &
  check_pid=$!
  checks+=("$check_pid")
  eval "exec $1>\"$work/in$1\""
  for _ in $(seq 1 600); do
    grep -q "Press ENTER to finish test" "$work/check$1" 2>/dev/null && break
    sleep 0.1
  done
  info=$(grep -o 'okr-info-[0-9]*' "$work/check$1" | head -n1)
  [ -n "$info" ] || fail "the check did not reach its prompt"
}

# json_field NAME KEY: the value of KEY in the element NAME of $out.
json_field() {
  python3 -c 'import json, sys
rows = [r for r in json.loads(sys.argv[1]) if r["name"] == sys.argv[2]]
print(json.dumps(rows[0][sys.argv[3]]) if rows else "missing")' "$out" "$1" "$2"
}

case $scenario in
list)
  start_check 3
  okr_shm list --json
  [ "$status" = 0 ] || fail "list --json: status $status: $err"
  for name in "$info" okr-sync; do
    [ "$(json_field "$name" state)" = '"in use"' ] || fail "$name is not in use: $out"
    [ "$(json_field "$name" layout)" = '"ok"' ] || fail "$name layout: $out"
  done
  # Its own process, found by the name's checksum over the id and login name.
  owner=$(json_field "$info" owner_process)
  python3 - "$info" "$owner" "$(id -un)" <<'PY' || fail "owner $owner does not name $info"
import sys, zlib
name, pid, user = sys.argv[1], int(sys.argv[2]), sys.argv[3]
sys.exit(0 if zlib.crc32(f"{pid}{user}".encode()) == int(name.rsplit("-", 1)[1]) else 1)
PY
  [ "$(json_field "$info" users)" = "[$owner]" ] || fail "users of $info: $out"
  okr_shm list
  grep -Eq "^$info +info +135880 +ok .* $owner,\? +in use\$" <<<"$out" || fail "table: $out"
  echo >&3
  wait "$check_pid" || fail "the check failed"
  okr_shm list
  [ "$out" = "NAME  KIND  SIZE  LAYOUT  OWNER  MODIFIED  USERS  STATE" ] || fail "left behind: $out"
  ;;
clean)
  start_check 3
  left=$info
  kill -9 "$check_pid"
  wait "$check_pid" 2>/dev/null || true
  start_check 4
  kept=$info
  # Earlier boots: one folder to empty, one with a file not ours, one held open.
  mkdir -p "$folder/1700000000" "$folder/1700000001" "$folder/1700000002"
  head -c 16 /dev/zero >"$folder/1700000000/okr-info-5"
  head -c 16 /dev/zero >"$folder/1700000001/okr-info-6"
  echo other >"$folder/1700000001/other.dat"
  mkfifo "$work/hold"
  "$wine" cmd /c "more > C:\\ProgramData\\boost_interprocess\\1700000002\\okr-info-9" <"$work/hold" &
  checks+=("$!")
  exec 5>"$work/hold"
  for _ in $(seq 1 100); do [ -e "$folder/1700000002/okr-info-9" ] && break; sleep 0.1; done

  okr_shm list --json
  [ "$(json_field "$left" state)" = '"orphaned"' ] || fail "$left is not orphaned: $out"
  [ "$(json_field 1700000002 open)" = true ] || fail "1700000002 not open: $out"
  [ "$(json_field 1700000001 files)" = 2 ] || fail "1700000001 files: $out"
  okr_shm clean --dry-run
  [ "$status" = 0 ] || fail "dry run: status $status"
  grep -qx "would remove $left" <<<"$out" || fail "dry run: $out"
  grep -qxF "would remove folder $folder_windows/1700000000" <<<"$out" || fail "dry run: $out"
  [ -e "$folder/$left" ] && [ -e "$folder/1700000000/okr-info-5" ] || fail "the dry run removed something"

  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] || fail "clean: status $status: $err"
  grep -qx "removed $left" <<<"$out" || fail "$left not removed"
  grep -q "^kept $kept: in use" <<<"$out" || fail "$kept not kept"
  grep -qxF "kept $folder_windows/1700000002/okr-info-9: held open" <<<"$out" || fail "held file"
  [ ! -e "$folder/$left" ] && [ ! -e "$folder/1700000000" ] || fail "not removed"
  [ -e "$folder/$kept" ] && [ -e "$folder/okr-sync" ] || fail "the waiting check's objects were removed"
  [ -e "$folder/1700000001/other.dat" ] && [ ! -e "$folder/1700000001/okr-info-6" ] || fail "1700000001"
  [ -e "$folder/1700000002/okr-info-9" ] || fail "a held file was removed"
  echo >&4
  ;;
show)
  python3 - "$folder" <<'PY'
import sys
for name, size in (("okr-sync", 16), ("okr-info-1234", 135880)):
    data = bytearray(size)
    for at in (0, size // 3, size - 1):
        data[at] = ord("A") + at % 26
    open(f"{sys.argv[1]}/{name}", "wb").write(data)
open(f"{sys.argv[1]}/okr-info-7", "wb").write(b"\1" * 100)
PY
  for name in okr-sync okr-info-1234; do
    okr_shm show "$name" --json
    [ "$status" = 0 ] || fail "show $name: $status $err"
    python3 -c 'import json, sys
r = json.loads(sys.argv[1]); end = 0
for a in r["areas"]:
    assert a["offset"] == end, a; end += a["size"]
assert end == r["size"] and sum(a["nonzero"] for a in r["areas"]) == 3, r' "$out" || fail "areas of $name"
    okr_shm show "$name" --hex
    [ "$out" = "$(hexdump -C "$folder/$name")" ] || fail "hex dump of $name"
  done
  okr_shm show okr-info-7
  [ "$status" = 1 ] && grep -q "okr-info-7 is 100 bytes, not the 135880" <<<"$err" || fail "wrong size: $err"
  ;;
usage)
  okr_shm show 'okr-x\..\..\boot.ini'
  [ "$status" = 2 ] && grep -q "Usage:" <<<"$err" || fail "refused name: $status $err"
  okr_shm frob
  [ "$status" = 2 ] || fail "unknown command: $status"
  okr_shm show okr-info-404
  [ "$status" = 1 ] && [ "$err" = "okr-shm: no shared object okr-info-404" ] || fail "missing: $status $err"
  okr_shm --version
  [ "$status" = 0 ] && [[ "$out" =~ ^okr-shm\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version: $out"
  ;;
edges)
  # Wine hands a program the command line in the Unix locale's encoding.
  export LC_ALL=C.UTF-8
  # A name outside the ANSI code page comes through the wide command line as
  # itself (the ANSI one would give "okr-info-???"), and so does its printed
  # form, and is echoed as itself.
  for argument in okr-info-Жук "'okr-info-'\$'\320\226''ук'"; do
    okr_shm show "$argument"
    [ "$status" = 1 ] && [ "$err" = "okr-shm: no shared object okr-info-Жук" ] || fail "show $argument: $status $err"
  done
  okr_shm /?
  [ "$status" = 0 ] && grep -q "^Usage: okr-shm" <<<"$out" || fail "/?: $status $out $err"
  # Output in blocks, never a write per byte: into NUL (a character device
  # but no console) and into a pipe, 201 lines of about 90 bytes each.
  for i in $(seq 1 200); do : >"$folder/okr-info-$i"; done
  WINEDEBUG=+file timeout 60 "$wine" cmd /c "Z:$(sed 's|/|\\|g' <<<"$tool") list > NUL" 2>"$work/trace" || fail "list > NUL"
  writes=$(grep -c 'NtWriteFile (' "$work/trace" || true)
  [ "$writes" -ge 1 ] && [ "$writes" -le 2 ] || fail "list > NUL took $writes writes"
  WINEDEBUG=+file timeout 60 "$wine" "$tool" list 2>"$work/trace" | wc -l >"$work/lines"
  writes=$(grep -c 'NtWriteFile (' "$work/trace" || true)
  [ "$(cat "$work/lines")" = 201 ] && [ "$writes" -ge 1 ] && [ "$writes" -le 2 ] || fail "list | wc: $(cat "$work/lines") lines, $writes writes"
  ;;
*) fail "no scenario $scenario" ;;
esac
echo "okr-shm $scenario under Wine: as expected"
