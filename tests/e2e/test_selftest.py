"""`ZeltanDokTestClient.exe selftest`, the proof a controller runs on their
own Windows, run here under Wine: the real DLL passes every check and leaves
no folder behind; a copy with one byte changed fails, names the check that
caught it, and names the folder it kept. A copy that hangs or crashes still
gets a verdict; input or a temp folder the self-test cannot use exits 2;
nothing is left in the temp folder that the output does not name."""

import concurrent.futures
import hashlib
import os
import re
import shutil
import socket
import stat
import subprocess
import threading
import time
import unittest

import harness
from harness import CLIENT_NAME, BridgeTestCase, read_bytes, stdout_lines
from pe_image import PeImage

HEADER = re.compile(r"self-test of .+: (?:(\d+) bytes, SHA-256 ([0-9a-f]{64})|"
                    r"cannot be read \(Windows error \d+\)); "
                    r"Windows \d+\.\d+ build \d+( \(Wine [^)]+\))?")
ROW = re.compile(r"(.+?) \| (.*) \| (.*) \| (ok|FAILED|not run)")
KEPT = re.compile(r"; folder kept: (.+)$")
# Every run that reaches its verdict prints them all, in the order that
# `selftest --list` names them, so that two runs compare row by row.
LISTED = re.compile(r"(.+?) \| (needs a request|needs none)")
# A virus scanner that reads every file as it is opened: the self-test must
# take longer, not judge otherwise.
SLOW_OPEN_MICROSECONDS = 6000
SLOW_OPENS = "every file open 6 ms late"
# Every request goes to a closed port through http_proxy, which Wine's
# WinHTTP follows even for 127.0.0.1: nothing reaches the receiver.
NOTHING_ARRIVES = "requests that never arrive"
RECEIVER_PORT = re.compile(rb"\r\nreceiver \| [^|\r\n]* \| 127\.0\.0\.1:(\d+) \| ok\r\n")
FOLDER_ROW = re.compile(rb"\r\nself-test folder \| [^|\r\n]* \| Z:([^|\r\n]*) \| ok\r\n")
INIT_EXPORT = b"?EuroScopePlugInInit@@YAXPAPAVCPlugIn@EuroScopePlugIn@@@Z"
EXIT_EXPORT = b"?EuroScopePlugInExit@@YAXXZ"

# (what is changed, the text as stored in the DLL, which byte, the check
#  that must fail). The JSON keys are written by the compiler as immediates;
#  an action's name is stored as plain text.
CHANGED_BYTES = [
    ("user agent", harness.USER_AGENT.encode("utf-16-le"), 14, "User-Agent header"),
    ("content type", "application/json".encode("utf-16-le"), 24, "Content-Type header"),
    # Every post arrives and is refused (401): the copy is judged at once.
    ("bearer scheme", "Bearer ".encode("utf-16-le"), 0, "Authorization header"),
    ("action text", b"manual_occupy", 7, "body manual_occupy"),
    ("overflow line", b"Queue full; oldest event dropped", 6, "queue: 256 wait, the 257th drops the oldest"),
    ("author text", b"ZELTAN DOK Bridge developers", 0, "init: author"),
]


VERDICT_NAMES = re.compile(r"checks failed(?:, \d+ not run)?: (.+) \(\d+\.\d s\)")


def verdict_names(verdict):
    """The failed checks a FAIL verdict names, as it names them."""
    named = VERDICT_NAMES.search(verdict)
    return named.group(1) if named else ""


def patched(original, export, code):
    """The DLL with `code` written over the first bytes of `export`, or of
    its entry point (DllMain) for None."""
    image = PeImage(original)
    at = image.offset(image.entry if export is None else image.export(export), len(code))
    return original[:at] + code + original[at + len(code):]


