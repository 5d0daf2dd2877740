"""Runs the product under Wine through the test client, one fresh folder per
test.

Environment:
    ZDB_WIN_BUILD  folder holding ZeltanDokBridge.dll, EuroScopePlugInDll.dll
                   and ZeltanDokTestClient.exe (required)
    ZDB_E2E_WORK   folder for the tests' files (default: <tmp>/zdb-e2e)
    WINEPREFIX     used as given; default <ZDB_E2E_WORK>/prefix so that a run
                   never touches the user's own prefix
"""

import concurrent.futures
import datetime
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass

from receiver import Receiver, parse_json_object

PLUGIN_NAME = "ZeltanDokBridge.dll"
CLIENT_NAME = "ZeltanDokTestClient.exe"
INTERFACE_NAME = "EuroScopePlugInDll.dll"
# A dot in the folder name: the log and settings names must come from the
# file name's extension, not from the first dot of the path.
PLUGIN_FOLDER = "plug.ins"

LOADED = "Bridge loaded; event worker started"
DISABLED = "Bridge disabled: Endpoint/Token missing or invalid"
UNLOADED = "Bridge unloaded"
QUEUE_FULL = "Queue full; oldest event dropped"

TOKEN = "e2e-token-0123456789abcdefghijklmnopqrstuvwxyz"  # 46 characters

# The version as the source has it (CMakeLists.txt, through scripts/version.sh),
# and the User-Agent the plug-in sends with it.
_VERSION_SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "scripts", "version.sh")
VERSION = subprocess.run([_VERSION_SCRIPT], check=True, text=True,
                         stdout=subprocess.PIPE).stdout.strip()
USER_AGENT = "ZELTAN-DOK-Bridge/" + subprocess.run(
    [_VERSION_SCRIPT, "--user-agent"], check=True, text=True, stdout=subprocess.PIPE).stdout.strip()

RUN_TIMEOUT = 120.0

TIMESTAMP = re.compile(rb"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z")
LOG_LINE = re.compile(rb"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z) ([^\r\n]*)")


def build_dir():
    path = os.environ.get("ZDB_WIN_BUILD")
    if not path:
        raise RuntimeError("ZDB_WIN_BUILD must name the Windows build folder")
    for name in (PLUGIN_NAME, CLIENT_NAME, INTERFACE_NAME):
        if not os.path.isfile(os.path.join(path, name)):
            raise RuntimeError(f"{name} missing from ZDB_WIN_BUILD={path}")
    return os.path.abspath(path)


def work_dir():
    path = os.environ.get("ZDB_E2E_WORK") or os.path.join(tempfile.gettempdir(), "zdb-e2e")
    return os.path.abspath(path)


# Wine's WinHTTP sends every request, loopback included, through the proxy
# named by http_proxy in any letter case; the others are dropped as well, so
# that no later Wine starts reading them behind the tests' back.
PROXY_VARIABLES = {"http_proxy", "https_proxy", "all_proxy", "no_proxy"}


def wine_env():
    env = {k: v for k, v in os.environ.items() if k.lower() not in PROXY_VARIABLES}
    env.setdefault("WINEPREFIX", os.path.join(work_dir(), "prefix"))
    env.setdefault("WINEDEBUG", "-all")
    # No dialogs, no Mono/Gecko installers when wine creates the prefix.
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env["DISPLAY"] = ""
    # A zone far from UTC, not a whole hour away: a product that wrote local
    # time where UTC is due shows up in every timestamp check.
    env["TZ"] = "NPT-5:45"
    return env


def wine_path(posix_path):
    """Wine's Z: drive maps the Unix root."""
    return "Z:" + os.path.abspath(posix_path).replace("/", "\\")


