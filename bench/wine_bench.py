#!/usr/bin/env python3
"""Figures of the real DLL under Wine, side by side in one run: the capture
handler as the test client times it, what a wake-up across CPUs costs
this machine, delivery throughput on loopback against two baselines, the
time the client waits at exit, and the DLL's size and static footprint.
Prints one table; nothing here passes or fails on a figure.

    python3 bench/wine_bench.py [--build DIR] [--burst N] [--paced N] [--pause-ms MS]
                                [--events N] [--reps N] [--delivery-reps N] [--cpus LIST]

Needs the Windows build (scripts/build.sh) and wine. Uses its own Wine
prefix and work folder under the build folder; all traffic stays on
127.0.0.1.
"""

import argparse
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

import baseline_client  # noqa: E402
import harness  # noqa: E402
from receiver import Receiver  # noqa: E402

BASELINE_NAME = "ZeltanDokCaptureBaseline.exe"
BURST = re.compile(r"burst: count (\d+) frequency (\d+) total (\d+) p50 (\d+) p99 (\d+) max (\d+)")

# A stalled attempt ends at the receive timeout, 10 s; every run is bounded
# well above that so that a hung client is killed, never waited for.
RUN_BOUND = 120.0
STALL_SECONDS = 5.0


def p50(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 2]


