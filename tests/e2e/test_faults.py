"""The fault matrix: the ways an endpoint can fail an event for good, each
ending in the right log lines, a clean client and a bounded unload; then
unloading at each stage of a delivery. The cases run side by side in
separate client processes; the module ends by printing the matrix and
writing it to <ZDB_E2E_WORK>/fault_matrix.txt.

test_delivery covers the single failure followed by success, the pauses and
redirect targets; here each fault persists until the event is abandoned."""

import datetime
import os
import shutil
import subprocess
import sys
import unittest
from dataclasses import dataclass, field

from harness import (QUEUE_FULL, UNLOADED, Bench, event_line, ini_text, refused_port,
                     run_concurrently, work_dir)
from raw_server import RawServer
from receiver import Receiver, parse_json_object
from test_delivery import EVENT_MESSAGE, DeliveryTestCase, assign, gap, scratch_steps

PAUSES = (1.0, 2.0, 4.0)
RESOLVE_TIMEOUT = 5.0
RECEIVE_TIMEOUT = 10.0
SHUTDOWN_WAIT = 30.0  # the unload's bound on waiting for the worker
HEADER_LINE_SECONDS = 3.0
HEADER_GAP = 12.0
# Slack on every bound: nine clients of this module run at once, besides
# whatever else the machine runs.
SLACK = 3.0
IDLE_UNLOAD = 3.0
# Four attempts failing at once and their pauses, with room to spare.
QUICK_FAILURES_MS = 9000

VERBS = ("Captured", "Delivered", "Delivery failed", "Event abandoned")

# Runs a command in a network namespace of its own whose name server, on
# its loopback, takes every query and never answers; the mount namespace
# gives it its own /etc/resolv.conf. argv: resolv.conf, then the command.
SILENT_RESOLVER = """
import socket, subprocess, sys
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
subprocess.run(["mount", "--bind", sys.argv[1], "/etc/resolv.conf"], check=True)
hole = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
hole.bind(("127.0.0.1", 53))
sys.exit(subprocess.run(sys.argv[2:]).returncode)
"""

_rows = []  # filled by the matrix, printed when the module ends


@dataclass
class Case:
    name: str
    callsign: str
    server: object  # starts the endpoint: f(cleanups) -> (url, f() -> requests seen, server)
    sleep_ms: int
    expected: list  # the log lines about `callsign`, in order
    unload_bound: float  # seconds the timed exit may take
    longest_attempt: float = None  # seconds one attempt may take
    attempts: int = 4  # requests the server must have seen, when it can see any
    extra_steps: list = field(default_factory=list)  # after the event, before the sleep
    final_steps: list = field(default_factory=list)  # after the unload
    counts: dict = field(default_factory=dict)  # exact counts of whole-log lines
    check: object = None  # f(test, run, server) for what is particular to the case
    # None: the machine's network. "offline": a network namespace with no
    # network at all. "silent resolver": see SILENT_RESOLVER.
    isolation: str = None


def failing(callsign, status=None, attempts=4, abandoned=True):
    pairs = assign(callsign)
    lines = [event_line("Captured", pairs)]
    lines += [event_line("Delivery failed", pairs, status)] * attempts
    if abandoned:
        lines.append(event_line("Event abandoned", pairs))
    return lines


def receiver_at(default):
    def start(cleanups):
        receiver = Receiver(default=default).start()
        cleanups.append(receiver.stop)
        return receiver.url(), lambda: len(receiver.snapshot()), receiver
    return start


def raw_answer(answer):
    def start(cleanups):
        server = RawServer(answer)
        cleanups.append(server.stop)
        return f"http://127.0.0.1:{server.port}/stands", lambda: server.requests, server
    return start


def refused(cleanups):
    sock = refused_port()
    cleanups.append(sock.close)
    return f"https://127.0.0.1:{sock.getsockname()[1]}/stands", None, None


def unresolvable(cleanups):
    return "https://zdb-nonexistent.invalid/x", None, None


