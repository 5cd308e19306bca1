# Sourced by the benchmark scripts: re-runs the calling script in a mount
# namespace with a /dev/shm of its own (an empty tmpfs), so that what it
# creates and lists is nothing but its own and nothing is left behind.
#   . bench/private-shm.sh "$0" "$@"      (as root)
# shellcheck shell=bash
if [ -z "${OKR_BENCH_PRIVATE_SHM:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "$(basename "$1"): needs root for a /dev/shm of its own" >&2; exit 1; }
  # shellcheck disable=SC2016 # expanded by the inner bash
  exec env OKR_BENCH_PRIVATE_SHM=1 unshare --mount --propagation private -- bash -c \
    'mount -t tmpfs -o mode=1777 okr-bench-shm /dev/shm && exec bash "$0" "$@"' "$@"
fi
