#!/usr/bin/env bash
# Installs everything both builds and the tests need on Debian 12, as root.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  clang-14 clang lld-14 lld llvm-14 llvm libclang-rt-14-dev   # both builds, sanitizers, libFuzzer
  clang-tools-14                                             # clang-cl, for Visual Studio's CMake path
  cmake ninja-build                                          # build
  libgtest-dev libbenchmark-dev nlohmann-json3-dev           # unit tests, benchmarks, fuzzers
  python3 openssl ca-certificates zip                        # receiver, test certificates, release
  strace                                                     # the self-test with every file open delayed
  python3-jsonschema                                         # bodies checked against docs/stand-event.schema.json
  python3-waitress                                           # the reference receiver's WSGI server
  nginx                                                      # TLS in front of it in the end-to-end test
  wine wine32:i386                                           # the product under test
  mingw-w64-i686-dev gcc-mingw-w64-i686                      # independent Windows headers for the declaration test
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# wine32 is a 32-bit package: the machine must accept i386 packages first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
