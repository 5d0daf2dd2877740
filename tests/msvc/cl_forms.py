"""Fails when a GNU-only form appears in a file that Visual Studio's path
compiles: clang-cl accepts them all, cl none, so a clang-cl build alone
would never notice. The files are the ones the build itself compiled and
included (ninja's commands and its recorded header dependencies), limited to
the project's own tree."""

import argparse
import os
import re
import subprocess
import sys

GNU_FORM = re.compile(r"\b(__asm__|__attribute__|__builtin_\w*|__atomic_\w*)")
# The source at the end of each compile command: cl's and clang-cl's "-c -- <file>".
COMPILED = re.compile(r"\s-c\s+--\s+(\S+\.(?:c|cc|cpp|cxx))\s*$")


def ninja(build, *args):
    return subprocess.run(["ninja", "-C", build, "-t", *args], check=True, text=True,
                          stdout=subprocess.PIPE).stdout


def compiled_files(build, source):
    """(sources, headers) under `source` that the build in `build` compiled."""
    root = os.path.realpath(source) + os.sep
    sources, headers = set(), set()
    for line in ninja(build, "commands").splitlines():
        found = COMPILED.search(line)
        if found:
            sources.add(os.path.realpath(os.path.join(build, found.group(1))))
    for line in ninja(build, "deps").splitlines():
        if line.startswith("    "):
            headers.add(os.path.realpath(os.path.join(build, line.strip())))
    inside = lambda paths: sorted(p for p in paths if p.startswith(root))
    return inside(sources), inside(headers)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build tree of Visual Studio's path")
    parser.add_argument("--source", required=True, help="the project's root")
    args = parser.parse_args()
    sources, headers = compiled_files(args.build, args.source)
    if not sources or not headers:
        print(f"nothing to check in {args.build}: {len(sources)} sources, {len(headers)} headers "
              "(is it built?)")
        return 1
    found = []
    for path in sources + headers:
        with open(path, encoding="utf-8", errors="replace") as handle:
            for number, line in enumerate(handle, 1):
                for match in GNU_FORM.finditer(line):
                    found.append(f"{os.path.relpath(path, args.source)}:{number}: {match.group(1)}")
    print(f"checked {len(sources)} sources and {len(headers)} headers of {args.build}")
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} GNU-only forms: cl rejects them")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