def with_slow_opens(env, command, folder, microseconds):
    """`env` and `command` for a run whose every file open is `microseconds`
    late. Wine opens files in its server: one of its own, started under
    strace, on a copy of the prefix (<folder>.prefix) whose files are links
    but for those Wine rewrites."""
    prefix = folder + ".prefix"
    shutil.rmtree(prefix, ignore_errors=True)
    subprocess.run(["cp", "-al", env["WINEPREFIX"], prefix], check=True)
    for entry in os.listdir(prefix):
        path = os.path.join(prefix, entry)
        if os.path.isfile(path) and not os.path.islink(path):
            shutil.copy2(path, path + ".own")
            os.replace(path + ".own", path)
    return dict(env, WINEPREFIX=prefix), [
        "strace", "-f", "-o", "/dev/null", "--seccomp-bpf", "-e", "trace=openat",
        "-e", f"inject=openat:delay_enter={microseconds}"] + command


def printed(out_path, pattern, done):
    """The first match of `pattern` in the run's output once it is printed,
    or None when the run ends first."""
    deadline = time.monotonic() + 30
    while not done.is_set() and time.monotonic() < deadline:
        found = pattern.search(read_bytes(out_path)) if os.path.exists(out_path) else None
        if found:
            return found
        time.sleep(0.01)
    return None


def connecting(payload):
    """Another program on this computer: it connects to the receiver, sends
    `payload` (maybe nothing) and closes. Returns what went wrong, or None."""
    def act(out_path, done):
        found = printed(out_path, RECEIVER_PORT, done)
        if not found:
            return "the receiver row never named a port"
        try:
            with socket.create_connection(("127.0.0.1", int(found.group(1))), 5) as sock:
                sock.sendall(payload)
        except OSError as error:
            return f"connecting to the receiver: {error}"
        return None
    return act


def adding_a_file(name):
    """Another program that puts a read-only file named `name` into the
    self-test folder while the run goes on: another plug-in copy or whatever
    a scanner leaves under a name the self-test does not know, or one in the
    way of a further copy, as security software may leave one."""
    def act(out_path, done):
        found = printed(out_path, FOLDER_ROW, done)
        if not found:
            return "the folder row never named a folder on Z:"
        path = os.path.join(found.group(1).decode("latin-1").replace("\\", "/"), name)
        with open(path, "wb") as handle:
            handle.write(b"MZ")
        os.chmod(path, stat.S_IRUSR)
        return None
    return act


