#!/usr/bin/env python3
"""A receiver for ZELTAN DOK Bridge stand events that follows the endpoint
contract (docs/endpoint.md), to copy and adapt. Python's standard library,
jsonschema, and SQLite as the store.

    reference_receiver.py --token TOKEN [--token OLD_TOKEN] [--port 8080]
                          [--bind 127.0.0.1] [--path /stands] [--db stands.db]
    reference_receiver.py --db stands.db --print-board

    POST <path>        one event: 201 stored, 200 stored before, 4xx refused,
                       503 the store failed (the plug-in tries again)
    GET  /             the current stands per airport, as HTML
    GET  /board.json   the same as JSON

One line per request on standard error; a refusal says why. Give --token
twice while controllers move from an old token to a new one. The board is
not behind the token: bind it to loopback, or put it behind your own access
control.
"""

import argparse
import contextlib
import datetime
import hmac
import html
import http.server
import json
import os
import re
import sqlite3
import sys

import jsonschema

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs",
                           "stand-event.schema.json")
# The plug-in's bodies are at most 373 bytes.
MAX_BODY = 4096
# A refused body is still read to its end: closing with bytes unread sends a
# TCP reset, which can reach the plug-in before the status line does. Beyond
# this much the sender is not the plug-in, and the connection is just closed.
MAX_DRAIN = 1 << 20
LEAP_SECOND = re.compile(r"\A(.{16}):60(\.[0-9]{3}Z)\Z")

TABLE = """
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY,  -- arrival order, which breaks observedAt ties
  received_at TEXT NOT NULL,
  action TEXT NOT NULL,
  observed_at TEXT NOT NULL,
  -- The texts are stored as the bytes sent, in no known encoding. A null
  -- controller and an absent destination or stand are stored as b'': the
  -- body never carries "" there, and UNIQUE would let NULLs repeat.
  callsign BLOB NOT NULL,
  controller BLOB NOT NULL,
  destination BLOB NOT NULL,
  stand BLOB NOT NULL,
  body BLOB NOT NULL,
  UNIQUE (action, callsign, observed_at, controller, destination, stand)
)"""

# Per flight and airport the event with the later observedAt decides, an
# assign or cancel for the stand assigned, a manual_occupy for the stand
# occupied. Equal observedAt: the one stored last, as one plug-in sends in
# capture order (but for a request it gave up on that ends here late). A
# manual_cancel names no airport; here it withdraws every earlier
# manual_occupy of its flight. Clocks of different controllers' PCs
# differ, so between controllers "later" is only as good as those clocks.
BOARD = """
WITH latest AS (
  SELECT *, row_number() OVER (
      PARTITION BY callsign, destination, action = 'manual_occupy'
      ORDER BY observed_at DESC, id DESC) AS rank
  FROM events WHERE action != 'manual_cancel')
SELECT destination, callsign, stand, action, observed_at, controller FROM latest
WHERE rank = 1 AND action != 'cancel'
  AND NOT (action = 'manual_occupy' AND EXISTS (
      SELECT 1 FROM events AS later
      WHERE later.action = 'manual_cancel' AND later.callsign = latest.callsign
        AND (later.observed_at, later.id) > (latest.observed_at, latest.id)))
ORDER BY destination, callsign, action"""


class Refused(Exception):
    def __init__(self, status, reason):
        super().__init__(reason)
        self.status = status
        self.reason = reason


class Store:
    """One SQLite connection per call, so that handler threads share
    nothing but the file; SQLite's own locking orders their writes."""

    def __init__(self, path):
        self.path = path
        with self.connect() as db:
            db.execute("PRAGMA journal_mode=WAL")  # the board reads while events are written
            db.execute(TABLE)

    @contextlib.contextmanager
    def connect(self):
        # Waits at most 5 s for another writer: the plug-in gives up on an
        # answer after 10 s.
        db = sqlite3.connect(self.path, timeout=5, isolation_level=None)
        try:
            yield db
        finally:
            db.close()

    def add(self, event, body):
        """True when stored now, False when stored before. One statement:
        two copies of a body processed at once cannot both get in, as they
        could between a look-up and an insert. A text with no bytes to store
        (an unpaired surrogate escape) is refused before the store is touched."""
        raw = {key: raw_text(event.get(key)) for key in
               ("callsign", "controller", "destination", "stand")}
        with self.connect() as db:
            cursor = db.execute(
                "INSERT INTO events (received_at, action, observed_at, callsign, controller,"
                " destination, stand, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
                " ON CONFLICT DO NOTHING",
                (utc_now(), event["action"], event["observedAt"], raw["callsign"],
                 raw["controller"], raw["destination"], raw["stand"], body))
            return cursor.rowcount == 1

    def board(self):
        """[(airport or None, [stand, ...]), ...], airports in order."""
        with self.connect() as db:
            rows = db.execute(BOARD).fetchall()
        airports = {}
        for destination, callsign, stand, action, observed_at, controller in rows:
            airports.setdefault(shown(destination) or None, []).append({
                "callsign": shown(callsign), "stand": shown(stand),
                "how": "assigned" if action == "assign" else "occupied",
                "observedAt": observed_at, "controller": shown(controller) or None})
        return list(airports.items())


