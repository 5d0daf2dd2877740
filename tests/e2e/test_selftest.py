"""`ZeltanDokTestClient.exe selftest`, the proof a controller runs on their
own Windows, run here under Wine: the real DLL passes every check and leaves
no folder behind; a copy with one byte changed fails, names the check that
caught it, and names the folder it kept."""

import hashlib
import os
import re
import shutil
import time
import unittest

import harness
from harness import CLIENT_NAME, BridgeTestCase, read_bytes, stdout_lines

HEADER = re.compile(r"self-test of .+: (\d+) bytes, SHA-256 ([0-9a-f]{64}); "
                    r"Windows \d+\.\d+ build \d+( \(Wine [^)]+\))?")
ROW = re.compile(r"(.+?) \| (.*) \| (.*) \| (ok|FAILED)")
KEPT = re.compile(r"; folder kept: (.+)$")
# Set-up, load and init, the slots, four bodies and their clock, four
# filters, the retry, six request rows, unload and the log: 34 rows; then
# the copies: queue 2, a burst 1, texts and the client's gaps 11, settings 3,
# endpoint 9, repeated loads 5, statuses 6, retries 2, https 2: 41 more; and
# on a pass one more for the folder's removal. Fewer means a check went
# missing.
LEAST_ROWS = 75

# (what is changed, the text as stored in the DLL, which byte, the check
#  that must fail). The JSON keys are written by the compiler as immediates;
#  an action's name is stored as plain text.
CHANGED_BYTES = [
    ("user agent", "ZELTAN-DOK-Bridge/0.1".encode("utf-16-le"), 14, "User-Agent header"),
    ("content type", "application/json".encode("utf-16-le"), 24, "Content-Type header"),
    ("action text", b"manual_occupy", 7, "body manual_occupy"),
    ("overflow line", b"Queue full; oldest event dropped", 6, "queue: 256 wait, the 257th drops the oldest"),
    ("author text", b"ZELTAN DOK Bridge developers", 0, "init: author"),
]


class SelfTest(BridgeTestCase, unittest.TestCase):

    def run_selftest(self, bench, plugin, name):
        out_path = os.path.join(bench.folder, f"{name}.stdout")
        err_path = os.path.join(bench.folder, f"{name}.stderr")
        command = ["wine", os.path.join(bench.folder, CLIENT_NAME), "selftest",
                   harness.wine_path(plugin)]
        begin = time.monotonic()
        status = harness.run_to_files(command, bench.folder, harness.wine_env(), out_path,
                                      err_path, timeout=60)
        elapsed = time.monotonic() - begin
        lines = stdout_lines(read_bytes(out_path))
        report = "\n".join(lines) + "\n" + read_bytes(err_path).decode("latin-1")[-2000:]
        self.assertTrue(lines and HEADER.fullmatch(lines[0]), report)
        self.assertEqual(lines[1], "check | expected | seen | ok", report)
        rows = [ROW.fullmatch(line) for line in lines[2:-1]]
        self.assertNotIn(None, rows, report)
        self.assertGreaterEqual(len(rows), LEAST_ROWS, report)
        self.assertTrue(lines[-1].startswith("verdict: "), report)
        return status, lines, rows, elapsed, report

    def prefix_path(self, windows_path):
        """A folder of the test's Wine prefix, given as Windows names it."""
        self.assertRegex(windows_path, r"^[Cc]:\\", "a folder outside drive C:")
        prefix = harness.wine_env()["WINEPREFIX"]
        return os.path.join(prefix, "drive_c", *windows_path[3:].split("\\"))

    def test_the_dll_passes_and_each_changed_byte_fails_its_check(self):
        bench = self.bench()
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
                self.assertIn(f"checks failed: {check}", lines[-1], report)
                kept = KEPT.search(lines[-1])
                self.assertIsNotNone(kept, report)
                kept_folder = self.prefix_path(kept.group(1))
                self.assertTrue(os.path.isdir(kept_folder), report)
                shutil.rmtree(kept_folder)


if __name__ == "__main__":
    unittest.main()
