"""The mutations of tests/mutations.tsv, for scripts/mutate.

  mutations.py check LIST ROOT      each text is found exactly once in ROOT
  mutations.py ids LIST [WORD...]   the numbers of the mutations (whose line holds a WORD)
  mutations.py field LIST N FIELD   file, suite (linux or windows), tests (the ctest
                                    regular expression that limits the run, or
                                    nothing) or breaks of mutation N
  mutations.py apply LIST ROOT N    writes mutation N into ROOT
  mutations.py sync SOURCE COPY     makes COPY hold the files git knows in
                                    SOURCE, rewriting only those that differ
                                    (so the copy's build stays incremental)
"""

import os
import shutil
import subprocess
import sys


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "nt\\":
            out.append({"n": "\n", "t": "\t", "\\": "\\"}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


SUITES = ("linux", "windows")


def read_list(path):
    """[(number, line number, file, text, replacement, suite, breaks)], numbered from 1.

    suite is "linux" or "windows", optionally followed by ":" and a ctest
    regular expression that names the tests able to kill the fault."""
    mutations = []
    with open(path, encoding="utf-8") as lines:
        for at, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 5 or not fields[0] or not fields[1] or not fields[4]:
                sys.exit(f"{path}:{at}: want 5 tab-separated fields (file, text, replacement, suite, what it breaks)")
            if fields[3].split(":", 1)[0] not in SUITES:
                sys.exit(f"{path}:{at}: the suite is linux or windows[:TESTS], not {fields[3]!r}")
            mutations.append((len(mutations) + 1, at, fields[0], unescape(fields[1]), unescape(fields[2]), fields[3],
                              fields[4]))
    return mutations


def source(root, name):
    with open(os.path.join(root, name), encoding="utf-8") as f:
        return f.read()


def check(path, root):
    bad = 0
    for number, at, name, text, replacement, _, _ in read_list(path):
        if not os.path.isfile(os.path.join(root, name)):
            print(f"{path}:{at}: mutation {number}: no file {name}", file=sys.stderr)
            bad += 1
            continue
        found = source(root, name).count(text)
        if found != 1:
            print(f"{path}:{at}: mutation {number}: its text is in {name} {found} times, not once", file=sys.stderr)
            bad += 1
        elif text == replacement:
            print(f"{path}:{at}: mutation {number}: the replacement is the text itself", file=sys.stderr)
            bad += 1
    return 1 if bad else 0


def apply(path, root, number):
    for n, _, name, text, replacement, _, _ in read_list(path):
        if n == number:
            mutant = source(root, name).replace(text, replacement, 1)
            with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                f.write(mutant)
            return 0
    sys.exit(f"no mutation {number}")


def sync(source_root, copy):
    listed = subprocess.run(["git", "-C", source_root, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    keep = set()
    for name in filter(None, listed):
        original = os.path.join(source_root, name)
        if not os.path.isfile(original):
            continue  # deleted in the work tree, not yet in git
        keep.add(name)
        target = os.path.join(copy, name)
        if os.path.isfile(target):
            with open(original, "rb") as a, open(target, "rb") as b:
                if a.read() == b.read():
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(original, target)  # a new time stamp: make rebuilds what uses it
    for folder, subfolders, files in os.walk(copy):
        if folder == copy:
            subfolders[:] = [s for s in subfolders if s != "build"]
        for name in files:
            relative = os.path.relpath(os.path.join(folder, name), copy)
            if relative not in keep:
                os.remove(os.path.join(copy, relative))
    return 0


def main(argv):
    command, path = argv[1], argv[2]
    if command == "check":
        return check(path, argv[3])
    if command == "ids":
        words = argv[3:] or [""]
        for number, _, name, text, replacement, suite, breaks in read_list(path):
            if any(word in "\t".join((name, text, replacement, suite, breaks)) for word in words):
                print(number)
        return 0
    if command == "field":
        for number, _, name, _, _, suite, breaks in read_list(path):
            if number == int(argv[3]):
                kind, _, tests = suite.partition(":")
                print({"file": name, "suite": kind, "tests": tests, "breaks": breaks}[argv[4]])
        return 0
    if command == "apply":
        return apply(path, argv[3], int(argv[4]))
    if command == "sync":
        return sync(path, argv[3])
    sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
