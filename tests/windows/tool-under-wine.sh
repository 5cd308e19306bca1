#!/usr/bin/env bash
# The Windows okr-shm under Wine, beside real runs of the Windows check, in a
# Wine prefix of its own (a copy of the suite's), so nothing else is in its
# shared folder and nothing is left behind.
#   tool-under-wine.sh TOOL_EXE CHECK_EXE WINE_LOADER SCENARIO [RECORD_PEER_EXE [HOLDER_EXE]]
# SCENARIO: list, clean, show, usage, edges, missing, locked, unpublished and records
# (which run RECORD_PEER_EXE), held (HOLDER_EXE); and against a hostile shared
# folder: fullwidth, links, folder_link, case, names, reach, fuzz, replaced, undeleted.
set -euo pipefail
# Wine keeps file names outside ASCII only under a UTF-8 locale.
export LC_ALL=C.UTF-8
tool=$1
check=$2
wine=$3
scenario=$4
peer=${5:-}
holder=${6:-}
# shellcheck source=wine-world.sh
. "$(dirname "$0")/wine-world.sh"
# Wine cannot read its event log back: the boot stamp is empty.
folder=$root
folder_windows=$root_windows
mkdir -p "$folder"
# Every entry of drive_c outside the shared folders, with its size, time and
# inode: what a run must leave as it is.
outside() {
  find "$WINEPREFIX/drive_c" -path "$folder" -prune -o -printf '%P %y %s %T@ %i\n' | sort
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
  modified='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}'
  grep -Eq "^$info +info +135880 +ok .* $modified +$owner,\? +unknown +in use\$" <<<"$out" || fail "table: $out"
  echo >&3
  wait "$check_pid" || fail "the check failed"
  okr_shm list
  [ "$out" = "NAME  KIND  SIZE  LAYOUT  OWNER  MODIFIED  USERS  LOCKS  STATE" ] || fail "left behind: $out"
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
  [ -e "$folder/1700000002/okr-info-9" ] || fail "cmd did not open 1700000002/okr-info-9 within 10 s"

  okr_shm list --json
  [ "$(json_field "$left" state)" = '"orphaned"' ] || fail "$left is not orphaned: $out"
  [ "$(json_field 1700000002 open)" = true ] || fail "1700000002 not open: $out"
  [ "$(json_field 1700000001 files)" = 2 ] || fail "1700000001 files: $out"
  okr_shm list
  grep -q '^1700000000 ' <<<"$out" || fail "list lacks the earlier boots: $out"
  # For a script, one table: -n, -o and --raw leave the earlier boots out.
  for options in -n "-o name,state" --raw; do
    # shellcheck disable=SC2086
    okr_shm list $options
    ! grep -q 1700000000 <<<"$out" || fail "list $options printed the earlier boots: $out"
  done
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
fullwidth)
  # U+FF0F, the fullwidth solidus, is "/" to the ANSI calls: each name would
  # lead out of the folders; a literal "\" (which Wine lists as it is) too.
  echo precious >"$WINEPREFIX/drive_c/precious.txt"
  mkdir -p "$folder/42" "$folder/43"
  touch "$folder/42/okr-x／..／..／..／..／precious.txt"
  touch "$folder/43/okr-x\..\..\..\..\precious.txt"
  printf abc >"$folder/okr-y／..／..／windows／win.ini"
  before=$(outside)
  okr_shm list --json
  [ "$status" = 1 ] && [ "$err" = "okr-shm: cannot open $folder_windows/43/'okr-x\..\..\..\..\precious.txt': Invalid name" ] ||
    fail "list: status $status: $err"
  [ "$(json_field 'okr-y／..／..／windows／win.ini' size)" = 3 ] || fail "not listed as itself: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  # No path names 43's entry as one file: listed, never opened.
  [ "$status" = 1 ] || fail "clean: status $status: $err"
  grep -qxF "removed $folder_windows/42/okr-x／..／..／..／..／precious.txt" <<<"$out" || fail "42: $out"
  grep -qxF "kept $folder_windows/43/'okr-x\..\..\..\..\precious.txt': cannot be opened" <<<"$out" || fail "43: $out"
  grep -qxF "kept folder $folder_windows/43: not empty" <<<"$out" || fail "43: $out"
  [ -e "$folder/okr-y／..／..／windows／win.ini" ] && [ -e "$folder/43/okr-x\..\..\..\..\precious.txt" ] ||
    fail "a file of another name was removed"
  [ "$(outside)" = "$before" ] || fail "outside the folders: $(diff <(echo "$before") <(outside))"
  ;;
