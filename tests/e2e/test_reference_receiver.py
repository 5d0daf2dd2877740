"""The reference receiver of examples/: what it refuses and keeps, which
event decides a flight's stand, how long a stalled client is held, and the
DLL under Wine posting to it through the nginx block of examples/ over TLS,
across a re-sent request and a reload."""

import concurrent.futures
import contextlib
import html
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

import test_https  # the throw-away authority and its clean-up
from harness import (LOADED, TOKEN, UNLOADED, USER_AGENT, BridgeTestCase, ini_text,
                     refused_port, work_dir)

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
sys.path.insert(0, EXAMPLES)
import reference_receiver  # noqa: E402

# The token controllers move to while the old one is still accepted.
NEW_TOKEN = "e2e-new-token-ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
GOOD = (b'{"action":"assign","callsign":"DLH4TK","observedAt":"2026-12-07T08:16:27.430Z",'
        b'"controller":"EDDF_GND","destination":"EDDF","stand":"V155"}')


def start(testcase, folder, wrap=None, **limits):
    """The receiver as its main() serves it, on a free loopback port;
    `wrap` is a WSGI middleware around the application."""
    log_file = open(os.path.join(folder, "receiver.log"), "a", encoding="utf-8")
    testcase.addCleanup(log_file.close)
    store = reference_receiver.Store(os.path.join(folder, "stands.db"))
    app = reference_receiver.Receiver([TOKEN, NEW_TOKEN], store, log_file=log_file)
    server = reference_receiver.make_server(wrap(app) if wrap else app, port=0,
                                            log_file=log_file, **limits)
    server.app, server.address = app, ("127.0.0.1", server.effective_port)
    thread = threading.Thread(target=server.run, daemon=True)
    thread.start()

    def stop():
        server.stop()
        thread.join(5)
        testcase.assertFalse(thread.is_alive(), "the server did not stop")
    testcase.addCleanup(stop)
    return server


def request(body, token=TOKEN, path="/stands", length=None, agent=USER_AGENT):
    """A POST as bytes; length=False leaves Content-Length out."""
    head = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
            f"User-Agent: {agent}\r\n")
    if token is not None:
        head += f"Authorization: Bearer {token}\r\n"
    if length is not False:
        head += f"Content-Length: {len(body) if length is None else length}\r\n"
    return head.encode() + b"\r\n" + body


def send(server, data):
    """(status, answer body) for raw request bytes, (None, "") when the
    connection closed without an answer; the request side is shut after
    them, so a body shorter than announced ends there."""
    with socket.create_connection(server.address, timeout=20) as sock:
        sock.sendall(data)
        sock.shutdown(socket.SHUT_WR)
        answer = b""
        while chunk := sock.recv(65536):
            answer += chunk
    if not answer:
        return None, ""
    head, _, text = answer.partition(b"\r\n\r\n")
    return int(head.split()[1]), text.decode()


def stored_bodies(server):
    return [row[0] for row in
            server.app.store.connection().execute("SELECT body FROM events ORDER BY id")]


# A cell holding markup matches no row: a text shown unescaped loses its row.
BOARD_ROW = re.compile(r"<tr><td>([^<]*)<td>([^<]*)<td>([^<]*)<td")


def html_rows(page):
    """(airport, callsign, stand, how) of each row of the HTML board, the
    texts as a browser shows them."""
    parts = re.split(r"<h2>([^<]*)</h2>", page)
    return [(None if airport == "(no airport named)" else html.unescape(airport),
             html.unescape(callsign), html.unescape(stand), how)
            for airport, table in zip(parts[1::2], parts[2::2])
            for stand, callsign, how in BOARD_ROW.findall(table)]


def page_rows(base, cafile=None):
    """The board's rows from /board.json and from the HTML page at `base`,
    in order; over https trusting `cafile`."""
    context = ssl.create_default_context(cafile=cafile) if cafile else None
    pages = []
    for page in ("/board.json", "/"):
        with urllib.request.urlopen(base + page, timeout=10, context=context) as answer:
            pages.append(answer.read().decode())
    board = json.loads(pages[0])["airports"]
    return board_rows((a["airport"], a["stands"]) for a in board), html_rows(pages[1])


