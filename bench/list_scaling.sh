#!/usr/bin/env bash
# okr-shm list and list --json against the floor program (okr-bench-list-floor:
# one pass over the folder, one fstatat per object, one pass over every
# process's status, descriptors and mappings, in plain C) and ls -ln, at 100,
# 10,000 and 100,000 objects beside 2,000 sleeping processes, in a /dev/shm
# of its own. The commands of one size run in turns (A B C D A B C D ...);
# prints medians of wall time and of peak memory, the median of the ratios
# of runs in the same turn, and the cost per object between sizes. Targets:
# list within 1.3x the floor at 100,000 objects, its peak memory within 2x
# the floor's, and linear growth.
#
#   bench/list_scaling.sh [BUILD_DIR]     (default: build/default; as root)
#
# OKR_BENCH_LIST_RUNS (15) sets the number of timed turns per size,
# OKR_BENCH_PROCESSES (2000) the number of sleeping processes beside.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private-shm.sh" "$here/list_scaling.sh" "$@"

build=$(cd "${1:-$here/../build/default}" && pwd)
tool=$build/tool/okr-shm
floor=$build/bench/okr-bench-list-floor
for program in "$tool" "$floor"; do
  [ -x "$program" ] || { echo "list_scaling.sh: $program is not built" >&2; exit 1; }
done

PYTHONPATH=$here python3 - "$tool" "$floor" "${OKR_BENCH_LIST_RUNS:-15}" "${OKR_BENCH_PROCESSES:-2000}" <<'PY'
import sys
import paired

tool, floor, runs, processes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
folder = "/dev/shm"
time_target, memory_target = 1.3, 2.0
sizes = (100, 10000, 100000)
commands = {"list": [tool, "list"], "json": [tool, "list", "--json"], "floor": [floor, folder],
            "ls": ["ls", "-ln", folder]}

print(f"okr-shm list and list --json against the floor program and ls -ln {folder}, beside {processes:,} sleeping "
      f"processes; medians of {runs} turns (commands in turns, order reversed every other turn)")
print("(CPU): list/floor in CPU time (user and system), the median of paired ratios")
print(f"{'objects':>8} {'list':>10} {'--json':>10} {'floor':>10} {'ls -ln':>10} {'list/floor':>11} "
      f"{'json/floor':>11} {'(CPU)':>6} {'list MiB':>9} {'floor MiB':>10}")
median = {}
with paired.Sleepers(processes):
    for count in sizes:
        paired.fill(folder, count)
        result = paired.interleaved(commands, runs)
        m = {name: paired.median(r.seconds) * 1e3 for name, r in result.items()}
        m["list/floor"] = paired.paired_ratio(result["list"], result["floor"])
        m["json/floor"] = paired.paired_ratio(result["json"], result["floor"])
        m["list cpu"] = paired.paired_ratio(result["list"], result["floor"], cpu=True)
        m["json cpu"] = paired.paired_ratio(result["json"], result["floor"], cpu=True)
        m["list MiB"] = paired.median(result["list"].peak_kib) / 1024
        m["json MiB"] = paired.median(result["json"].peak_kib) / 1024
        m["floor MiB"] = paired.median(result["floor"].peak_kib) / 1024
        median[count] = m
        print(f"{count:>8} {m['list']:>7.2f} ms {m['json']:>7.2f} ms {m['floor']:>7.2f} ms {m['ls']:>7.2f} ms "
              f"{m['list/floor']:>11.2f} {m['json/floor']:>11.2f} {m['list cpu']:>6.2f} {m['list MiB']:>9.1f} "
              f"{m['floor MiB']:>10.1f}")
paired.fill(folder, 0)

for name, text in (("list", "okr-shm list"), ("json", "okr-shm list --json")):
    low, high = [(median[b][name] - median[a][name]) / (b - a) * 1e3 for a, b in zip(sizes, sizes[1:])]
    print(f"{text}: cost per object {low:.2f} us from 100 to 10,000, {high:.2f} us from 10,000 to 100,000")
    ratio = median[100000][f"{name}/floor"]
    print(f"target: {text} within {time_target:g}x of the floor at 100,000 objects beside {processes:,} processes "
          f"(median of paired ratios of wall time): {ratio:.2f}, {'holds' if ratio <= time_target else 'missed'} "
          f"(CPU time: {median[100000][name + ' cpu']:.2f})")
    memory = median[100000][f"{name} MiB"] / median[100000]["floor MiB"]
    print(f"target: {text} peak memory within {memory_target:g}x of the floor's at 100,000 objects: "
          f"{median[100000][f'{name} MiB']:.1f} MiB / {median[100000]['floor MiB']:.1f} MiB = {memory:.2f}, "
          f"{'holds' if memory <= memory_target else 'missed'}")
    growth = high / low if low > 0 else float("inf")
    print(f"target: {text} grows linearly (cost per object from 10,000 to 100,000 at most 1.5 times that "
          f"from 100 to 10,000): {growth:.2f}, {'holds' if growth <= 1.5 else 'missed'}")
PY