links)
  # An earlier boot's folder that is a link, a link among an earlier boot's
  # files and one in the shared folder: none is entered, read or removed.
  echo precious >"$WINEPREFIX/drive_c/precious.txt"
  mkdir -p "$WINEPREFIX/drive_c/elsewhere" "$folder/1700000004"
  head -c 16 /dev/zero >"$WINEPREFIX/drive_c/elsewhere/okr-info-1"
  ln -s ../../elsewhere "$folder/1700000003"
  ln -s ../../../precious.txt "$folder/1700000004/okr-info-2"
  ln -s ../../precious.txt "$folder/okr-info-3"
  # A link to the file of its name without the trailing dot, which Wine names
  # as that file; a link to the same path on another drive, which only the
  # volume tells apart.
  printf abc >"$folder/okr-b"
  ln -s okr-b "$folder/okr-b."
  mkdir -p "$WINEPREFIX/other/ProgramData/boost_interprocess"
  printf 12345678 >"$WINEPREFIX/other/.windows-serial"
  ln -sfn ../other "$WINEPREFIX/dosdevices/d:"
  head -c 16 /dev/zero >"$WINEPREFIX/other/ProgramData/boost_interprocess/okr-info-4"
  ln -s "$WINEPREFIX/other/ProgramData/boost_interprocess/okr-info-4" "$folder/okr-info-4"
  # okr-sync a link to a file of its size outside: show must not print it.
  printf 'outside of folder' | head -c 16 >"$WINEPREFIX/drive_c/outside16"
  ln -s ../../outside16 "$folder/okr-sync"
  before=$(outside)
  okr_shm show okr-sync --hex
  [ "$status" = 1 ] && [ "$err" = "okr-shm: no shared object okr-sync" ] && ! grep -q outside <<<"$out" ||
    fail "show through the link okr-sync: $status $out $err"
  okr_shm list --json
  [ "$status" = 0 ] || fail "list: status $status: $err"
  [ "$(json_field 1700000003 link)" = true ] && [ "$(json_field 1700000003 files)" = null ] ||
    fail "the folder link: $out"
  for name in okr-info-3 okr-b. okr-info-4; do
    [ "$(json_field "$name" size)" = missing ] || fail "the link $name listed as an object: $out"
  done
  [ "$(json_field okr-b size)" = 3 ] || fail "okr-b: $out"
  okr_shm list
  grep -qE '^1700000003 +link +- +- +-$' <<<"$out" || fail "the link in the earlier boots' table: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] || fail "clean: status $status: $err"
  grep -qxF "kept folder $folder_windows/1700000003: a link, never entered" <<<"$out" || fail "folder link: $out"
  grep -qxF "kept folder $folder_windows/1700000004: not empty" <<<"$out" || fail "file link: $out"
  [ -L "$folder/1700000003" ] && [ -L "$folder/1700000004/okr-info-2" ] && [ -L "$folder/okr-info-3" ] &&
    [ -L "$folder/okr-b." ] && [ -L "$folder/okr-info-4" ] || fail "a link was removed"
  [ -e "$WINEPREFIX/other/ProgramData/boost_interprocess/okr-info-4" ] || fail "removed on the other drive"
  [ "$(outside)" = "$before" ] || fail "outside the folders: $(diff <(echo "$before") <(outside))"
  ;;
