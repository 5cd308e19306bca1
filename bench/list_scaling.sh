#!/usr/bin/env bash
# okr-shm list against `ls -ln` of the same folder, over 100, 1,000 and
# 10,000 objects in a /dev/shm of its own (a tmpfs in a mount namespace, so
# nothing else is listed and nothing is left behind). Prints the median wall
# time of each, their ratio, and the cost per object between sizes; the
# target is linear growth and a ratio of at most 3 at 10,000.
#
#   bench/list_scaling.sh [BUILD_DIR]     (default: build/default; as root)
#
# OKR_BENCH_LIST_RUNS (21) sets the number of alternating timed runs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${OKR_BENCH_LIST_PRIVATE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "list_scaling.sh: needs root for a private /dev/shm" >&2; exit 1; }
  # shellcheck disable=SC2016 # expanded by the inner bash
  exec env OKR_BENCH_LIST_PRIVATE=1 unshare --mount --propagation private -- bash -c \
    'mount -t tmpfs -o mode=1777 okr-bench-list /dev/shm && exec bash "$0" "$@"' "$here/list_scaling.sh" "$@"
fi

build=$(cd "${1:-$here/../build/default}" && pwd)
tool=$build/tool/okr-shm
[ -x "$tool" ] || { echo "list_scaling.sh: $tool is not built" >&2; exit 1; }

python3 - "$tool" "${OKR_BENCH_LIST_RUNS:-21}" <<'PY'
import os, statistics, subprocess, sys, time

tool, runs = sys.argv[1], int(sys.argv[2])
folder = "/dev/shm"
target = 3.0

def wall(command):
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{command[0]} failed: {done.stderr.decode()}")
    return elapsed

def fill(count):
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    # Information records of the real size (tmpfs keeps them sparse).
    for index in range(count):
        with open(os.path.join(folder, f"okr-info-{index + 1}"), "wb") as record:
            record.truncate(135880)

print(f"okr-shm list against ls -ln {folder}, median of {runs} alternating runs")
print(f"{'objects':>8} {'okr-shm list':>14} {'ls -ln':>10} {'ratio':>7}")
medians = {}
for count in (100, 1000, 10000):
    fill(count)
    for _ in range(3):
        wall([tool, "list"]), wall(["ls", "-ln", folder])
    times = {"tool": [], "ls": []}
    for _ in range(runs):
        times["tool"].append(wall([tool, "list"]))
        times["ls"].append(wall(["ls", "-ln", folder]))
    medians[count] = {key: statistics.median(value) for key, value in times.items()}
    tool_ms, ls_ms = medians[count]["tool"] * 1e3, medians[count]["ls"] * 1e3
    print(f"{count:>8} {tool_ms:>11.2f} ms {ls_ms:>7.2f} ms {tool_ms / ls_ms:>7.2f}")
fill(0)

per_object = [(medians[b]["tool"] - medians[a]["tool"]) / (b - a) * 1e6 for a, b in ((100, 1000), (1000, 10000))]
print(f"cost per object: {per_object[0]:.2f} us from 100 to 1,000, {per_object[1]:.2f} us from 1,000 to 10,000")
ratio = medians[10000]["tool"] / medians[10000]["ls"]
print(f"target: okr-shm list within {target:g}x of ls -ln at 10,000 objects: {ratio:.2f}, "
      f"{'holds' if ratio <= target else 'missed'}")
growth = per_object[1] / per_object[0] if per_object[0] > 0 else float("inf")
print(f"target: linear growth (per-object cost at 10,000 over that at 1,000 at most 1.5): {growth:.2f}, "
      f"{'holds' if growth <= 1.5 else 'missed'}")
PY
