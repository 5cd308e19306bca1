#!/usr/bin/env bash
# The per-boot folder end to end: the real Windows check and okr-shm under
# Wine, whose own event log cannot be read back, with the System log's
# reading calls answered by okr-test-system-log (see SystemLogStandIn.cpp),
# loaded into each program by okr-test-launch-with-dll. Each scenario serves
# the records it chose, in a Wine prefix of its own.
#   boot-stamp-under-wine.sh CHECK_EXE TOOL_EXE WINE_LOADER LAUNCHER STAND_IN SCENARIO
set -euo pipefail
check=Z:$1
tool=Z:$2
wine=$3
launcher=$4
stand_in=Z:$5
scenario=$6
# shellcheck source=wine-world.sh
. "$(dirname "$0")/wine-world.sh"
launch=("$launcher" "$stand_in")
rm -rf "$root" # every scenario starts without a shared folder
log=$WINEPREFIX/drive_c/okr-system-log.txt
export OKR_TEST_SYSTEM_LOG='C:\okr-system-log.txt'

# serve RECORD...: the System log from now on, newest record first, one
# "TIME SOURCE EVENT_ID [DATA_BYTES]" each.
serve() { printf '%s\n' "$@" >"$log"; }

# What was made or changed in the stamps' parent since $work/before.
changed() { (cd "$root" && find . -mindepth 1 -newer "$work/before" | sort); }

# A complete run of the check, served the log of the moment: its folder is
# the stamp's, where it creates both files and lists them, creating or
# changing nothing else beside them; after Enter both are gone, status 0.
#   complete_run STAMP [READ...]   READ...: what the check must have read
complete_run() {
  local stamp=$1 folder=$root${1:+/$1} at=${1:+$1/}
  shift
  rm -f "$log.reads"
  touch "$work/before"
  start_check 3
  mapfile -t lines < <(tr -d '\r' <"$work/check3")
  printf '  | %s\n' "${lines[@]}"
  printf '%s\n' "${lines[@]}" | grep -qxF "Shared memory folder is: $root_windows/$stamp" || fail "not the folder of '$stamp'"
  listed=$(printf '%s\n' "${lines[@]}" | awk '/^Press ENTER/ { on = 0 } on; /^List shared memory files$/ { on = 1 }' | sort)
  [ "$listed" = "$(printf '%s\n' "$info" okr-sync | sort)" ] || fail "listed: $listed"
  [ "$(stat -c %s "$folder/okr-sync")" = 16 ] && [ "$(stat -c %s "$folder/$info")" = 135880 ] || fail "files in $folder"
  [ "$(changed)" = "$(printf '%s\n' ${stamp:+./$stamp} "./$at$info" "./${at}okr-sync" | sort)" ] ||
    fail "made or changed beside the stamp's files: $(changed)"
  echo >&3
  exec 3>&-
  status=0
  wait "$check_pid" || status=$?
  [ "$status" = 0 ] || fail "status $status"
  [ "$(changed)" = "${stamp:+./$stamp}" ] || fail "left or changed after Enter: $(changed)"
  if [ $# -gt 0 ]; then
    [ "$(tr -d '\r' <"$log.reads")" = "$(printf '%s\n' "open System" "$@" close)" ] ||
      fail "read: $(cat "$log.reads")"
  fi
}

# The folder of boot T as a crashed check beside a finished one leaves it:
# the information record of the check that was killed, free, and nothing
# else (the finished one removed okr-sync on its way out).
earlier_boot() {
  serve "$1 EventLog 6005"
  start_check 4
  kill -9 "$check_pid" # ends the check too: it runs in the launcher's job
  wait "$check_pid" 2>/dev/null || true
  crashed=$info
  start_check 5
  echo >&5
  wait "$check_pid" || fail "the finished check failed"
  [ "$(ls "$root/$1")" = "$crashed" ] || fail "boot $1 holds $(ls "$root/$1")"
}

case $scenario in
newest)
  # The EventLog service writes 6005 with the severity bits set.
  serve "1700000300 EventLog 0x80001775" "1700000100 EventLog 6005"
  complete_run 1700000300 "read 65536: 2 records"
  ;;
