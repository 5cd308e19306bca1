# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # variables set here for the caller, or by it
# What the Windows scenario scripts share, sourced by them: a Wine prefix of
# their own (a copy of the template that windows.world_template made of the
# suite's, which no test writes, so nothing else is in its shared folder and
# nothing is left behind), the check and okr-shm run in it, and the JSON
# rows of okr-shm read back. The caller sets wine, check and tool; the words
# of the array launch, if any, come between the Wine loader and each program.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

: "${WINEPREFIX:?run through ctest --preset windows}"
: "${OKR_WINE_WORLD_TEMPLATE:?run through ctest --preset windows}"
launch=()
work=$(mktemp -d)
checks=()
cleanup() {
  exec 3>&- 4>&- 5>&- 2>/dev/null || true
  for pid in "${checks[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$OKR_WINE_WORLD_TEMPLATE" "$work/prefix"
export WINEPREFIX=$work/prefix
# Where each boot stamp has its folder; the empty stamp's folder is this one.
root=$WINEPREFIX/drive_c/ProgramData/boost_interprocess
root_windows='C:\ProgramData/boost_interprocess'
wineserver -p

# okr-shm ARGS...: sets status, out and err (line ends as on Linux).
okr_shm() {
  status=0
  timeout 60 "$wine" "${launch[@]}" "$tool" "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

# Starts the check with its input on descriptor $1 and its output in
# $work/check$1; sets info and check_pid once it waits at its prompt.
start_check() {
  mkfifo "$work/in$1"
  "$wine" "${launch[@]}" "$check" <"$work/in$1" >"$work/check$1" &
  check_pid=$!
  checks+=("$check_pid")
  eval "exec $1>\"$work/in$1\""
  for _ in $(seq 1 600); do
    grep -q "Press ENTER to finish test" "$work/check$1" 2>/dev/null && break
    kill -0 "$check_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "Press ENTER to finish test" "$work/check$1" || fail "the check did not reach its prompt: $(cat "$work/check$1")"
  info=$(grep -o 'okr-info-[0-9]*' "$work/check$1" | head -n1)
}

# json_field NAME KEY: the value of KEY in the element NAME of $out.
json_field() {
  python3 -c 'import json, sys
rows = [r for r in json.loads(sys.argv[1]) if r["name"] == sys.argv[2]]
print(json.dumps(rows[0][sys.argv[3]]) if rows else "missing")' "$out" "$1" "$2"
}