case)
  # The file system ignores case: OKR-SYNC is the synchronisation record.
  mkdir -p "$folder/1700000005"
  head -c 16 /dev/zero >"$folder/OKR-SYNC"
  head -c 16 /dev/zero >"$folder/1700000005/OKR-SYNC"
  okr_shm list --json
  [ "$(json_field OKR-SYNC kind)" = '"sync"' ] || fail "OKR-SYNC: $out"
  for name in OKR-SYNC okr-sync; do
    okr_shm show "$name"
    [ "$status" = 0 ] && grep -qx "NAME    OKR-SYNC" <<<"$out" && grep -q "^KIND    sync " <<<"$out" ||
      fail "show $name: $status $out $err"
  done
  okr_shm clean
  grep -qx "kept OKR-SYNC: okr-sync is never removed" <<<"$out" || fail "clean: $out"
  grep -qxF "kept $folder_windows/1700000005/OKR-SYNC: okr-sync is never removed" <<<"$out" || fail "clean: $out"
  [ -e "$folder/OKR-SYNC" ] && [ -e "$folder/1700000005/OKR-SYNC" ] || fail "OKR-SYNC removed"
  ;;
names)
  # Names outside the ANSI code page, listed as themselves in UTF-8; a folder
  # of fullwidth digits is no earlier boot's.
  printf a >"$folder/okr-Ωz"
  printf bb >"$folder/okr-Жук"
  printf c >"$folder/okr-a b"
  printf d >"$folder/okr-⠀x"
  mkdir -p "$folder/１２３"
  head -c 16 /dev/zero >"$folder/１２３/okr-info-1"
  okr_shm list --json
  [ "$status" = 0 ] || fail "list: status $status: $err"
  [ "$(json_field okr-Ωz size)" = 1 ] && [ "$(json_field okr-Жук size)" = 2 ] || fail "names: $out"
  # show takes a name as list gives it, as it is and quoted (U+2800 escaped).
  [ "$(json_field "okr-⠀x" name_quoted)" = "\"'okr-'\$'\\\\342\\\\240\\\\200''x'\"" ] || fail "U+2800: $out"
  listing=$out
  for name in "okr-a b" "okr-⠀x"; do
    out=$listing
    quoted=$(json_field "$name" name_quoted | python3 -c 'import json, sys; print(json.load(sys.stdin))')
    for argument in "$name" "$quoted"; do
      okr_shm show "$argument"
      [ "$status" = 1 ] && [ "$err" = "okr-shm: $quoted holds no record of this product (okr-sync, okr-info-N)" ] ||
        fail "show $argument: $status $err"
    done
  done
  out=$listing
  [ "$(json_field １２３ kind)" = missing ] && [ "$(json_field 123 kind)" = missing ] || fail "stamp: $out"
  okr_shm list
  grep -q "^okr-Ωz  " <<<"$out" && grep -q "^okr-Жук  " <<<"$out" || fail "table: $out"
  okr_shm clean
  [ "$status" = 0 ] && [ -e "$folder/１２３/okr-info-1" ] || fail "clean: $status $out $err"
  ;;
