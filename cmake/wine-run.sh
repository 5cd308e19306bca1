#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest and for GoogleTest's test
# discovery:  wine-run.sh WINE_LOADER PROGRAM [ARGS...]
#
# Wine 8 now and then hangs on process exit after the program has finished.
# A run that does not end within OKR_WINE_RUN_SECONDS is ended, and run once
# more only if it had finished: printed GoogleTest's closing line, or was a
# listing of the tests. A run stopped before that is the test's own failure,
# and is never run again. Its output is held back until the end, so nothing
# is reported twice.
set -uo pipefail
wine=$1
shift
limit=${OKR_WINE_RUN_SECONDS:-40}
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
for attempt in 1 2; do
  timeout --kill-after=5 "$limit" "$wine" "$@" >"$output"
  status=$?
  [ "$status" -ne 124 ] && [ "$status" -ne 137 ] && break
  echo "wine-run: $(basename "$1") did not end within ${limit}s (attempt $attempt)" >&2
  grep -q '^\[==========\] .* ran\.' "$output" || [[ " $* " == *" --gtest_list_tests "* ]] || break
done
cat "$output"
exit "$status"
