#!/usr/bin/env bash
# The test command: installs what is missing, builds both builds, and runs
# every test (native unit tests plain and under sanitizers, fuzzers for a
# short fixed time, and the DLL end to end under Wine) through ctest; then
# the end-to-end modules again under Debian 13's Wine 10 (scripts/wine10.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$build/native"
ctest --output-on-failure -j2
"$root/scripts/wine10.sh"
