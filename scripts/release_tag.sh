#!/usr/bin/env bash
# release_tag.sh <tag>: refuses a tag that is not v<version> (the version in
# CMakeLists.txt, scripts/version.sh), or a version that CHANGELOG.md has no
# entry for; otherwise prints that entry, the release's notes. The
# workflow's tag and release jobs run it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ]; then
  echo "usage: release_tag.sh <tag>" >&2
  exit 2
fi
tag=$1
version=$("$root/scripts/version.sh")
if [ "$tag" != "v$version" ]; then
  echo "release_tag.sh: the tag '$tag' does not name the version: CMakeLists.txt says $version," \
       "so the tag must be v$version (or change the version, and CHANGELOG.md, first)" >&2
  exit 1
fi
# The lines after "## [<version>]" up to the next "## " heading, without the
# blank lines around them.
entry=$(awk -v head="## [$version]" '
  /^## / { if (inside) exit; inside = index($0, head) == 1; next }
  inside { print }' "$root/CHANGELOG.md" | sed -e '/./,$!d')
if [ -z "$entry" ]; then
  echo "release_tag.sh: CHANGELOG.md has no entry '## [$version]' with text under it" >&2
  exit 1
fi
printf '%s\n' "$entry"
