"""A scripted HTTP receiver on loopback, run in a background thread.

Every request is recorded with its arrival time; the answer to the n-th
request is the n-th action of the script, or the default once the script is
used up. Actions:

    201                        answer with this status and an empty body
    (307, {"Location": url})   a status with extra headers
    "stall"                    read the request, then never answer
    ("stall", seconds)         never answer, but close after `seconds`
    ("stall-after-headers", s) send the status line and headers of status s
                               announcing a body that never comes
    "close"                    send half a status line, then close
    ("delay", seconds, s)      answer status s after a pause

Stalled connections are held open until stop(), which ends them all at once,
so a receiver always stops promptly.

With an ssl_context the receiver speaks HTTPS: each connection's handshake
runs in its own handler thread, so a client that gives up mid-handshake never
holds up the others. `accepted` counts connections whether or not their
handshake succeeded, `tls_failures` holds the handshake errors; a request is
recorded only once a handshake succeeded and a whole request was read.

Every body is checked against the endpoint contract (body_contract) as it
arrives. A body that breaks it is kept on its Request, and stop() raises
once the receiver is down, so no test that starts a receiver can pass with
one. At exit the process reports how many bodies it checked.
"""

import atexit
import http.server
import socket
import ssl
import threading
import sys
import time
from dataclasses import dataclass

import body_contract
from body_contract import JsonProblem, load_object_pairs

_checked_lock = threading.Lock()
_checked = {"bodies": 0, "refused": 0}


@atexit.register
def _report_checked():
    if _checked["bodies"]:
        print(f"receiver: {_checked['bodies']} bodies checked against the endpoint contract, "
              f"{_checked['refused']} refused", file=sys.stderr)


@dataclass
class Request:
    method: str
    path: str
    headers: object  # email.message.Message: case-insensitive get()
    body: bytes
    arrived: float  # time.monotonic() once the whole request was read
    index: int
    contract_problem: str = None  # what the body breaks of the contract, if anything


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, address, handler, owner, family=socket.AF_INET):
        self.address_family = family
        self.owner = owner
        super().__init__(address, handler)


class _Handler(http.server.BaseHTTPRequestHandler):
    # Keep reads from a silent peer from pinning a thread for ever.
    timeout = 60
    protocol_version = "HTTP/1.0"
    server_version = "ZdbE2EReceiver"

    def log_message(self, format, *args):  # noqa: A002 - base class name
        pass

    def setup(self):
        owner = self.server.owner
        owner._accept()
        self._refused = False
        context = owner.ssl_context
        if context is not None:
            raw = self.request
            raw.settimeout(self.timeout)
            owner._track(raw, threading.current_thread())
            try:
                self.request = context.wrap_socket(raw, server_side=True)
            except (OSError, ValueError) as error:
                # wrap_socket took the descriptor over and closed it.
                owner._tls_failed(error)
                self._refused = True
                return
            finally:
                owner._untrack(raw, threading.current_thread())
        super().setup()

    def finish(self):
        if self._refused:
            return
        try:
            super().finish()
        finally:
            if self.server.owner.ssl_context is not None:
                # The server closes the socket it accepted, whose descriptor
                # the TLS socket took over; this one is ours to close.
                try:
                    self.request.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                self.request.close()

    def handle(self):
        if self._refused:
            return
        owner = self.server.owner
        owner._track(self.connection, threading.current_thread())
        try:
            super().handle()
        except (OSError, ValueError):
            pass  # the peer or stop() ended the connection
        finally:
            owner._untrack(self.connection, threading.current_thread())

    def _serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        action = self.server.owner._record(self.command, self.path, self.headers, body)
        self._answer(action)

    do_POST = do_GET = do_PUT = do_DELETE = do_PATCH = _serve

    def _answer(self, action):
        owner = self.server.owner
        extra = {}
        if isinstance(action, tuple) and action and isinstance(action[0], int):
            action, extra = action[0], dict(action[1])
        if isinstance(action, int):
            self._respond(action, extra)
            return
        if action == "stall":
            owner._stopping.wait()
            return
        if action == "close":
            self.wfile.write(b"HTTP/1.1 20")
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        if isinstance(action, tuple) and action[0] == "stall":
            if not owner._stopping.wait(action[1]):
                self.connection.shutdown(socket.SHUT_RDWR)
            return
        if isinstance(action, tuple) and action[0] == "stall-after-headers":
            self.send_response(action[1])
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.flush()
            owner._stopping.wait()
            return
        if isinstance(action, tuple) and action[0] == "delay":
            if owner._stopping.wait(action[1]):
                return
            self._respond(action[2], {})
            return
        raise ValueError(f"unknown receiver action {action!r}")

    def _respond(self, status, extra):
        self.send_response(status)
        for name, value in extra.items():
            self.send_header(name, value)
        self.send_header("Content-Length", "0")
        self.end_headers()
        self.wfile.flush()