def parse_timestamp(raw):
    """A product timestamp as an aware UTC datetime; ValueError when the text
    is not exactly YYYY-MM-DDTHH:MM:SS.mmmZ naming a real instant."""
    if isinstance(raw, str):
        raw = raw.encode("ascii", "replace")
    if not TIMESTAMP.fullmatch(raw):
        raise ValueError(f"malformed timestamp {raw!r}")
    stamp = datetime.datetime.strptime(raw.decode("ascii"), "%Y-%m-%dT%H:%M:%S.%fZ")
    return stamp.replace(tzinfo=datetime.timezone.utc)


@dataclass
class LogLine:
    stamp: datetime.datetime
    message: str  # latin-1 decoded: every byte survives as one character


class LogFormatError(AssertionError):
    pass


def parse_log(data):
    """Splits the log into LogLines; every line must be a timestamp, one
    space, a message without CR or LF, then CR LF."""
    if not data:
        return []
    if not data.endswith(b"\r\n"):
        raise LogFormatError(f"log does not end in CR LF: ...{data[-80:]!r}")
    lines = []
    for number, raw in enumerate(data[:-2].split(b"\r\n"), 1):
        match = LOG_LINE.fullmatch(raw)
        if not match:
            raise LogFormatError(f"log line {number} malformed: {raw!r}")
        try:
            stamp = parse_timestamp(match.group(1))
        except ValueError as error:
            raise LogFormatError(f"log line {number}: {error}") from None
        lines.append(LogLine(stamp, match.group(2).decode("latin-1")))
    return lines


@dataclass
class Run:
    exit_code: int
    stdout: list  # lines, CR LF removed
    stderr: str
    elapsed: float  # seconds, wall clock of the whole client process
    started: datetime.datetime  # UTC
    ended: datetime.datetime
    log_bytes: bytes
    folder: str

    @property
    def log(self):
        return parse_log(self.log_bytes)

    @property
    def messages(self):
        return [line.message for line in self.log]

    def exit_seconds(self):
        """How long each timed-exit step held the client's thread."""
        found = []
        for line in self.stdout:
            match = re.fullmatch(r"timed-exit: ticks (\d+) frequency (\d+)", line)
            if match:
                found.append(int(match.group(1)) / int(match.group(2)))
        return found

    def notify_lines(self):
        return [line for line in self.stdout if line.startswith("notify:")]

    def describe(self):
        return (f"exit code {self.exit_code} after {self.elapsed:.1f} s in {self.folder}\n"
                f"stdout:\n  " + "\n  ".join(self.stdout) +
                f"\nlog:\n  {self.log_bytes.decode('latin-1')}" +
                (f"\nstderr:\n{self.stderr[-2000:]}" if self.stderr.strip() else ""))


class Bench:
    """One test's folder: the client beside the interface DLL, the plug-in in
    a dotted subfolder, an optional settings file beside the plug-in."""

    def __init__(self, name, ini=None):
        parts = [re.sub(r"[^A-Za-z0-9_.-]", "_", part)[:90] for part in name.split("/")]
        self.folder = os.path.join(work_dir(), *parts)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(os.path.join(self.folder, PLUGIN_FOLDER))
        build = build_dir()
        shutil.copy2(os.path.join(build, CLIENT_NAME), self.folder)
        shutil.copy2(os.path.join(build, INTERFACE_NAME), self.folder)
        self.plugin = os.path.join(self.folder, PLUGIN_FOLDER, PLUGIN_NAME)
        shutil.copy2(os.path.join(build, PLUGIN_NAME), self.plugin)
        self.ini_path = self.plugin[:-len(".dll")] + ".ini"
        self.log_path = self.plugin[:-len(".dll")] + ".log"
        self.runs = 0
        # Words put before `wine`, e.g. to run the client in another
        # namespace.
        self.launcher = []
        if ini is not None:
            self.write_ini(ini)

    def write_ini(self, text):
        body = "\r\n".join(text.strip("\n").split("\n")) + "\r\n"
        with open(self.ini_path, "wb") as handle:
            handle.write(body.encode("utf-8"))

    def read_log(self):
        try:
            with open(self.log_path, "rb") as handle:
                return handle.read()
        except FileNotFoundError:
            return b""

    def run(self, steps, timeout=RUN_TIMEOUT):
        """Runs the scenario `steps` (a list of lines, or one text) in a new
        client process; the log is read after the process ended."""
        self.runs += 1
        if not isinstance(steps, str):
            steps = "\n".join(steps)
        scenario = os.path.join(self.folder, f"scenario{self.runs}.txt")
        with open(scenario, "wb") as handle:
            handle.write(steps.encode("latin-1") + b"\n")
        out_path = os.path.join(self.folder, f"stdout{self.runs}.txt")
        err_path = os.path.join(self.folder, f"stderr{self.runs}.txt")
        command = [*self.launcher, "wine", os.path.join(self.folder, CLIENT_NAME),
                   wine_path(self.plugin), wine_path(scenario)]
        started = datetime.datetime.now(datetime.timezone.utc)
        begin = time.monotonic()
        exit_code = run_to_files(command, self.folder, wine_env(), out_path, err_path, timeout)
        elapsed = time.monotonic() - begin
        ended = datetime.datetime.now(datetime.timezone.utc)
        raw = read_bytes(out_path)
        return Run(exit_code=exit_code, stdout=stdout_lines(raw),
                   stderr=read_bytes(err_path).decode("latin-1"), elapsed=elapsed,
                   started=started, ended=ended, log_bytes=self.read_log(), folder=self.folder)