reach)
  # Names that a plain path does not reach as themselves: a trailing dot or
  # space (dropped from a plain path, which then reaches the name without
  # them, here a file of its own) and a full path past MAX_PATH; in the
  # shared folder and in an earlier boot's. Each is listed, counted and, in
  # the earlier boot, removed; a name holding "\" is listed as what cannot
  # be opened and never opened as a path.
  long=okr-$(printf 'x%.0s' $(seq 1 240))
  mkdir -p "$folder/1700000010" "$folder/1700000011"
  for at in "$folder" "$folder/1700000010"; do
    printf a >"$at/okr-dot."
    printf bb >"$at/okr-space "
    printf ccc >"$at/$long"
    printf precious >"$at/okr-dot"
    printf precious >"$at/okr-space"
  done
  slash='okr-a\b'
  printf d >"$folder/$slash"
  printf d >"$folder/1700000011/$slash"
  okr_shm list --json
  [ "$status" = 1 ] && grep -q "^okr-shm: cannot open 'okr-a\\\\b': ." <<<"$err" || fail "list: $status $err"
  [ "$(json_field okr-dot. size)" = 1 ] && [ "$(json_field "okr-space " size)" = 2 ] &&
    [ "$(json_field "$long" size)" = 3 ] || fail "not listed as themselves: $out"
  [ "$(json_field "$slash" state)" = '"cannot be opened"' ] && [ "$(json_field "$slash" size)" = null ] &&
    [ "$(json_field "$slash" owner_process)" = null ] || fail "$slash: $out"
  [ "$(json_field 1700000010 files)" = 5 ] && [ "$(json_field 1700000010 size)" = 22 ] || fail "1700000010: $out"
  [ "$(json_field 1700000011 files)" = 1 ] && [ "$(json_field 1700000011 open)" = null ] || fail "1700000011: $out"
  okr_shm list
  grep -qx "'okr-a\\\\b' *other *- *- *- *- *unknown *unknown *cannot be opened" <<<"$out" || fail "table: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 1 ] || fail "clean: status $status: $err"
  for name in okr-dot. "'okr-space '" "$long" okr-dot okr-space; do
    grep -qxF "removed $folder_windows/1700000010/$name" <<<"$out" || fail "$name not removed: $out"
  done
  grep -qxF "removed folder $folder_windows/1700000010" <<<"$out" || fail "1700000010 not removed: $out"
  grep -qxF "kept $folder_windows/1700000011/'$slash': cannot be opened" <<<"$out" || fail "1700000011: $out"
  grep -qxF "kept '$slash': cannot be opened" <<<"$out" || fail "$slash: $out"
  grep -qxF "kept okr-dot.: not an information record" <<<"$out" || fail "okr-dot.: $out"
  [ ! -e "$folder/1700000010" ] && [ -e "$folder/1700000011/$slash" ] || fail "earlier boots: $(ls -R "$folder")"
  for name in okr-dot. "okr-space " "$long" okr-dot okr-space "$slash"; do
    [ -e "$folder/$name" ] || fail "$name of the shared folder was removed"
  done
  ;;
folder_link)
  # The shared folder itself a link: to another folder, and to the same path
  # on another drive, which only the volume tells apart. Never entered.
  mkdir -p "$WINEPREFIX/other"
  printf 12345678 >"$WINEPREFIX/other/.windows-serial"
  ln -sfn ../other "$WINEPREFIX/dosdevices/d:"
  for target in "$WINEPREFIX/drive_c/elsewhere" "$WINEPREFIX/other/ProgramData/boost_interprocess"; do
    mkdir -p "$target"
    head -c 16 /dev/zero >"$target/okr-info-5"
    rm -rf "$root"
    ln -s "$target" "$root"
    for command in "list" "clean"; do
      okr_shm $command
      [ "$status" = 1 ] && [ "$err" = "okr-shm: cannot read the shared folder $root_windows/: a link, never entered" ] ||
        fail "$command through a link to $target: $status $out $err"
    done
    [ -e "$target/okr-info-5" ] || fail "removed through a link to $target"
  done
  ;;
missing)
  # Looking never creates the shared folder, nor its parent.
  rm -rf "$root"
  for command in "list" "list --json" "show okr-sync" "clean --dry-run" "clean"; do
    # shellcheck disable=SC2086
    okr_shm $command
    [ ! -e "$root" ] || fail "$command made $root_windows"
  done
  okr_shm list --json
  [ "$status" = 0 ] && [ "$out" = "[]" ] || fail "list --json of no folder: $status $out $err"
  okr_shm clean --dry-run
  [ "$status" = 0 ] && [ -z "$out" ] || fail "clean --dry-run of no folder: $status $out $err"
  ;;
fuzz)
  # Random names of fullwidth forms, separators, dots, colons and device
  # names, as files and folders in the shared folder and an earlier boot's:
  # whatever okr-shm does, nothing outside the folders changes.
  echo precious >"$WINEPREFIX/drive_c/precious.txt"
  seed=${OKR_FUZZ_SEED:-$RANDOM}
  echo "  seed $seed (OKR_FUZZ_SEED)"
  python3 - "$folder" "$seed" <<'PY'
