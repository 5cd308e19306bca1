#!/usr/bin/env bash
# Runs a command in a /dev/shm of its own (an empty tmpfs in a new mount
# namespace), so that runs of the check never meet the machine's objects.
# Without root the command runs on the machine's /dev/shm, where ctest's
# resource lock keeps such tests apart.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  exec "$@"
fi
exec unshare --mount --propagation private \
  bash -c 'mount -t tmpfs -o mode=1777 okr-test /dev/shm && exec "$@"' in-private-shm "$@"
