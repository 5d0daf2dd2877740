#!/usr/bin/env python3
"""A receiver for ZELTAN DOK Bridge stand events that follows the endpoint
contract (docs/endpoint.md), to copy and adapt: a WSGI application served by
waitress, jsonschema for the bodies, SQLite as the store.

    RECEIVER_TOKENS='TOKEN [OLD_TOKEN]' reference_receiver.py [--port 8080]
        [--bind 127.0.0.1] [--path /stands] [--db stands.db] [--board-hours 24]
        [--board-host stands.example.org] [--behind-proxy] [--schema FILE]
    reference_receiver.py --token-file tokens.txt ...
    reference_receiver.py --db stands.db --print-board

    POST <path>        one event: 201 stored, 200 stored before, 4xx refused,
                       503 the store failed (the plug-in tries again)
    GET  /             the stands of the last --board-hours per airport, HTML
    GET  /board.json   the same as JSON

Tokens come from the file named by --token-file (one per line, # comments)
or from the environment variable RECEIVER_TOKENS (separated by blanks),
never from the command line, where every user of the machine can read them.
Give two while controllers move from an old token to a new one. Each must
have 32 to 255 printable ASCII characters, as the plug-in needs.

The board is not behind the token (a wall screen has no way to send one):
it answers only requests whose Host is a loopback name or one given with
--board-host, so that a web page in someone's browser cannot read it
through a name of its own pointed at this machine. Reached from other PCs
the receiver sits behind TLS (examples/nginx-receiver.conf) and the board
behind your own access control.

Waitress parses HTTP and holds the limits: the listen backlog, the number of
connections, a request's header size (431), the idle time of a connection.
Added here: a deadline for each request from its first byte, so that a
client sending a byte now and then cannot hold a connection for good.

One line per request on standard error, the server's own refusals included;
a refusal says why.

Which event decides a flight's stand: within one controller the later
observedAt (their PC's clock orders their own events, even when a retry
arrives late); between controllers the one that arrived here later, as
observedAt of different PCs is not comparable and a PC running 5 minutes
fast would otherwise keep its stand against every later change. Failure
mode: an event held up in a controller's queue (this receiver down, their
network slow) arrives late and wins over another controller's change made
in the meantime, until the next event of that flight.
"""

import argparse
import datetime
import hmac
import html
import ipaddress
import json
import os
import re
import sqlite3
import sys
import threading
import time

import jsonschema
import waitress.adjustments
import waitress.channel
import waitress.server
import waitress.task

HERE = os.path.dirname(os.path.abspath(__file__))
# Beside this file when copied with it, else the project's own copy.
SCHEMA_PLACES = [os.path.join(HERE, "stand-event.schema.json"),
                 os.path.join(HERE, "..", "docs", "stand-event.schema.json")]
TOKENS_VARIABLE = "RECEIVER_TOKENS"
# The plug-in refuses a shorter token and cuts a longer one.
TOKEN_LENGTHS = range(32, 256)
# The plug-in's bodies are at most 373 bytes.
MAX_BODY = 4096
# The server reads a refused body to its end before answering: closing with
# bytes unread sends a TCP reset, which can reach the plug-in before the
# status line does. Beyond this much the sender is not the plug-in, and the
# server refuses it at once and closes.
MAX_DRAIN = 1 << 20
LEAP_SECOND = re.compile(r"\A(.{16}):60(\.[0-9]{3}Z)\Z")
# Embeddings, overrides, isolates and marks: each can turn the rest of a
# board line around, so that a stand shows as another.
BIDI_CONTROLS = re.compile("[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]")
STATUS_TEXT = {200: "200 OK", 201: "201 Created", 400: "400 Bad Request",
               401: "401 Unauthorized", 404: "404 Not Found", 405: "405 Method Not Allowed",
               411: "411 Length Required", 413: "413 Payload Too Large",
               421: "421 Misdirected Request", 422: "422 Unprocessable Content",
               503: "503 Service Unavailable"}

TABLE = """
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY,  -- arrival order
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
);
-- The board reads only the events of its window.
CREATE INDEX IF NOT EXISTS events_by_arrival ON events (received_at)"""