others_skipped)
  serve "1700000900 EventLog 6006" "1700000800 EventLog 0x80001776" "1700000700 Eventlog 6005" \
    "1700000600 EventLogs 6005" "1700000500 Event 6005" "1700000400 Service_Control_Manager 7036" \
    "1700000300 EventLog 6005" "1700000200 EventLog 6005"
  complete_run 1700000300 "read 65536: 8 records"
  ;;
several_reads)
  # Two of these fit into the check's 64 KiB at a time.
  serve "1700000900 EventLog 6006 30000" "1700000800 EventLog 6006 30000" "1700000700 EventLog 6006 30000" \
    "1700000600 EventLog 6006 30000" "1700000500 EventLog 6006 30000" "1700000300 EventLog 6005" \
    "1700000200 EventLog 6005"
  complete_run 1700000300 "read 65536: 2 records" "read 65536: 2 records" "read 65536: 3 records"
  ;;
first_buffer_too_small)
  # 70088 bytes: 70000 of data, the header, both names, padding and length.
  serve "1700000900 Application_Error 1000 70000" "1700000300 EventLog 6005"
  complete_run 1700000300 "read 65536: too small, 70088 needed" "read 70088: 1 record" "read 70088: 1 record"
  ;;
no_boot_record)
  serve "1700000900 EventLog 6006" "1700000700 Eventlog 6005"
  complete_run "" "read 65536: 2 records" "read 65536: end"
  ;;
second_boot)
  earlier_boot 1700000300
  before=$(cd "$root/1700000300" && stat -c '%n %s %Y' "$crashed" && sha256sum "$crashed")
  serve "1700000900 EventLog 6005" "1700000300 EventLog 6005"
  complete_run 1700000900
  [ "$(cd "$root/1700000300" && stat -c '%n %s %Y' "$crashed" && sha256sum "$crashed")" = "$before" ] ||
    fail "boot 1700000300's $crashed was touched"
  ;;
tool_earlier_boot)
  earlier_boot 1700000300
  serve "1700000900 EventLog 6005" "1700000300 EventLog 6005"
  start_check 3
  current=$info
  okr_shm list --json
  [ "$status" = 0 ] || fail "list --json: status $status: $err"
  for name in "$current" okr-sync; do
    [ "$(json_field "$name" state)" = '"in use"' ] || fail "$name is not in use: $out"
  done
  [ "$(json_field "$crashed" kind)" = missing ] || fail "boot 1700000300's $crashed listed as current: $out"
  [ "$(json_field 1700000300 kind)" = '"earlier boot"' ] || fail "1700000300 is no earlier boot: $out"
  [ "$(json_field 1700000900 kind)" = missing ] || fail "the current boot listed as earlier: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] || fail "clean: status $status: $err"
  [ ! -e "$root/1700000300" ] || fail "boot 1700000300 kept: $(ls -A "$root/1700000300")"
  [ -e "$root/1700000900/$current" ] && [ -e "$root/1700000900/okr-sync" ] || fail "the current boot's files went"
  echo >&3
  wait "$check_pid" || fail "the waiting check failed"
  ;;
tool_after_reboot)
  # After a reboot, before any product has run: the new boot's folder does
  # not exist. Looking leaves it so; clean empties and removes the earlier
  # boot's folder all the same.
  earlier_boot 1700000300
  serve "1700000900 EventLog 6005" "1700000300 EventLog 6005"
  for command in "list" "clean --dry-run"; do
    # shellcheck disable=SC2086
    okr_shm $command
    [ "$status" = 0 ] || fail "$command: status $status: $err"
    [ ! -e "$root/1700000900" ] || fail "$command made the new boot's folder"
  done
  okr_shm list --json
  [ "$(json_field 1700000300 files)" = 1 ] && [ "$(json_field 1700000300 open)" = false ] || fail "list: $out"
  okr_shm clean
  printf '  | %s\n' "$out"
  [ "$status" = 0 ] || fail "clean: status $status: $err"
  grep -qxF "removed $root_windows/1700000300/$crashed" <<<"$out" || fail "clean: $out"
  [ ! -e "$root/1700000300" ] && [ ! -e "$root/1700000900" ] || fail "left: $(ls -A "$root")"
  ;;
*) fail "no scenario $scenario" ;;
esac
echo "boot stamp $scenario under Wine: as expected"