def raw_text(value):
    """The bytes the plug-in sent for a text (see parse_event)."""
    if value is None:
        return b""
    try:
        return value.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:  # a \uD800-style escape, which the plug-in never writes
        raise Refused(400, "not JSON: unpaired surrogate escape") from None


def shown(raw):
    return raw.decode("utf-8", "replace")


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds")


def printable(text):
    """For our own log: no control character may start a fake line."""
    return "".join(c if c.isprintable() else "?" for c in text)


def no_duplicate_keys(pairs):
    keys = [key for key, _ in pairs]
    if len(set(keys)) != len(keys):
        raise Refused(400, "not JSON: a key repeated")
    return dict(pairs)


def parse_event(body, validator, later_version):
    # Bytes from 0x80 up are passed on raw, in no promised encoding: decode
    # leniently, each byte that is not UTF-8 becoming one lone surrogate,
    # which still counts as one character against the schema's bounds.
    text = body.decode("utf-8", "surrogateescape")
    try:
        event = json.loads(text, object_pairs_hook=no_duplicate_keys)
    except (ValueError, RecursionError):  # RecursionError: nested too deep
        raise Refused(400, "not JSON") from None
    if not isinstance(event, dict):
        raise Refused(400, "not JSON: not an object")
    if later_version:
        # A later plug-in may add keys; refusing them would lose its events.
        # Keep what this schema's version understands.
        known = validator.schema["properties"]
        event = {key: value for key, value in event.items() if key in known}
    # A leap second is stored as sent (it sorts between :59.999 and the next
    # minute) rather than refused: a 4xx would lose the event.
    checked = event
    if isinstance(event.get("observedAt"), str):
        checked = dict(event, observedAt=LEAP_SECOND.sub(r"\1:59\2", event["observedAt"]))
    error = jsonschema.exceptions.best_match(validator.iter_errors(checked))
    if error is not None:
        where = "/".join(map(str, error.absolute_path)) or "body"
        raise Refused(422, f"schema: {where}: {printable(error.message)[:200]}")
    return event


