#!/usr/bin/env bash
# The main job: the real DLL in the test client under Wine, replaying a
# morning of stand messages at Frankfurt against a local receiver; prints
# what the receiver got and the plug-in's log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}
port=${ZDB_DEMO_PORT:-18642}

"$root/scripts/setup.sh"
"$root/scripts/build.sh" --win-only

demo=$build/demo
rm -rf "$demo" && mkdir -p "$demo/Radar Plugins"
cp "$build/win/ZeltanDokTestClient.exe" "$build/win/EuroScopePlugInDll.dll" "$demo/"
cp "$build/win/ZeltanDokBridge.dll" "$demo/Radar Plugins/"
printf '[Bridge]\r\nEndpoint=http://127.0.0.1:%s/stands\r\nToken=demo-token-0123456789abcdef012345\r\nAirports=EDDF, EDDM\r\n' \
  "$port" > "$demo/Radar Plugins/ZeltanDokBridge.ini"
cp "$root/samples/eddf_morning.txt" "$demo/scenario.txt"

export WINEPREFIX=$build/demo-prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# Wine's WinHTTP would send even the loopback requests through a proxy named
# in the environment (http_proxy, in any letter case).
for variable in $(compgen -e); do
  case ${variable,,} in http_proxy | https_proxy | all_proxy | no_proxy) unset "$variable" ;; esac
done
python3 "$root/scripts/demo_receiver.py" "$port" > "$demo/received.txt" &
receiver=$!
trap 'kill $receiver 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT

echo "== test client =="
(cd "$demo" && wine ZeltanDokTestClient.exe "Radar Plugins\\ZeltanDokBridge.dll" scenario.txt) | tr -d '\r'
echo "== what the endpoint received =="
cat "$demo/received.txt"
echo "== plug-in log (Radar Plugins/ZeltanDokBridge.log) =="
tr -d '\r' < "$demo/Radar Plugins/ZeltanDokBridge.log"
