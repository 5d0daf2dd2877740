#!/usr/bin/env bash
# The test command: installs what is missing, builds every build (scripts/
# build.sh), and runs every test (native unit tests plain and under
# sanitizers, fuzzers for a short fixed time, the DLL end to end under Wine,
# and the checks of Visual Studio's path built with clang-cl) through ctest;
# then the end-to-end modules again under Debian 13's Wine 10
# (scripts/wine10.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$build/native"
ctest --output-on-failure -j2
"$root/scripts/wine10.sh"
