#!/usr/bin/env bash
# Whole-run benchmark: the console check (okr-shm-check) against the floor
# (okr-bench-floor, the least OS work a complete run needs), then where the
# check's extra time goes: library loading (programs that only load the
# check's libraries), the check's own steps timed inside a fresh process, and
# the instruction counts of one run of each under callgrind.
#
#   bench/whole_run.sh [BUILD_DIR]        (default: build/default)
#
# OKR_BENCH_PAIRS (40), OKR_BENCH_WARMUP (5) and OKR_BENCH_PROBE_RUNS (21) set
# the number of timed runs. The check needs a running systemd journal; a run
# without its event lines fails the benchmark rather than counting as fast.
#
# As root, everything runs in a mount namespace with a /dev/shm of its own,
# because the check always creates and removes "okr-sync" and would otherwise
# take it from tests running beside it. OKR_BENCH_SHARED_SHM=1 turns that off.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

if [ "${OKR_BENCH_SHARED_SHM:-0}" != 1 ] && [ -z "${OKR_BENCH_SHM_MODE:-}" ] &&
  [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null 2>&1 &&
  unshare --mount --propagation private true 2>/dev/null; then
  # shellcheck disable=SC2016 # expanded by the inner bash
  exec env OKR_BENCH_SHM_MODE=private unshare --mount --propagation private -- bash -c \
    'mount -t tmpfs -o mode=1777 okr-bench-shm /dev/shm || export OKR_BENCH_SHM_MODE=shared
     exec bash "$0" "$@"' "$here/whole_run.sh" "$@"
fi

root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
bin=$build/bench
check=$build/driver/okr-shm-check
pairs=${OKR_BENCH_PAIRS:-40}
warmup=${OKR_BENCH_WARMUP:-5}
probe_runs=${OKR_BENCH_PROBE_RUNS:-21}
target=2.5

for program in "$check" "$bin/okr-bench-floor" "$bin/okr-bench-timer" "$bin/okr-bench-steps" \
  "$bin/okr-bench-load-all" "$bin/okr-bench-load-systemd" "$bin/okr-bench-load-cxx" \
  "$bin/okr-bench-load-cxx-static"; do
  [ -x "$program" ] || { echo "whole_run.sh: $program is not built" >&2; exit 1; }
done
command -v valgrind >/dev/null || { echo "whole_run.sh: valgrind is missing" >&2; exit 1; }

tmp=$(mktemp -d /tmp/okr-bench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

if [ "${OKR_BENCH_SHM_MODE:-}" = private ]; then
  echo "shared memory: a private /dev/shm (tmpfs in a mount namespace of its own)"
else
  echo "shared memory: the machine's /dev/shm (the check's runs create and remove okr-sync)"
fi
echo

echo "== whole run: check against floor, alternating pairs"
"$bin/okr-bench-timer" --rounds "$pairs" --warmup "$warmup" --target "$target" \
  --expect "check=Report event 6005" --expect "check=Press ENTER to finish test" \
  --expect "floor=Press ENTER to finish test" \
  "check=$check" "floor=$bin/okr-bench-floor"
echo

echo "== library loading: programs whose main() does nothing, linked against ever fewer"
echo "   of the check's shared libraries (loading, relocation and their constructors)"
"$bin/okr-bench-timer" --rounds "$pairs" --warmup "$warmup" --tsv "$tmp/ladder.tsv" \
  --expect "check=Report event 6005" \
  "check=$check" "load-wx+systemd=$bin/okr-bench-load-all" \
  "load-systemd=$bin/okr-bench-load-systemd" "load-libstdc++=$bin/okr-bench-load-cxx" \
  "static-libstdc++=$bin/okr-bench-load-cxx-static" "floor=$bin/okr-bench-floor"
awk -F'\t' '
  { median[$1] = $2; step[$1] = $4 }
  END {
    printf "   %-58s %7.3f ms\n", "the check'\''s own run (its main() and exit):", step["check"]
    printf "   %-58s %7.3f ms\n", "libwx_baseu (+ libz, libpcre2-32): load and constructors:", step["load-wx+systemd"]
    printf "   %-58s %7.3f ms\n", "libsystemd (+ gcrypt, zstd, lz4, lzma, cap, gpg-error):", step["load-systemd"]
    printf "   %-58s %7.3f ms\n", "libstdc++ and libgcc_s as shared libraries:", step["load-libstdc++"]
    # Estimates only: the check with the measured cost of some libraries
    # taken away, its own run left as it is.
    print "   estimates (check minus what leaving libraries out saves, its own run unchanged):"
    estimate("without libwx_baseu", "load-systemd")
    estimate("without libwx_baseu and libsystemd", "load-libstdc++")
    estimate("without both, libstdc++ linked statically", "static-libstdc++")
  }
  function estimate(text, base,    t) {
    t = median["check"] - (median["load-wx+systemd"] - median[base])
    printf "   %-58s %7.3f ms, %.2f times the floor\n", text ":", t, t / median["floor"]
  }' "$tmp/ladder.tsv"
echo

echo "== dynamic loader (LD_DEBUG=statistics; cycles: median of 5 runs)"
printf '   %-18s %14s %14s %12s %12s %9s\n' program "startup cycles" "reloc cycles" "symbol rel." "relative" objects
for entry in "check=$check" "load-wx+systemd=$bin/okr-bench-load-all" "floor=$bin/okr-bench-floor"; do
  label=${entry%%=*} program=${entry#*=}
  : >"$tmp/ld.txt"
  for _ in 1 2 3 4 5; do
    LD_DEBUG=statistics "$program" </dev/null >/dev/null 2>>"$tmp/ld.txt" || {
      echo "whole_run.sh: $label failed under LD_DEBUG" >&2
      exit 1
    }
  done
  objects=$(LD_TRACE_LOADED_OBJECTS=1 "$program" </dev/null | grep -c '=>\|ld-linux' || true)
  awk -v label="$label" -v objects="$objects" '
    function median(list,    n, v, i, j, t) {
      n = split(list, v, " ")
      for (i = 2; i <= n; i++) { t = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    /total startup time in dynamic loader:/ { startup = startup " " $(NF - 1) }
    /time needed for relocation:/ { reloc = reloc " " $(NF - 2) }
    /final number of relocations:/ { symbols = $NF }
    /number of relative relocations:/ { relative = $NF }
    END { printf "   %-18s %14d %14d %12d %12d %9d\n", label, median(startup), median(reloc), symbols, relative, objects }
  ' "$tmp/ld.txt"
done
echo

echo "== the check's steps, timed inside one fresh process (okr-bench-steps, median of $probe_runs runs)"
for _ in 1 2; do # warm-up
  "$bin/okr-bench-steps" </dev/null >/dev/null 2>/dev/null
done
for _ in $(seq 1 "$probe_runs"); do
  if ! "$bin/okr-bench-steps" </dev/null >/dev/null 2>>"$tmp/steps.txt"; then
    echo "whole_run.sh: okr-bench-steps failed:" >&2
    cat "$tmp/steps.txt" >&2
    exit 1
  fi
done
awk '
  function median(key,    n, i, j, t, v) {
    n = split(values[key], v, " ")
    for (i = 2; i <= n; i++) { t = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  { for (i = 1; i <= NF; i++) { split($i, kv, "="); values[kv[1]] = values[kv[1]] " " kv[2] } }
  END {
    row("journal: registering (connect to its socket)", "journal_register")
    row("journal: the record (sd_journal_sendv)", "journal_report")
    row("journal: deregistering", "journal_deregister")
    row("boot-event step in all, with its console lines", "journal_step")
    row("process id, login name (wx, NSS), record name (CRC-32)", "names")
    row("creating both blocks (SharedType::create)", "create")
    row("folder and listing (wxDir), console lines", "listing")
    row("removing both blocks (delete)", "remove")
    row("main() in all", "main")
  }
  function row(text, key) { printf "   %-58s %8.1f us\n", text, median(key) }
' "$tmp/steps.txt"
echo

echo "== instructions of one run each (valgrind --tool=callgrind; user space only, no kernel time)"
profile() { # label program
  local label=$1 program=$2
  valgrind --tool=callgrind --callgrind-out-file="$tmp/$label.cg" --log-file="$tmp/$label.log" \
    "$program" </dev/null >"$tmp/$label.out" 2>&1 || {
    echo "whole_run.sh: $label failed under callgrind:" >&2
    cat "$tmp/$label.out" "$tmp/$label.log" >&2
    exit 1
  }
  grep -q "Press ENTER to finish test" "$tmp/$label.out" || {
    echo "whole_run.sh: $label did not complete under callgrind:" >&2
    cat "$tmp/$label.out" >&2
    exit 1
  }
  sed -n 's/.*Collected : *\([0-9][0-9]*\).*/\1/p' "$tmp/$label.log" >"$tmp/$label.total"
  [ -s "$tmp/$label.total" ] || { echo "whole_run.sh: no Collected line for $label" >&2; exit 1; }
  awk -f "$here/callgrind_costs.awk" "$tmp/$label.cg" >"$tmp/$label.costs"
}
profile check "$check"
profile floor "$bin/okr-bench-floor"
grep -q "Report event 6005" "$tmp/check.out" || {
  echo "whole_run.sh: the check wrote no boot event under callgrind (journal?)" >&2
  exit 1
}

awk -F'\t' -v check_total="$(cat "$tmp/check.total")" -v floor_total="$(cat "$tmp/floor.total")" '
  FILENAME ~ /check\.costs$/ { side = "check" }
  FILENAME ~ /floor\.costs$/ { side = "floor" }
  $1 == "fn" {
    object = $4; name = $5
    if (object ~ /ld-linux/ && (name == "_dl_start" || name == "_dl_init")) cost[side, name] += $2
    if (object ~ /ld-linux/ && name ~ /^_dl_runtime_resolve[^'"'"']*$/) cost[side, "lazy"] += $2
    if (object ~ /\/libc\.so/ && name == "exit") cost[side, "exit"] += $2
    if (object !~ /\.so/ && name == "main") cost[side, "main"] += $2
    if (name == "okr::driver::simulateBootEvent()") cost[side, "journal"] += $2
    if (index(name, "okr::common::infoRecordName(") == 1) cost[side, "recordname"] += $2
    if (name == "wxGetUserId()" || name == "wxGetProcessId()") cost[side, "wxnames"] += $2
    if (index(name, "okr::ipc::SharedTypeBase::create(") == 1 ||
        index(name, "okr::ipc::SharedTypeBase::SharedTypeBase(") == 1 ||
        index(name, "okr::ipc::SharedTypeBase::~SharedTypeBase(") == 1) cost[side, "shm"] += $2
    if (index(name, "okr::host::listSharedFiles(") == 1) cost[side, "listing"] += $2
  }
  $1 == "init" {
    if ($3 ~ /libwx_baseu/) cost[side, "init_wx"] += $2
    else if ($3 !~ /\.so/ && $3 != "???") cost[side, "init_program"] += $2
    else cost[side, "init_other"] += $2
  }
  function commas(n,    s, out, neg) {
    n = int(n + (n < 0 ? -0.5 : 0.5)); neg = n < 0; if (neg) n = -n
    s = sprintf("%d", n); out = ""
    while (length(s) > 3) { out = "," substr(s, length(s) - 2) out; s = substr(s, 1, length(s) - 3) }
    return (neg ? "-" : "") s out
  }
  function row(text, c, f) {
    printf "   %-48s %12s %7.1f%% %12s\n", text, commas(c), 100 * c / check_total, f == "" ? "" : commas(f)
  }
  END {
    ct = check_total; ft = floor_total
    printf "   %-48s %12s %8s %12s\n", "where", "check Ir", "share", "floor Ir"
    row("whole run", ct, ft)
    row("dynamic loading, relocation (_dl_start)", cost["check", "_dl_start"], cost["floor", "_dl_start"])
    row("library constructors (_dl_init)", cost["check", "_dl_init"], cost["floor", "_dl_init"])
    row("      of which libwx_baseu (wx start-up)", cost["check", "init_wx"], "")
    row("      of which other libraries", cost["check", "init_other"], "")
    row("the program'\''s own constructors", cost["check", "init_program"], cost["floor", "init_program"] + 0)
    row("main()", cost["check", "main"], cost["floor", "main"])
    row("  boot event, journal (simulateBootEvent)", cost["check", "journal"], "")
    row("  record name (infoRecordName, CRC-32)", cost["check", "recordname"], "")
    row("  login name, process id (wxGetUserId, ...)", cost["check", "wxnames"], "")
    row("  shared memory (SharedTypeBase, 2 blocks)", cost["check", "shm"], "")
    row("  folder listing (listSharedFiles, wxDir)", cost["check", "listing"], "")
    ours = cost["check", "journal"] + cost["check", "recordname"] + cost["check", "wxnames"] + cost["check", "shm"] + cost["check", "listing"]
    row("  rest (console lines, signals, wait)", cost["check", "main"] - ours, "")
    row("exit (static destructors, stdio)", cost["check", "exit"], cost["floor", "exit"])
    rest_c = ct - cost["check", "_dl_start"] - cost["check", "_dl_init"] - cost["check", "init_program"] - cost["check", "main"] - cost["check", "exit"]
    rest_f = ft - cost["floor", "_dl_start"] - cost["floor", "_dl_init"] - cost["floor", "init_program"] - cost["floor", "main"] - cost["floor", "exit"]
    row("everything else (start-up glue)", rest_c, rest_f)
    row("lazy symbol binding (inside the rows above)", cost["check", "lazy"], cost["floor", "lazy"] + 0)
    printf "   instruction ratio check/floor: %.1f\n", ct / ft
  }' "$tmp/check.costs" "$tmp/floor.costs"