def p99(values):
    """The same rank the test client uses, so figures read alike."""
    ordered = sorted(values)
    return ordered[len(ordered) - 1 - len(ordered) // 100]


class Table:
    def __init__(self):
        self.rows = []

    def section(self, title):
        self.rows.append((title,))

    def row(self, name, median, high, unit, note=""):
        self.rows.append((name, median, high, unit, note))

    def print(self):
        width = max(len(r[0]) for r in self.rows if len(r) > 1) + 2
        print(f"{'figure':<{width}}{'median':>12}{'p99':>12}  {'unit':<10}note")
        for r in self.rows:
            if len(r) == 1:
                print(f"-- {r[0]}")
                continue
            name, median, high, unit, note = r
            print(f"{name:<{width}}{_cell(median):>12}{_cell(high):>12}  {unit:<10}{note}")


def _cell(value):
    if value is None:
        return "-"
    if isinstance(value, str):
        return value
    if isinstance(value, int):
        return str(value)
    if abs(value) >= 100:
        return f"{value:.0f}"
    if abs(value) >= 10:
        return f"{value:.1f}"
    return f"{value:.2f}"


class WineBench:
    def __init__(self, args):
        self.args = args
        build = os.path.abspath(args.build)
        os.environ["ZDB_WIN_BUILD"] = os.path.join(build, "win")
        os.environ["ZDB_E2E_WORK"] = os.path.join(build, "bench-work")
        os.environ["WINEPREFIX"] = os.path.join(build, "bench-prefix")
        self.env = harness.wine_env()
        self.table = Table()
        self.recorded = []  # the plug-in's own requests, replayed by the baselines
        self.wine_baseline_request = None
        self.exits_after_burst = {}  # from the first capture section only
        self.capture_ratios = []  # (where, [(name, captured, baseline)], p50s, p99s)
        self.pause_ms = 20000
        self.runs = 0

    # -- Wine ---------------------------------------------------------------

    def start_wine(self):
        prefix = os.environ["WINEPREFIX"]
        if not os.path.isfile(os.path.join(prefix, "system.reg")):
            print(f"wine_bench: creating the Wine prefix {prefix}", flush=True)
            subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=300,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        # A fresh server, so that it runs on the CPUs given to this run; one
        # that outlives each client keeps Wine's start-up out of the bench's
        # wall time, and ends by itself a minute after the last client should
        # stop_wine() never run.
        self.stop_wine()
        subprocess.run(["wineserver", "-p60"], env=self.env, check=True, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def run_client(self, name, steps, receiver=None, airports="EDDF", settings=True):
        """One client process in a fresh folder; fails loudly when a step
        failed, since a figure from a broken run would mislead."""
        self.runs += 1
        ini = harness.ini_text(receiver.url(), airports=airports) if settings else None
        bench = harness.Bench(f"{name}/{self.runs}", ini)
        run = bench.run(steps, timeout=RUN_BOUND)
        if run.exit_code != 0 or run.stdout[-1:] != ["scenario done: 0 failed steps"]:
            raise RuntimeError(f"client run {name} failed:\n{run.describe()}")
        return run

    # -- 1. capture handler -------------------------------------------------

    def baseline_run(self, n, pause_ms, stalled=False):
        """The platform work of n captured events alone, on one thread of its
        own process, each event timed like the burst's calls: the log line's
        open, move to the end, write and close, then SetEvent. Paced, a
        second thread waits on the event as the idle worker does (and does
        nothing else when woken); in a burst the worker is busy delivering
        or held, so nobody waits. `stalled`: the second thread, woken by the
        first SetEvent, posts once to a loopback listener that never
        accepts, and waits for the answer for the rest of the run, as the
        worker's attempt against a stalled endpoint does."""
        if stalled:
            with socket.socket() as listener:
                listener.bind(("127.0.0.1", 0))
                listener.listen(4)  # the kernel completes the handshake; nobody answers
                return self._baseline_process(n, pause_ms, [str(listener.getsockname()[1])])
        return self._baseline_process(n, pause_ms, [])

    def _baseline_process(self, n, pause_ms, port):
        self.runs += 1
        folder = os.path.join(os.environ["ZDB_E2E_WORK"], "baseline", str(self.runs))
        log_folder = os.path.join(folder, harness.PLUGIN_FOLDER)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(log_folder)
        exe = os.path.join(os.environ["ZDB_WIN_BUILD"], BASELINE_NAME)
        log = os.path.join(log_folder, harness.PLUGIN_NAME[:-len(".dll")] + ".log")
        # Output to files, as the client's: a pipe would be inherited by the
        # prefix's services should this run start them, and held open until
        # the Wine server ends, a minute later.
        out = os.path.join(folder, "stdout.txt")
        code = harness.run_to_files(["wine", exe, harness.wine_path(log), str(n),
                                     str(captured_line_length(n)), str(pause_ms),
                                     "1" if pause_ms or port else "0", *port],
                                    folder, self.env, out, os.path.join(folder, "stderr.txt"),
                                    RUN_BOUND)
        lines = harness.stdout_lines(harness.read_bytes(out))
        written = os.path.getsize(log) if os.path.exists(log) else 0
        if code != 0 or written != n * captured_line_length(n):
            raise RuntimeError(f"capture baseline failed ({code}, {written} bytes "
                               f"logged): {lines}")
        return self.burst_figures(lines)

    @staticmethod
    def burst_figures(stdout):
        """(p50 us, p99 us, max us, calls per second) of the burst a run
        printed."""
        for line in stdout:
            match = BURST.fullmatch(line)
            if match:
                count, frequency, total, median, high, top = map(int, match.groups())
                micro = 1e6 / frequency
                return median * micro, high * micro, top * micro, count * frequency / total
        raise RuntimeError("no burst line:\n" + "\n".join(stdout))

    def client_burst(self, action, destination, settings, count, pause_ms):
        """One client run timing `count` calls, `pause_ms` apart (0: a burst
        as fast as the client can)."""
        receiver = Receiver(default=action).start() if settings else None
        burst = (f"paced-burst {count} DOK/S/A {pause_ms}" if pause_ms else
                 f"burst {count} DOK/S/A")
        try:
            return self.run_client(
                "capture", ["controller EDDF_GND", f"flightplan DLH4TK {destination}", "init",
                            burst, "timed-exit", "unload"], receiver, settings=settings)
        finally:
            if receiver:
                receiver.stop()

    def capture(self, where):
        n, reps = self.args.burst, self.args.reps
        paced, pause = self.args.paced, self.args.pause_ms
        healthy, stalled = "captured, endpoint answers 201", "captured, endpoint stalls"
        healthy_paced = f"captured {pause} ms apart, endpoint answers 201"
        baseline, baseline_paced = "baseline: platform work alone", f"baseline {pause} ms apart"
        baseline_stalled = "baseline, a second thread in a stalled WinHTTP request"
        # (label, receiver action, destination, settings file, calls, pause);
        # the stalled receiver lets go after STALL_SECONDS so that each run's
        # exit waits seconds, not the full receive timeout; the burst is long
        # over by then, so the calls are timed against a stalled endpoint.
        cases = [
            ("disabled plug-in (no settings)", None, "EDDF", False, n, 0),
            ("ignored: destination not listed", 201, "KJFK", True, n, 0),
            (healthy, 201, "EDDF", True, n, 0),
            (stalled, ("stall", STALL_SECONDS), "EDDF", True, n, 0),
            (baseline, None, None, None, n, 0),
            (baseline_stalled, "stall", None, None, n, 0),
            (healthy_paced, 201, "EDDF", True, paced, pause),
            (baseline_paced, None, None, None, paced, pause),
        ]
        self.table.section(f"capture handler under Wine, {where}: bursts of {n} calls, "
                           f"{paced} when paced; median of {reps} runs' p50 / p99")
        figures = {case[0]: [] for case in cases}
        collect_exits = not self.exits_after_burst
        # Cases take turns, so that a slow spell of the machine falls on all
        # of them rather than on one.
        for _ in range(reps):
            for label, action, destination, settings, count, pause_ms in cases:
                if settings is None:
                    figures[label].append(self.baseline_run(count, pause_ms,
                                                            stalled=action == "stall"))
                    continue
                run = self.client_burst(action, destination, settings, count, pause_ms)
                figures[label].append(self.burst_figures(run.stdout))
                if collect_exits and not pause_ms:
                    self.exits_after_burst.setdefault(label, []).extend(run.exit_seconds())
        medians, p99s = {}, {}
        for label, found in figures.items():
            medians[label] = statistics.median(f[0] for f in found)
            p99s[label] = statistics.median(f[1] for f in found)
            low, high = min(f[0] for f in found), max(f[0] for f in found)
            top = max(f[2] for f in found)
            note = f"runs' p50 {_cell(low)}..{_cell(high)}; max {_cell(top)}"
            if label == baseline:
                note += (f"; open, end, write {captured_line_length(n)} bytes, close, "
                         "SetEvent")
            if label == baseline_paced:
                note += "; SetEvent wakes a waiting thread"
            if label == baseline_stalled:
                note += "; its first SetEvent wakes a thread that posts and waits for the answer"
            self.table.row(label, medians[label], p99s[label], "us/call", note)
        self.table.row("never-freezes ratio: stalled / healthy",
                       medians[stalled] / medians[healthy], p99s[stalled] / p99s[healthy], "ratio",
                       "about 1 or below: a stalled endpoint does not slow the client's thread")
        self.capture_ratios.append((where, [
            (f"{pause} ms apart (worker idle)", healthy_paced, baseline_paced),
            ("burst (worker delivering)", healthy, baseline),
            ("burst, endpoint stalls (worker held)", stalled, baseline_stalled),
        ], medians, p99s))

    def capture_ratio_summary(self):
        """captured / baseline of every capture section, side by side."""
        self.table.section("capture / platform baseline, p50 and p99 (goal: at most 1.2)")
        for where, pairs, medians, p99s in self.capture_ratios:
            for name, captured, baseline in pairs:
                self.table.row(f"{name}, {where}", medians[captured] / medians[baseline],
                               p99s[captured] / p99s[baseline], "ratio")

    def capture_on_one_cpu(self, cpus):
        """The same cases with the receiver, the Wine server, the client and
        its worker all on one CPU. Each Wine call is a round trip to the Wine
        server; whether the two sides share a CPU moves its cost several
        times over, and free scheduling picks either at random."""
        os.sched_setaffinity(0, {cpus[0]})
        try:
            self.start_wine()
            self.capture(f"all on CPU {cpus[0]}")
        finally:
            os.sched_setaffinity(0, set(cpus))
            self.start_wine()

    def capture_across_cpus(self, cpus):
        """The same cases with the Wine server alone on one CPU and the
        client, its worker and the receiver on another, so that every round
        trip to the server crosses CPUs: the placement free scheduling
        settles on for some runs and not for others."""
        os.sched_setaffinity(0, {cpus[0]})
        try:
            self.start_wine()
            os.sched_setaffinity(0, {cpus[1]})
            self.capture(f"Wine server on CPU {cpus[0]}, the rest on CPU {cpus[1]}")
        finally:
            os.sched_setaffinity(0, set(cpus))
            self.start_wine()

    def wake_up_cost(self, cpus):
        """A round trip to the Wine server is a pipe write that wakes the
        server and a reply that wakes the client; the same between two plain
        Linux processes shows what the machine charges for it, without Wine,
        on one CPU and across two."""
        self.table.section("a one-byte pipe round trip between two Linux processes, no Wine")
        layouts = [(f"both on CPU {cpus[0]}", cpus[0], cpus[0])]
        if len(cpus) > 1:
            layouts.append((f"CPU {cpus[1]} to CPU {cpus[0]} and back", cpus[1], cpus[0]))
        for label, client, server in layouts:
            median, high = pipe_round_trip(client, server)
            self.table.row(label, median, high, "us")

    # -- 2. delivery throughput ---------------------------------------------

    @staticmethod
    def arrival_figures(receiver):
        """(events/s from first to last arrival, gaps in ms, how many came)."""
        requests = receiver.snapshot()
        arrived = [r.arrived for r in requests]
        if len(arrived) < 2:
            return None, [], len(arrived)
        span = arrived[-1] - arrived[0]
        gaps = [(b - a) * 1e3 for a, b in zip(arrived, arrived[1:])]
        return (len(arrived) - 1) / span, gaps, len(arrived)

    def product_run(self, n):
        """One client run: a burst of n captured events, then a pause long
        enough for all of them to be delivered before the exit drops the
        rest; returns the receiver that took them."""
        receiver = Receiver(default=201).start()
        try:
            run = self.run_client(
                "delivery", ["controller EDDF_GND", "flightplan DLH4TK EDDF", "init",
                             f"burst {n} DOK/S/A", f"sleep {self.pause_ms}", "exit", "unload"],
                receiver)
            receiver.wait_for(n, 5)
        finally:
            receiver.stop()
        delivered = sum(1 for m in run.messages if m.startswith("Delivered "))
        if delivered != len(receiver.snapshot()):
            print(f"wine_bench: note: {delivered} Delivered lines for "
                  f"{len(receiver.snapshot())} requests", flush=True)
        return receiver

    def python_run(self):
        receiver = Receiver(default=201).start()
        # Byte for byte what the plug-in sent, but naming this receiver.
        host = f"127.0.0.1:{receiver.port}"
        requests = [baseline_client.request_bytes(
            r.method, r.path,
            [(k, host if k.lower() == "host" else v) for k, v in r.headers.items()], r.body)
            for r in self.recorded]
        try:
            baseline_client.replay(receiver.port, requests)
            receiver.wait_for(len(requests), 5)
        finally:
            receiver.stop()
        return receiver

    def wine_run(self):
        """Wine's own WinHTTP driven from JScript (cscript, built into Wine):
        one new request object, so one new session, per event, the plug-in's
        headers and bodies, no queue, no log. It needs nothing from the
        product or the test client."""
        wanted = ("Content-Type", "Authorization", "User-Agent")
        first = self.recorded[0].headers
        headers = [[name, first.get(name)] for name in wanted if first.get(name) is not None]
        bodies = [r.body.decode("utf-8") for r in self.recorded]
        folder = os.path.join(os.environ["ZDB_E2E_WORK"], "wine-baseline")
        os.makedirs(folder, exist_ok=True)
        receiver = Receiver(default=201).start()
        script = os.path.join(folder, "post.js")
        with open(script, "w", encoding="ascii") as handle:
            handle.write(_JSCRIPT.replace("@URL@", json.dumps(receiver.url()))
                         .replace("@HEADERS@", json.dumps(headers))
                         .replace("@BODIES@", json.dumps(bodies)))
        try:
            done = subprocess.run(["wine", "cscript", "//nologo", harness.wine_path(script)],
                                  env=self.env, cwd=folder, timeout=RUN_BOUND,
                                  stdin=subprocess.DEVNULL, capture_output=True)
            receiver.wait_for(len(bodies), 5)
        finally:
            receiver.stop()
        output = done.stdout.decode("latin-1", "replace").strip()
        if done.returncode != 0 or "failed 0" not in output:
            raise RuntimeError(f"Wine baseline failed ({done.returncode}): {output}\n"
                               f"{done.stderr.decode('latin-1', 'replace')[-2000:]}")
        if self.wine_baseline_request is None:
            self.wine_baseline_request = receiver.snapshot()[0]
        return receiver

    def delivery(self):
        n, reps = self.args.events, self.args.delivery_reps
        self.table.section(f"delivery on loopback: {n} events per run, {reps} runs, receiver "
                           f"clock; rate = (n-1) / first-to-last arrival")
        product = "plug-in under Wine"
        python = "baseline: Python raw socket per request"
        wine = "baseline: Wine WinHTTP from JScript"
        found = {product: [], python: [], wine: []}  # (rate, gaps, short) per run
        expected = {product: n}
        # The first run's pause is generous; later ones follow the rate seen.
        self.pause_ms = 20000
        wine_failed = None
        for _ in range(reps):
            for label, one_run in ((product, lambda: self.product_run(n)),
                                   (python, self.python_run), (wine, self.wine_run)):
                if label != product and not self.recorded:
                    break
                if label == wine and wine_failed is not None:
                    continue
                try:
                    receiver = one_run()
                except (RuntimeError, subprocess.TimeoutExpired, OSError) as error:
                    if label != wine:
                        raise
                    wine_failed = error
                    print(f"wine_bench: Wine baseline left out: {error}", flush=True)
                    continue
                rate, gaps, came = self.arrival_figures(receiver)
                if rate:
                    found[label].append((rate, gaps, came < expected.get(label, came)))
                if label == product and rate:
                    self.pause_ms = int(min(60000, max(3000, 3000 * n / rate)))
                if label == product and not self.recorded:
                    self.recorded = receiver.snapshot()
                    expected[python] = expected[wine] = len(self.recorded)
        rate_of = {}
        for label, runs in found.items():
            if not runs:
                if label == product:
                    self.table.row(label, None, None, "events/s", "no requests arrived")
                continue
            rates = [r[0] for r in runs]
            gaps = [g for r in runs for g in r[1]]
            short = sum(1 for r in runs if r[2])
            rate_of[label] = statistics.median(rates)
            note = f"runs {min(rates):.0f}..{max(rates):.0f}"
            if short:
                note += f"; {short} runs lost requests"
            self.table.row(label, rate_of[label], None, "events/s", note)
            self.table.row("  gap between arrivals", p50(gaps), p99(gaps), "ms",
                           f"{len(gaps)} gaps")
        for label in (python, wine):
            if product in rate_of and label in rate_of:
                self.table.row(f"ratio plug-in / {label.split(': ')[1]}",
                               rate_of[product] / rate_of[label], None, "ratio")
        if self.recorded:
            first = self.recorded[0]
            request = baseline_client.request_bytes(first.method, first.path,
                                                    list(first.headers.items()), first.body)
            self.table.row("  request size as recorded", len(request), None, "bytes",
                           f"body {len(first.body)} bytes")

    # -- 3. unload ----------------------------------------------------------

    def unload(self):
        reps = self.args.reps
        self.table.section("exit: how long EuroScopePlugInExit holds the client's thread")
        cases = [
            ("idle worker", 201, ["init", "sleep 1500", "timed-exit", "unload"]),
            ("attempt in flight, endpoint stalls", "stall",
             ["init", "scratch DOK/S/A1", "sleep 200", "timed-exit", "unload"]),
            ("in the 1 s retry pause (endpoint answers 503)", 503,
             ["init", "scratch DOK/S/A1", "sleep 200", "timed-exit", "unload"]),
        ]
        for label, action, steps in cases:
            seconds = []
            for _ in range(reps):
                receiver = Receiver(default=action).start()
                try:
                    run = self.run_client("unload", ["controller EDDF_GND",
                                                     "flightplan DLH4TK EDDF"] + steps, receiver)
                finally:
                    receiver.stop()
                seconds += run.exit_seconds()
            self._exit_row(label, seconds)
        self._exit_row("right after a burst, endpoint answers 201 (attempt in flight)",
                       self.exits_after_burst["captured, endpoint answers 201"])

    def _exit_row(self, label, seconds):
        ms = [s * 1e3 for s in seconds]
        self.table.row(label, statistics.median(ms), None, "ms",
                       f"runs {min(ms):.1f}..{max(ms):.1f}")

    # -- 4. size and static footprint ---------------------------------------

    def footprint(self):
        dll = os.path.join(os.environ["ZDB_WIN_BUILD"], harness.PLUGIN_NAME)
        self.table.section("DLL size and static footprint (llvm-readobj)")
        self.table.row("ZeltanDokBridge.dll file", os.path.getsize(dll), None, "bytes")
        readobj = _find_readobj()
        if not readobj:
            self.table.row("sections", None, None, "", "llvm-readobj not found")
            return
        sections = subprocess.run([readobj, "--sections", dll], capture_output=True, text=True,
                                  check=True, timeout=60).stdout
        total = 0
        for block in re.findall(r"Section \{(.*?)\n  \}", sections, re.S):
            name = re.search(r"Name: (\S+)", block).group(1)
            virtual = int(re.search(r"VirtualSize: (0x[0-9A-Fa-f]+|\d+)", block).group(1), 0)
            raw = int(re.search(r"RawDataSize: (0x[0-9A-Fa-f]+|\d+)", block).group(1), 0)
            total += virtual
            self.table.row(f"  {name}", virtual, raw, "bytes", "median column: VirtualSize; "
                           "p99 column: RawDataSize")
        self.table.row("  sum of VirtualSize", total, None, "bytes")
        headers = subprocess.run([readobj, "--file-headers", dll], capture_output=True,
                                 text=True, check=True, timeout=60).stdout
        image = re.search(r"SizeOfImage: (\d+)", headers)
        if image:
            self.table.row("  SizeOfImage (mapped, page aligned)", int(image.group(1)), None,
                           "bytes")

    # -- all ----------------------------------------------------------------

    def run(self):
        began = time.monotonic()
        load_before = " ".join(f"{x:.2f}" for x in os.getloadavg())
        self.start_wine()
        try:
            cpus = sorted(os.sched_getaffinity(0))
            if self.args.cpus or len(cpus) == 1:
                self.capture(f"on CPUs {','.join(map(str, cpus))}")
            else:
                self.capture("free scheduling")
                self.capture_on_one_cpu(cpus)
                self.capture_across_cpus(cpus)
            self.wake_up_cost(cpus)
            self.capture_ratio_summary()
            self.delivery()
            self.unload()
        finally:
            self.stop_wine()
        self.footprint()
        print()
        self.table.print()
        if self.wine_baseline_request is not None:
            r = self.wine_baseline_request
            print(f"\nWine baseline request headers: "
                  f"{', '.join(name for name, _ in r.headers.items())}")
        load = " ".join(f"{x:.2f}" for x in os.getloadavg())
        cpus = ",".join(str(cpu) for cpu in sorted(os.sched_getaffinity(0)))
        print(f"\nwine_bench: {_revision()}; {self.runs} client runs in "
              f"{time.monotonic() - began:.0f} s; on CPUs {cpus}; "
              f"{_wine_version(self.env)}; {os.cpu_count()} CPUs; load average {load_before} "
              f"before, {load} after (other work on the machine moves every figure)")


_JSCRIPT = r"""
// Written by wine_bench.py: posts every body on its own request object.
var url = @URL@;
var headers = @HEADERS@;
var bodies = @BODIES@;
var failed = 0;
for (var i = 0; i < bodies.length; i++) {
    var request = new ActiveXObject("WinHttp.WinHttpRequest.5.1");
    request.SetTimeouts(5000, 5000, 5000, 10000);
    request.Open("POST", url, false);
    for (var h = 0; h < headers.length; h++) request.SetRequestHeader(headers[h][0], headers[h][1]);
    request.Send(bodies[i]);
    if (request.Status < 200 || request.Status > 299) failed++;
}
WScript.Echo("baseline: sent " + bodies.length + " failed " + failed);
"""


def pipe_round_trip(client_cpu, server_cpu, count=5000):
    """p50 and p99 in us of a one-byte request and reply over two pipes
    between this process, on client_cpu, and a child on server_cpu."""
    request, reply = os.pipe(), os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.sched_setaffinity(0, {server_cpu})
            for _ in range(count):
                os.write(reply[1], os.read(request[0], 1))
        finally:
            os._exit(0)
    mask = os.sched_getaffinity(0)
    times = []
    try:
        os.sched_setaffinity(0, {client_cpu})
        for _ in range(count):
            began = time.perf_counter_ns()
            os.write(request[1], b"x")
            os.read(reply[0], 1)
            times.append((time.perf_counter_ns() - began) / 1e3)
    finally:
        os.sched_setaffinity(0, mask)
        os.waitpid(child, 0)
        for fd in (*request, *reply):
            os.close(fd)
    return p50(times), p99(times)


def captured_line_length(n):
    """Bytes of the median "Captured" log line of a burst of n: the scratch
    pads DOK/S/A0 .. DOK/S/A<n-1> differ only in the stand's digits."""
    lengths = sorted(len(f"{'0' * 24} Captured assign DLH4TK EDDF A{i}\r\n") for i in range(n))
    return lengths[n // 2]


def _find_readobj():
    for name in ("llvm-readobj", "llvm-readobj-14"):
        for folder in os.environ.get("PATH", "").split(os.pathsep):
            path = os.path.join(folder, name)
            if os.access(path, os.X_OK):
                return path
    return None


def _revision():
    try:
        described = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                                   capture_output=True, text=True, timeout=60).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        described = ""
    return f"sources {described or 'of unknown revision'}"


def _wine_version(env):
    try:
        return subprocess.run(["wine", "--version"], env=env, capture_output=True, text=True,
                              timeout=60).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        return "?"


def main():
    parser = argparse.ArgumentParser(
        description="Figures of ZeltanDokBridge.dll under Wine: capture, delivery, exit, size.")
    parser.add_argument("--build", default=os.environ.get("ZDB_BUILD_DIR",
                                                          os.path.join(ROOT, "build")))
    # At most the queue's 256 even when nothing is delivered: beyond it each
    # call would also log the oldest event's drop.
    parser.add_argument("--burst", type=int, default=250, help="calls per capture burst")
    parser.add_argument("--paced", type=int, default=100, help="calls per paced capture run")
    parser.add_argument("--pause-ms", type=int, default=50,
                        help="pause between paced calls, long enough for one delivery")
    parser.add_argument("--events", type=int, default=250,
                        help="events per delivery run; at most 256 so none is dropped")
    parser.add_argument("--reps", type=int, default=3, help="runs per capture and exit case")
    parser.add_argument("--delivery-reps", type=int, default=7, help="runs per delivery case")
    parser.add_argument("--cpus", help="pin the receiver, Wine and the client to these CPUs, "
                                       "e.g. 0 or 0,1 (default: no pinning)")
    args = parser.parse_args()
    if not 2 <= args.events <= 256:
        parser.error("--events must be 2..256: a 257th event would push out the first")
    if not 100 <= args.burst <= 200000 or not 100 <= args.paced <= 200000:
        parser.error("--burst and --paced must be 100..200000")
    if not 1 <= args.pause_ms <= 60000:
        parser.error("--pause-ms must be 1..60000")
    if args.reps < 1 or args.delivery_reps < 1:
        parser.error("repetitions must be at least 1")
    if args.cpus:
        # Children inherit the mask: the Wine server, the client and its
        # worker all run on these CPUs.
        os.sched_setaffinity(0, {int(cpu) for cpu in args.cpus.split(",")})
    WineBench(args).run()


if __name__ == "__main__":
    main()
