#!/usr/bin/env python3
"""The reference receiver of examples/ under load, on loopback, side by side
with the one at an earlier commit (Python's http.server, by default), each
run as its own process as deployed. Prints figures, judges none.

    python3 bench/receiver_bench.py [--baseline REV] [--only NAME,...]

  posting   20 and 50 clients posting at once, a new connection per event
            as the plug-in makes: connections reset without a status,
            events stored once, p50/p99 of an answer, events/s
  trickle   50 and 1,000 connections sending half a request and then a
            byte a second: the latency of valid posts meanwhile, and how
            long the receiver held a trickler
  board     the board at 100,000 and 400,000 stored events: query time,
            page size
  kill      the receiver killed with SIGKILL while 8 clients post, then
            started again: every event answered 2xx must be stored

Everything talks to 127.0.0.1 only; every loop is bounded in count and
time. Needs Debian's python3 with jsonschema and waitress (scripts/setup.sh).
"""

import argparse
import concurrent.futures
import datetime
import json
import os
import random
import signal
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NEW = os.path.join(ROOT, "examples", "reference_receiver.py")
SCHEMA = os.path.join(ROOT, "docs", "stand-event.schema.json")
TOKEN = "bench-token-0123456789abcdefghijklmnopqrstuvwxyz"
PYTHON = "/usr/bin/python3"  # Debian's, which sees jsonschema and waitress


def body(number, controller="EDDF_GND", stamp=None, callsign=None):
    stamp = stamp or datetime.datetime(2026, 12, 7, 6, 0) + datetime.timedelta(
        milliseconds=number)
    return json.dumps({"action": "assign", "callsign": callsign or f"B{number % 1500}",
                       "observedAt": stamp.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z",
                       "controller": controller, "destination": "EDDF",
                       "stand": f"V{number % 200}"}, separators=(",", ":")).encode()


def post(port, data, timeout=20):
    """(status or None, seconds): one request on a new connection, as the
    plug-in sends it; None when the connection broke before a status."""
    head = (f"POST /stands HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n"
            f"Content-Type: application/json\r\nAuthorization: Bearer {TOKEN}\r\n"
            f"Content-Length: {len(data)}\r\n\r\n")
    begin = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
            sock.sendall(head.encode() + data)
            answer = b""
            while b"\r\n" not in answer:
                chunk = sock.recv(4096)
                if not chunk:
                    break
                answer += chunk
        status = int(answer.split()[1]) if answer.startswith(b"HTTP/") else None
    except OSError:
        status = None
    return status, time.monotonic() - begin


class Receiver:
    """One receiver process on a free port."""

    def __init__(self, kind, script, db):
        self.kind, self.script, self.db = kind, script, db
        self.process = None
        self.port = None

    def start(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        command = [PYTHON, self.script, "--port", str(self.port), "--db", self.db,
                   "--schema", SCHEMA]
        env = dict(os.environ)
        if self.kind == "baseline":
            command += ["--token", TOKEN]
        else:
            env["RECEIVER_TOKENS"] = TOKEN
        self.log = open(self.db + ".log", "ab")
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=self.log)
        line = self.process.stdout.readline()
        if not line.startswith(b"listening"):
            raise RuntimeError(f"{self.kind} receiver did not start: {line!r}")
        return self

    def stop(self, sig=signal.SIGTERM):
        self.process.send_signal(sig)
        self.process.wait(20)
        self.log.close()

    def stored(self):
        with sqlite3.connect(self.db) as db:
            return [row[0] for row in db.execute("SELECT body FROM events")]


def listen_overflows():
    """The kernel's count of connections dropped from a full listen
    backlog, machine-wide (Linux)."""
    with open("/proc/net/netstat") as handle:
        lines = [line.split() for line in handle if line.startswith("TcpExt:")]
    return int(dict(zip(lines[0], lines[1]))["ListenOverflows"])


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def posting(receivers, folder):
    print("\n== clients posting at once (a new connection per event) ==")
    print(f"{'receiver':<9} {'clients':>7} {'events':>7} {'2xx':>6} {'resets':>6}"
          f" {'stored once':>11} {'p50 ms':>7} {'p99 ms':>7} {'events/s':>8}"
          f" {'backlog overflows':>17}")
    for clients, each in ((20, 100), (50, 60)):
        for kind, script in receivers:
            receiver = Receiver(kind, script, os.path.join(folder, f"post-{kind}-{clients}.db"))
            receiver.start()
            numbers = list(range(clients * each))
            overflows = listen_overflows()
            begin = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(clients) as pool:
                results = list(pool.map(lambda n: post(receiver.port, body(n)), numbers))
            seconds = time.monotonic() - begin
            overflows = listen_overflows() - overflows
            receiver.stop()
            stored = receiver.stored()
            answered = [body(n) for n, (status, _) in zip(numbers, results)
                        if status and 200 <= status < 300]
            once = len(stored) == len(set(stored)) and set(answered) <= set(stored)
            latencies = [t * 1000 for status, t in results if status]
            print(f"{kind:<9} {clients:>7} {len(numbers):>7} {len(answered):>6}"
                  f" {sum(1 for s, _ in results if s is None):>6} {str(once):>11}"
                  f" {percentile(latencies, .5):>7.1f} {percentile(latencies, .99):>7.1f}"
                  f" {len(answered) / seconds:>8.0f} {overflows:>17}")


