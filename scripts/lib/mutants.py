"""Mutants made mechanically on the lines a change touched, for scripts/mutate --since.

  mutants.py list SINCE [OPTIONS]   prints the mutants, one a line
  mutants.py tsv SINCE [OPTIONS]    writes them in the format of tests/mutations.tsv
  mutants.py stale [--root DIR]     the lines of tests/equivalent-mutants.tsv that
                                    no longer name a mutant of their file
OPTIONS: --max N (a sample of N, the same for the same --seed S), --diff FILE (a
diff to read instead of `git diff -U0 SINCE`; SINCE is then ignored), --root DIR
(where the diff's files are; the repository by default), --equivalent FILE (tsv
only: the sample's mutants that tests/equivalent-mutants.tsv shows equivalent go
to FILE, one a line with the reason, instead of into the list to run).

Only C and C++ sources outside tests/ and bench/ count. On each changed line,
outside comments and literals: a relational or equality operator swapped, &&
and || swapped, an if's condition negated, one `| TERM` of a flag expression
dropped, a one-line guard (if (...) return/throw/continue/break ...;) or a braced
one-statement guard removed, an integer constant moved by one. Each mutant's
text is the changed line with as many lines around it as make it unique in its
file, so that mutations.py applies it as it does a written fault.
"""

import os
import random
import re
import subprocess
import sys

LEDGER = "tests/equivalent-mutants.tsv"
SOURCES = (".c", ".cc", ".cpp", ".h", ".hpp")  # not the generated tables (.inc)
SKIPPED = ("tests/", "bench/")

# clang-format puts one space either side of a binary operator and none
# inside a template's brackets, so " < " is a comparison and "<int>" is not.
SWAPS = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ", " != ": " == ",
         " && ": " || ", " || ": " && "}
GUARD = re.compile(r"^\s*if \(.*\) (?:return|throw|continue|break)\b.*;\s*$")
BRACED_IF = re.compile(r"^\s*if \(.*\) \{\s*$")
GUARD_BODY = re.compile(r"^\s*(?:return|throw|continue|break)\b.*;\s*$")
INTEGER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
FLAG_TERM = re.compile(r" \| ([A-Za-z_][\w:]*)")


def changed_lines(diff_text):
    """{file: set of line numbers in the new version}, sources outside tests/ and bench/."""
    changed = {}
    name = None
    for line in diff_text.splitlines():
        if line.startswith("+++ "):
            path = line[4:].strip()
            name = path[2:] if path.startswith("b/") else None
            if name and (not name.endswith(SOURCES) or name.startswith(SKIPPED)):
                name = None
        elif line.startswith("@@") and name:
            match = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            start, count = int(match.group(1)), int(match.group(2) or 1)
            changed.setdefault(name, set()).update(range(start, start + count))
    return changed


def code_mask(text):
    """For each character of text, whether it is code (not a comment nor a literal)."""
    mask = [True] * len(text)
    i = 0
    while i < len(text):
        two = text[i:i + 2]
        if two == "//":
            end = text.find("\n", i)
            end = len(text) if end < 0 else end
        elif two == "/*":
            end = text.find("*/", i + 2)
            end = len(text) if end < 0 else end + 2
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            delimiter = text[i + 2:text.find("(", i)]
            end = text.find(")" + delimiter + '"', i)
            end = len(text) if end < 0 else end + len(delimiter) + 2
        elif text[i] in "\"'" and not (text[i] == "'" and i > 0 and text[i - 1].isalnum()):  # not 1'000
            end = i + 1
            while end < len(text) and text[end] != text[i] and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            end += 1
        else:
            i += 1
            continue
        for at in range(i, min(end, len(text))):
            mask[at] = False
        i = end
    return mask


def matching_paren(line, open_at):
    depth = 0
    for at in range(open_at, len(line)):
        depth += {"(": 1, ")": -1}.get(line[at], 0)
        if depth == 0:
            return at
    return -1


