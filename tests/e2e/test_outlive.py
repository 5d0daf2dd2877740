"""A worker that outlives the unload's 30-second wait, under Wine.

A server that sends its status line and then one byte every two seconds
never lets a receive time out, so the worker's attempt outlasts the wait.
The unload must then go on without it, a new load must get its own object
and worker, and the client's FreeLibrary must not unmap the code the old
worker still runs: it holds its own reference until its last act."""

import itertools
import time
import unittest

from harness import LOADED, UNLOADED, BridgeTestCase, ini_text
from raw_server import RawServer


def assign_line(verb, callsign, stand, status=None):
    return f"{verb} assign {callsign} EDDF {stand}" + (f" (HTTP {status})" if status else "")

TRICKLE_SECONDS = 44  # the first attempt's answer trickles this long, then ends


def trickle_then_answer():
    """The first request gets a 503 whose one header trickles in a byte every
    two seconds; every later one a plain 201."""
    answered = itertools.count()

    def answer(send, stopping):
        if next(answered) > 0:
            send(b"HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        send(b"HTTP/1.1 503 Service Unavailable\r\nX-Wait: ")
        deadline = time.monotonic() + TRICKLE_SECONDS
        while time.monotonic() < deadline and not stopping.wait(2):
            send(b"x")
        send(b"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    return RawServer(answer)


class OutlivingWorker(BridgeTestCase, unittest.TestCase):

    def test_unload_goes_on_and_a_new_load_shares_nothing_with_the_stuck_worker(self):
        server = trickle_then_answer()
        self.addCleanup(server.stop)
        bench = self.bench(ini_text(f"http://127.0.0.1:{server.port}/stands"))
        run = bench.run([
            "init", "controller EDDF_GND",
            "flightplan OLD1 EDDF", "scratch DOK/S/A1",
            "sleep 1000",
            "timed-exit",                     # gives up on the stuck worker after 30 s
            "init",                           # a second object, a second worker
            "flightplan NEW1 EDDF", "scratch DOK/S/B2",
            "sleep 2000",
            "timed-exit", "unload",
            "is-loaded",                      # the stuck worker still holds the DLL
            f"sleep {(TRICKLE_SECONDS - 30) * 1000 + 6000}",
            "is-loaded",                      # it let go as its last act
        ], timeout=150)
        self.assert_clean_run(run)
        self.assertEqual(server.requests, 2, "one attempt per load, the new one delivered at once")
        waits = run.exit_seconds()
        self.assertEqual(len(waits), 2, run.describe())
        self.assertGreater(waits[0], 29.0, "the first unload waited its full bound")
        self.assertLess(waits[0], 33.0, "and not longer")
        self.assertLess(waits[1], 3.0, "the second worker was idle")
        self.assertEqual([line for line in run.stdout if line.startswith("is-loaded")],
                         ["is-loaded: yes", "is-loaded: no"], run.describe())
        self.assertEqual(run.messages, [
            LOADED, assign_line("Captured", "OLD1", "A1"), UNLOADED,
            LOADED, assign_line("Captured", "NEW1", "B2"),
            assign_line("Delivered", "NEW1", "B2", 201), UNLOADED,
            # The old worker's attempt ends when the answer does; the stop
            # flag is set, so there is no retry and no "Event abandoned".
            assign_line("Delivery failed", "OLD1", "A1", 503),
        ], run.describe())


if __name__ == "__main__":
    unittest.main()