def board_rows(board):
    """(airport, callsign, stand, how) of every board entry."""
    return [(airport, s["callsign"], s["stand"], s["how"]) for airport, stands in board
            for s in stands]


def event(action, callsign, second, destination=None, stand=None, controller="EDDF_GND"):
    fields = {"action": action, "callsign": callsign,
              "observedAt": f"2026-12-07T08:16:{second:02d}.000Z", "controller": controller}
    fields.update({k: v for k, v in (("destination", destination), ("stand", stand)) if v})
    return json.dumps(fields, separators=(",", ":")).encode()


class Requests(unittest.TestCase):

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.server = start(self, folder.name)

    def test_bad_input_is_refused_by_its_check_and_loses_nothing_stored(self):
        leap_second = event("cancel", "UAE9", 60, "EDDF")
        not_utf8 = GOOD.replace(b"V155", b"V\xe9")
        with_gate = event("manual_occupy", "DLH4TK", 30, stand="Z5")[:-1] + b',"gate":"B"}'
        rotated = event("assign", "UAE9", 40, "EDDF", "A26")
        self.assertEqual(send(self.server, request(GOOD))[0], 201)
        # (what, request, status or None for no answer, the start of the
        # answer: the check that decided)
        cases = [
            ("no token", request(GOOD, token=None), 401, "bad token"),
            ("token with a byte more", request(GOOD, token=TOKEN + "x"), 401, "bad token"),
            ("token a byte short", request(GOOD, token=TOKEN[:-1]), 401, "bad token"),
            ("the new token beside the old", request(rotated, token=NEW_TOKEN), 201,
             "stored assign UAE9 EDDF A26"),
            ("another path", request(GOOD, path="/other"), 404, "no such path"),
            ("no Content-Length", request(b"", length=False), 411, "Content-Length missing"),
            # Far more than a socket buffer: answered before it is all read,
            # the rest would come back as a reset instead of the 413.
            ("oversized, read to its end", request(b"{" + b" " * 300000 + b"}"), 413,
             "body too large"),
            ("beyond what is worth reading", request(b"", length=(1 << 20) + 1), 413,
             "Request Entity Too Large"),
            ("a header block beyond the server's limit",
             request(GOOD, path="/stands?" + "x" * 20000), 431, "Request Header Fields"),
            ("a transfer coding the server does not know",
             request(GOOD).replace(b"\r\n", b"\r\nTransfer-Encoding: gzip\r\n", 1), 501,
             "Not Implemented"),
            ("shorter than announced", request(GOOD, length=len(GOOD) + 10), None, ""),
            ("cut JSON", request(GOOD[:-1]), 400, "not JSON"),
            ("nested too deep for the parser", request(b"[" * 2000 + b"]" * 2000), 400, "not JSON"),
            ("a key twice", request(GOOD[:-1] + b',"stand":"V156"}'), 400,
             "not JSON: a key repeated"),
            ("unpaired surrogate escape", request(GOOD.replace(b'"V155"', b'"\\ud800"')), 400,
             "not JSON: unpaired"),
            ("schema: an action in other letters", request(GOOD.replace(b"assign", b"Assign")),
             422, "schema: action"),
            ("schema: a key this version does not have", request(with_gate), 422,
             "schema: body: Additional properties"),
            ("schema: a year past 9999", request(GOOD.replace(b'"2026-', b'"12026-')), 422,
             "schema: observedAt"),
            ("the same body again", request(GOOD), 200, "stored before assign DLH4TK EDDF V155"),
            # What the contract says to take although it looks odd.
            ("a leap second", request(leap_second), 201, "stored cancel UAE9 EDDF"),
            # Absent keys must not defeat the unique key, as NULLs in it would.
            ("a body without stand again", request(leap_second), 200,
             "stored before cancel UAE9 EDDF"),
            ("a stand that is not UTF-8", request(not_utf8), 201, "stored assign DLH4TK EDDF V?"),
            ("a later version's new key", request(with_gate, agent="ZELTAN-DOK-Bridge/0.2"), 201,
             "stored manual_occupy DLH4TK Z5"),
            ("the board under a name not given to it",
             b"GET / HTTP/1.1\r\nHost: stands.attacker.example\r\n\r\n", 421, "not served"),
        ]
        for what, data, status, answer in cases:
            with self.subTest(what):
                got = send(self.server, data)
                self.assertEqual(got[0], status, got)
                self.assertTrue(got[1].startswith(answer), got)
        self.assertEqual(stored_bodies(self.server),
                         [GOOD, rotated, leap_second, not_utf8, with_gate])
        with open(os.path.join(self.folder, "receiver.log"), encoding="utf-8") as handle:
            lines = handle.read().splitlines()
        self.assertEqual(len(lines), 1 + len(cases), "one log line per request:\n" + "\n".join(lines))

    def test_a_stalled_or_trickling_request_is_cut_off_and_others_go_on(self):
        server = start(self, self.folder, read_timeout=1, request_deadline=5)
        half = request(GOOD)[:len(request(GOOD)) // 2]
        # (what, pause between further bytes, the bound on the hold)
        for what, pause, bound in [("half a request, then silence", 0, 1),
                                   ("a byte every 0.25 s", 0.25, 5)]:
            with self.subTest(what), socket.create_connection(server.address, bound + 5) as sock:
                begin = time.monotonic()
                with contextlib.suppress(ConnectionError):  # closed while it was still sending
                    sock.sendall(half)
                    while pause and time.monotonic() - begin < bound + 3:
                        time.sleep(pause)
                        sock.sendall(b"x")
                    self.assertEqual(sock.recv(100), b"", "answered a half request")
                held = time.monotonic() - begin
                self.assertGreater(held, bound - 0.1)
                # The check runs once a second, in a loop that wakes at
                # least once a second; the rest is slack for a busy machine.
                self.assertLess(held, bound + 2.5, f"held {held:.1f} s")
        self.assertEqual(send(server, request(GOOD))[0], 201)

    def test_copies_of_one_body_at_once_are_stored_once(self):
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda _: send(self.server, request(GOOD))[0], range(8)))
        self.assertEqual(sorted(answers), [200] * 7 + [201])
        self.assertEqual(stored_bodies(self.server), [GOOD])

    def test_a_store_that_fails_answers_5xx_so_that_the_plugin_tries_again(self):
        self.server.app.store.connection().execute("DROP TABLE events")
        status, text = send(self.server, request(GOOD))
        self.assertEqual((status, text.split(":")[0]), (503, "not stored"))

    def test_the_deciding_event_of_each_flight_and_airport_on_both_boards(self):
        # (what, events in order of arrival, the board after them, in its order)
        cases = [
            ("a later observedAt wins though it came first",
             [event("assign", "A", 20, "EDDF", "A2"), event("assign", "A", 10, "EDDF", "A1")],
             [("EDDF", "A", "A2", "assigned")]),
            ("equal observedAt: the later arrival wins",
             [event("assign", "A", 10, "EDDF", "A1"), event("cancel", "A", 10, "EDDF")], []),
            ("a cancel holds against an older assign that comes late",
             [event("cancel", "A", 20, "EDDF"), event("assign", "A", 10, "EDDF", "A1")], []),
            ("airports and assigned/occupied kept apart, stands in order",
             [event("assign", "A", 10, "EDDF", "A10"), event("assign", "A", 11, "EDDM", "M1"),
              event("manual_occupy", "A", 12, "EDDF", "V2"),
              event("assign", "B", 12, "EDDF", "A9")],
             [("EDDF", "B", "A9", "assigned"), ("EDDF", "A", "A10", "assigned"),
              ("EDDF", "A", "V2", "occupied"), ("EDDM", "A", "M1", "assigned")]),
            ("manual_cancel ends earlier occupations anywhere, not later ones",
             [event("manual_occupy", "A", 10, "EDDF", "V1"),
              event("manual_occupy", "A", 11, None, "Z5"),
              event("manual_occupy", "B", 11, None, "Z6"), event("manual_cancel", "A", 12),
              event("manual_occupy", "A", 13, "EDDM", "G1"),
              event("manual_occupy", "A", 11, "EDDF", "V3")],  # late, and older than the cancel
             [("EDDM", "A", "G1", "occupied"), (None, "B", "Z6", "occupied")]),
            ("between controllers the later arrival wins, whatever their clocks",
             [event("assign", "A", 50, "EDDF", "A1", controller="FAST_PC"),
              event("assign", "A", 10, "EDDF", "A2", controller="EDDF_GND"),
              event("manual_occupy", "A", 50, "EDDF", "V1", controller="FAST_PC"),
              event("manual_cancel", "A", 10, controller="EDDF_GND")],
             [("EDDF", "A", "A2", "assigned")]),
            ("a controller's own older event arriving late does not win",
             [event("assign", "A", 20, "EDDF", "A1", controller="EDDF_APP"),
              event("assign", "A", 10, "EDDF", "A2", controller="EDDF_GND"),
              event("assign", "A", 5, "EDDF", "A3", controller="EDDF_APP")],
             [("EDDF", "A", "A2", "assigned")]),
            ("texts shown as typed",
             [event("assign", "A", 10, "EDDF", "<B>&1"),
              event("assign", "B", 10, "EDDF", "V\u202e155")],
             [("EDDF", "A", "<B>&1", "assigned"), ("EDDF", "B", "V\u202e155", "assigned")]),
        ]
        for what, events, board in cases:
            with self.subTest(what):
                with tempfile.TemporaryDirectory() as folder:
                    server = start(self, folder)
                    for body in events:
                        self.assertEqual(send(server, request(body))[0], 201, body)
                    from_json, from_page = page_rows(f"http://127.0.0.1:{server.address[1]}")
                    self.assertEqual(from_json, board)
                    # A control that turns a line around shows as a mark.
                    self.assertEqual(from_page, [(a, c, s.replace("\u202e", "\ufffd"), h)
                                                 for a, c, s, h in board])
                    self.assertEqual(server.app.store.board(hours=1e-9), [], "the window")


