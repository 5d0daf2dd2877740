#!/usr/bin/env bash
# Makes the release bundle build/release/ZeltanDokBridge-<version>.zip
# (scripts/version.sh): the DLL,
# a commented settings file, README.txt for controllers, the test client
# with a sample scenario, and the endpoint contract for the service's
# engineers. The DLL and the test client build bit for bit the
# same from the same source; SHA256SUMS.txt lists them. Their PDBs go
# beside the zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}
version=$("$root/scripts/version.sh")
agent=$("$root/scripts/version.sh" --user-agent)
name=ZeltanDokBridge-$version

"$root/scripts/setup.sh"
"$root/scripts/build.sh" --win-only

out=$build/release
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/TestClient" "$stage/Endpoint"

# Windows users open these in Notepad: CR LF line ends.
crlf() { sed 's/\r\{0,1\}$/\r/' "$1" > "$2"; }
# README.txt, with the version where it says @VERSION@ and the User-Agent's
# major.minor where it says @USER_AGENT_VERSION@.
readme() {
  sed -e "s/@VERSION@/$version/g" -e "s/@USER_AGENT_VERSION@/$agent/g" -e 's/\r\{0,1\}$/\r/' \
    "$1" > "$2"
}

cp "$build/win/ZeltanDokBridge.dll" "$stage/"
crlf "$root/release/ZeltanDokBridge.ini" "$stage/ZeltanDokBridge.ini"
readme "$root/release/README.txt" "$stage/README.txt"
cp "$build/win/ZeltanDokTestClient.exe" "$build/win/EuroScopePlugInDll.dll" "$stage/TestClient/"
crlf "$root/samples/eddf_morning.txt" "$stage/TestClient/sample-scenario.txt"
crlf "$root/docs/endpoint.md" "$stage/Endpoint/endpoint.md"
crlf "$root/docs/stand-event.schema.json" "$stage/Endpoint/stand-event.schema.json"
(cd "$stage" && sha256sum ZeltanDokBridge.dll TestClient/ZeltanDokTestClient.exe \
   TestClient/EuroScopePlugInDll.dll | sed 's/$/\r/' > SHA256SUMS.txt)

# Fixed times and order, so the same files give the same archive.
find "$stage" -exec touch -h -d '2026-12-07 00:00:00 UTC' {} +
(cd "$out" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -q -D "$name.zip" -@)
# The symbols of the three binaries, for reading a crash dump; beside the
# zip, not in it: controllers have no use for them.
cp "$build/win/ZeltanDokBridge.pdb" "$build/win/ZeltanDokTestClient.pdb" \
   "$build/win/EuroScopePlugInDll.pdb" "$out/"
echo "$out/$name.zip"
