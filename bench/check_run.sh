#!/usr/bin/env bash
# A complete run of the console check (its input at its end) against the
# floor program (okr-bench-floor: the same OS work in plain C, libc only),
# in turns (check floor check floor ..., the order reversed every other
# turn), in a /dev/shm of its own. Prints both medians and the median of the
# ratios of runs in the same turn; the target is at most 2.5.
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
for expected in "$check=Report event 6005" "$check=Press ENTER to finish test" "$floor=Press ENTER to finish test"; do
  "${expected%%=*}" </dev/null | grep -qF "${expected#*=}" ||
    { echo "check_run.sh: ${expected%%=*} did not print \"${expected#*=}\" (no journal?)" >&2; exit 1; }
done

# Each run gets /dev/null as its input: the check ends at once.
PYTHONPATH=$here python3 - "$check" "$floor" "${OKR_BENCH_CHECK_RUNS:-40}" <<'PY'
import sys
import paired

check, floor, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
target = 2.5
result = paired.interleaved({"check": [check], "floor": [floor]}, runs, warmup=5)
median = {name: paired.median(r.seconds) * 1e3 for name, r in result.items()}
ratio = paired.paired_ratio(result["check"], result["floor"])
print(f"complete run, medians of {runs} turns: check {median['check']:.2f} ms, floor {median['floor']:.2f} ms")
print(f"target: a complete run of the check within {target:g}x of the floor (median of paired ratios): {ratio:.2f}, "
      f"{'holds' if ratio <= target else 'missed'}")
PY
