"""The binaries of Visual Studio's path against the Debian build's: each of
the three exports the same names and imports the same names from the same
DLLs, so that the radar client and Windows see one module whichever
compiler made it."""

import argparse
import re
import subprocess
import sys

BINARIES = ("ZeltanDokBridge.dll", "EuroScopePlugInDll.dll", "ZeltanDokTestClient.exe")


def interface(readobj, path):
    """({exported names}, {(dll, imported name)}) of one binary."""
    text = subprocess.run([readobj, "--coff-exports", "--coff-imports", path], check=True,
                          text=True, stdout=subprocess.PIPE).stdout
    exports, imports, dll = set(), set(), None
    for line in text.splitlines():
        line = line.strip()
        if line in ("Export {", "Import {", "DelayImport {"):
            kind, dll = line.split()[0], None
        elif line.startswith("Name: ") and kind == "Export":
            exports.add(line[6:])
        elif line.startswith("Name: "):
            dll = line[6:].lower()
        elif line.startswith("Symbol: "):
            imports.add((dll, re.sub(r" \(\d+\)$", "", line[8:])))
    return exports, imports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--debian", required=True, help="the Debian build's folder")
    parser.add_argument("--msvc", required=True, help="the folder of Visual Studio's path")
    parser.add_argument("--readobj", required=True)
    args = parser.parse_args()
    failed = False
    for name in BINARIES:
        debian = interface(args.readobj, f"{args.debian}/{name}")
        msvc = interface(args.readobj, f"{args.msvc}/{name}")
        print(f"{name}: {len(debian[0])} exports, {len(debian[1])} imports in the Debian build; "
              f"{len(msvc[0])} and {len(msvc[1])} in {args.msvc}")
        if not debian[0] and not debian[1]:
            print(f"  nothing read from {args.debian}/{name}: nothing compared")
            failed = True
        for what, ours, theirs in (("export", debian[0], msvc[0]), ("import", debian[1], msvc[1])):
            for item in sorted(ours - theirs, key=str):
                print(f"  {what} only in the Debian build: {item}")
            for item in sorted(theirs - ours, key=str):
                print(f"  {what} only in {args.msvc}: {item}")
            failed |= ours != theirs
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