import os, random, sys
folder, rng = sys.argv[1], random.Random(int(sys.argv[2]))
pieces = ["／", "＼", "．", "：", "..", ".", "\\", ":", " ", "CON", "nul", "COM1", "LPT9", "AUX.txt", "okr-sync",
          "OKR-INFO-", "precious.txt", "１", "Ω", "ı", "*", "?", "<", "|", "\u2215", "\u29f8", "\ufe68",
          "\u2024", "\udcff"]
separators = ["／", "＼", "\\", "\u2215", "\ufe68"]

def name():
    junk = "".join(rng.choice(pieces) for _ in range(rng.randint(0, 4)))
    if rng.random() < 0.5:
        return "okr-" + junk
    # Aimed out of the folder, at a file that exists there.
    up = "".join(".." + rng.choice(separators) for _ in range(rng.randint(1, 5)))
    return "okr-" + junk + rng.choice(separators) + up + rng.choice(["precious.txt", "windows／win.ini"])

for where in (folder, os.path.join(folder, "1700000007")):
    os.makedirs(where, exist_ok=True)
    for i in range(150):
        path = os.path.join(where, name())
        try:
            if rng.random() < 0.15:
                os.makedirs(path, exist_ok=True)
            else:
                with open(path, "wb") as f:
                    f.write(os.urandom(rng.choice((0, 16, 100))))
        except OSError:
            pass
PY
  before=$(outside)
  for command in "list" "list --json" "clean --dry-run" "clean"; do
    # shellcheck disable=SC2086
    okr_shm $command
    [ "$status" -le 1 ] || fail "$command: status $status: $err"
  done
  grep -q "^removed C:.*/1700000007/'\?okr-" <<<"$out" || fail "nothing of the earlier boot's removed: $out"
  [ "$(outside)" = "$before" ] || fail "outside the folders: $(diff <(echo "$before") <(outside))"
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
  # An existing file of such a name is found through its true name.
  printf bb >"$folder/okr-Жук"
  okr_shm show okr-Жук
  [ "$status" = 1 ] && [ "$err" = "okr-shm: okr-Жук holds no record of this product (okr-sync, okr-info-N)" ] ||
    fail "show okr-Жук: $status $err"
  rm "$folder/okr-Жук"
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
  # clean's too: 200 lines of what it keeps.
  WINEDEBUG=+file timeout 60 "$wine" "$tool" clean 2>"$work/trace" | wc -l >"$work/lines"
  writes=$(grep -c 'NtWriteFile (' "$work/trace" || true)
  [ "$(cat "$work/lines")" = 200 ] && [ "$writes" -ge 1 ] && [ "$writes" -le 2 ] || fail "clean | wc: $(cat "$work/lines") lines, $writes writes"
  ;;
replaced | held)
  # okr-info-5, orphaned, is replaced by another file of its name (replaced),
  # or opened by a process as Boost opens a block, sharing delete (held),
  # while clean, past its inventory, is stalled writing into a full pipe
  # (filler objects ahead of it): the file it would remove is no longer the
  # one it judged, or is in use.
  for i in $(seq 1000 1199); do : >"$folder/okr-a$i"; done
  head -c 16 /dev/zero >"$folder/okr-info-5"
  python3 - "$wine" "$tool" "$folder" "$scenario" "$holder" "$folder_windows\\okr-info-5" <<'PY' ||
import fcntl, os, subprocess, sys, termios, time
wine, tool, folder, scenario, holder, held = sys.argv[1:]
read, write = os.pipe()
fcntl.fcntl(write, 1031, 4096)  # F_SETPIPE_SZ: one page
clean = subprocess.Popen([wine, tool, "clean"], stdout=write, stderr=subprocess.PIPE)
os.close(write)
def unread():
    return int.from_bytes(fcntl.ioctl(read, termios.FIONREAD, b"\0" * 4), "little")
for _ in range(600):
    if unread() >= 4096 - 64 or clean.poll() is not None:
        break
    time.sleep(0.1)
assert clean.poll() is None, "clean did not stall"
if scenario == "replaced":
    with open(f"{folder}/okr-info-5.new", "wb") as f:
        f.write(b"\1" * 16)
    os.rename(f"{folder}/okr-info-5.new", f"{folder}/okr-info-5")
