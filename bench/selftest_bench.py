#!/usr/bin/env python3
"""How long the self-test takes to its verdict under Wine, in one run: a
healthy plug-in's PASS, and two FAILs beside it with their ratios to it: one
whose requests never arrive (every request sent to a closed port on
127.0.0.1 through `http_proxy`, which Wine's WinHTTP follows even for
loopback), and one whose every post arrives and is refused (sent through a
forward proxy on 127.0.0.1 that changes one character of the bearer token);
optionally also the PASS with every file open of Wine's server delayed
(strace, as a virus scanner would). Prints figures, judges none.

    python3 bench/selftest_bench.py [--build DIR] [--client EXE --plugin DLL]
                                    [--slow-opens MICROSECONDS,...] [--rows]

--rows prints every row with the second it was printed at. Uses its own
Wine prefix and work folder under the build folder.
"""

import argparse
import http.client
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from test_selftest import with_slow_opens  # noqa: E402

VERDICT = re.compile(r"^verdict: (PASS|FAIL|CANNOT RUN).*\((\d+\.\d) s\)")
RUN_BOUND = 300



class AlteringProxy(http.server.BaseHTTPRequestHandler):
    """A forward proxy that changes the last character of every bearer token,
    as a stale or mistyped token would be: the endpoint must refuse each post.
    The target goes on as a whole URL (the absolute form, which every HTTP/1.1
    server must take); a CONNECT (https) is refused."""

    def do_POST(self):
        headers = dict(self.headers.items())
        token = headers["Authorization"]
        headers["Authorization"] = token[:-1] + ("B" if token.endswith("A") else "A")
        url = self.path if "//" in self.path else f"http://{headers['Host']}{self.path}"
        host, port = url.split("/")[2].rsplit(":", 1)
        body = self.rfile.read(int(headers["Content-Length"]))
        upstream = http.client.HTTPConnection(host, int(port), timeout=5)
        upstream.request("POST", url, body, headers)
        self.send_response(upstream.getresponse().status)
        self.send_header("Content-Length", "0")
        self.end_headers()
        upstream.close()

    def do_CONNECT(self):
        self.send_error(403)

    def log_message(self, *args):
        pass


def altering_proxy():
    """The proxy on 127.0.0.1, on threads of its own: (it, its URL)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), AlteringProxy)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_port}"


def run(env, client, plugin, folder, name, slow_opens=None):
    """One self-test: (its lines with the second each was seen, its exit
    status, wall seconds)."""
    out_path = os.path.join(folder, f"{name}.stdout")
    command = ["wine", harness.wine_path(client), "selftest", harness.wine_path(plugin)]
    if slow_opens:
        env, command = with_slow_opens(env, command, os.path.join(folder, name), slow_opens)
    seen, text = [], b""
    begin = time.monotonic()
    with open(out_path, "wb") as out:
        process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        while True:
            finished = process.poll() is not None
            with open(out_path, "rb") as handle:
                text = handle.read()
            lines = text.split(b"\r\n")[:-1]
            now = time.monotonic() - begin
            seen += [(now, line.decode("latin-1")) for line in lines[len(seen):]]
            if finished:
                break
            if now > RUN_BOUND:
                os.killpg(process.pid, 9)
                process.wait()
                break
            time.sleep(0.05)
    if slow_opens:
        subprocess.run(["wineserver", "-k"], env=env, timeout=60)
        shutil.rmtree(env["WINEPREFIX"], ignore_errors=True)
    return seen, process.returncode, time.monotonic() - begin


def closed_port():
    """A port on 127.0.0.1 that refuses connections: bound, never listening."""
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    return holder


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--client", help="default: <build>/win/ZeltanDokTestClient.exe")
    parser.add_argument("--plugin", help="default: <build>/win/ZeltanDokBridge.dll")
    parser.add_argument("--slow-opens", default="", help="microseconds, comma-separated")
    parser.add_argument("--rows", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    client = os.path.abspath(args.client or os.path.join(build, "win", harness.CLIENT_NAME))
    plugin = os.path.abspath(args.plugin or os.path.join(build, "win", "ZeltanDokBridge.dll"))
    folder = os.path.join(build, "selftest-bench")
    os.makedirs(folder, exist_ok=True)
    os.environ["WINEPREFIX"] = os.path.join(build, "bench-prefix")
    env = harness.wine_env()
    if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=300,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    # The client and the SDK library it imports, in the work folder.
    for name in (os.path.basename(client), "EuroScopePlugInDll.dll"):
        shutil.copy2(os.path.join(os.path.dirname(client), name), os.path.join(folder, name))
    client = os.path.join(folder, os.path.basename(client))
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)
    subprocess.run(["wineserver", "-p60"], env=env, check=True, timeout=60)
    load_before = " ".join(f"{x:.2f}" for x in os.getloadavg())

    holder = closed_port()
    proxy = f"http://127.0.0.1:{holder.getsockname()[1]}"
    altering, altering_url = altering_proxy()
    cases = [("healthy", env, None), ("nothing arrives", dict(env, http_proxy=proxy), None),
             ("every post refused", dict(env, http_proxy=altering_url), None)]
    cases += [(f"file opens {int(us) / 1000:g} ms late", env, int(us))
              for us in args.slow_opens.split(",") if us]
    results = []
    for name, case_env, slow in cases:
        results.append((name,) + run(case_env, client, plugin, folder,
                                     name.replace(" ", "-"), slow))
    holder.close()
    altering.shutdown()
    altering.server_close()
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)

    print(f"self-test of {plugin}\nload average {load_before} before, "
          + " ".join(f"{x:.2f}" for x in os.getloadavg()) + " after")
    print(f"{'run':<26} {'exit':>4} {'own count':>10} {'wall':>7} {'rows':>5} "
          f"{'FAILED':>6} {'not run':>7}")
    own = {}
    for name, seen, status, wall in results:
        lines = [line for _, line in seen]
        verdict = VERDICT.match(lines[-1]) if lines else None
        own[name] = float(verdict.group(2)) if verdict else float("nan")
        rows = [line for line in lines[2:] if line.count(" | ") >= 3]
        failed = sum(line.endswith(" | FAILED") for line in rows)
        not_run = sum(line.endswith(" | not run") for line in rows)
        print(f"{name:<26} {status:>4} {own[name]:>8.1f} s {wall:>5.1f} s {len(rows):>5} "
              f"{failed:>6} {not_run:>7}")
        if args.rows:
            for at, line in seen:
                print(f"    {at:6.1f} {line[:150]}")
    for failing in ("nothing arrives", "every post refused"):
        print(f"{failing} / healthy, by the runs' own count: "
              f"{own[failing] / own['healthy']:.2f} (goal: at most 2)")


if __name__ == "__main__":
    main()