def run_to_files(command, cwd, env, out_path, err_path, timeout):
    """Runs `command` with its output in two files and returns its exit
    status. Files, not pipes: a wineserver started by the run inherits the
    descriptors and would keep a pipe open long after the program ended. A
    run still going after `timeout` seconds is killed with its process group
    and reported with its output so far."""
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, start_new_session=True)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"still running after {timeout} s: {command}\n"
                                 f"stdout so far:\n{read_bytes(out_path).decode('latin-1')}"
                                 ) from None
        finally:
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(10)


def read_bytes(path):
    with open(path, "rb") as handle:
        return handle.read()


def stdout_lines(raw):
    """The client writes every line with CR LF; anything else is a fault of
    the client or of its console plumbing, reported as such."""
    if not raw:
        return []
    text = raw.decode("latin-1")
    if not text.endswith("\r\n"):
        raise AssertionError(f"client output does not end in CR LF: {text[-200:]!r}")
    lines = text[:-2].split("\r\n")
    for line in lines:
        if "\r" in line or "\n" in line:
            raise AssertionError(f"client output line with a stray CR or LF: {line!r}")
    return lines


def run_concurrently(jobs, workers=8, timeout=RUN_TIMEOUT):
    """Runs (bench, steps) pairs in parallel client processes, so that cases
    which mostly wait cost their longest wait instead of the sum. Returns,
    in the order given, each Run, or the exception its run raised."""
    def one(job):
        bench, steps = job
        try:
            return bench.run(steps, timeout=timeout)
        except Exception as error:  # reported by the caller, per case
            return error

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, workers)) as pool:
        return list(pool.map(one, jobs))


def ini_text(endpoint, token=TOKEN, airports=None):
    lines = ["[Bridge]", f"Endpoint={endpoint}", f"Token={token}"]
    if airports is not None:
        lines.append(f"Airports={airports}")
    return "\n".join(lines)


