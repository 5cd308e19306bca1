#!/usr/bin/env bash
# okr-shm clean of 2,000 orphaned information records beside 1,000 sleeping
# processes, against okr-shm list of the same folder, in a /dev/shm of its
# own, the folder filled again before every run; and clean of 500, so that
# the cost per removed object is measured as the slope between the two.
# The commands run in turns (A B C A B C ...). Prints medians, the median of
# the ratios of runs in the same turn and the cost per object. Target: clean
# within 1.3 times list (it reads the processes once for all it removes).
#
#   bench/clean_scaling.sh [BUILD_DIR]     (default: build/default; as root)
#
# OKR_BENCH_CLEAN_RUNS (10) sets the number of timed turns,
# OKR_BENCH_PROCESSES (1000) the number of sleeping processes beside.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private-shm.sh" "$here/clean_scaling.sh" "$@"

build=$(cd "${1:-$here/../build/default}" && pwd)
tool=$build/tool/okr-shm
[ -x "$tool" ] || { echo "clean_scaling.sh: $tool is not built" >&2; exit 1; }

PYTHONPATH=$here python3 - "$tool" "${OKR_BENCH_CLEAN_RUNS:-10}" "${OKR_BENCH_PROCESSES:-1000}" <<'PY'
import os, sys
import paired

tool, runs, processes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
folder, orphans, fewer, target = "/dev/shm", 2000, 500, 1.3
commands = {"list": [tool, "list"], "clean": [tool, "clean"], "fewer": [tool, "clean"]}


def prepare(name):
    paired.fill(folder, fewer if name == "fewer" else orphans)


with paired.Sleepers(processes):
    result = paired.interleaved(commands, runs, prepare=prepare)
    left = [name for name in os.listdir(folder)]
paired.fill(folder, 0)
if left:
    sys.exit(f"clean_scaling.sh: clean left {len(left)} objects, as {left[0]}")

m = {name: paired.median(r.seconds) * 1e3 for name, r in result.items()}
ratio = paired.paired_ratio(result["clean"], result["list"])
slope = (m["clean"] - m["fewer"]) / (orphans - fewer) * 1e3
print(f"okr-shm clean of {orphans:,} orphans beside {processes:,} sleeping processes, against list of the same "
      f"folder; medians of {runs} turns (the folder filled again before each run)")
print(f"{'list':>10} {'clean':>10} {'clean ' + format(fewer, ','):>10} {'clean/list':>11}")
print(f"{m['list']:>7.1f} ms {m['clean']:>7.1f} ms {m['fewer']:>7.1f} ms {ratio:>11.2f}")
print(f"clean: {slope:.1f} us per removed object (the slope between {fewer:,} and {orphans:,} orphans); "
      f"{m['clean'] - slope * orphans / 1e3:.1f} ms for the rest (the processes, the folder, starting)")
print(f"target: okr-shm clean of {orphans:,} orphans beside {processes:,} processes within {target:g}x of list "
      f"(median of paired ratios): {ratio:.2f}, {'holds' if ratio <= target else 'missed'}")
PY
