#!/usr/bin/env bash
# cmake/wine-run.sh runs again only a program that timed out after it had
# finished (a hang in Wine's exit), never one that stopped on its way:
#   wine-run-retries.sh WINE_RUN
# With sh standing in for Wine's loader, each case gives its attempts.
set -uo pipefail
run=$1
failed=0
expect() { # ATTEMPTS STATUS SCRIPT [ARGS...]
  local attempts=$1 status=$2 err
  shift 2
  err=$(OKR_WINE_RUN_SECONDS=1 "$run" sh -c "$@" 2>&1 >/dev/null)
  local got=$?
  local tries
  tries=$(grep -c "did not end" <<<"$err")
  [ "$tries" = "$attempts" ] && [ "$got" = "$status" ] ||
    { echo "FAIL: $1: $tries attempts, status $got"; failed=1; }
}
expect 1 124 'echo "[ RUN      ] A.B"; sleep 9'
expect 2 124 'echo "[==========] 1 test from 1 test suite ran. (5 ms total)"; sleep 9'
expect 2 124 'sleep 9' _ --gtest_list_tests
expect 0 3 'echo "[ RUN      ] A.B"; exit 3'
exit $failed