def line_mutants(line, code):
    """[(kind, start, end, replacement)] for one line; code[i] says whether line[i] is code."""
    if line.lstrip().startswith("#"):
        return []
    found = []

    def is_code(start, end):
        return all(code[start:end])

    for text, swapped in SWAPS.items():
        for match in re.finditer(re.escape(text), line):
            if is_code(match.start(), match.end()):
                found.append(("operator", match.start(), match.end(), swapped))
    for match in re.finditer(r"\bif \(", line):
        close = matching_paren(line, match.end() - 1)
        if close > 0 and is_code(match.start(), close + 1):
            condition = line[match.end():close]
            found.append(("negated", match.end(), close, "!(" + condition + ")"))
    for match in FLAG_TERM.finditer(line):
        if is_code(match.start(), match.end()) and re.search(r"[A-Z]", match.group(1)):
            found.append(("flag dropped", match.start(), match.end(), ""))
    for match in INTEGER.finditer(line):
        if not is_code(match.start(), match.end()):
            continue
        digits, suffix = match.group(1), match.group(2)
        base = 16 if digits[:2].lower() == "0x" else 8 if len(digits) > 1 and digits[0] == "0" else 10
        value = int(digits, base)
        for moved in (value + 1, value - 1):
            if moved >= 0:
                spelled = {16: lambda v: digits[:2] + format(v, "x" if any(c.islower() for c in digits[2:]) else "X"), 8: lambda v: "0" + format(v, "o"), 10: str}[base](moved)
                found.append(("constant", match.start(), match.end(), spelled + suffix))
    return found


def guards(lines, number, changed):
    """Guards that begin on line number (1-based): (first, last) line numbers to remove."""
    line = lines[number - 1]
    if GUARD.match(line) and "{" not in line:
        return [(number, number)]
    if (BRACED_IF.match(line) and number + 2 <= len(lines) and GUARD_BODY.match(lines[number]) and
            lines[number + 1].strip() == "}" and changed & {number, number + 1}):
        return [(number, number + 2)]
    return []


def unique_context(lines, first, last, source):
    """The lines first..last (1-based), widened until they occur once in source."""
    while True:
        text = "".join(lines[first - 1:last])
        if source.count(text) <= 1 or (first == 1 and last == len(lines)):
            return first, last
        if first > 1:
            first -= 1
        if last < len(lines) and source.count("".join(lines[first - 1:last])) > 1:
            last += 1


def twins(lines):
    """{line number: "N of M", its place among the M lines of the same text} for the lines whose
    text is not alone in the file: the ledger names a mutant by its line's text, and by this place
    where the same mutant is equivalent on one of them and not on another. A twin added or gone
    changes every place, so such a ledger line is judged again."""
    seen = {}
    for number, line in enumerate(lines, 1):
        seen.setdefault(line.strip(), []).append(number)
    return {n: f"{at} of {len(same)}"
            for same in seen.values() if len(same) > 1 for at, n in enumerate(same, 1)}


def mutants_of(root, changed):
    """[(file, number, kind, shown, text, replacement, line, twin)] in file and line order; changed
    maps a file to its changed line numbers, or to None for every line. twin is the line's place
    among the lines of its text, "" where its text is alone."""
    mutants = []
    for name in sorted(changed):
        path = os.path.join(root, name)
        if not os.path.isfile(path):
            continue  # deleted since
        with open(path, encoding="utf-8", newline="") as f:
            source = f.read()
        lines = source.splitlines(keepends=True)
        twin = twins(lines)
        mask = code_mask(source)
        offset = [0]
        for line in lines:
            offset.append(offset[-1] + len(line))
        numbers = set(range(1, len(lines) + 1)) if changed[name] is None else changed[name]
        for number in sorted(n for n in numbers if 1 <= n <= len(lines)):
            line = lines[number - 1]
            code = mask[offset[number - 1]:offset[number]]
            edits = [(kind, number, number, line[:start] + new + line[end:],
                      f"if ({line[start:end]})" if kind == "negated" else
                      line[start:end].strip() if kind == "flag dropped" else f"{line[start:end].strip()} -> {new.strip()}")
                     for kind, start, end, new in line_mutants(line, code)]
            edits += [("guard removed", first, last, "", "") for first, last in guards(lines, number, numbers)]
            # The same change at two places of a line is told apart by its
            # place from the left: "constant: 1 -> 0 #2".
            alike = {}
            for at, (kind, _, _, _, what) in enumerate(edits):
                alike.setdefault((kind, what), []).append(at)
            for at, (kind, first, last, new, what) in enumerate(edits):
                places = alike[(kind, what)]
                if len(places) > 1:
                    what += f" #{places.index(at) + 1}"
                before, after = unique_context(lines, first, last, source)
                text = "".join(lines[before - 1:after])
                replacement = "".join(lines[before - 1:first - 1]) + new + "".join(lines[last:after])
                if source.count(text) != 1 or text == replacement:
                    continue
                shown = line.strip() if kind == "guard removed" else what
                mutants.append((name, number, kind, shown, text, replacement, line, twin.get(number, "")))
    return mutants