def start_nginx(test, certificate, upstream_port):
    """nginx from the machine with the block of examples/ as shipped but for
    its port, certificate and upstream, in a prefix of its own: config, pid,
    logs and temporary files in the work folder, none of the system's.
    Returns its port."""
    prefix = os.path.join(work_dir(), "test_reference_receiver", "nginx")
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    with refused_port() as taken:
        port = taken.getsockname()[1]
    with open(os.path.join(EXAMPLES, "nginx-receiver.conf"), encoding="utf-8") as handle:
        block = handle.read()
    for shipped, here in (("listen 443 ssl;", f"listen 127.0.0.1:{port} ssl;"),
                          ("/etc/ssl/certs/stands.example.org.pem", certificate[0]),
                          ("/etc/ssl/private/stands.example.org.key", certificate[1]),
                          ("http://127.0.0.1:8080;", f"http://127.0.0.1:{upstream_port};")):
        test.assertIn(shipped, block, "the example block changed; so must this test")
        block = block.replace(shipped, here)
    config = os.path.join(prefix, "nginx.conf")
    with open(config, "w", encoding="utf-8") as handle:
        handle.write(
            f"daemon off;\nmaster_process off;\npid {prefix}/nginx.pid;\n"
            f"error_log {prefix}/error.log info;\nevents {{ worker_connections 64; }}\n"
            f"http {{\naccess_log {prefix}/access.log;\n"
            + "".join(f"{kind}_temp_path {prefix}/{kind};\n"
                      for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
            + block + "}\n")
    # Whatever it has to say before its own log is open goes to that log (-e).
    process = subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-p", prefix,
                                "-c", config, "-e", os.path.join(prefix, "error.log")],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.STDOUT, start_new_session=True)

    def stop():
        process.terminate()
        process.wait(10)
    test.addCleanup(stop)
    deadline = time.monotonic() + 10
    while process.poll() is None and time.monotonic() < deadline:
        with contextlib.suppress(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return port
        time.sleep(0.1)
    with open(os.path.join(prefix, "error.log"), errors="replace") as log:
        test.fail(f"nginx did not start: {log.read()[-2000:]}")


class UnderWine(BridgeTestCase, unittest.TestCase):
    """Through the nginx block of examples/ over TLS, as deployed: a
    certificate for localhost from a throw-away authority the machine (and
    so Wine) trusts while this class runs."""

    @classmethod
    def setUpClass(cls):
        test_https.skip_unless_trust_can_change()
        folder = os.path.join(work_dir(), "test_reference_receiver", "pki")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        authority = test_https.Authority(folder, "front")
        cls.certificate = authority.issue("front", ["DNS:localhost"])
        os.remove(authority.key)
        cls.authority = authority.cert
        test_https.trust(authority, cls.addClassCleanup)

    def test_each_event_stored_once_and_the_board_final_after_a_resend_and_a_reload(self):
        bench = self.bench()
        held = threading.Event()

        def hold_first_answer(app):
            # The first event is stored, then its answer held past the
            # plug-in's 10 s, so the same body comes again while this
            # request is still open.
            def holding(environ, start_response):
                body = app(environ, start_response)
                if environ["REQUEST_METHOD"] == "POST" and not held.is_set():
                    held.set()
                    time.sleep(13)
                return body
            return holding

        server = start(self, bench.folder, hold_first_answer, behind_proxy=True)
        front = start_nginx(self, self.certificate, server.address[1])
        bench.write_ini(ini_text(f"https://localhost:{front}/stands"))
        run = bench.run([
            "init", "controller EDDF_GND",
            "flightplan DLH4TK EDDF", "scratch DOK/S/V155",
            "flightplan UAE9 EDDF", "scratch DOK/S/A26", "scratch DOK/S/",
            "flightplan CFG1KL EDDM", "scratch DOK/S/<B>&1",
            "flightplan DLH4TK EDDF", "scratch DOK/M//Z5",
            "sleep 16000", "exit", "unload",
            "init", "controller EDDF_GND",
            "flightplan DLH4TK EDDF", "scratch DOK/M/", "scratch DOK/M/EDDF/V156",
            "scratch DOK/S/V160",
            "flightplan UAE9 EDDF", "scratch DOK/S/A24",
            "sleep 2000", "exit", "unload"])
        self.assert_clean_run(run)
        bodies = stored_bodies(server)
        self.assertEqual(len(bodies), len(set(bodies)), f"stored more than once: {bodies}")
        messages = run.messages
        self.assertEqual([m for m in messages if m in (LOADED, UNLOADED)],
                         [LOADED, UNLOADED, LOADED, UNLOADED], run.describe())
        captured = [m[len("Captured "):] for m in messages if m.startswith("Captured ")]
        self.assertEqual(len(captured), 9, run.describe())
        resent = "assign DLH4TK EDDF V155"
        self.assertEqual([m for m in messages if resent in m],
                         [f"Captured {resent}", f"Delivery failed {resent}",
                          f"Delivered {resent} (HTTP 200)"], run.describe())
        with open(os.path.join(bench.folder, "receiver.log"), encoding="utf-8") as log:
            answers = [line.split()[4] for line in log if line.split()[2] == "POST"]
        self.assertEqual(answers, ["201", "200"] + ["201"] * 8, run.describe())
        summaries = [" ".join(v for k, v in json.loads(b).items()
                              if k in ("action", "callsign", "destination", "stand"))
                     for b in bodies]
        self.assertEqual(sorted(summaries), sorted(captured))

        # UAE9's A26 and cancel, and DLH4TK's manual_cancel and V156, may
        # share one observedAt: then the later arrival decides.
        final = [("EDDF", "DLH4TK", "V156", "occupied"), ("EDDF", "DLH4TK", "V160", "assigned"),
                 ("EDDF", "UAE9", "A24", "assigned"), ("EDDM", "CFG1KL", "<B>&1", "assigned")]
        from_json, from_page = page_rows(f"https://localhost:{front}", self.authority)
        self.assertEqual(sorted(from_json), final)
        # The stand "<B>&1" shows as typed only if escaped.
        self.assertEqual(sorted(from_page), final)

if __name__ == "__main__":
    unittest.main()