# Per flight and airport one event decides, an assign or cancel for the
# stand assigned, a manual_occupy for the stand occupied: each controller's
# latest by observedAt (equal ones: the one stored last), and of those the
# one that arrived last. A manual_cancel names no airport; it withdraws every
# manual_occupy of its flight that it follows in the same sense. Only events
# received since :since count.
BOARD = """
WITH recent AS (SELECT * FROM events WHERE received_at >= :since),
own_latest AS (
  SELECT *, row_number() OVER (
      PARTITION BY callsign, destination, action = 'manual_occupy', controller
      ORDER BY observed_at DESC, id DESC) AS rank
  FROM recent WHERE action != 'manual_cancel'),
latest AS (
  SELECT *, row_number() OVER (
      PARTITION BY callsign, destination, action = 'manual_occupy' ORDER BY id DESC) AS pick
  FROM own_latest WHERE rank = 1),
cancels AS MATERIALIZED (
  SELECT id, callsign, controller, observed_at FROM recent WHERE action = 'manual_cancel')
SELECT destination, callsign, stand, action, observed_at, controller, received_at FROM latest
WHERE pick = 1 AND action != 'cancel'
  AND NOT (action = 'manual_occupy' AND EXISTS (
      SELECT 1 FROM cancels AS later WHERE later.callsign = latest.callsign
        AND CASE WHEN later.controller = latest.controller
                 THEN (later.observed_at, later.id) > (latest.observed_at, latest.id)
                 ELSE later.id > latest.id END))"""


class Refused(Exception):
    def __init__(self, status, reason):
        super().__init__(reason)
        self.status = status
        self.reason = reason


class Store:
    """One SQLite connection per thread, kept open: opening and closing per
    request would checkpoint and delete the write-ahead log each time."""

    def __init__(self, path, create=True):
        if not create and not os.path.isfile(path):
            raise FileNotFoundError(f"no database at {path}")
        self.path = path
        self.local = threading.local()
        db = self.connection()
        db.execute("PRAGMA journal_mode=WAL")  # the board reads while events are written
        db.executescript(TABLE)

    def connection(self):
        db = getattr(self.local, "db", None)
        if db is None:
            # Waits at most 5 s for another writer: the plug-in gives up on
            # an answer after 10 s.
            db = sqlite3.connect(self.path, timeout=5, isolation_level=None)
            # Each 2xx promises the event survives a power cut, in WAL
            # mode too: NORMAL would let the last commits go.
            db.execute("PRAGMA synchronous=FULL")
            self.local.db = db
        return db

    def add(self, event, body):
        """True when stored now, False when stored before. One statement:
        two copies of a body processed at once cannot both get in, as they
        could between a look-up and an insert. A text with no bytes to store
        (an unpaired surrogate escape) is refused before the store is touched."""
        raw = {key: raw_text(event.get(key)) for key in
               ("callsign", "controller", "destination", "stand")}
        cursor = self.connection().execute(
            "INSERT INTO events (received_at, action, observed_at, callsign, controller,"
            " destination, stand, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
            " ON CONFLICT DO NOTHING",
            (utc_now(), event["action"], event["observedAt"], raw["callsign"],
             raw["controller"], raw["destination"], raw["stand"], body))
        return cursor.rowcount == 1

    def board(self, hours=24.0, now=None):
        """[(airport or None, [entry, ...]), ...], airports and their stands
        in order, of the events received in the last `hours`."""
        now = now or datetime.datetime.now(datetime.timezone.utc)
        since = (now - datetime.timedelta(hours=hours)).isoformat(timespec="milliseconds")
        rows = self.connection().execute(BOARD, {"since": since}).fetchall()
        airports = {}
        for destination, callsign, stand, action, observed_at, controller, received in rows:
            age = now - datetime.datetime.fromisoformat(received)
            airports.setdefault(shown(destination) or None, []).append({
                "callsign": shown(callsign), "stand": shown(stand),
                "how": "assigned" if action == "assign" else "occupied",
                "observedAt": observed_at, "controller": shown(controller) or None,
                "receivedAt": received, "ageSeconds": max(0, int(age.total_seconds()))})
        for stands in airports.values():
            stands.sort(key=lambda s: (natural(s["stand"]), natural(s["callsign"]), s["how"]))
        return sorted(airports.items(), key=lambda item: (item[0] is None, item[0] or ""))


def natural(text):
    """A2 before A10."""
    return [(0, int(part), "") if part.isdigit() else (1, 0, part)
            for part in re.split(r"([0-9]+)", text) if part]


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


def log_line(log_file, client, method, path, status, note):
    print(f"{utc_now()} {client} {method} {printable(path)[:80]} {status} {note}",
          file=log_file, flush=True)