def trickle(port, head, stop, held):
    """Half a request, then a byte a second until the receiver closes or
    the run ends; appends how long the receiver held it (None: to the end)."""
    begin = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
            sock.sendall(head[:len(head) // 2])
            sock.setblocking(False)
            while not stop.wait(1.0):
                try:
                    if sock.recv(1) == b"":
                        break
                except BlockingIOError:
                    pass
                sock.sendall(b"x")
            else:
                held.append(None)
                return
    except OSError:
        pass
    held.append(time.monotonic() - begin)


def trickling(receivers, folder, run_seconds):
    print(f"\n== trickling connections ({run_seconds} s each run; a valid post every 0.5 s"
          " once they are all connected) ==")
    print(f"{'receiver':<9} {'tricklers':>9} {'posts':>5} {'2xx':>4} {'p50 ms':>8} {'max ms':>8}"
          f" {'cut':>5} {'held p50 s':>10} {'held max s':>10} {'held to end':>11}")
    head = (b"POST /stands HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
            b"Authorization: Bearer " + TOKEN.encode() + b"\r\nContent-Length: 300\r\n\r\n")
    for count in (50, 1000):
        for kind, script in receivers:
            receiver = Receiver(kind, script, os.path.join(folder, f"trickle-{kind}-{count}.db"))
            receiver.start()
            stop, held = threading.Event(), []
            threads = [threading.Thread(target=trickle, args=(receiver.port, head, stop, held),
                                        daemon=True) for _ in range(count)]
            for thread in threads:
                thread.start()
            time.sleep(2)
            results, number, end = [], 10 ** 6, time.monotonic() + run_seconds - 2
            while time.monotonic() < end:
                results.append(post(receiver.port, body(number), timeout=15))
                number += 1
                time.sleep(0.5)
            stop.set()
            for thread in threads:
                thread.join(10)
            receiver.stop(signal.SIGKILL)
            cut = [h for h in held if h is not None]
            latencies = [t * 1000 for s, t in results]
            print(f"{kind:<9} {count:>9} {len(results):>5}"
                  f" {sum(1 for s, _ in results if s and s < 300):>4}"
                  f" {percentile(latencies, .5):>8.1f} {max(latencies):>8.1f} {len(cut):>5}"
                  f" {percentile(cut, .5):>10.1f} {max(cut, default=float('nan')):>10.1f}"
                  f" {len(held) - len(cut):>11}")


def fill(path, total, per_day, new_schema):
    """`total` events received over the last total/per_day days, evenly;
    1,500 flights a day, new callsigns each day."""
    db = sqlite3.connect(path)
    if new_schema:
        sys.path.insert(0, os.path.dirname(NEW))
        import reference_receiver
        db.executescript(reference_receiver.TABLE)
    now = datetime.datetime.now(datetime.timezone.utc)
    step = datetime.timedelta(days=1) / per_day
    rows = []
    for n in range(total):
        received = now - step * (total - n)
        data = body(n, controller=f"EDDF_{n % 4}", stamp=received,
                    callsign=f"X{n // per_day % 100:02d}{n % 1500:04d}")
        event = json.loads(data)
        rows.append((received.isoformat(timespec="milliseconds"), "assign",
                     event["observedAt"], event["callsign"].encode(),
                     event["controller"].encode(), b"EDDF", event["stand"].encode(), data))
    if not new_schema:
        db.execute("CREATE TABLE events (id INTEGER PRIMARY KEY, received_at TEXT NOT NULL,"
                   " action TEXT NOT NULL, observed_at TEXT NOT NULL, callsign BLOB NOT NULL,"
                   " controller BLOB NOT NULL, destination BLOB NOT NULL, stand BLOB NOT NULL,"
                   " body BLOB NOT NULL,"
                   " UNIQUE (action, callsign, observed_at, controller, destination, stand))")
    db.executemany("INSERT INTO events (received_at, action, observed_at, callsign, controller,"
                   " destination, stand, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?)", rows)
    db.commit()
    db.close()


def board(receivers, folder, per_day):
    print(f"\n== the board ({per_day:,} events a day for 1,500 flights, received evenly"
          " over the days before now) ==")
    print(f"{'receiver':<9} {'stored':>8} {'window':>8} {'query ms':>9} {'GET / ms':>9}"
          f" {'page bytes':>10} {'entries':>8}")
    for total in (100_000, 400_000):
        for kind, script in receivers:
            path = os.path.join(folder, f"board-{kind}-{total}.db")
            fill(path, total, per_day, kind != "baseline")
            receiver = Receiver(kind, script, path).start()
            windows = [None] if kind == "baseline" else [24, total / per_day * 24 + 24]
            for hours in windows:
                query = board_query_seconds(kind, script, path, hours)
                fetched = []
                for _ in range(3):
                    begin = time.monotonic()
                    with socket.create_connection(("127.0.0.1", receiver.port), timeout=60) as s:
                        s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
                        page = b""
                        while chunk := s.recv(1 << 16):
                            page += chunk
                    fetched.append(time.monotonic() - begin)
                    if hours is not None and hours != 24:
                        break  # the page is always the 24 h one; one fetch is enough
                label = "all" if hours is None else f"{hours:g} h"
                entries = page.count(b"<tr><td>")
                get_ms = f"{statistics.median(fetched) * 1000:>9.0f}" if hours in (None, 24) else f"{'-':>9}"
                size = f"{len(page):>10,}" if hours in (None, 24) else f"{'-':>10}"
                print(f"{kind:<9} {total:>8,} {label:>8} {query * 1000:>9.0f} {get_ms} {size}"
                      f" {entries if hours in (None, 24) else '-':>8}")
            receiver.stop()


def board_query_seconds(kind, script, path, hours):
    """The median of 3 runs of the board's query in a fresh interpreter, so
    that each receiver's own module does the work."""
    code = ("import sys,time,importlib.util as u\n"
            f"s=u.spec_from_file_location('r',{script!r});m=u.module_from_spec(s);"
            "s.loader.exec_module(m)\n"
            f"st=m.Store({path!r})\nt=[]\n"
            "for _ in range(3):\n b=time.monotonic()\n"
            + (" st.board()\n" if hours is None else f" st.board({hours})\n")
            + " t.append(time.monotonic()-b)\nprint(sorted(t)[1])")
    done = subprocess.run([PYTHON, "-c", code], capture_output=True, text=True, timeout=600)
    if done.returncode:
        raise RuntimeError(done.stderr)
    return float(done.stdout)


def kill_while_posting(folder, rounds):
    print(f"\n== SIGKILL while 8 clients post, {rounds} times, then a last start ==")
    path = os.path.join(folder, "kill.db")
    answered, lock, number = [], threading.Lock(), [0]
    kinds = {"2xx": 0, "no status": 0}

    def client(port, stop):
        while not stop.is_set():
            with lock:
                number[0] += 1
                data = body(number[0])
            status, _ = post(port, data, timeout=5)
            with lock:
                if status and 200 <= status < 300:
                    answered.append(data)
                    kinds["2xx"] += 1
                else:
                    kinds["no status"] += 1

    for _ in range(rounds):
        receiver = Receiver("new", NEW, path).start()
        stop = threading.Event()
        threads = [threading.Thread(target=client, args=(receiver.port, stop)) for _ in range(8)]
        for thread in threads:
            thread.start()
        time.sleep(random.uniform(1.5, 3.0))
        receiver.process.kill()
        receiver.process.wait(10)
        receiver.log.close()
        stop.set()
        for thread in threads:
            thread.join(30)
    receiver = Receiver("new", NEW, path).start()
    receiver.stop()
    stored = set(receiver.stored())
    missing = [data for data in answered if data not in stored]
    print(f"posted {number[0]}, answered 2xx {kinds['2xx']}, no status {kinds['no status']},"
          f" stored {len(stored)}, answered 2xx but missing after restart: {len(missing)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--baseline", default="8310fb4",
                        help="the commit whose receiver runs beside; '' for none")
    parser.add_argument("--only", default="posting,trickle,board,kill")
    parser.add_argument("--trickle-seconds", type=int, default=30)
    parser.add_argument("--per-day", type=int, default=10_000)
    parser.add_argument("--kill-rounds", type=int, default=5)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="receiver-bench-")
    receivers = [("new", NEW)]
    if args.baseline:
        old = os.path.join(folder, "baseline_receiver.py")
        with open(old, "wb") as handle:
            handle.write(subprocess.run(
                ["git", "-C", ROOT, "show", f"{args.baseline}:examples/reference_receiver.py"],
                check=True, capture_output=True).stdout)
        receivers.append(("baseline", old))
    print(f"receiver bench: new = this tree, baseline = {args.baseline or 'none'};"
          f" load average {os.getloadavg()[0]:.2f}")
    only = args.only.split(",")
    try:
        if "posting" in only:
            posting(receivers, folder)
        if "trickle" in only:
            trickling(receivers, folder, args.trickle_seconds)
        if "board" in only:
            board(receivers, folder, args.per_day)
        if "kill" in only:
            kill_while_posting(folder, args.kill_rounds)
    finally:
        subprocess.run(["rm", "-rf", folder], check=False)
    print(f"\nload average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
