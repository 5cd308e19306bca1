#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt for the Windows release.

The executables contain, linked statically, the MinGW-w64 runtime and
winpthreads, GCC's runtime libraries, wxWidgets, and the header-only Boost,
CLI11 and nlohmann-json. Each section below is taken, at build time, from the
copyright file of the Debian package that supplied the component, found by
asking dpkg which package owns the file the build used; wxWidgets, built
from Debian's source package by scripts/lib/windows-toolchain.sh, from that
source package's copyright file kept beside the build.

    third-party-notices.py --cxx COMPILER --wx WX_PREFIX --out FILE
"""

import argparse
import os
import subprocess
import sys


def owning_package(path):
    real = os.path.realpath(path)
    out = subprocess.run(["dpkg-query", "-S", real], check=True, capture_output=True, text=True).stdout
    return out.split(":")[0].split(",")[0].strip()


def package_version(package):
    # One line per installed architecture; Multi-Arch: same keeps them equal.
    out = subprocess.run(["dpkg-query", "-W", "-f=${Version}\n", package], check=True, capture_output=True,
                         text=True).stdout
    return out.splitlines()[0]


def compiler_file(cxx, name):
    path = subprocess.run([cxx, "-print-file-name=" + name], check=True, capture_output=True, text=True).stdout.strip()
    if not os.path.isabs(path):
        sys.exit(f"third-party-notices: {cxx} does not know {name}")
    return path


def paragraphs(text):
    return [p for p in text.split("\n\n") if p.strip()]


def field(paragraph, name):
    for line in paragraph.splitlines():
        if line.startswith(name + ":"):
            return line[len(name) + 1:].strip()
    return None


def whole_library_terms(text):
    """Of a machine-readable copyright file: the paragraph for Files: * and
    the full text of the licences it names. The file's other paragraphs list
    the holders of single source files, as many as 1,500 for Boost."""
    paras = paragraphs(text)
    main = next(p for p in paras if field(p, "Files") == "*")
    names = [n.strip() for n in field(main, "License").replace(" or ", " and ").split(" and ")]
    texts = [p for p in paras if field(p, "Files") is None and field(p, "License") in names]
    if len(texts) != len(names):
        sys.exit(f"third-party-notices: no licence text for {names}")
    return "\n\n".join([main] + texts)


def section(title, package, version, copyright_path, shown_path, whole, common_licences=()):
    with open(copyright_path, encoding="utf-8") as f:
        text = f.read().strip("\n")
    # Texts the copyright file only refers to, as Windows has no copy of them.
    for licence in common_licences:
        path = "/usr/share/common-licenses/" + licence
        with open(path, encoding="utf-8") as f:
            text += f"\n\n--- {path}, to which the above refers ---\n\n" + f.read().strip("\n")
    if whole:
        origin = f"the Debian package's copyright file, {shown_path}"
    else:
        text = whole_library_terms(text)
        origin = (f"from the Debian package's copyright file, {shown_path}:\n"
                  "the terms of the library as a whole; that file also names the holders of each source file")
    rule = "=" * 78
    return f"{rule}\n{title}\n{package} {version}; {origin}\n{rule}\n\n{text}\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cxx", required=True)
    parser.add_argument("--wx", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    def from_package(title, used_file, whole, common_licences=()):
        package = owning_package(used_file)
        path = f"/usr/share/doc/{package}/copyright"
        return section(title, package, package_version(package), path, path, whole, common_licences)

    wx_doc = os.path.join(args.wx, "share/doc/wxwidgets3.2")
    with open(os.path.join(wx_doc, "version"), encoding="utf-8") as f:
        wx_version = f.read().strip()

    sections = [
        from_package("MinGW-w64 runtime and winpthreads", compiler_file(args.cxx, "libwinpthread.a"), True),
        from_package("GCC runtime libraries: libgcc and libstdc++, under the GCC Runtime Library Exception",
                     compiler_file(args.cxx, "libstdc++.a"), True, ["GPL-3"]),
        section("wxWidgets, base library", "wxwidgets3.2", wx_version, os.path.join(wx_doc, "copyright"),
                "debian/copyright of the source package", False),
        from_package("Boost (header-only: Interprocess, CRC and what they include)",
                     "/usr/include/boost/interprocess/shared_memory_object.hpp", False),
        from_package("CLI11", "/usr/include/CLI/CLI.hpp", True),
        from_package("JSON for Modern C++ (nlohmann-json)", "/usr/include/nlohmann/json.hpp", True),
    ]
    intro = ("okr for Windows contains, linked into its executables, the following software.\n"
             "Their licences ask that these notices accompany it.\n")
    text = intro + "\n" + "\n".join(sections)
    # With a byte-order mark, so that every Notepad reads the names right.
    with open(args.out, "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