class Receiver:
    """The WSGI application: any WSGI server can run it."""

    def __init__(self, tokens, store, path="/stands", schema=None, board_hosts=(),
                 board_hours=24.0, log_file=sys.stderr):
        schema = schema or load_schema(None)
        self.validator = jsonschema.Draft202012Validator(schema)
        # The plug-in's User-Agent names the version its bodies follow.
        self.schema_agent = "ZELTAN-DOK-Bridge/" + schema["$id"].rsplit(":", 1)[1]
        self.tokens = [token.encode("ascii") for token in tokens]
        self.store = store
        self.path = path
        self.board_hosts = {host.lower() for host in board_hosts}
        self.board_hours = board_hours
        self.log_file = log_file

    def __call__(self, environ, start_response):
        status, content_type, body, note = self.respond(environ)
        log_line(self.log_file, environ.get("REMOTE_ADDR", "-"), environ["REQUEST_METHOD"],
                 request_path(environ), status, note)
        start_response(STATUS_TEXT[status], [
            ("Content-Type", content_type), ("Content-Length", str(len(body))),
            ("X-Content-Type-Options", "nosniff"),
            ("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'")])
        return [body]

    def respond(self, environ):
        """(status, content type, body, what happened for the log)."""
        method = environ["REQUEST_METHOD"]
        if method == "POST":
            status, note = self.receive(environ)
            return status, "text/plain; charset=utf-8", (note + "\n").encode(), note
        if method in ("GET", "HEAD"):
            return self.page(environ)
        return 405, "text/plain; charset=utf-8", b"POST events, GET the board\n", "not POST or GET"

    def receive(self, environ):
        """(status, what happened). The server has read the whole request,
        body included, before this runs, a refused one too."""
        length = environ.get("CONTENT_LENGTH", "")
        if not re.fullmatch(r"[0-9]{1,15}", length):
            return 411, "Content-Length missing or unreadable"
        if int(length) > MAX_BODY:
            return 413, "body too large"
        body = environ["wsgi.input"].read(int(length))
        try:
            if request_path(environ) != self.path:
                raise Refused(404, "no such path")
            if not self.authorised(environ.get("HTTP_AUTHORIZATION", "")):
                raise Refused(401, "bad token")
            agent = environ.get("HTTP_USER_AGENT", "")
            later_version = (agent.startswith("ZELTAN-DOK-Bridge/")
                             and agent != self.schema_agent)
            event = parse_event(body, self.validator, later_version)
            stored = self.store.add(event, body)
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

    def authorised(self, header):
        # Header values reach WSGI decoded as latin-1, every byte one character.
        if not header.startswith("Bearer "):
            return False
        presented = header[len("Bearer "):].encode("latin-1")
        # Constant time, and every accepted token compared, so that the time
        # taken tells nothing about how much of which token matched.
        matched = False
        for token in self.tokens:
            matched |= hmac.compare_digest(presented, token)
        return matched

    def page(self, environ):
        if not self.board_host(environ.get("HTTP_HOST", "")):
            return (421, "text/plain; charset=utf-8", b"not served under this name\n",
                    "board refused: Host " + printable(environ.get("HTTP_HOST", ""))[:80])
        where = request_path(environ)
        if where == "/board.json":
            board = [{"airport": airport, "stands": stands}
                     for airport, stands in self.store.board(self.board_hours)]
            return (200, "application/json", json.dumps({"airports": board}).encode(),
                    "board")
        if where == "/":
            return (200, "text/html; charset=utf-8",
                    board_html(self.store.board(self.board_hours), self.board_hours)
                    .encode("utf-8"), "board")
        return 404, "text/plain; charset=utf-8", b"no such page\n", "no such page"

    def board_host(self, host):
        name = re.sub(r":[0-9]*\Z", "", host.lower()).strip("[]")
        if name in self.board_hosts or name == "localhost":
            return True
        try:
            return ipaddress.ip_address(name).is_loopback
        except ValueError:
            return False


def request_path(environ):
    path = environ.get("PATH_INFO", "")
    query = environ.get("QUERY_STRING", "")
    return path + ("?" + query if query else "")


def load_schema(path):
    places = [path] if path else SCHEMA_PLACES
    for place in places:
        if os.path.isfile(place):
            with open(place, "rb") as handle:
                schema = json.loads(handle.read())
            jsonschema.Draft202012Validator.check_schema(schema)
            return schema
    raise SystemExit("reference_receiver: stand-event.schema.json not found ("
                     + ", ".join(places) + "); put it beside this file or give --schema")


def safe(text):
    """Escaped, and with no control that turns the line around."""
    return html.escape(BIDI_CONTROLS.sub("\ufffd", text))