class Handler(http.server.BaseHTTPRequestHandler):
    # A client that stops sending mid-request holds only its own thread, and
    # that for this long.
    timeout = 15
    server_version = "reference-receiver"
    sys_version = ""

    def do_POST(self):
        status = None
        try:
            status, note = self.receive()
            self.answer(status, "text/plain; charset=utf-8", (note + "\n").encode())
            self.log(f"{status} {note}")
        except (TimeoutError, ConnectionError) as error:
            # After a commit this is the lost answer that brings the same
            # body again, which then finds it stored.
            what = "request" if status is None else f"answer {status} {note}"
            self.log(f"connection lost ({type(error).__name__}) before the {what} was through")
            self.close_connection = True

    def receive(self):
        """(status, what happened). The whole request is read before any
        answer, a refusal included."""
        if self.headers.get("Transfer-Encoding") is not None:
            self.close_connection = True  # the plug-in never chunks; not read
            return 411, "Content-Length needed, not Transfer-Encoding"
        lengths = self.headers.get_all("Content-Length") or []
        if len(lengths) != 1 or not re.fullmatch(r"[0-9]{1,15}", lengths[0].strip()):
            self.close_connection = True
            return 411, "Content-Length missing or unreadable"
        length = int(lengths[0])
        if length > MAX_BODY:
            if length <= MAX_DRAIN:
                while length > 0:
                    chunk = self.rfile.read(min(length, 65536))
                    if not chunk:
                        break
                    length -= len(chunk)
            self.close_connection = True
            return 413, "body too large"
        body = self.rfile.read(length)
        if len(body) < length:
            return 400, "body shorter than its Content-Length"
        try:
            if self.path != self.server.path:
                raise Refused(404, "no such path")
            if not self.authorised():
                raise Refused(401, "bad token")
            agent = self.headers.get("User-Agent", "")
            later_version = (agent.startswith("ZELTAN-DOK-Bridge/")
                             and agent != self.server.schema_agent)
            event = parse_event(body, self.server.validator, later_version)
            stored = self.server.store.add(event, body)
        except Refused as refusal:
            return refusal.status, refusal.reason
        except sqlite3.Error as error:
            # Not stored: a 5xx, so that the plug-in tries again.
            return 503, f"not stored: {printable(str(error))}"
        summary = " ".join(printable(event[key]) for key in
                           ("action", "callsign", "destination", "stand") if key in event)
        # A duplicate is a retry whose answer was lost, or a repeat within
        # one clock tick: both are stored already, and only 2xx ends retrying.
        return (201, f"stored {summary}") if stored else (200, f"stored before {summary}")

    def authorised(self):
        values = self.headers.get_all("Authorization") or []
        if len(values) != 1 or not values[0].startswith("Bearer "):
            return False
        presented = values[0][len("Bearer "):].encode("latin-1")
        # Constant time, and every accepted token compared, so that the time
        # taken tells nothing about how much of which token matched.
        matched = False
        for token in self.server.tokens:
            matched |= hmac.compare_digest(presented, token)
        return matched

    def do_GET(self):
        if self.path == "/board.json":
            board = [{"airport": airport, "stands": stands}
                     for airport, stands in self.server.store.board()]
            self.answer(200, "application/json", json.dumps({"airports": board}).encode())
        elif self.path == "/":
            self.answer(200, "text/html; charset=utf-8",
                        board_html(self.server.store.board()).encode("utf-8"))
        else:
            self.answer(404, "text/plain; charset=utf-8", b"no such page\n")

    def answer(self, status, content_type, body):
        self.send_response_only(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'")
        self.end_headers()
        self.wfile.write(body)

    def log(self, text):
        print(f"{utc_now()} {self.client_address[0]} {self.command} {printable(self.path)[:80]}"
              f" {text}", file=self.server.log_file, flush=True)

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # log() writes one line per request instead


def board_html(board):
    """Every text escaped: stands and callsigns are whatever a controller typed."""
    out = ["<!doctype html><meta charset=utf-8><meta http-equiv=refresh content=10>",
           "<title>Stands</title><style>td,th{padding:0 1em;text-align:left}</style>",
           "<h1>Stands</h1>"]
    if not board:
        out.append("<p>No stands.</p>")
    for airport, stands in board:
        out.append(f"<h2>{html.escape(airport or '(no airport named)')}</h2><table>"
                   "<tr><th>flight<th>stand<th>how<th>observed (UTC)<th>controller")
        for s in stands:
            cells = (s["callsign"], s["stand"], s["how"], s["observedAt"], s["controller"] or "")
            out.append("<tr>" + "".join(f"<td>{html.escape(c)}" for c in cells))
        out.append("</table>")
    return "\n".join(out) + "\n"


def board_text(board):
    lines = []
    for airport, stands in board:
        lines.append(airport or "(no airport named)")
        for s in stands:
            lines.append(f"  {printable(s['callsign']):<10} {printable(s['stand']):<8}"
                         f" {s['how']:<9} {s['observedAt']}  {printable(s['controller'] or '-')}")
    return "\n".join(lines or ["No stands."])


class Receiver(http.server.ThreadingHTTPServer):
    """A thread per connection, so that a slow client holds up no other."""
    daemon_threads = True
    log_file = sys.stderr

    def __init__(self, address, tokens, store, path="/stands", schema_path=SCHEMA_PATH,
                 handler=Handler):
        with open(schema_path, "rb") as handle:
            schema = json.loads(handle.read())
        jsonschema.Draft202012Validator.check_schema(schema)
        self.validator = jsonschema.Draft202012Validator(schema)
        # The plug-in's User-Agent names the version its bodies follow.
        self.schema_agent = "ZELTAN-DOK-Bridge/" + schema["$id"].rsplit(":", 1)[1]
        self.tokens = [token.encode("utf-8", "surrogateescape") for token in tokens]
        self.store = store
        self.path = path
        super().__init__(address, handler)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--token", action="append", default=[],
                        help="a bearer token to accept; repeat while rotating")
    parser.add_argument("--port", type=int, default=8080, help="0 picks a free one")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--path", default="/stands", help="the path events are posted to")
    parser.add_argument("--db", default="stands.db", help="the SQLite file")
    parser.add_argument("--schema", default=SCHEMA_PATH)
    parser.add_argument("--print-board", action="store_true",
                        help="print the board from --db and exit")
    args = parser.parse_args()
    store = Store(args.db)
    if args.print_board:
        print(board_text(store.board()))
        return
    if not args.token:
        parser.error("at least one --token is needed")
    server = Receiver((args.bind, args.port), args.token, store, args.path, args.schema)
    host, port = server.server_address[:2]
    print(f"listening on http://{host}:{port}{args.path}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    server.server_close()


if __name__ == "__main__":
    main()