def redirect_elsewhere(cleanups):
    elsewhere = Receiver().start()
    cleanups.append(elsewhere.stop)
    start = receiver_at((307, {"Location": elsewhere.url("/stolen")}))
    url, attempts, receiver = start(cleanups)
    receiver.elsewhere = elsewhere
    return url, attempts, receiver


def header_lines_forever(send, stopping):
    send(b"HTTP/1.1 200 OK\r\n")
    line = 0
    while not stopping.wait(HEADER_LINE_SECONDS):
        line += 1
        send(b"X-Line-%d: x\r\n" % line)


def header_gap(send, stopping):
    send(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n")
    if not stopping.wait(HEADER_GAP):
        send(b"Content-Length: 0\r\nConnection: close\r\n\r\n")


def held_past_the_unload(test, run, server):
    # Lines kept coming for the whole run, each well inside the 10 s timeout
    # for the answer's headers, yet the attempt never ended: the unload gave
    # up after its full wait and the worker still holds the DLL.
    [waited] = run.exit_seconds()
    test.assertGreater(waited, SHUTDOWN_WAIT - 1, "the unload waited its full bound")
    test.assertIn("is-loaded: yes", run.stdout, run.describe())
    held = unfinished_for(run, "TRICKLE")
    test.assertGreater(held, 4 * RECEIVE_TIMEOUT)
    test.assertGreaterEqual(server.sent, int(held / HEADER_LINE_SECONDS), "lines sent")


def ended_by_the_header_timeout(test, run, server):
    # Cut at the timeout, before the rest of the headers came: what ended the
    # attempt was the wait, not the server.
    [took] = attempt_durations(run, "GAP")
    test.assertGreater(took, RECEIVE_TIMEOUT - 0.5)
    test.assertLess(took, HEADER_GAP)


def nothing_elsewhere(test, run, receiver):
    test.assertEqual(receiver.elsewhere.snapshot(), [], "the redirect was followed")


def same_body_each_time(test, run, receiver):
    bodies = [request.body for request in receiver.snapshot()]
    test.assertEqual(len(set(bodies)), 1, bodies)
    test.assertEqual(dict(parse_json_object(bodies[0]))["callsign"], "F400")


def status_case(status):
    callsign = f"F{status}"
    return Case(f"status {status}", callsign, receiver_at(status), QUICK_FAILURES_MS,
                failing(callsign, status), IDLE_UNLOAD)


CASES = [
    # The longest first: the pool then ends about when it does.
    Case("accepts, never answers", "SILENT", receiver_at("stall"),
         int((4 * RECEIVE_TIMEOUT + sum(PAUSES)) * 1000) + 5000,
         failing("SILENT"), IDLE_UNLOAD, longest_attempt=RECEIVE_TIMEOUT + SLACK),
    # Under Wine the timeout for the answer's headers bounds each read, not
    # the whole header block (WinHTTP on Windows bounds the block, checked as
    # data arrives), so an answer whose header lines trickle in holds the
    # attempt, and so the worker, for as long as they come.
    Case("header lines every 3 s, never ending", "TRICKLE", raw_answer(header_lines_forever),
         20000, [event_line("Captured", assign("TRICKLE"))], SHUTDOWN_WAIT + SLACK, attempts=1,
         final_steps=["is-loaded"], check=held_past_the_unload),
    # Under Wine a read that times out after the status line ends the header
    # block where it stands: the attempt succeeds with the status line's
    # status and whatever headers came.
    Case("status 200, then a 12 s gap in the headers", "GAP", raw_answer(header_gap),
         int((RECEIVE_TIMEOUT + 2.5) * 1000),
         [event_line("Captured", assign("GAP")), event_line("Delivered", assign("GAP"), 200)],
         IDLE_UNLOAD, attempts=1, check=ended_by_the_header_timeout),
    # The lookup's own timeout has to end each attempt: the name server
    # would keep the resolver waiting 30 s.
    Case("name server never answers", "NODNS", unresolvable,
         int((4 * RESOLVE_TIMEOUT + sum(PAUSES)) * 1000) + 4000,
         failing("NODNS"), IDLE_UNLOAD, longest_attempt=RESOLVE_TIMEOUT + SLACK, attempts=None,
         isolation="silent resolver"),
    # .invalid never resolves (RFC 6761); the lookup must fail at once when
    # there is no network to ask, and never leave the machine.
    Case("host name never resolves (offline)", "NXHOST", unresolvable, QUICK_FAILURES_MS,
         failing("NXHOST"), IDLE_UNLOAD, longest_attempt=SLACK, attempts=None,
         isolation="offline"),
    Case("nothing listening (https)", "REFUSED", refused, QUICK_FAILURES_MS,
         failing("REFUSED"), IDLE_UNLOAD, longest_attempt=SLACK, attempts=None),
    # The status line is all the verdict needs: the body that never comes
    # must not hold the worker for the receive timeout.
    Case("headers, then stalls", "HEADERS", receiver_at(("stall-after-headers", 503)),
         QUICK_FAILURES_MS, failing("HEADERS", 503), IDLE_UNLOAD, longest_attempt=SLACK),
    Case("closes mid-answer", "CLOSED", receiver_at("close"), QUICK_FAILURES_MS,
         failing("CLOSED"), IDLE_UNLOAD, longest_attempt=SLACK),
    # An informational status as the only answer: below 200, so not success
    # however the client library classes it.
    Case("status 199 (raw socket)", "F199",
         raw_answer(b"HTTP/1.1 199 Odd\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"),
         QUICK_FAILURES_MS, failing("F199", 199), IDLE_UNLOAD, longest_attempt=SLACK),
    status_case(300),
    Case("status 307, Location elsewhere", "F307", redirect_elsewhere, QUICK_FAILURES_MS,
         failing("F307", 307), IDLE_UNLOAD, check=nothing_elsewhere),
    status_case(401),
    status_case(429),
    status_case(500),
    status_case(503),
    Case("body rejected (400 after reading it)", "F400", receiver_at(400), QUICK_FAILURES_MS,
         failing("F400", 400), IDLE_UNLOAD, check=same_body_each_time),
    # Unloading at each stage of a delivery.
    Case("unload: idle after a delivery", "IDLE", receiver_at(201), 1500,
         [event_line("Captured", assign("IDLE")), event_line("Delivered", assign("IDLE"), 201)],
         IDLE_UNLOAD, attempts=1),
    # The attempt in flight runs to its receive timeout; no retry follows.
    Case("unload: during an attempt to a silent server", "MIDPOST", receiver_at("stall"), 1000,
         failing("MIDPOST", attempts=1, abandoned=False), RECEIVE_TIMEOUT + SLACK, attempts=1),
    Case("unload: during a name lookup", "MIDLOOKUP", unresolvable, 1000,
         failing("MIDLOOKUP", attempts=1, abandoned=False), RESOLVE_TIMEOUT + SLACK,
         attempts=None, isolation="silent resolver"),
    # Attempts at about 0, 1 and 3 s, then the 4 s pause: the exit at 5 s
    # falls in its middle.
    Case("unload: during the 4 s pause", "MIDPAUSE", receiver_at(500), 5000,
         failing("MIDPAUSE", 500, attempts=3, abandoned=False), PAUSES[2] + SLACK, attempts=3),
    # A full queue behind the stalled attempt is dropped without a line and
    # without a request.
    Case("unload: silent server, full queue behind", "QHEAD", receiver_at("stall"), 1000,
         failing("QHEAD", attempts=1, abandoned=False), RECEIVE_TIMEOUT + SLACK, attempts=1,
         extra_steps=["sleep 500", "flightplan QTAIL EDDF", "burst 299 DOK/S/Q"],
         counts={"Captured": 300, QUEUE_FULL: 299 - 256, "Delivery failed": 1, "Delivered": 0,
                 "Event abandoned": 0}),
]


def attempt_durations(run, callsign):
    """How long each attempt that ended took, from the log: an attempt starts
    at the capture or where the pause after the previous failure ends."""
    captured, ends = None, []
    for line in run.log:
        match = EVENT_MESSAGE.match(line.message)
        if not match or match.group(1) != callsign:
            continue
        if line.message.startswith("Captured ") and captured is None:
            captured = line.stamp
        elif line.message.startswith(("Delivery failed ", "Delivered ")):
            ends.append(line.stamp)
    if captured is None:
        return []
    durations, start = [], captured
    for index, ended in enumerate(ends):
        durations.append(gap(ended, start))
        if index < len(PAUSES):
            start = ended + datetime.timedelta(seconds=PAUSES[index])
    return durations


def unfinished_for(run, callsign):
    """Seconds from the capture to the client's end, when no attempt ended."""
    stamps = [line.stamp for line in run.log
              if (match := EVENT_MESSAGE.match(line.message)) and match.group(1) == callsign]
    if len(stamps) != 1:
        return None
    return gap(run.ended, stamps[0])


def count_lines(messages):
    counts = {verb: sum(1 for m in messages if m.startswith(f"{verb} ")) for verb in VERBS}
    counts[QUEUE_FULL] = messages.count(QUEUE_FULL)
    return counts


def status_summary(messages):
    found = {}
    for message in messages:
        if message.startswith("Delivery failed ") or message.startswith("Delivered "):
            status = message.rsplit("(HTTP ", 1)[1].rstrip(")") if "(HTTP " in message else "none"
            found[status] = found.get(status, 0) + 1
    return ", ".join(f"{status} x{count}" for status, count in found.items()) or "-"


def isolation_launchers():
    """The words that put a client in each kind of isolation, or None where
    this machine cannot (unshare needs root or user namespaces)."""
    probe = subprocess.run(["unshare", "--net", "--mount", "true"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    if probe.returncode != 0 or not shutil.which("ip"):
        return {"offline": None, "silent resolver": None}
    resolv = os.path.join(work_dir(), "test_faults", "silent-resolv.conf")
    os.makedirs(os.path.dirname(resolv), exist_ok=True)
    with open(resolv, "w") as handle:
        handle.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n")
    return {"offline": ["unshare", "--net"],
            "silent resolver": ["unshare", "--net", "--mount", sys.executable, "-c",
                                SILENT_RESOLVER, resolv]}


def table_row(case, outcome):
    run, seen = outcome.get("run"), outcome.get("seen")
    if run is None:
        return [case.name] + ["-"] * 8 + ["not run: no network namespaces"]
    if not hasattr(run, "messages"):
        return [case.name] + ["?"] * 5 + ["-", "-", "-", f"run failed: {run}"[:60]]
    try:
        messages = run.messages
    except AssertionError as error:
        return [case.name] + ["?"] * 8 + [str(error)[:60]]
    counts = count_lines(messages)
    waited = run.exit_seconds()
    durations = attempt_durations(run, case.callsign)
    held = unfinished_for(run, case.callsign)
    longest = (f"{max(durations):.2f}" if durations else
               f"none ended in {held:.0f}" if held is not None else "-")
    return [case.name, *(str(counts[verb]) for verb in VERBS), str(counts[QUEUE_FULL]),
            status_summary(messages), "-" if seen is None else str(seen),
            longest,
            f"{waited[0]:.2f}" if waited else "?"]


HEADER = ["case", "Captured", "Delivered", "Failed", "Abandoned", "Queue full", "statuses",
          "attempts seen", "longest attempt s", "unload s"]


def format_table(rows):
    widths = [max(len(str(row[i])) for row in [HEADER] + rows) for i in range(len(HEADER))]
    lines = [" | ".join(str(cell).ljust(width) for cell, width in zip(row, widths))
             for row in [HEADER] + rows]
    lines.insert(1, "-+-".join("-" * width for width in widths))
    return "\n".join(lines)


def tearDownModule():
    if not _rows:
        return
    text = format_table(_rows)
    print("\nFault matrix (log lines per verb, requests the server saw, time to unload):\n" +
          text, flush=True)
    os.makedirs(work_dir(), exist_ok=True)
    with open(os.path.join(work_dir(), "fault_matrix.txt"), "w") as handle:
        handle.write(text + "\n")


class FaultMatrix(DeliveryTestCase, unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cleanups = []
        cls.addClassCleanup(lambda: [stop() for stop in reversed(cleanups)])
        cls.outcomes = {}
        launchers = isolation_launchers()
        jobs, started = [], []
        for case in CASES:
            outcome = cls.outcomes[case.name] = {"run": None, "seen": None}
            if case.isolation and launchers[case.isolation] is None:
                continue
            url, attempts, server = case.server(cleanups)
            bench = Bench(f"test_faults/{case.callsign}", ini_text(url))
            bench.launcher = launchers[case.isolation] if case.isolation else []
            steps = (["init", "controller EDDF_GND"] + scratch_steps(case.callsign) +
                     case.extra_steps + [f"sleep {case.sleep_ms}", "timed-exit", "unload"] +
                     case.final_steps)
            jobs.append((bench, steps))
            started.append(case)
            outcome.update(attempts=attempts, server=server)
        longest = max(case.sleep_ms for case in CASES) / 1000
        runs = run_concurrently(jobs, workers=9, timeout=longest + 60)
        for case, run in zip(started, runs):
            outcome = cls.outcomes[case.name]
            outcome["run"] = run
            outcome["seen"] = outcome["attempts"]() if outcome["attempts"] else None
        for case in CASES:
            _rows.append(table_row(case, cls.outcomes[case.name]))

    def check(self, names):
        self.assertLessEqual(set(names), {case.name for case in CASES})
        for case in CASES:
            if case.name not in names:
                continue
            with self.subTest(case.name):
                outcome = self.outcomes[case.name]
                run = outcome["run"]
                if run is None:
                    self.skipTest(f"cannot put the client in isolation ({case.isolation}): "
                                  "unshare --net --mount failed")
                if isinstance(run, Exception):
                    raise run
                self.assert_clean_run(run)
                self.assert_log_sane(run)
                self.assertEqual(self.event_messages(run, case.callsign), case.expected,
                                 run.describe())
                self.assertEqual(run.messages[-1], UNLOADED, run.describe())
                counts = count_lines(run.messages)
                for name, count in case.counts.items():
                    self.assertEqual(counts[name], count, name)
                if case.attempts is not None and outcome["seen"] is not None:
                    self.assertEqual(outcome["seen"], case.attempts, "requests the server saw")
                if case.longest_attempt is not None:
                    durations = attempt_durations(run, case.callsign)
                    self.assertLessEqual(max(durations), case.longest_attempt, durations)
                [waited] = run.exit_seconds()
                self.assertLess(waited, case.unload_bound, "time to unload")
                if case.check:
                    case.check(self, run, outcome["server"])

    def test_unreachable_endpoints_fail_each_attempt_promptly(self):
        self.check({"name server never answers", "host name never resolves (offline)",
                    "nothing listening (https)"})

    def test_broken_exchanges_fail_without_holding_the_worker(self):
        self.check({"accepts, never answers", "headers, then stalls", "closes mid-answer"})

    def test_slow_headers_are_bounded_per_read_not_as_a_whole(self):
        self.check({"header lines every 3 s, never ending",
                    "status 200, then a 12 s gap in the headers"})

    def test_statuses_outside_2xx_are_retried_then_abandoned(self):
        self.check({case.name for case in CASES if case.callsign.startswith("F")})

    def test_unload_at_each_stage_is_bounded(self):
        self.check({case.name for case in CASES if case.name.startswith("unload:")})


if __name__ == "__main__":
    unittest.main()