class Receiver:
    """Start with start(); always stop() (e.g. through addCleanup)."""

    def __init__(self, script=(), default=201, host="127.0.0.1", ssl_context=None):
        self.script = list(script)
        self.default = default
        self.host = host
        self.ssl_context = ssl_context
        self.requests = []
        self.accepted = 0
        self.tls_failures = []
        self.contract_refusals = []
        self._lock = threading.Condition()
        self._stopping = threading.Event()
        self._connections = {}
        self._server = None
        self._thread = None

    # -- life cycle -------------------------------------------------------

    def start(self):
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        self._server = _Server((self.host, 0), _Handler, self, family)
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.05},
            name=f"receiver-{self.port}", daemon=True)
        self._thread.start()
        return self

    @property
    def port(self):
        return self._server.server_address[1]

    def url(self, path="/stands", host=None):
        """The address to post to; `host` names the server differently
        (e.g. localhost), the scheme follows whether TLS is on."""
        host = host or self.host
        host = f"[{host}]" if ":" in host else host
        scheme = "https" if self.ssl_context is not None else "http"
        return f"{scheme}://{host}:{self.port}{path}"

    def stop(self):
        if self._server is None:
            return
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        with self._lock:
            pending = list(self._connections.items())
        for connection, _ in pending:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for _, thread in pending:
            thread.join(5)
        self._thread.join(5)
        self._server = None
        if self.contract_refusals:
            raise AssertionError("bodies that break the endpoint contract:\n" +
                                 "\n".join(self.contract_refusals))

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- observations -----------------------------------------------------

    def snapshot(self):
        with self._lock:
            return list(self.requests)

    def wait_for(self, count, timeout):
        """True once `count` requests arrived, False after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while len(self.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._lock.wait(left)
            return True

    # -- called from handler threads ---------------------------------------

    def _record(self, method, path, headers, body):
        arrived = time.monotonic()
        problem = body_contract.problem(body)
        with _checked_lock:
            _checked["bodies"] += 1
            _checked["refused"] += problem is not None
        with self._lock:
            index = len(self.requests)
            self.requests.append(Request(method, path, headers, body, arrived, index, problem))
            if problem is not None:
                self.contract_refusals.append(f"request {index} {body!r}: {problem}")
            self._lock.notify_all()
            return self.script[index] if index < len(self.script) else self.default

    def _accept(self):
        with self._lock:
            self.accepted += 1
            self._lock.notify_all()

    def _tls_failed(self, error):
        with self._lock:
            self.tls_failures.append(f"{type(error).__name__}: {error}")

    def _track(self, connection, thread):
        with self._lock:
            self._connections[connection] = thread

    def _untrack(self, connection, thread):
        with self._lock:
            self._connections.pop(connection, None)


def parse_json_object(body):
    """The top-level object of a body as a list of (key, value) pairs in
    their order; nested objects as lists of pairs too. Raises JsonProblem
    for invalid UTF-8, invalid JSON, duplicate keys or a non-object."""
    try:
        text = body.decode("utf-8", errors="strict")
    except UnicodeDecodeError as error:
        raise JsonProblem(f"body is not UTF-8: {error}") from None
    try:
        return load_object_pairs(text)
    except JsonProblem as error:
        raise JsonProblem(f"{error}: {body!r}") from None