def age_text(seconds):
    if seconds < 60:
        return f"{seconds} s"
    if seconds < 3600:
        return f"{seconds // 60} min"
    return f"{seconds // 3600} h {seconds % 3600 // 60:02d} min"


def board_html(board, hours):
    """For a wall screen: large, one airport after another, stands in
    order, each entry with its age. Every text escaped: stands and
    callsigns are whatever a controller typed."""
    out = ["<!doctype html><html lang=en><meta charset=utf-8>"
           "<meta http-equiv=refresh content=10><title>Stands</title><style>"
           "body{font:1.6em/1.3 sans-serif;margin:1em;background:#111;color:#eee}"
           "h1 small{font-size:.45em;color:#999}h2{margin:.8em 0 .2em;color:#fc6}table{border-collapse:collapse}"
           "th,td{padding:.1em 1.2em .1em 0;text-align:left;unicode-bidi:isolate}"
           "th{font-size:.7em;color:#999}td.age{color:#9c9}tr:nth-child(odd) td{background:#1c1c1c}"
           "</style>",
           f"<h1>Stands <small>(events of the last {hours:g} h; age: since received)</small></h1>"]
    if not board:
        out.append("<p>No stands.</p>")
    for airport, stands in board:
        out.append(f"<h2>{safe(airport or '(no airport named)')}</h2><table>"
                   "<tr><th>stand<th>flight<th>how<th>age<th>controller")
        for s in stands:
            out.append(f"<tr><td>{safe(s['stand'])}<td>{safe(s['callsign'])}<td>{s['how']}"
                       f"<td class=age>{age_text(s['ageSeconds'])}"
                       f"<td>{safe(s['controller'] or '')}")
        out.append("</table>")
    return "\n".join(out) + "\n"


def board_text(board):
    lines = []
    for airport, stands in board:
        lines.append(airport or "(no airport named)")
        for s in stands:
            lines.append(f"  {printable(s['stand']):<8} {printable(s['callsign']):<10}"
                         f" {s['how']:<9} {age_text(s['ageSeconds']):>10}"
                         f"  {printable(s['controller'] or '-')}")
    return "\n".join(lines or ["No stands."])


class LoggedErrorTask(waitress.task.ErrorTask):
    """The server's own refusals (431, 413 beyond MAX_DRAIN, 501, 400 for
    what it cannot parse) get their log line too."""

    def execute(self):
        super().execute()
        self.channel.request_started = None  # what follows a refusal is not read
        log_line(self.channel.server.log_file, self.channel.addr[0],
                 getattr(self.request, "command", None) or "-",
                 getattr(self.request, "path", None) or "-",
                 self.status.split()[0], "refused by the server: "
                 + printable(str(self.request.error.body))[:120])


class DeadlineChannel(waitress.channel.HTTPChannel):
    error_task_class = LoggedErrorTask
    request_started = None  # when the first byte of a request still coming arrived

    def received(self, data):
        if self.request is None:
            self.request_started = time.monotonic()
        result = super().received(data)
        if self.request is None:
            self.request_started = None
        return result

    def handle_close(self):
        # Idle, past the deadline, or the client gone: a request begun and
        # never answered gets its line here.
        if self.request_started is not None:
            seconds = time.monotonic() - self.request_started
            self.request_started = None
            log_line(self.server.log_file, self.addr[0], "-", "-", "-",
                     f"closed after {seconds:.1f} s with the request incomplete")
        super().handle_close()


class Server(waitress.server.TcpWSGIServer):
    """waitress's server with a deadline per request: its idle timeout
    (channel_timeout) restarts with every byte."""

    channel_class = DeadlineChannel

    def __init__(self, app, request_deadline, log_file, **settings):
        self.request_deadline = request_deadline
        self.log_file = log_file
        super().__init__(app, map={}, adj=waitress.adjustments.Adjustments(**settings))

    def maintenance(self, now):
        super().maintenance(now)
        cutoff = time.monotonic() - self.request_deadline
        for channel in list(self.active_channels.values()):
            started = channel.request_started
            if started is not None and started < cutoff:
                channel.will_close = True

    def stop(self):
        """From another thread: run() returns once every connection is closed."""
        def close_all():
            for channel in list(self._map.values()):
                channel.close()
        self.trigger.pull_trigger(close_all)
        self.task_dispatcher.shutdown()


