#!/usr/bin/env bash
# Configures and builds both builds into build/ (or $ZDB_BUILD_DIR):
#   build/win     the DLL and the test client, 32-bit Windows
#   build/native  unit tests, fuzzers, benchmarks, and the Wine end-to-end tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build/win" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-windows-msvc.cmake" >/dev/null
cmake --build "$build/win"

if [ "${1:-}" != "--win-only" ]; then
  cmake -S "$root" -B "$build/native" -G Ninja \
    -DCMAKE_CXX_COMPILER=clang++-14 -DZDB_WIN_BUILD_DIR="$build/win" >/dev/null
  cmake --build "$build/native"
fi