else:
    hold = subprocess.Popen([wine, holder, held], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert hold.stdout.readline().strip() == b"held", "the holder did not open okr-info-5"
out = b""
while chunk := os.read(read, 65536):
    out += chunk
clean.wait(60)
lines = [line for line in out.decode().replace("\r", "").splitlines() if "okr-info-5" in line]
why = "changed since it was listed" if scenario == "replaced" else "in use (held open)"
assert lines == [f"kept okr-info-5: {why}"], lines
assert open(f"{folder}/okr-info-5", "rb").read() == (b"\1" if scenario == "replaced" else b"\0") * 16
if scenario == "held":
    hold.stdin.close()
    hold.wait(60)
PY
    fail "okr-info-5 was removed"
  ;;
undeleted)
  # A delete that does not take: the folder is read-only to a wineserver in
  # a mount namespace of its own, so its unlink when the handle closes
  # fails, and Wine says nothing. clean says the name is still there and
  # fails; the next clean, the folder writable again, removes it.
  head -c 16 /dev/zero >"$folder/okr-info-5"
  wineserver -k
  status=0
  unshare -m sh -c 'mount --bind -o ro "$1" "$1" && timeout 60 "$2" "$3" clean; s=$?; wineserver -k; exit $s' _ \
    "$folder" "$wine" "$tool" >"$work/out" 2>"$work/err" || status=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
  [ "$status" = 1 ] && [ "$err" = "okr-shm: cannot remove okr-info-5: still there after it was deleted (another handle may hold it)" ] &&
    [ -z "$out" ] || fail "clean of a read-only folder: status $status: $out $err"
  [ -e "$folder/okr-info-5" ] || fail "okr-info-5 is gone after all"
  okr_shm clean
  [ "$status" = 0 ] && [ "$out" = "removed okr-info-5" ] && [ ! -e "$folder/okr-info-5" ] || fail "clean: $status $out $err"
  ;;
