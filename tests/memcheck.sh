#!/usr/bin/env bash
# One complete run of the check under valgrind's memcheck: any memory error
# or definite leak fails, and so does a run that does not reach its end.
set -euo pipefail
check=$1
suppressions=$2
output=$(echo | valgrind --quiet --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite \
  --suppressions="$suppressions" "$check")
echo "$output"
grep -qx "Press ENTER to finish test" <<<"$output"