def ledger_key(name, line, kind, shown, twin):
    """What names a mutant across edits elsewhere in its file: no line number. A line whose text
    recurs in its file is named with its place, "TEXT [twin N of M]": a reason written for one of
    them must not excuse the others."""
    return (name, line.strip() + (f" [twin {twin}]" if twin else ""), f"{kind}: {shown}")


def read_ledger(root):
    """{key: why} of the mutants shown equivalent, and {key: line number in the ledger}."""
    reasons, where = {}, {}
    path = os.path.join(root, LEDGER)
    if not os.path.isfile(path):
        return reasons, where
    with open(path, encoding="utf-8") as f:
        for at, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 4 or not all(fields):
                sys.exit(f"{LEDGER}:{at}: want 4 tab-separated fields (file, line, mutant, why)")
            key = tuple(fields[:3])
            if key in reasons:
                sys.exit(f"{LEDGER}:{at}: the same mutant as line {where[key]}")
            reasons[key] = fields[3]
            where[key] = at
    return reasons, where


def stale(root):
    """Ledger lines whose mutant the generator no longer makes: the code moved on."""
    reasons, where = read_ledger(root)
    made, recurring = set(), set()
    for name, _, kind, shown, _, _, line, twin in mutants_of(root, dict.fromkeys({key[0] for key in reasons})):
        made.add(ledger_key(name, line, kind, shown, twin))
        if twin:
            recurring.add((name, line.strip()))
    gone = sorted((where[key], key) for key in reasons if key not in made)
    for at, (name, line, mutant) in gone:
        hint = " (the line recurs: name it 'TEXT [twin N of M]')" if (name, line) in recurring else ""
        print(f"{LEDGER}:{at}: no mutant '{mutant}' of '{line}' in {name}{hint}")
    return 1 if gone else 0


def suite_of(name):
    """The suite a mutant of this file runs: linux, or windows and the Wine tests that reach it."""
    if not re.search(r"Windows\.(cpp|h)$", name):
        return "linux"
    if name.startswith("tool/"):
        return r"windows:^windows\.(tool_|boot_stamp_tool)"
    if name.startswith(("driver/", "host/")):
        return r"windows:^windows\.(check_|boot_stamp_)"
    return "windows"


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def main(argv):
    if len(argv) < 2 or argv[1] not in ("list", "tsv", "stale") or (argv[1] != "stale" and len(argv) < 3):
        sys.exit(__doc__)
    command, since, options = argv[1], (argv[2:] or [None])[0], argv[3:]
    settings = {"--max": None, "--seed": "1", "--diff": None, "--root": None, "--equivalent": None}
    if command == "stale":
        options = argv[2:]
    for key, value in zip(options[::2], options[1::2]):
        if key not in settings:
            sys.exit(f"unknown option {key}")
        settings[key] = value
    root = settings["--root"] or subprocess.run(["git", "rev-parse", "--show-toplevel"], check=True,
                                                capture_output=True, text=True).stdout.strip()
    if command == "stale":
        return stale(root)
    if settings["--diff"]:
        with open(settings["--diff"], encoding="utf-8") as f:
            diff = f.read()
    else:
        diff = subprocess.run(["git", "-C", root, "diff", "-U0", "--no-color", since, "--"], check=True,
                              capture_output=True, text=True).stdout
    mutants = mutants_of(root, changed_lines(diff))
    total = len(mutants)
    if settings["--max"] is not None and int(settings["--max"]) < total:
        chosen = random.Random(settings["--seed"]).sample(range(total), int(settings["--max"]))
        mutants = [mutants[i] for i in sorted(chosen)]
    reasons, _ = read_ledger(root)
    equivalent = []
    for name, number, kind, shown, text, replacement, line, twin in mutants:
        where = f"{name}:{number}: {kind}: {shown}"
        why = reasons.get(ledger_key(name, line, kind, shown, twin))
        if command == "list":
            print(where + (f" [equivalent: {why}]" if why else ""))
        elif why and settings["--equivalent"]:
            equivalent.append(f"{where} [{why}]\n")
        else:
            print("\t".join((name, escape(text), escape(replacement), suite_of(name), where)))
    if settings["--equivalent"]:
        with open(settings["--equivalent"], "w", encoding="utf-8") as f:
            f.writelines(equivalent)
    print(f"{len(mutants)} mutants" + (f" of {total}" if len(mutants) < total else "") +
          (f", {len(equivalent)} of them shown equivalent" if equivalent else ""), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
