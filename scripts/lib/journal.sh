# The check writes its boot-time event to the systemd journal. Machines
# without a running systemd (containers, CI) get a journald of their own
# for as long as the calling script runs.
# shellcheck shell=bash

OKR_JOURNALD_PID=

# A journald that accepts connections, not just a socket file that a
# stopped one left behind.
okr_journal_running() {
  systemd-cat -t okr-journal-probe true 2>/dev/null
}

okr_journal_start() {
  okr_journal_running && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "== no systemd journal is running and starting one needs root" >&2
    return 0
  fi
  /lib/systemd/systemd-journald >/dev/null 2>&1 &
  OKR_JOURNALD_PID=$!
  local i
  for i in $(seq 1 50); do
    okr_journal_running && return 0
    sleep 0.1
  done
  echo "== systemd-journald did not come up" >&2
}

okr_journal_stop() {
  [ -n "$OKR_JOURNALD_PID" ] || return 0
  kill "$OKR_JOURNALD_PID" 2>/dev/null || true
  wait "$OKR_JOURNALD_PID" 2>/dev/null || true
  OKR_JOURNALD_PID=
}
