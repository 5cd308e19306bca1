#!/usr/bin/env bash
# Soak: RUNS complete runs of the check back to back, then PARALLEL runs at
# once (they share "okr-sync"); every run must end with status 0, and no
# "okr-*" object may be left afterwards.
set -euo pipefail
check=$1
runs=${2:-100}
parallel=${3:-4}

leftovers() { find /dev/shm -maxdepth 1 -name 'okr-*' -printf '%f\n'; }

before=$(leftovers)
if [ -n "$before" ]; then
  echo "okr objects present before the soak: $before" >&2
  exit 1
fi

for i in $(seq 1 "$runs"); do
  if ! "$check" </dev/null >/dev/null; then
    echo "run $i of $runs failed" >&2
    exit 1
  fi
done

pids=()
for i in $(seq 1 "$parallel"); do
  # Each keeps its objects until its own input ends.
  (sleep 0.5; echo) | "$check" >/dev/null &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
  wait "$pid" || failed=$((failed + 1))
done
if [ "$failed" -ne 0 ]; then
  echo "$failed of $parallel parallel runs failed" >&2
  exit 1
fi

after=$(leftovers)
if [ -n "$after" ]; then
  echo "left behind: $after" >&2
  exit 1
fi
echo "soak: $runs sequential and $parallel parallel runs, status 0, nothing left behind"