def make_server(app, host="127.0.0.1", port=8080, request_deadline=15.0, read_timeout=15.0,
                connections=2000, behind_proxy=False, log_file=sys.stderr):
    """The plug-in sends a whole request at once and waits 10 s for the
    answer: 15 s covers a slow network, and a connection idle for as long
    between requests is closed. A connection waiting for its request costs
    a descriptor and a few kilobytes, no thread, so many may wait."""
    allow_descriptors(connections + 64)
    settings = dict(
        host=host, port=port,
        threads=8,                     # requests being answered at once; the store serialises writes
        backlog=128,                   # connections the kernel holds before we accept them
        connection_limit=connections,  # beyond, new connections wait in the backlog
        asyncore_use_poll=True,        # select() fails past 1,024 descriptors
        channel_timeout=read_timeout,  # idle connections
        cleanup_interval=1,            # how often both deadlines are checked
        max_request_header_size=16384,  # the plug-in's path and token fit well within
        recv_bytes=65536,              # a header block refused whole, not half read
        max_request_body_size=MAX_DRAIN,
        ident="reference-receiver")
    if behind_proxy:
        # The address nginx saw, for the log; only nginx on loopback is believed.
        settings.update(trusted_proxy="127.0.0.1", trusted_proxy_headers={"x-forwarded-for"},
                        clear_untrusted_proxy_headers=True)
    return Server(app, request_deadline, log_file, **settings)


def allow_descriptors(count):
    """Lifts the soft limit on open files (often 1,024) towards `count`,
    within the hard limit; Windows has no such limit to lift."""
    try:
        import resource
    except ImportError:
        return
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = count if hard == resource.RLIM_INFINITY else min(count, hard)
    if soft != resource.RLIM_INFINITY and soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))


def read_tokens(args, parser):
    if args.token_file:
        try:
            with open(args.token_file, encoding="ascii") as handle:
                lines = handle.read().splitlines()
        except (OSError, UnicodeDecodeError) as error:
            parser.error(f"--token-file: {error}")
        tokens = [line.strip() for line in lines if line.strip() and not line.startswith("#")]
        where = args.token_file
    else:
        tokens = os.environ.get(TOKENS_VARIABLE, "").split()
        where = TOKENS_VARIABLE
    if not tokens:
        parser.error(f"no token: give --token-file or set {TOKENS_VARIABLE}")
    for number, token in enumerate(tokens, 1):
        if len(token) not in TOKEN_LENGTHS:
            parser.error(f"token {number} in {where} has {len(token)} characters; the plug-in"
                         f" needs {TOKEN_LENGTHS.start} to {TOKEN_LENGTHS.stop - 1}")
        if not re.fullmatch(r"[!-~]+", token):
            parser.error(f"token {number} in {where}: printable ASCII without blanks only")
    return tokens


def warn_if_exposed(host):
    try:
        loopback = ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        loopback = host == "localhost"
    if not loopback:
        print(f"reference_receiver: WARNING: listening on {host}, beyond this machine. The"
              " plug-in sends plain HTTP only to loopback: put TLS in front"
              " (examples/nginx-receiver.conf) and bind this to 127.0.0.1.",
              file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--token-file", help=f"accepted tokens, one per line (else ${TOKENS_VARIABLE})")
    parser.add_argument("--port", type=int, default=8080, help="0 picks a free one")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--path", default="/stands", help="the path events are posted to")
    parser.add_argument("--db", default="stands.db", help="the SQLite file")
    parser.add_argument("--schema", help="stand-event.schema.json, when not beside this file")
    parser.add_argument("--board-hours", type=float, default=24.0,
                        help="the board shows events received this recently")
    parser.add_argument("--board-host", action="append", default=[],
                        help="a name the board answers under besides loopback; repeatable")
    parser.add_argument("--behind-proxy", action="store_true",
                        help="log the client address nginx on loopback passes on")
    parser.add_argument("--print-board", action="store_true",
                        help="print the board from an existing --db and exit")
    args = parser.parse_args()
    if args.print_board:
        try:
            store = Store(args.db, create=False)
        except (FileNotFoundError, sqlite3.Error) as error:
            parser.error(str(error))
        print(board_text(store.board(args.board_hours)))
        return
    tokens = read_tokens(args, parser)
    schema = load_schema(args.schema)
    app = Receiver(tokens, Store(args.db), args.path, schema, args.board_host, args.board_hours)
    warn_if_exposed(args.bind)
    server = make_server(app, args.bind, args.port, behind_proxy=args.behind_proxy)
    print(f"listening on http://{server.effective_host}:{server.effective_port}{args.path}",
          flush=True)
    server.run()


if __name__ == "__main__":
    main()