def refused_port():
    """A loopback port bound but not listening: connections to it are
    refused for as long as the returned socket stays open."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    return sock


PLACEHOLDER = "<observedAt>"


def body(action, callsign, controller="EDDF_GND", destination=None, stand=None):
    pairs = [("action", action), ("callsign", callsign), ("observedAt", PLACEHOLDER),
             ("controller", controller)]
    if destination is not None:
        pairs.append(("destination", destination))
    if stand is not None:
        pairs.append(("stand", stand))
    return pairs


def event_line(verb, pairs, status=None):
    fields = dict(pairs)
    words = [verb, fields["action"], fields["callsign"]]
    words += [fields[key] for key in ("destination", "stand") if key in fields]
    return " ".join(words) + (f" (HTTP {status})" if status else "")


class BridgeTestCase:
    """Mixin for unittest.TestCase with the shared set-up and assertions."""

    def bench(self, ini=None, suffix=""):
        module = type(self).__module__.rsplit(".", 1)[-1]
        return Bench(f"{module}/{type(self).__name__}.{self._testMethodName}{suffix}", ini)

    def start_receiver(self, *args, **kwargs):
        receiver = Receiver(*args, **kwargs).start()
        self.addCleanup(receiver.stop)
        return receiver

    def assert_clean_run(self, run, failed_steps=0):
        self.assertEqual(run.stdout[-1:], [f"scenario done: {failed_steps} failed steps"],
                         run.describe())
        self.assertEqual(run.exit_code, 1 if failed_steps else 0, run.describe())

    def assert_log_sane(self, run):
        """Every line well formed, timestamps UTC within the run and never
        going backwards."""
        try:
            lines = run.log
        except LogFormatError as error:
            self.fail(f"{error}\n{run.describe()}")
        slack = datetime.timedelta(seconds=5)
        previous = None
        for line in lines:
            self.assertTrue(run.started - slack <= line.stamp <= run.ended + slack,
                            f"timestamp {line.stamp} outside the run "
                            f"({run.started} .. {run.ended}): {line.message!r}")
            if previous is not None:
                self.assertGreaterEqual(line.stamp, previous, f"time went back at {line.message!r}")
            previous = line.stamp
        return lines

    def assert_messages(self, run, expected):
        """The log holds exactly `expected`, in this order."""
        self.assert_log_sane(run)
        self.assertEqual(run.messages, list(expected), run.describe())

    def assert_in_order(self, run, expected):
        """`expected` occurs in the log in this order, other lines between."""
        self.assert_log_sane(run)
        messages = run.messages
        position = 0
        for wanted in expected:
            while position < len(messages) and messages[position] != wanted:
                position += 1
            if position == len(messages):
                self.fail(f"{wanted!r} missing or out of order\n{run.describe()}")
            position += 1

    def stamp_of(self, run, message, occurrence=0):
        found = [line.stamp for line in run.log if line.message == message]
        self.assertGreater(len(found), occurrence, f"no {message!r} #{occurrence}\n{run.describe()}")
        return found[occurrence]

    def checked_bodies(self, run, receiver, path="/stands", host=None, token=TOKEN):
        """Every request: method, path, headers; every body: valid JSON, a
        well-formed observedAt within the run, then the pairs with the
        placeholder in its place. `host` is the name the endpoint used for
        the receiver, when not its address."""
        found = []
        for request in receiver.snapshot():
            with self.subTest(request=request.index):
                self.assertEqual(request.method, "POST")
                self.assertEqual(request.path, path)
                self.assertEqual(request.headers.get("Content-Type"), "application/json")
                self.assertEqual(request.headers.get_all("Authorization"), [f"Bearer {token}"])
                self.assertEqual(request.headers.get("User-Agent"), USER_AGENT)
                self.assertEqual(request.headers.get("Host"),
                                 f"{host or '127.0.0.1'}:{receiver.port}")
                self.assertEqual(int(request.headers.get("Content-Length", -1)),
                                 len(request.body))
                # WinHTTP's own additions included: no Accept, no Expect.
                self.assertEqual(sorted(name.lower() for name in request.headers.keys()),
                                 ["authorization", "connection", "content-length",
                                  "content-type", "host", "user-agent"])
                self.assertIsNone(request.contract_problem, request.body)
            pairs = parse_json_object(request.body)
            fields = dict(pairs)
            self.assertIsInstance(fields.get("observedAt"), str, request.body)
            observed = parse_timestamp(fields["observedAt"])
            slack = datetime.timedelta(seconds=5)
            self.assertTrue(run.started - slack <= observed <= run.ended + slack,
                            f"observedAt {observed} outside the run")
            found.append([(k, PLACEHOLDER if k == "observedAt" else v) for k, v in pairs])
        return found