locked)
  # Locks that no Windows handle shows: a Linux process holds them on the
  # files themselves, which Wine's locks meet, as a user of the library
  # arriving just after the look for handles would. The users' lock keeps
  # okr-info-5, the name lock okr-info-6; okr-info-7 alone is removed. The
  # users' byte is held exclusively: from outside, Wine meets a shared lock
  # only through a handle open for writing, which clean's is not.
  for n in 5 6 7; do head -c 16 /dev/zero >"$folder/okr-info-$n"; done
  coproc locker { python3 -c 'import fcntl, sys
at = 0x7FFFFFFF00000000  # the Windows locks of okr(3)
user, name = open(sys.argv[1] + "5", "r+b"), open(sys.argv[1] + "6", "r+b")
fcntl.lockf(user, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, at)
fcntl.lockf(name, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, at + 2)
print("held", flush=True)
sys.stdin.read()' "$folder/okr-info-"; }
  read -r held <&"${locker[0]}" && [ "$held" = held ] || fail "the locks were not taken"
  okr_shm clean
  expected=$'kept okr-info-5: in use (a user of the library holds its lock)\nkept okr-info-6: another process is removing it\nremoved okr-info-7'
  [ "$status" = 0 ] && [ "$out" = "$expected" ] || fail "clean: status $status: $out $err"
  [ -e "$folder/okr-info-5" ] && [ -e "$folder/okr-info-6" ] || fail "a locked orphan was removed"
  ;;
unpublished)
  # A SharedRecord creator stalled between building its block and publishing
  # it (the peer's record constructor waits for a line), which on Windows is
  # always under a hidden name: listed as unpublished, held, and kept by
  # clean; once a creator is killed there, clean removes what it left, also
  # in an earlier boot's folder. Names of another form are no creator's.
  # start_creator FD: sets creator_pid and hidden once the block is built.
  start_creator() {
    mkfifo "$work/in$1"
    "$wine" "$peer" stall okr-record <"$work/in$1" >"$work/peer$1" &
    creator_pid=$!
    checks+=("$creator_pid")
    eval "exec $1>\"$work/in$1\""
    for _ in $(seq 1 600); do
      grep -q building "$work/peer$1" 2>/dev/null && break
      sleep 0.1
    done
    grep -q building "$work/peer$1" || fail "the creator did not stall: $(cat "$work/peer$1")"
    # Wine must start with a fixed layout, or about one start in 8,000 fails.
    ((0x$(cat "/proc/$creator_pid/personality") & 0x40000)) || fail "Wine started with a random layout"
    hidden=$(find "$folder" -maxdepth 1 -regextype posix-extended -regex '.*/\.okr-new-[0-9a-f]{24}' -printf '%f\n')
    [ "$(wc -l <<<"$hidden")" = 1 ] && [ ${#hidden} = 33 ] || fail "no one hidden name: $hidden"
  }
  lookalikes=(.OKR-NEW-0123456789abcdef01234567 .okr-new-0123456789ABCDEF01234567 .okr-new-0123456789abcdef0123)
  for name in "${lookalikes[@]}"; do printf a >"$folder/$name"; done
  mkdir -p "$folder/1700000020"
  head -c 16 /dev/zero >"$folder/1700000020/.okr-new-00112233445566778899aabb"
  start_creator 3
  okr_shm list --json
  [ "$status" = 0 ] || fail "list --json: status $status: $err"
  [ "$(json_field "$hidden" kind)" = '"unpublished"' ] && [ "$(json_field "$hidden" state)" = '"in use"' ] &&
    [ "$(json_field "$hidden" size)" = 65536 ] && [ "$(json_field "$hidden" layout)" = null ] ||
    fail "$hidden: $out"
  for name in "${lookalikes[@]}"; do [ "$(json_field "$name" kind)" = missing ] || fail "$name listed: $out"; done
  okr_shm list
  grep -Eq "^\\$hidden +unpublished +65536 +- .* in use\$" <<<"$out" || fail "table: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] || fail "clean: status $status: $err"
  grep -qxF "kept $hidden: in use (held open)" <<<"$out" || fail "$hidden not kept: $out"
  grep -qxF "removed $folder_windows/1700000020/.okr-new-00112233445566778899aabb" <<<"$out" &&
    grep -qxF "removed folder $folder_windows/1700000020" <<<"$out" || fail "the earlier boot's: $out"
  ! grep -qi "okr-new-0123" <<<"$out" || fail "a lookalike: $out"
  echo >&3
  wait "$creator_pid" || fail "the creator failed: $(cat "$work/peer3")"
  grep -qx published <(tr -d '\r' <"$work/peer3") || fail "not published: $(cat "$work/peer3")"
  [ ! -e "$folder/$hidden" ] || fail "$hidden left behind"
  start_creator 4
  kill -9 "$creator_pid"
  wait "$creator_pid" 2>/dev/null || true
  okr_shm list --json
  [ "$(json_field "$hidden" state)" = '"orphaned"' ] || fail "$hidden of the killed creator: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] && grep -qxF "removed $hidden" <<<"$out" || fail "clean: status $status: $out $err"
  [ ! -e "$folder/$hidden" ] || fail "$hidden not removed"
  for name in "${lookalikes[@]}"; do [ -e "$folder/$name" ] || fail "$name removed"; done
  ;;
records)
  # SharedRecord's blocks as okr-shm and other processes meet them.
  # peer ARGS...: runs the record peer; sets status and out.
  peer() {
    status=0
    out=$(timeout 120 "$wine" "$peer" "$@" 2>&1 | tr -d '\r') || status=$?
  }
  # twice ARGS...: two peers at once, each of which must print ok.
  twice() {
    "$wine" "$peer" "$@" >"$work/other" &
    local other=$!
    peer "$@"
    wait "$other" || true
    [ "$out" = ok ] && [ "$(tr -d '\r' <"$work/other")" = ok ] || fail "$1: $out $(cat "$work/other")"
  }
  # hold FD NAME VALUE: a peer that owns NAME until a line on FD; sets holder_pid.
  hold() {
    mkfifo "$work/in$1"
    "$wine" "$peer" hold "$2" "$3" <"$work/in$1" >"$work/peer$1" &
    holder_pid=$!
    checks+=("$holder_pid")
    eval "exec $1>\"$work/in$1\""
    for _ in $(seq 1 600); do grep -q held "$work/peer$1" 2>/dev/null && break; sleep 0.1; done
    grep -q held "$work/peer$1" || fail "$2 was not held: $(cat "$work/peer$1")"
  }
  # A UTF-8 name is the file of that name (not its bytes in the ANSI code
  # page); names up to 255 UTF-16 units, in paths past MAX_PATH, work end
  # to end; a longer one is refused before anything is made.
  fd=3
  for name in okr-Ωmega "okr-$(printf 'y%.0s' $(seq 1 226))"; do
    hold $fd "$name" 0x51
    okr_shm show "$name"
    [ "$status" = 1 ] && [ "$err" = "okr-shm: $name holds no record of this product (okr-sync, okr-info-N)" ] ||
      fail "show $name: $status $err"
    peer read "$name"
    [ "$out" = 00000051 ] || fail "read $name: $out"
    peer remove "$name"
    [ "$out" = removed ] && [ ! -e "$folder/$name" ] || fail "remove $name: $out"
    peer openOrCreate "$name" 0x52 # the name is free at once, though the holder still maps the old block
    [ "$out" = 00000052 ] || fail "openOrCreate $name while the removed block is mapped: $out"
    echo >&$fd
    wait "$holder_pid" || fail "the holder of $name failed: $(cat "$work/peer$fd")"
    [ -e "$folder/$name" ] || fail "the old owner's end removed the new $name"
    fd=$((fd + 1))
  done
  peer create "okr-$(printf 'z%.0s' $(seq 1 252))"
  [ "$out" = "error: Shared memory name refused" ] || fail "a 256-unit name: $out"
  peer openOrCreate x 0x7 # and one of a single unit is a name
  [ "$out" = 00000007 ] || fail "a one-character name: $out"
  peer remove x
  # A live owner keeps its record; once it is killed, take-over keeps the
  # contents and makes the taker the owner, whose end removes the name.
  hold 5 okr-owned 0x77
  peer takeOver okr-owned
  [ "$status" = 1 ] && [ "$out" = "error: Shared memory record has a live owner" ] || fail "take-over of a live owner's: $out"
  kill -9 "$holder_pid"
  wait "$holder_pid" 2>/dev/null || true
  peer inherit okr-owned
  [ "$out" = 00000077 ] && [ ! -e "$folder/okr-owned" ] || fail "take-over after the owner was killed: $out"
  # A record for the group gets a descriptor Wine accepts (it enforces none).
  peer --access=group openOrCreate okr-group 0x5
  [ "$out" = 00000005 ] || fail "a record for the group: $out"
  # A read-only block is removed whole, or not at all.
  peer openOrCreate okr-readonly 0x1
  chmod a-w "$folder/okr-readonly"
  peer remove okr-readonly
  [ "$out" = removed ] && [ ! -e "$folder/okr-readonly" ] || fail "remove of a read-only block: $out"
  # A waiting open sees the name appear; remove racing openOrCreate, and
  # removers racing each other, each name removed once, never denied.
  peer wait okr-late 300
  [ "$out" = "error: Shared memory name does not exist" ] || fail "wait for nothing: $out"
  "$wine" "$peer" wait okr-late 20000 >"$work/waiter" &
  waiter=$!
  sleep 2
  peer openOrCreate okr-late 0x33
  [ "$out" = 00000033 ] || fail "make okr-late: $out"
  wait "$waiter" || true
  # The maker writes its value just after the name appears.
  grep -Eqx '000000(00|33)' <(tr -d '\r' <"$work/waiter") || fail "wait for okr-late: $(cat "$work/waiter")"
  twice churn okr-churn 300
  twice race okr-gate okr-race 100 2 remove
  hidden=$(find "$folder" -maxdepth 1 -name '.okr-new-*')
  [ -z "$hidden" ] || fail "removed blocks left behind: $hidden"
  ;;
*) fail "no scenario $scenario" ;;
esac
echo "okr-shm $scenario under Wine: as expected"
