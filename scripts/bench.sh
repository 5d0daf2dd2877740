#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds both builds, then prints
# the native figures and the figures of the real DLL under Wine. Figures
# only, no verdicts; see bench/README.md for how to read them.
# Extra arguments go to bench/wine_bench.py (e.g. --reps 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

echo "== native_bench (build/native, 64-bit, POSIX stand-in for Windows) =="
"$build/native/native_bench"
echo
echo "== wine_bench (the DLL in the test client under Wine, loopback only) =="
python3 "$root/bench/wine_bench.py" --build "$build" "$@"
