#!/usr/bin/env bash
# A complete run of the console check (its input at its end) against the
# floor program (okr-bench-floor: the same OS work in plain C, libc only),
# both in one hyperfine run, in a /dev/shm of its own. Prints both medians
# and their ratio; the target is at most 2.5.
#
#   bench/check_run.sh [BUILD_DIR]        (default: build/default; as root)
#
# OKR_BENCH_CHECK_RUNS (40) sets the number of timed runs of each. The check
# needs a running systemd journal: a run without its boot event fails the
# benchmark rather than counting as fast.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private-shm.sh" "$here/check_run.sh" "$@"

build=$(cd "${1:-$here/../build/default}" && pwd)
check=$build/driver/okr-shm-check
floor=$build/bench/okr-bench-floor
for program in "$check" "$floor"; do
  [ -x "$program" ] || { echo "check_run.sh: $program is not built" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "check_run.sh: hyperfine is missing" >&2; exit 1; }
for expected in "$check=Report event 6005" "$check=Press ENTER to finish test" "$floor=Press ENTER to finish test"; do
  "${expected%%=*}" </dev/null | grep -qF "${expected#*=}" ||
    { echo "check_run.sh: ${expected%%=*} did not print \"${expected#*=}\" (no journal?)" >&2; exit 1; }
done

tmp=$(mktemp -d /tmp/okr-bench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# hyperfine gives each run /dev/null as its input: the check ends at once.
hyperfine -N --style basic --warmup 5 --runs "${OKR_BENCH_CHECK_RUNS:-40}" --export-json "$tmp/runs.json" \
  -n check "$check" -n floor "$floor" >/dev/null
python3 - "$tmp/runs.json" <<'PY'
import json, sys

target = 2.5
median = {r["command"]: r["median"] * 1e3 for r in json.load(open(sys.argv[1]))["results"]}
ratio = median["check"] / median["floor"]
print(f"complete run, median of hyperfine's runs: check {median['check']:.2f} ms, floor {median['floor']:.2f} ms")
print(f"target: a complete run of the check within {target:g}x of the floor: {ratio:.2f}, "
      f"{'holds' if ratio <= target else 'missed'}")
PY
