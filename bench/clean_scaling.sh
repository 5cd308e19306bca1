#!/usr/bin/env bash
# okr-shm clean of 2,000 orphaned information records beside 1,000 extra
# processes, against okr-shm list of the same folder, in a /dev/shm of its
# own; before every timed run the folder is filled again. Prints both
# medians and their ratio. Target: clean within 3 times list (clean reads
# the processes once for all it removes, not once per object).
#
#   bench/clean_scaling.sh [BUILD_DIR]     (default: build/default; as root)
#
# OKR_BENCH_CLEAN_RUNS (10) sets the number of timed runs of each command.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private-shm.sh" "$here/clean_scaling.sh" "$@"

build=$(cd "${1:-$here/../build/default}" && pwd)
tool=$build/tool/okr-shm
[ -x "$tool" ] || { echo "clean_scaling.sh: $tool is not built" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "clean_scaling.sh: hyperfine is missing" >&2; exit 1; }

python3 - "$tool" "${OKR_BENCH_CLEAN_RUNS:-10}" <<'PY'
import json, os, subprocess, sys, tempfile

tool, runs = sys.argv[1], sys.argv[2]
folder, orphans, processes, target = "/dev/shm", 2000, 1000, 3.0

fill = f"""import os
for name in os.listdir({folder!r}):
    os.unlink(os.path.join({folder!r}, name))
for index in range({orphans}):
    with open(os.path.join({folder!r}, f"okr-info-{{index + 1}}"), "wb") as record:
        record.truncate(135880)
"""
sleepers = [subprocess.Popen(["sleep", "3600"]) for _ in range(processes)]
try:
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "fill.py")
        with open(script, "w") as out:
            out.write(fill)
        report = os.path.join(tmp, "report.json")
        subprocess.run(["hyperfine", "-N", "--style", "none", "--runs", runs, "--prepare", f"python3 {script}",
                        "--export-json", report, "-n", "list", f"{tool} list", "-n", "clean", f"{tool} clean"],
                       check=True, stdout=subprocess.DEVNULL)
        median = {r["command"]: r["median"] * 1e3 for r in json.load(open(report))["results"]}
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
finally:
    for sleeper in sleepers:
        sleeper.kill()
    for sleeper in sleepers:
        sleeper.wait()

print(f"okr-shm clean of {orphans:,} orphans beside {processes:,} more processes, against list of the same folder, "
      f"medians of {runs} runs each (hyperfine, the folder filled again before each)")
print(f"{'list':>10} {'clean':>10} {'clean/list':>11}")
ratio = median["clean"] / median["list"]
print(f"{median['list']:>7.1f} ms {median['clean']:>7.1f} ms {ratio:>11.2f}")
print(f"clean: {median['clean'] * 1e3 / orphans:.1f} us per removed object")
print(f"target: okr-shm clean of {orphans:,} orphans beside {processes:,} processes within {target:g}x of list: "
      f"{ratio:.2f}, {'holds' if ratio <= target else 'missed'}")
PY
