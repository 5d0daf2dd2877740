#!/usr/bin/env bash
# Prints the version as CMakeLists.txt's project() has it, the one place it
# is written; with --user-agent, the major.minor that the User-Agent carries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(ZeltanDokBridge VERSION \([0-9]*\.[0-9]*\.[0-9]*\) .*/\1/p' \
  "$root/CMakeLists.txt")
if [ "$(printf '%s\n' "$version" | grep -c .)" -ne 1 ]; then
  echo "version.sh: CMakeLists.txt has no one line 'project(ZeltanDokBridge VERSION x.y.z ...)'" >&2
  exit 1
fi
case "${1:-}" in
  "") echo "$version" ;;
  --user-agent) echo "${version%.*}" ;;
  *) echo "usage: version.sh [--user-agent]" >&2; exit 2 ;;
esac
