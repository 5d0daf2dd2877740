#!/usr/bin/env bash
# Configures and builds both builds into build/ (or $ZDB_BUILD_DIR):
#   build/win     the DLL and the test client, 32-bit Windows
#   build/msvc    the same three binaries through Visual Studio's CMake path,
#                 here with clang-cl and LLVM's tools (preset clang-cl-cross)
#   build/native  unit tests, fuzzers, benchmarks, and the Wine end-to-end tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build/win" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-windows-msvc.cmake" >/dev/null
cmake --build "$build/win"

if [ "${1:-}" != "--win-only" ]; then
  (cd "$root" && cmake --preset clang-cl-cross -B "$build/msvc" >/dev/null)
  cmake --build "$build/msvc"
  cmake -S "$root" -B "$build/native" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
    -DZDB_WIN_BUILD_DIR="$build/win" -DZDB_MSVC_BUILD_DIR="$build/msvc" >/dev/null
  cmake --build "$build/native"
fi
