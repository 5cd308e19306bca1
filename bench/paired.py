"""Timing for the benchmark scripts: commands run in turns (A B A B ...), so
that load that comes and goes falls on each alike; medians of wall and CPU
time, peak memory; sleeping processes to stand beside them.

  import paired
  with paired.Sleepers(2000):
      runs = paired.interleaved({"list": [...], "floor": [...]}, rounds=15)
  paired.median(runs["list"].seconds)
"""

import os
import signal
import statistics
import subprocess
import tempfile
import time


class Runs:
    def __init__(self):
        self.seconds = []
        self.cpu_seconds = []
        self.peak_kib = []


def run_once(argv):
    """Wall seconds and CPU seconds (user and system) of one run, its input
    and output /dev/null; a failed run raises, so that it never counts as a
    fast one. posix_spawn and wait4 alone: as little of the timer's own work
    as hyperfine -N has."""
    quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_RDWR, 0) for fd in (0, 1, 2)]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=quiet)
    _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise RuntimeError(f"{' '.join(argv)} failed with status {code}")
    return seconds, usage.ru_utime + usage.ru_stime


def peak_kib(argv):
    """Peak resident memory of one run, in KiB, as GNU time reports it: a
    child of this script would count the script's own memory, which it
    shares until it starts the program."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def interleaved(commands, rounds, warmup=2, prepare=None):
    """{name: Runs} after rounds turns of every command, in the order given
    and reversed every other round; prepare(name), when given, runs before
    each run, untimed."""
    runs = {name: Runs() for name in commands}
    names = list(commands)
    for round_number in range(warmup + rounds):
        order = names if round_number % 2 == 0 else names[::-1]
        for name in order:
            if prepare is not None:
                prepare(name)
            seconds, cpu = run_once(commands[name])
            if round_number >= warmup:
                runs[name].seconds.append(seconds)
                runs[name].cpu_seconds.append(cpu)
    for name in names:
        if prepare is not None:
            prepare(name)
        runs[name].peak_kib.append(peak_kib(commands[name]))
    return runs


def median(values):
    return statistics.median(values)


def paired_ratio(a, b, cpu=False):
    """The median of the ratios of the runs of a to those of b taken in the
    same round (of their CPU times when cpu)."""
    return statistics.median(x / y for x, y in zip(a.cpu_seconds if cpu else a.seconds,
                                                   b.cpu_seconds if cpu else b.seconds))


class Sleepers:
    """count sleeping child processes for as long as the block runs."""

    def __init__(self, count):
        self.count = count
        self.children = []

    def __enter__(self):
        for _ in range(self.count):
            self.children.append(subprocess.Popen(["sleep", "3600"]))
        return self

    def __exit__(self, *unused):
        for child in self.children:
            child.send_signal(signal.SIGKILL)
        for child in self.children:
            child.wait()
        return False


def fill(folder, count, size=135880, prefix="okr-info-"):
    """Empties folder, then writes count records of size bytes (sparse)."""
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    for index in range(count):
        with open(os.path.join(folder, f"{prefix}{index + 1}"), "wb") as record:
            record.truncate(size)
