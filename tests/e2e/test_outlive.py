"""A worker that outlives the unload's 30-second wait, under Wine.

A server that sends its status line and then one byte every two seconds
never lets a receive time out, so the worker's attempt outlasts the wait.
The unload must then go on without it, a new load must get its own object
and worker, and the client's FreeLibrary must not unmap the code the old
worker still runs: it holds its own reference until its last act."""

import socket
import threading
import time
import unittest

from harness import LOADED, UNLOADED, BridgeTestCase, ini_text


def assign_line(verb, callsign, stand, status=None):
    return f"{verb} assign {callsign} EDDF {stand}" + (f" (HTTP {status})" if status else "")

TRICKLE_SECONDS = 44  # the first attempt's answer trickles this long, then ends


class TrickleThenAnswer:
    """The first connection gets a 503 whose one header trickles in a byte
    every two seconds; every later one a plain 201."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.connections = 0
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    @property
    def port(self):
        return self.listener.getsockname()[1]

    def stop(self):
        self.stopping.set()
        self.listener.close()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            serve = self._trickle if self.connections == 1 else self._answer
            threading.Thread(target=serve, args=(connection,), daemon=True).start()

    def _trickle(self, connection):
        with connection:
            connection.recv(65536)
            connection.sendall(b"HTTP/1.1 503 Service Unavailable\r\nX-Wait: ")
            deadline = time.monotonic() + TRICKLE_SECONDS
            while time.monotonic() < deadline and not self.stopping.wait(2):
                connection.sendall(b"x")
            connection.sendall(b"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    def _answer(self, connection):
        with connection:
            connection.recv(65536)
            connection.sendall(b"HTTP/1.1 201 Created\r\nContent-Length: 0\r\n"
                               b"Connection: close\r\n\r\n")


class OutlivingWorker(BridgeTestCase, unittest.TestCase):

    def test_unload_goes_on_and_a_new_load_shares_nothing_with_the_stuck_worker(self):
        server = TrickleThenAnswer()
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