class SelfTest(BridgeTestCase, unittest.TestCase):

    def listed_rows(self, bench):
        """(name, whether it needs a request) of every row a run prints, in
        order, as the client names them."""
        command = ["wine", harness.wine_path(os.path.join(bench.folder, CLIENT_NAME)),
                   "selftest", "--list"]
        out_path = os.path.join(bench.folder, "list.stdout")
        err_path = os.path.join(bench.folder, "list.stderr")
        status = harness.run_to_files(command, bench.folder, harness.wine_env(), out_path,
                                      err_path, timeout=60)
        lines = stdout_lines(read_bytes(out_path))
        listed = [LISTED.fullmatch(line) for line in lines]
        self.assertEqual(status, 0, lines)
        self.assertTrue(listed, "no rows listed")
        self.assertNotIn(None, listed, lines)
        return [(m.group(1), m.group(2) == "needs a request") for m in listed]

    def run_selftest(self, bench, plugin, name, temp=None, meanwhile=None, full=True,
                     slow_opens=False, closed_proxy=False):
        """Runs the self-test on `plugin`. With `temp` (a folder of the
        bench) the client sees it as TEMP and TMP: Wine sets both from its
        registry for a program started from Linux, so cmd sets them for the
        client. `meanwhile(out_path, done)` acts during the run, as another
        program would, and returns what went wrong or None. `slow_opens`
        delays every file open by SLOW_OPEN_MICROSECONDS, as a virus scanner
        would. `closed_proxy` sends every request to a port that refuses it."""
        out_path = os.path.join(bench.folder, f"{name}.stdout")
        err_path = os.path.join(bench.folder, f"{name}.stderr")
        client = harness.wine_path(os.path.join(bench.folder, CLIENT_NAME))
        command = ["wine", client, "selftest", harness.wine_path(plugin)]
        env = harness.wine_env()
        if temp is not None:
            folder = harness.wine_path(temp)
            command = ["wine", "cmd", "/c", f"set TEMP={folder}&& set TMP={folder}&& "
                       f"{client} selftest {harness.wine_path(plugin)}"]
            # The Linux side of the command line is UTF-8 whatever the machine's
            # locale; Wine's ANSI code page stays 1252 with it.
            env = dict(env, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        timeout = 60
        if slow_opens:
            env, command = with_slow_opens(env, command, os.path.join(bench.folder, name),
                                           SLOW_OPEN_MICROSECONDS)
            self.addCleanup(shutil.rmtree, env["WINEPREFIX"], ignore_errors=True)
            timeout = 240
        if closed_proxy:
            # Bound and never listening: it refuses every connection.
            holder = socket.socket()
            holder.bind(("127.0.0.1", 0))
            self.addCleanup(holder.close)
            env = dict(env, http_proxy=f"http://127.0.0.1:{holder.getsockname()[1]}")
        errors, done, helper = [], threading.Event(), None
        if meanwhile is not None:
            def act():
                try:
                    errors.append(meanwhile(out_path, done))
                except Exception as error:  # reported with the run
                    errors.append(repr(error))
            helper = threading.Thread(target=act)
            helper.start()
        begin = time.monotonic()
        try:
            status = harness.run_to_files(command, bench.folder, env, out_path, err_path,
                                          timeout=timeout)
        finally:
            done.set()
            if helper:
                helper.join()
        elapsed = time.monotonic() - begin
        lines = stdout_lines(read_bytes(out_path))
        report = "\n".join(lines) + "\n" + read_bytes(err_path).decode("latin-1")[-2000:]
        self.assertEqual([error for error in errors if error], [], report)
        self.assertTrue(lines and HEADER.fullmatch(lines[0]), report)
        self.assertTrue(lines[-1].startswith("verdict: "), report)
        rows = [ROW.fullmatch(line) for line in lines[2:-1]]
        if len(lines) > 2:
            self.assertEqual(lines[1], "check | expected | seen | ok", report)
            self.assertNotIn(None, rows, report)
        if full:
            self.assertEqual([r.group(1) for r in rows], [name for name, _ in self.listed],
                             report)
        return status, lines, rows, elapsed, report

    def prefix_path(self, windows_path):
        """A folder of the test's Wine prefix, given as Windows names it."""
        self.assertRegex(windows_path, r"^[Cc]:\\", "a folder outside drive C:")
        prefix = harness.wine_env()["WINEPREFIX"]
        return os.path.join(prefix, "drive_c", *windows_path[3:].split("\\"))

    def test_the_dll_passes_and_each_changed_byte_fails_its_check(self):
        bench = self.bench()
        self.listed = self.listed_rows(bench)
        status, lines, rows, elapsed, report = self.run_selftest(bench, bench.plugin, "intact")
        print(f"\nselftest under Wine, {elapsed:.1f} s wall:\n" + "\n".join(lines), flush=True)
        size, digest = HEADER.fullmatch(lines[0]).groups()[:2]
        original = read_bytes(bench.plugin)
        self.assertEqual(int(size), len(original), report)
        self.assertEqual(digest, hashlib.sha256(original).hexdigest(), report)
        self.assertEqual(status, 0, report)
        self.assertEqual([r.group(1) for r in rows if r.group(4) != "ok"], [], report)
        self.assertRegex(lines[-1], rf"^verdict: PASS, all {len(rows)} checks passed \(", report)
        [folder] = [r.group(3) for r in rows if r.group(1) == "self-test folder"]
        self.assertFalse(os.path.exists(self.prefix_path(folder)), f"{folder} left behind")

        for label, stored, offset, check in CHANGED_BYTES:
            with self.subTest(changed=label):
                self.assertEqual(original.count(stored), 1, f"{label} not stored once")
                changed = bytearray(original)
                changed[original.index(stored) + offset] ^= 0x01
                copy = os.path.join(bench.folder, f"changed-{label.replace(' ', '-')}.dll")
                with open(copy, "wb") as handle:
                    handle.write(changed)
                status, lines, rows, _, report = self.run_selftest(bench, copy, label)
                failed = [r.group(0) for r in rows if r.group(4) == "FAILED"]
                print(f"\n{label} changed:\n  " + "\n  ".join(failed + lines[-1:]), flush=True)
                self.assertEqual(status, 1, report)
                self.assertIn(check, [r.group(1) for r in rows if r.group(4) == "FAILED"],
                              report)
                # A wrong Content-Type is refused (415): the copy is judged at once,
                # and rows that wait for later requests fail before it.
                self.assertIn(check, verdict_names(lines[-1]), report)
                kept = KEPT.search(lines[-1])
                self.assertIsNotNone(kept, report)
                kept_folder = self.prefix_path(kept.group(1))
                self.assertTrue(os.path.isdir(kept_folder), report)
                shutil.rmtree(kept_folder)

    def test_every_run_ends_with_a_verdict_and_leaves_only_what_it_names(self):
        bench = self.bench()
        self.listed = self.listed_rows(bench)
        names = [name for name, _ in self.listed]
        needs_none = {name for name, needs in self.listed if not needs}
        original = read_bytes(bench.plugin)
        init_rva = PeImage(original).export(INIT_EXPORT)
        copies = {
            "exit loops": patched(original, EXIT_EXPORT, b"\xeb\xfe"),
            "init traps": patched(original, INIT_EXPORT, b"\xcc"),
            "DllMain traps": patched(original, None, b"\xcc"),
            "read-only": original,
        }
        for label, data in copies.items():
            path = os.path.join(bench.folder, label.replace(" ", "-") + ".dll")
            with open(path, "wb") as handle:
                handle.write(data)
        os.chmod(os.path.join(bench.folder, "read-only.dll"), stat.S_IRUSR | stat.S_IRGRP)
        def temp_of(length):
            """A temp folder whose path, as Windows names it, has `length`
            characters: with the self-test's folder and the copy's name, 212
            make the longest path the plug-in's buffers hold whole."""
            parent = os.path.join(bench.folder, f"long{length}")
            path = os.path.join(parent, "p" * (length - len(harness.wine_path(parent)) - 1))
            self.assertEqual(len(harness.wine_path(path)), length, "the bench's path is too long")
            return path

        # (case, plug-in file, temp folder, what another program does
        #  meanwhile, exit status, the row that must fail or None, its "seen"
        #  text).
        # Status 2 prints no table: the verdict says why and what to do.
        plain = bench.plugin
        cases = [
            ("exit loops", "exit-loops.dll", "t1", None, 1,
             "exit: base destructor once, nothing freed", r"still running after 5\.\d s"),
            ("init traps", "init-traps.dll", "t2", None, 1, "init: object handed over",
             rf"exception 0x80000003 at ZeltanDokBridge\.dll\+{init_rva:#x}, in this call"),
            # Wine's loader catches it: LoadLibrary fails with its code.
            ("DllMain traps", "DllMain-traps.dll", "t7", None, 1, "load: LoadLibrary",
             r"LoadLibrary failed, Windows error 2147483651 \(0x80000003\)"),
            ("read-only", "read-only.dll", "t3", None, 0, None, None),
            ("a file added to the folder", plain, "t8", adding_a_file("extra copy.dll"), 0, None,
             None),
            ("silent connection", plain, "t4", connecting(b""), 0, None, None),
            ("malformed request", plain, "t5", connecting(b"GET / HTTP/1.1\r\n\r\n"), 1,
             "every request of the run read whole",
             r"1 refused, the first for no Content-Length; other connections: 0"),
            ("missing file", "nothing.dll", "t6", None, 2, None,
             r"CANNOT RUN, the plug-in file cannot be read; "),
            ("temp outside the code page", plain, "\u0422\u0435\u043c\u043f", None, 2, None,
             r"CANNOT RUN, the temp folder's path has a letter outside this computer's ANSI "
             r"code page, .*: Z:\\.*\\\?\?\?\?\\; set TMP and TEMP to a short folder"),
            ("temp of 212 characters", plain, temp_of(212), None, 0, None, None),
            (SLOW_OPENS, plain, "t9", None, 0, None, None),
            ("a copy this computer refuses", plain, "t10", adding_a_file("ZdbTexts.dll"), 2, None,
             r"CANNOT RUN, ZdbTexts\.dll: CopyFile refused by this computer, Windows error 80; "
             r"let ZeltanDokTestClient\.exe copy and load DLLs"),
            ("temp of 213 characters", plain, temp_of(213), None, 2, None,
             r"CANNOT RUN, the temp folder's path is too long for the plug-in: .*; set TMP"),
            # Copy 0's rows fail with what they saw; the copies that would post
            # are not run, and say why.
            (NOTHING_ARRIVES, plain, "t11", None, 1, "body assign", r"nothing arrived"),
        ]

        def run(case):
            label, plugin, temp, meanwhile, *_ = case
            temp = os.path.join(bench.folder, temp)
            os.makedirs(temp, exist_ok=True)
            try:
                return self.run_selftest(bench, os.path.join(bench.folder, plugin),
                                         label.replace(" ", "-"), temp=temp,
                                         meanwhile=meanwhile, full=False,
                                         slow_opens=label == SLOW_OPENS,
                                         closed_proxy=label == NOTHING_ARRIVES), temp
            except Exception as error:  # reported under the case's own name
                return error, temp

        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = list(pool.map(run, cases))
        for case, (result, temp) in zip(cases, results):
            label, _, _, _, expected_status, check, seen = case
            with self.subTest(case=label):
                if isinstance(result, Exception):
                    raise result
                status, lines, rows, elapsed, report = result
                failed = [r.group(0) for r in rows if r.group(4) == "FAILED"]
                print(f"\n{label}: exit {status}, {elapsed:.1f} s wall\n  " +
                      "\n  ".join(failed + lines[-1:]), flush=True)
                self.assertEqual(status, expected_status, report)
                kept = KEPT.search(lines[-1])
                left = sorted(os.listdir(temp))
                if expected_status == 0:
                    self.assertRegex(lines[-1], r"^verdict: PASS, ", report)
                # The watchdog ends those two runs at the stuck call.
                if expected_status != 2 and label not in ("exit loops", "init traps"):
                    self.assertEqual([r.group(1) for r in rows], names, report)
                if expected_status == 1:
                    failed_names = [r.group(1) for r in rows if r.group(4) == "FAILED"]
                    self.assertEqual(failed_names if label != NOTHING_ARRIVES
                                     else failed_names[:1], [check], report)
                    [row] = [r for r in rows if r.group(1) == check]
                    self.assertRegex(row.group(3), "^" + seen + "$", report)
                    # The verdict names them in order, as many as it holds.
                    named = verdict_names(lines[-1])
                    self.assertTrue(named and ", ".join(failed_names).startswith(named), report)
                    self.assertIsNotNone(kept, report)
                    self.assertEqual(["\\".join([harness.wine_path(temp), name])
                                      for name in left], [kept.group(1)], report)
                else:
                    self.assertIsNone(kept, report)
                    self.assertEqual(left, [], f"left in the temp folder: {left}\n{report}")
                if expected_status == 2:
                    # A refusal before the table prints no table; after, every
                    # row, those of the copies it kept from running as not run.
                    self.assertIn(len(lines), (2, 3 + len(names)), report)
                    self.assertEqual(any(r.group(4) == "not run" for r in rows), bool(rows), report)
                    self.assertRegex(lines[-1], "^verdict: " + seen, report)
                if label == NOTHING_ARRIVES:
                    self.assertEqual([r.group(1) for r in rows if r.group(4) == "ok" and
                                      r.group(1) not in needs_none], [], report)
                    not_run = {r.group(3) for r in rows if r.group(4) == "not run"}
                    self.assertEqual(not_run, {"the plug-in sent no request"}, report)
                if label == "silent connection":
                    [row] = [r for r in rows if r.group(1) == "every request of the run read whole"]
                    self.assertTrue(row.group(3).endswith("; other connections: 1"), report)
        # The delay took hold: the run took longer than a plain one beside it.
        took = {case[0]: float(re.search(r"\((\d+\.\d) s\)", result[0][1][-1]).group(1))
                for case, result in zip(cases, results)
                if case[0] in (SLOW_OPENS, "temp of 212 characters")}
        self.assertGreater(took[SLOW_OPENS], took["temp of 212 characters"] + 5, took)


if __name__ == "__main__":
    unittest.main()
