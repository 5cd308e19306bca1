#!/usr/bin/env bash
# okr-shm list and list --json against `ls -ln` of the same folder, at 100,
# 10,000 and 100,000 objects in a /dev/shm of its own; the three commands of
# one size in one hyperfine run. Prints each median, the ratios, and the cost
# per object between sizes. Targets: both at most 2 times ls -ln at 10,000
# and 100,000 objects, and linear growth.
#
#   bench/list_scaling.sh [BUILD_DIR]     (default: build/default; as root)
#
# OKR_BENCH_LIST_RUNS (15) sets the number of timed runs of each command.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private-shm.sh" "$here/list_scaling.sh" "$@"

build=$(cd "${1:-$here/../build/default}" && pwd)
tool=$build/tool/okr-shm
[ -x "$tool" ] || { echo "list_scaling.sh: $tool is not built" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "list_scaling.sh: hyperfine is missing" >&2; exit 1; }

python3 - "$tool" "${OKR_BENCH_LIST_RUNS:-15}" <<'PY'
import json, os, subprocess, sys, tempfile

tool, runs = sys.argv[1], sys.argv[2]
folder = "/dev/shm"
target = 2.0
sizes = (100, 10000, 100000)

def fill(count):
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    # Information records of the real size (tmpfs keeps them sparse).
    for index in range(count):
        with open(os.path.join(folder, f"okr-info-{index + 1}"), "wb") as record:
            record.truncate(135880)

commands = {"list": f"{tool} list", "json": f"{tool} list --json", "ls": f"ls -ln {folder}"}
print(f"okr-shm list and list --json against ls -ln {folder}, medians of {runs} runs each (hyperfine)")
print(f"{'objects':>8} {'list':>11} {'list --json':>12} {'ls -ln':>10} {'list/ls':>8} {'json/ls':>8}")
median = {}
with tempfile.TemporaryDirectory() as tmp:
    for count in sizes:
        fill(count)
        report = os.path.join(tmp, f"{count}.json")
        command = ["hyperfine", "-N", "--style", "none", "--warmup", "3", "--runs", runs, "--export-json", report]
        for name, line in commands.items():
            command += ["-n", name, line]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        median[count] = {r["command"]: r["median"] * 1e3 for r in json.load(open(report))["results"]}
        m = median[count]
        print(f"{count:>8} {m['list']:>8.2f} ms {m['json']:>9.2f} ms {m['ls']:>7.2f} ms "
              f"{m['list'] / m['ls']:>8.2f} {m['json'] / m['ls']:>8.2f}")
fill(0)

for name, text in (("list", "okr-shm list"), ("json", "okr-shm list --json")):
    low, high = [(median[b][name] - median[a][name]) / (b - a) * 1e3 for a, b in zip(sizes, sizes[1:])]
    print(f"{text}: cost per object {low:.2f} us from 100 to 10,000, {high:.2f} us from 10,000 to 100,000")
    for count in sizes[1:]:
        ratio = median[count][name] / median[count]["ls"]
        print(f"target: {text} within {target:g}x of ls -ln at {count:,} objects: {ratio:.2f}, "
              f"{'holds' if ratio <= target else 'missed'}")
    growth = high / low if low > 0 else float("inf")
    print(f"target: {text} grows linearly (cost per object from 10,000 to 100,000 at most 1.5 times that "
          f"from 100 to 10,000): {growth:.2f}, {'holds' if growth <= 1.5 else 'missed'}")
PY
