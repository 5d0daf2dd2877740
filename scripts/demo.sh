#!/usr/bin/env bash
# The main job: the real DLL in the test client under Wine, replaying a
# morning of stand messages at Frankfurt against the reference receiver of
# examples/ on loopback; prints what the receiver did with each request, the
# plug-in's log, and the stand board the receiver keeps.
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
token=demo-token-0123456789abcdef012345
printf '[Bridge]\r\nEndpoint=http://127.0.0.1:%s/stands\r\nToken=%s\r\nAirports=EDDF, EDDM\r\n' \
  "$port" "$token" > "$demo/Radar Plugins/ZeltanDokBridge.ini"
cp "$root/samples/eddf_morning.txt" "$demo/scenario.txt"

export WINEPREFIX=$build/demo-prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# Wine's WinHTTP would send even the loopback requests through a proxy named
# in the environment (http_proxy, in any letter case).
for variable in $(compgen -e); do
  case ${variable,,} in http_proxy | https_proxy | all_proxy | no_proxy) unset "$variable" ;; esac
done
# Debian's interpreter, which sees the python3-jsonschema and python3-waitress
# that setup.sh installs. The token goes in through the environment, where
# other users cannot read it as they can a command line.
receiver_command=(/usr/bin/python3 "$root/examples/reference_receiver.py" --db "$demo/stands.db")
RECEIVER_TOKENS=$token "${receiver_command[@]}" --port "$port" \
  > "$demo/listening.txt" 2> "$demo/received.txt" &
receiver=$!
trap 'kill $receiver 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$demo/listening.txt" ] && break
  kill -0 $receiver 2>/dev/null || { cat "$demo/received.txt" >&2; exit 1; }
  sleep 0.1
done
[ -s "$demo/listening.txt" ] || { echo "demo: the receiver did not start" >&2; exit 1; }

echo "== test client =="
(cd "$demo" && wine ZeltanDokTestClient.exe "Radar Plugins\\ZeltanDokBridge.dll" scenario.txt) | tr -d '\r'
echo "== what the receiver did (examples/reference_receiver.py) =="
cat "$demo/received.txt"
echo "== plug-in log (Radar Plugins/ZeltanDokBridge.log) =="
tr -d '\r' < "$demo/Radar Plugins/ZeltanDokBridge.log"
echo "== stand board (reference_receiver.py --print-board; GET / of the receiver as HTML) =="
"${receiver_command[@]}" --print-board
