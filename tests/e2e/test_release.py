"""The release bundle as a controller gets it: what the zip holds, a new user
following README.txt word for word in a Wine prefix of their own, the
settings check's verdicts, the version resource Windows shows, and the
same source building the same bytes."""

import concurrent.futures
import datetime
import hashlib
import io
import os
import re
import shutil
import subprocess
import time
import unittest
import zipfile

import harness
from harness import (LOADED, TOKEN, UNLOADED, USER_AGENT, VERSION, BridgeTestCase, body,
                     event_line, read_bytes, stdout_lines)
from pe_version import read_version_info

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUNDLE = f"ZeltanDokBridge-{VERSION}"
PRODUCT_FILES = ("ZeltanDokBridge.dll", "ZeltanDokTestClient.exe", "EuroScopePlugInDll.dll")

EXPECTED_ENTRIES = sorted(f"{BUNDLE}/{name}" for name in (
    "README.txt", "SHA256SUMS.txt", "ZeltanDokBridge.dll", "ZeltanDokBridge.ini",
    "TestClient/ZeltanDokTestClient.exe", "TestClient/EuroScopePlugInDll.dll",
    "TestClient/sample-scenario.txt", "Endpoint/endpoint.md", "Endpoint/stand-event.schema.json"))
CHECKSUMMED = ["ZeltanDokBridge.dll", "TestClient/ZeltanDokTestClient.exe",
               "TestClient/EuroScopePlugInDll.dll"]
# Beside the zip, not in it: each binary's symbols.
PDB_NAMES = {name: os.path.basename(name).rsplit(".", 1)[0] + ".pdb" for name in CHECKSUMMED}

# What samples/eddf_morning.txt must deliver, in order; the scenario also
# types texts that must never leave the machine (other airports, lower-case
# prefix, no prefix).
SAMPLE_EVENTS = [
    body("assign", "DLH4TK", destination="EDDF", stand="V155"),
    body("assign", "DLH9AB", destination="EDDF", stand="A12"),
    body("assign", "CFG1KL", destination="EDDM", stand="G4"),
    body("assign", "UAE9", destination="EDDF", stand="A26"),
    body("assign", "UAE9", destination="EDDF", stand="A24"),
    body("cancel", "UAE9", destination="EDDF"),
    body("manual_occupy", "DLH4TK", destination="EDDF", stand="V156"),
    body("manual_occupy", "DLH4TK", stand="Z5"),
    body("manual_cancel", "DLH4TK"),
]

WINE_TIMEOUT = 120.0

_zip_bytes = None
_pdb_bytes = None


def _work(*parts):
    return os.path.join(harness.work_dir(), "test_release", *parts)


def _release_script():
    """Runs scripts/release.sh on the build tree the other tests use and
    returns the archive's bytes and {PDB name: bytes} of the PDBs beside it."""
    win = harness.build_dir()
    if os.path.basename(win) != "win":
        raise unittest.SkipTest(f"release.sh builds into <build>/win; ZDB_WIN_BUILD is {win}")
    env = dict(os.environ, ZDB_BUILD_DIR=os.path.dirname(win))
    done = subprocess.run([os.path.join(ROOT, "scripts", "release.sh")], env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=600, check=False)
    output = done.stdout.decode("utf-8", "replace")
    if done.returncode != 0:
        raise AssertionError(f"release.sh failed ({done.returncode}):\n{output}")
    path = output.strip().splitlines()[-1]
    pdbs = {pdb: read_bytes(os.path.join(os.path.dirname(path), pdb))
            for pdb in PDB_NAMES.values()}
    return read_bytes(path), pdbs


def setUpModule():
    global _zip_bytes, _pdb_bytes
    _zip_bytes, _pdb_bytes = _release_script()
    shutil.rmtree(_work(), ignore_errors=True)
    os.makedirs(_work())
    # Later steps (a second release.sh run) rewrite the script's own copy.
    with open(_work(f"{BUNDLE}.zip"), "wb") as handle:
        handle.write(_zip_bytes)


def _bundle():
    return zipfile.ZipFile(io.BytesIO(_zip_bytes))


def _member(name):
    with _bundle() as archive:
        return archive.read(f"{BUNDLE}/{name}")


def _sha256(data):
    return hashlib.sha256(data).hexdigest()


def _crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def _run_wine(command, cwd, env, name, timeout=WINE_TIMEOUT):
    """(exit status, stdout bytes, stderr text)."""
    out_path = os.path.join(_work(), f"{name}.stdout")
    err_path = os.path.join(_work(), f"{name}.stderr")
    status = harness.run_to_files(command, cwd, env, out_path, err_path, timeout)
    return status, read_bytes(out_path), read_bytes(err_path).decode("latin-1")


class Bundle(unittest.TestCase):

    def test_holds_exactly_the_product_settings_readme_test_client_and_contract(self):
        with _bundle() as archive:
            self.assertEqual(archive.testzip(), None)
            self.assertEqual(sorted(archive.namelist()), EXPECTED_ENTRIES)

    def test_binaries_are_the_build_and_texts_the_source(self):
        build = harness.build_dir()
        cases = [
            ("ZeltanDokBridge.dll", read_bytes(os.path.join(build, "ZeltanDokBridge.dll"))),
            ("TestClient/ZeltanDokTestClient.exe",
             read_bytes(os.path.join(build, "ZeltanDokTestClient.exe"))),
            ("TestClient/EuroScopePlugInDll.dll",
             read_bytes(os.path.join(build, "EuroScopePlugInDll.dll"))),
            ("README.txt", _crlf(read_bytes(os.path.join(ROOT, "release", "README.txt"))
                                 .replace(b"@VERSION@", VERSION.encode())
                                 .replace(b"@USER_AGENT_VERSION@", USER_AGENT.split("/")[1].encode()))),
            ("ZeltanDokBridge.ini",
             _crlf(read_bytes(os.path.join(ROOT, "release", "ZeltanDokBridge.ini")))),
            ("TestClient/sample-scenario.txt",
             _crlf(read_bytes(os.path.join(ROOT, "samples", "eddf_morning.txt")))),
            ("Endpoint/endpoint.md", _crlf(read_bytes(os.path.join(ROOT, "docs", "endpoint.md")))),
            ("Endpoint/stand-event.schema.json",
             _crlf(read_bytes(os.path.join(ROOT, "docs", "stand-event.schema.json")))),
        ]
        for name, expected in cases:
            with self.subTest(name=name):
                self.assertTrue(_member(name) == expected, f"{name} differs from its source")

    def test_texts_open_cleanly_in_notepad(self):
        # Notepad of older Windows shows bare LF files as one long line, and
        # guesses the code page of anything beyond ASCII.
        for name in ("README.txt", "ZeltanDokBridge.ini", "TestClient/sample-scenario.txt",
                     "SHA256SUMS.txt", "Endpoint/endpoint.md", "Endpoint/stand-event.schema.json"):
            with self.subTest(name=name):
                data = _member(name)
                self.assertTrue(data.endswith(b"\r\n"), f"{name} does not end in CR LF")
                lines = data[:-2].split(b"\r\n")
                stray = [n for n, line in enumerate(lines, 1) if b"\r" in line or b"\n" in line]
                self.assertEqual(stray, [], f"{name}: lines with a bare CR or LF")
                odd = [n for n, line in enumerate(lines, 1)
                       if re.search(rb"[^\t\x20-\x7e]", line)]
                self.assertEqual(odd, [], f"{name}: lines with control or non-ASCII bytes")
                self.assertIsNone(re.search(rb"@[A-Z_]+@", data), f"{name}: a placeholder left")

    def test_checksums_list_the_binaries_and_match_them(self):
        text = _member("SHA256SUMS.txt").decode("ascii")
        listed = {}
        for line in text.split("\r\n")[:-1]:
            match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
            self.assertIsNotNone(match, f"malformed checksum line {line!r}")
            listed[match.group(2)] = match.group(1)
        self.assertEqual(sorted(listed), sorted(CHECKSUMMED))
        for name, digest in listed.items():
            with self.subTest(name=name):
                self.assertEqual(digest, _sha256(_member(name)))

    def test_same_source_gives_the_same_archive_and_symbols(self):
        again, pdbs = _release_script()
        self.assertEqual(_sha256(again), _sha256(_zip_bytes),
                         "a second release.sh run made a different archive")
        self.assertEqual({name: _sha256(data) for name, data in pdbs.items()},
                         {name: _sha256(data) for name, data in _pdb_bytes.items()},
                         "a second release.sh run made different PDBs")

    def test_each_binary_names_the_pdb_beside_the_zip_that_matches_it(self):
        # The debugger looks for the file the binary names, with the GUID and
        # age the binary carries: a PDB from another build is refused.
        for name, pdb in PDB_NAMES.items():
            with self.subTest(name=name):
                binary = _work(os.path.basename(name))
                with open(binary, "wb") as handle:
                    handle.write(_member(name))
                with open(_work(pdb), "wb") as handle:
                    handle.write(_pdb_bytes[pdb])
                wanted = _debug_directory(binary)
                self.assertEqual(wanted["file"], pdb, "the binary must name the PDB alone")
                self.assertEqual((wanted["guid"], wanted["age"]), _pdb_identity(_work(pdb)))


def _llvm_tool(name, *args):
    found = shutil.which(f"{name}-14") or shutil.which(name)
    if not found:
        raise AssertionError(f"{name} not found")
    return subprocess.run([found, *args], check=True, stdout=subprocess.PIPE, text=True,
                          timeout=120).stdout


def _debug_directory(path):
    """The PDB a binary names: file, GUID (as the PDB prints it) and age."""
    text = _llvm_tool("llvm-readobj", "--coff-debug-directory", path)
    raw = bytes.fromhex(re.search(r"PDBGUID: \(([0-9A-F ]+)\)", text).group(1))
    # A GUID's first three fields are stored little-endian.
    guid = (raw[3::-1] + raw[5:3:-1] + raw[7:5:-1]).hex().upper() + raw[8:].hex().upper()
    return {"file": re.search(r"PDBFileName: (.*)", text).group(1).strip(),
            "guid": guid, "age": int(re.search(r"PDBAge: (\d+)", text).group(1))}


def _pdb_identity(path):
    text = _llvm_tool("llvm-pdbutil", "dump", "-summary", path)
    guid = re.search(r"GUID: \{([0-9A-F-]+)\}", text).group(1).replace("-", "")
    return guid, int(re.search(r"Age: (\d+)", text).group(1))


def _replace_setting(text, key, value):
    """What a user does in Notepad: the value after `key =` changes, the
    comments and line ends stay."""
    pattern = re.compile(rf"^({re.escape(key)}[ \t]*=[ \t]*)[^\r\n]*", re.MULTILINE)
    changed, count = pattern.subn(lambda m: m.group(1) + value, text)
    if count != 1:
        raise AssertionError(f"the settings file has {count} {key} lines, not 1")
    return changed


class NewUser(BridgeTestCase, unittest.TestCase):
    """README.txt followed word for word in a prefix nobody used before, in
    folders whose names hold spaces."""

    def setUp(self):
        self.root = _work("new user")
        shutil.rmtree(self.root, ignore_errors=True)
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        self.env = harness.wine_env()
        self.env["WINEPREFIX"] = os.path.join(self.root, "prefix")
        # A new prefix links Documents and friends to $HOME: keep them here.
        self.env["HOME"] = home
        # Cleanups run last first: the server ends before its prefix goes.
        self.addCleanup(shutil.rmtree, self.env["WINEPREFIX"], ignore_errors=True)
        self.addCleanup(self._end_wineserver)
        status, out, err = _run_wine(["wineboot", "-i"], self.root, self.env, "wineboot",
                                     timeout=300)
        self.assertEqual(status, 0, f"wineboot failed:\n{out!r}\n{err[-2000:]}")
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")
        users = [u for u in os.listdir(os.path.join(self.drive_c, "users")) if u != "Public"]
        self.assertEqual(len(users), 1, users)
        self.user = users[0]
        self.profile = os.path.join(self.drive_c, "users", self.user)
        for folder in ("Documents", "Downloads"):
            path = os.path.join(self.profile, folder)
            if os.path.islink(path):
                os.remove(path)
            os.makedirs(path, exist_ok=True)

    def _end_wineserver(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60,
                       check=False)

    def windows_to_posix(self, path):
        self.assertTrue(path[:3].upper() == "C:\\", path)
        return os.path.join(self.drive_c, *[p for p in path[3:].split("\\") if p])

    def type_at_prompt(self, folder, line, name):
        """`line` typed into a command prompt opened in `folder`; the
        batch file only stands in for the keyboard."""
        batch = os.path.join(self.root, f"{name}.bat")
        with open(batch, "wb") as handle:
            handle.write(b"@echo off\r\n" + line.encode("ascii") + b"\r\n")
        return _run_wine(["wine", "cmd", "/c", harness.wine_path(batch)], folder, self.env, name)

    def type_in_terminal(self, folder, line, name):
        """`line` typed into a Unix shell opened in `folder`, with WINEPREFIX
        set as for the radar client; the script only stands in for the
        keyboard."""
        script = os.path.join(self.root, f"{name}.sh")
        with open(script, "wb") as handle:
            handle.write(line.encode("ascii") + b"\n")
        return _run_wine(["sh", script], folder, self.env, name)

    def test_install_check_and_try_without_euroscope(self):
        readme = _member("README.txt").decode("ascii").replace("\r\n", "\n")
        commands = re.findall(r"^[ \t]+(ZeltanDokTestClient\.exe [^\n]*?)[ \t]*$", readme,
                              re.MULTILINE)
        self.assertEqual(len(commands), 3, f"README commands: {commands}")
        check_line, selftest_line, try_line = commands
        # Under Wine the same commands, typed into a Unix shell.
        wine_commands = re.findall(r"^[ \t]+(wine ZeltanDokTestClient\.exe [^\n]*?)[ \t]*$",
                                   readme, re.MULTILINE)
        self.assertEqual(wine_commands, ["wine " + command for command in commands])
        self.assertIn("<folder>", check_line)
        self.assertIn(r"Documents\EuroScope\Plugins", readme)
        example = re.search(r"for example\s+(C:\\[^\n]*?)\\?[ \t]*$", readme, re.MULTILINE)
        self.assertIsNotNone(example, "README names no C:\\ folder to try the plug-in in")
        try_folder = example.group(1)
        self.assertIn(" ", try_folder, "the README's try-out folder should exercise spaces")

        # The package unpacked where a browser puts it.
        downloads = os.path.join(self.profile, "Downloads")
        with _bundle() as archive:
            archive.extractall(downloads)
        package = os.path.join(downloads, BUNDLE)
        test_client = os.path.join(package, "TestClient")

        # Section 1, steps 1 and 2.
        plugin_windows = (f"C:\\users\\{self.user}\\Documents\\EuroScope\\Plugins\\"
                          "Zeltan Dok Bridge")
        plugin_folder = self.windows_to_posix(plugin_windows)
        os.makedirs(plugin_folder)
        for name in ("ZeltanDokBridge.dll", "ZeltanDokBridge.ini"):
            shutil.copy2(os.path.join(package, name), plugin_folder)
        receiver = self.start_receiver()
        ini_path = os.path.join(plugin_folder, "ZeltanDokBridge.ini")
        settings = read_bytes(ini_path).decode("ascii")
        settings = _replace_setting(settings, "Endpoint", receiver.url("/stands"))
        settings = _replace_setting(settings, "Token", TOKEN)
        settings = _replace_setting(settings, "Airports", "eddf; EDDM")
        with open(ini_path, "wb") as handle:
            handle.write(settings.encode("ascii"))

        # Section 1, step 3.
        status, out, err = self.type_at_prompt(
            test_client, check_line.replace("<folder>", plugin_windows), "new-user-check")
        check = stdout_lines(out)
        report = "\n".join(check) + err[-2000:]
        self.assertEqual(status, 0, report)
        self.assertEqual(check[-1:], ["verdict: delivery would start"], report)
        self.assertIn(f"settings file: {plugin_windows}\\ZeltanDokBridge.ini", check, report)
        self.assertIn(f"  host: 127.0.0.1  port: {receiver.port} (plain HTTP, this machine only)"
                      "  path: /stands", check, report)
        self.assertIn("  airports: EDDF; EDDM -> codes: EDDF EDDM", check, report)
        self.assertNotIn(TOKEN, out.decode("latin-1"))

        # Section 6, Wine: the shell must hand the backslashes and spaces
        # through as the command prompt does.
        wine_status, wine_out, wine_err = self.type_in_terminal(
            test_client, wine_commands[0].replace("<folder>", plugin_windows),
            "new-user-check-wine")
        self.assertEqual((wine_status, stdout_lines(wine_out)), (status, check),
                         wine_err[-2000:])

        # Section 5, the self-test first: nothing but the bundle needed.
        status, out, err = self.type_at_prompt(test_client, selftest_line, "new-user-selftest")
        selftest = stdout_lines(out)
        self.assertEqual((status, selftest[-1][:len("verdict: PASS")]), (0, "verdict: PASS"),
                         "\n".join(selftest) + err[-2000:])

        # Then the scenario, steps 1 to 3.
        try_posix = self.windows_to_posix(try_folder)
        os.makedirs(try_posix)
        shutil.copy2(os.path.join(package, "ZeltanDokBridge.dll"), try_posix)
        shutil.copy2(ini_path, try_posix)
        started = datetime.datetime.now(datetime.timezone.utc)
        begin = time.monotonic()
        status, out, err = self.type_at_prompt(test_client, try_line, "new-user-try")
        run = harness.Run(
            exit_code=status, stdout=stdout_lines(out), stderr=err,
            elapsed=time.monotonic() - begin, started=started,
            ended=datetime.datetime.now(datetime.timezone.utc),
            log_bytes=self._read_log(try_posix), folder=try_posix)
        self.assert_clean_run(run)
        self.assertIn(f"init: plug-in 'ZELTAN DOK Bridge' version {VERSION} compatibility 16",
                      run.stdout, run.describe())

        self.assertEqual(self.checked_bodies(run, receiver), SAMPLE_EVENTS)
        lines = self.assert_log_sane(run)
        messages = [line.message for line in lines]
        self.assertEqual(messages[:1], [LOADED], run.describe())
        self.assertEqual(messages[-1:], [UNLOADED], run.describe())
        self.assertEqual([m for m in messages if m.startswith("Captured ")],
                         [event_line("Captured", e) for e in SAMPLE_EVENTS], run.describe())
        self.assertEqual([m for m in messages if m.startswith("Delivered ")],
                         [event_line("Delivered", e, 201) for e in SAMPLE_EVENTS],
                         run.describe())
        self.assertEqual(len(messages), 2 + 2 * len(SAMPLE_EVENTS), run.describe())

    @staticmethod
    def _read_log(folder):
        path = os.path.join(folder, "ZeltanDokBridge.log")
        return read_bytes(path) if os.path.exists(path) else b""


def _token(label, length):
    """A distinct token per case, so any piece of it in the output is
    traceable to a leak."""
    digest = ""
    counter = 0
    while len(digest) < length:
        digest += hashlib.sha256(f"{label}/{counter}".encode()).hexdigest()
        counter += 1
    return digest[:length]


def _host(length):
    """A dotted host name of exactly `length` characters."""
    labels = []
    while sum(len(x) + 1 for x in labels) - 1 < length - 4:
        labels.append("x" * min(60, length - 4 - sum(len(x) + 1 for x in labels)))
    name = ".".join(labels) + ".org"
    while len(name) > length:
        labels[0] = labels[0][:-1]
        name = ".".join(labels) + ".org"
    assert len(name) == length, (len(name), length)
    return name


SHOWN_NEVER = "(the token itself is never shown)"
REFUSED = ("verdict: delivery would not start; the log would say "
           "\"Bridge disabled: Endpoint/Token missing or invalid\"")
SCHEME = "refused: the endpoint must begin with https:// (lower case), or http:// for this machine"
PLAIN = ("refused: plain http:// is only allowed to localhost or 127.0.0.1, with a port "
         "(http://127.0.0.1:8080/path); use https:// for any other host")
PORT = "refused: the port must be a number from 1 to 65535"
SHORT_TOKEN = "refused: the token is shorter than 32 characters"
NO_TOKEN = "refused: the Token key is missing or empty"
HOST_255 = _host(250) + ":8443"
HOST_256 = _host(251) + ":8443"


# The check reads each value with room for 4095 characters, past every
# field of the plug-in, and prints lines of at most 1021 characters.
CHECK_ROOM = 4095
CONSOLE_LINE = 1021
AS_WRITTEN = ("verdict: delivery would start, but not as written: every event would fail or go "
              "elsewhere")


def _escaped(text):
    return "".join(c if 32 <= ord(c) <= 126 else f"\\x{ord(c):02X}" for c in text)


def _length(length):
    if length < CHECK_ROOM:
        return f"{length} characters"
    return f"{CHECK_ROOM} or more characters"


def _cut(what, length, kept, outcome):
    return (f"refused: {what} has {_length(length)}; the plug-in keeps only its first "
            f"{kept}{outcome}")


def _token_cut(length):
    return _cut("the token", length, 255,
                " and sends those, so the endpoint would refuse every request")


def _endpoint_cut(length):
    return _cut("the Endpoint", length, 2047,
                ", so events would go to a different endpoint than the one written")


def _path_cut(length):
    return _cut("the Endpoint's path", length, 1535,
                ", so events would go to a different path than the one written")


def _no_host_name(host, byte):
    return (f"refused: the host \"{host}\" holds {byte}, which no host name has: the plug-in "
            "would load, and every attempt would fail without an HTTP status")


# Refusals of what the plug-in accepts and then cannot use as written: it
# would still show the parsed address.
ADDRESS_STILL_SHOWN = (NO_TOKEN, SHORT_TOKEN, "refused: the token has ",
                       "refused: the Endpoint has ", "refused: the Endpoint's path has ",
                       "refused: the host \"")
AIRPORTS_76 = "EDDF, EDDM, EDDH, EDDB, EDDK, EDDL, EDDS, EDDN, EDDP, EDDV, EDDC, EDDR, EDDW"
AIRPORTS_63 = "EDDF, EDDM, EDDH, EDDB, EDDK, EDDL, EDDS, EDDN, EDDP, EDDV,EDDC"


def _accepted(host, port, secure, path, codes):
    kind = "(TLS)" if secure else "(plain HTTP, this machine only)"
    return [f"  host: {host}  port: {port} {kind}  path: {path}", f" -> codes: {codes}",
            "verdict: delivery would start"]


# (label, endpoint or None for no such line, token length or None for no
#  Token line, extra lines or None for no file at all, expected exit status,
#  phrases the output must hold).
CHECK_CASES = [
    ("no settings file", None, None, None, 1,
     ["refused: there is no settings file at that path"]),
    ("empty endpoint", "", 40, [], 1, ["refused: the Endpoint key is missing or empty"]),
    ("no Endpoint key", None, 40, [], 1, ["refused: the Endpoint key is missing or empty"]),
    ("ftp scheme", "ftp://stands.example.org/x", 40, [], 1, [SCHEME]),
    ("upper-case scheme", "HTTPS://stands.example.org/x", 40, [], 1, [SCHEME]),
    ("scheme without slashes", "https:stands.example.org/x", 40, [], 1, [SCHEME]),
    ("plain http to another host", "http://stands.example.org:8080/x", 40, [], 1, [PLAIN]),
    ("plain http to a name beginning like loopback", "http://127.0.0.1.example.org:8080/x",
     40, [], 1, [PLAIN]),
    ("plain http to loopback without port", "http://127.0.0.1/x", 40, [], 1, [PLAIN]),
    ("plain http to localhost without port", "http://localhost/x", 40, [], 1, [PLAIN]),
    ("port 0", "https://stands.example.org:0/x", 40, [], 1, [PORT]),
    ("port 65536", "https://stands.example.org:65536/x", 40, [], 1, [PORT]),
    ("port in letters", "https://stands.example.org:https/x", 40, [], 1, [PORT]),
    ("empty port", "http://127.0.0.1:/x", 40, [], 1, [PORT]),
    ("port of eight characters", "https://stands.example.org:00000443/x", 40, [], 1,
     ["refused: the port has more than 7 characters: drop its leading zeros"]),
    ("port 0 on loopback", "http://localhost:0/x", 40, [], 1, [PORT]),
    ("empty host", "https://:8443", 40, [], 1, ["refused: the host name is empty"]),
    ("no host at all", "https:///x", 40, [], 1, ["refused: there is no host after the scheme"]),
    ("authority of 256 characters", f"https://{HOST_256}/x", 40, [], 1,
     ["refused: the host and port are 256 characters or longer"]),
    ("token empty", "https://stands.example.org/x", 0, [], 1,
     ["  token: 0 characters", NO_TOKEN]),
    ("no Token key", "https://stands.example.org/x", None, [], 1,
     ["  token: 0 characters", NO_TOKEN]),
    ("token of 31 characters", "https://stands.example.org/x", 31, [], 1,
     ["  token: 31 characters", SHORT_TOKEN]),
    ("endpoint and token both wrong", "http://stands.example.org/x", 31, [], 1,
     [PLAIN, SHORT_TOKEN]),
    ("https with the default port", "https://stands.example.org", 40, [], 0,
     _accepted("stands.example.org", 443, True, "/", "EDDF EDDM")),
    ("https with port and path", "https://stands.example.org:8443/v1/events", 40, [], 0,
     _accepted("stands.example.org", 8443, True, "/v1/events", "EDDF EDDM")),
    ("plain http to 127.0.0.1 with port", "http://127.0.0.1:8080/x", 40, [], 0,
     _accepted("127.0.0.1", 8080, False, "/x", "EDDF EDDM")),
    ("plain http to localhost, highest port, no path", "http://localhost:65535", 40, [], 0,
     _accepted("localhost", 65535, False, "/", "EDDF EDDM")),
    ("token of exactly 32 characters", "https://stands.example.org/x", 32, [], 0,
     ["  token: 32 characters"] + _accepted("stands.example.org", 443, True, "/x",
                                            "EDDF EDDM")),
    ("authority of 255 characters", f"https://{HOST_255}/x", 40, [], 0,
     _accepted(HOST_255[:-5], 8443, True, "/x", "EDDF EDDM")),
    ("blanks around = and around values", "   https://stands.example.org/v1   ", 40,
     ["Airports   =   eddm   "], 0,
     _accepted("stands.example.org", 443, True, "/v1", "EDDM")),
    ("airport codes in lower case, every separator", "https://stands.example.org/x", 40,
     ["Airports = eddf;eddm, edds\tEDDK"], 0,
     ["  airports: EDDF;EDDM, EDDS\\x09EDDK -> codes: EDDF EDDM EDDS EDDK",
      "verdict: delivery would start"]),
    ("empty Airports falls back to EDDF and EDDM", "https://stands.example.org/x", 40,
     ["Airports ="], 0, ["  airports: EDDF,EDDM -> codes: EDDF EDDM"]),
    # The plug-in cuts each value to its field and takes any host text; it
    # loads, and then every event fails or goes elsewhere. Only the check can
    # say so before it happens.
    ("token of 255 characters, kept whole", "https://stands.example.org/x", 255, [], 0,
     ["  token: 255 characters"] + _accepted("stands.example.org", 443, True, "/x", "EDDF EDDM")),
    ("token of 256 characters", "https://stands.example.org/x", 256, [], 1,
     [_token_cut(256), AS_WRITTEN]),
    ("token longer than the check's room", "https://stands.example.org/x", 5000, [], 1,
     [f"  token: {CHECK_ROOM} or more characters", _token_cut(5000), AS_WRITTEN]),
    ("endpoint of 2100 characters", "https://stands.example.org/" + "p" * 2073, 40, [], 1,
     [_endpoint_cut(2100), AS_WRITTEN]),
    ("endpoint of 2100 characters and a wrong scheme", "ftp://stands.example.org/" + "p" * 2075,
     40, [], 1, [SCHEME, _endpoint_cut(2100)]),
    ("path of 1535 characters, kept whole", "https://stands.example.org/" + "p" * 1534, 40, [], 0,
     ["verdict: delivery would start"]),
    ("path of 1536 characters", "https://stands.example.org/" + "p" * 1535, 40, [], 1,
     [_path_cut(1536), AS_WRITTEN]),
    ("user name before the host", "https://user@stands.example.org/x", 40, [], 1,
     [_no_host_name("user@stands.example.org", '"@"'), AS_WRITTEN]),
    ("user name and password before the host", "https://user:pw@stands.example.org/x", 40, [],
     1, [PORT]),
    ("fragment after the host", "https://stands.example.org#top", 40, [], 1,
     [_no_host_name("stands.example.org#top", '"#"'), AS_WRITTEN]),
    ("query after the host", "https://stands.example.org?a=1", 40, [], 1,
     [_no_host_name("stands.example.org?a=1", '"?"'), AS_WRITTEN]),
    ("backslash in the host", "https://stands.example.org\\v1/x", 40, [], 1,
     [_no_host_name("stands.example.org\\v1", '"\\"'), AS_WRITTEN]),
    ("space inside the host", "https://stands example.org/x", 40, [], 1,
     [_no_host_name("stands example.org", "a space"), AS_WRITTEN]),
    ("space before the port", "https://stands.example.org :8443/x", 40, [], 1,
     [_no_host_name("stands.example.org ", "a space"), AS_WRITTEN]),
    ("control byte in the host", "https://stands\x01.example.org/x", 40, [], 1,
     [_no_host_name("stands\\x01.example.org", "the control byte \\x01"), AS_WRITTEN]),
    ("Airports of 63 characters, kept whole", "https://stands.example.org/x", 40,
     [f"Airports = {AIRPORTS_63}"], 0,
     [" -> codes: EDDF EDDM EDDH EDDB EDDK EDDL EDDS EDDN EDDP EDDV EDDC",
      "verdict: delivery would start"]),
    ("Airports of 76 characters: the last codes lost, one cut short",
     "https://stands.example.org/x", 40, [f"Airports = {AIRPORTS_76}"], 0,
     [" -> codes: EDDF EDDM EDDH EDDB EDDK EDDL EDDS EDDN EDDP EDDV EDD",
      "warning: the Airports value has 76 characters; the plug-in keeps only its first 63: "
      "EDDC EDDR EDDW would never match, and EDD, a code cut short, would be listed",
      "verdict: delivery would start"]),
]


class SettingsCheck(unittest.TestCase):

    def _write_case(self, folder, endpoint, token, extra):
        os.makedirs(folder)
        lines = ["; written by test_release", "[Bridge]"]
        if endpoint is not None:
            lines.append(f"Endpoint = {endpoint}")
        if token is not None:
            lines.append(f"Token = {token}")
        lines += extra
        with open(os.path.join(folder, "ZeltanDokBridge.ini"), "wb") as handle:
            handle.write(("\r\n".join(lines) + "\r\n").encode("ascii"))
        return lines

    def _run_case(self, index, case):
        label, endpoint, length, extra, _, _ = case
        folder = _work("check", f"{index:02d}")
        token = _token(label, length) if length is not None else None
        shown = ["(no file)"]
        if extra is not None:
            shown = self._write_case(folder, endpoint, token, extra)
            shown = [re.sub(r"^Token = .*", f"Token = <{length} characters>", line)
                     for line in shown]
        ini = os.path.join(folder, "ZeltanDokBridge.ini")
        command = ["wine", os.path.join(harness.build_dir(), "ZeltanDokTestClient.exe"), "check",
                   harness.wine_path(ini)]
        status, out, err = _run_wine(command, _work(), harness.wine_env(), f"check-{index:02d}")
        return token, shown, status, out, err

    def test_each_rule_gives_its_verdict_and_the_token_stays_secret(self):
        shutil.rmtree(_work("check"), ignore_errors=True)
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            results = list(pool.map(self._run_case, range(len(CHECK_CASES)), CHECK_CASES))

        transcript = []
        for case, (_, shown, status, out, _) in zip(CHECK_CASES, results):
            transcript.append(f"== {case[0]}")
            transcript += [f"   | {line}" for line in shown]
            transcript += out.decode("latin-1").replace("\r\n", "\n").rstrip("\n").split("\n")
            transcript.append(f"exit status {status}")
            transcript.append("")
        text = "\n".join(transcript)
        with open(os.path.join(harness.work_dir(), "check_outputs.txt"), "w") as handle:
            handle.write(text)
        print("\n" + text)

        for case, (token, _, status, out, err) in zip(CHECK_CASES, results):
            label, endpoint, length, extra, want_status, phrases = case
            with self.subTest(case=label):
                lines = stdout_lines(out)
                report = "\n".join(lines) + (f"\nstderr: {err[-1000:]}" if err.strip() else "")
                self.assertEqual(status, want_status, report)
                self.assertTrue(lines and lines[0].startswith("settings file: Z:\\"), report)
                for phrase in phrases:
                    self.assertTrue(any(phrase in line for line in lines),
                                    f"{phrase!r} missing\n{report}")
                if extra is None:
                    self.assertEqual(len(lines), 2, report)
                    continue
                verdicts = [p for p in phrases if p.startswith("verdict: ")]
                self.assertEqual(lines[-1:], verdicts[:1] or [
                    "verdict: delivery would start" if want_status == 0 else REFUSED], report)
                shown = f"  endpoint: {_escaped((endpoint or '').strip())}"
                self.assertIn(shown[:CONSOLE_LINE], lines, report)
                self.assertIn(f"  token: {_length(len(token or ''))} (at least 32 needed; "
                              f"the token itself is never shown)", lines, report)
                for line in lines:
                    if line.startswith("warning: "):
                        self.assertIn(line, phrases, report)
                refusals = [line for line in lines if line.startswith("refused: ")]
                self.assertEqual(bool(refusals), want_status != 0, report)
                # The parsed address is shown exactly when the plug-in would
                # accept the endpoint.
                endpoint_refused = any(not r.startswith(ADDRESS_STILL_SHOWN) for r in refusals)
                self.assertEqual(any(line.startswith("  host: ") for line in lines),
                                 not endpoint_refused, report)
                if token:
                    text = out.decode("latin-1")
                    for start in range(0, len(token) - 7):
                        self.assertNotIn(token[start:start + 8], text,
                                         f"a piece of the token is in the output\n{report}")

    def test_a_byte_order_mark_before_the_section_is_warned_about(self):
        # Windows misses a [Bridge] right behind a UTF-8 byte-order mark; Wine
        # does not, so only the warning tells a controller checking under Wine.
        body = "Endpoint = https://stands.example.org/x\r\nToken = " + "t" * 40 + "\r\n"
        cases = [
            ("mark, then the section", b"\xef\xbb\xbf[Bridge]\r\n", True),
            ("mark, blanks, then the section", b"\xef\xbb\xbf \t[Bridge]\r\n", True),
            ("mark, then a comment line", b"\xef\xbb\xbf; settings\r\n[Bridge]\r\n", False),
            ("no mark", b"[Bridge]\r\n", False),
        ]
        for index, (label, head, warned) in enumerate(cases):
            with self.subTest(label):
                folder = _work("check-bom", f"{index}")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                ini = os.path.join(folder, "ZeltanDokBridge.ini")
                with open(ini, "wb") as handle:
                    handle.write(head + body.encode("ascii"))
                command = ["wine", os.path.join(harness.build_dir(), "ZeltanDokTestClient.exe"),
                           "check", harness.wine_path(ini)]
                status, out, _ = _run_wine(command, folder, harness.wine_env(),
                                           f"check-bom-{index}")
                lines = stdout_lines(out)
                self.assertEqual(any(line.startswith("warning: the file begins with a UTF-8 "
                                                     "byte-order mark") for line in lines),
                                 warned, lines)
                # Wine reads the section either way: the verdict is this platform's.
                self.assertEqual((status, lines[-1:]), (0, ["verdict: delivery would start"]),
                                 lines)

    def test_settings_as_shipped_do_not_start_delivery(self):
        # A controller who skips editing the file must be told so, not get
        # "delivery would start" and a plug-in posting a placeholder token
        # to an example address.
        folder = _work("check-shipped")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        ini = os.path.join(folder, "ZeltanDokBridge.ini")
        with open(ini, "wb") as handle:
            handle.write(_member("ZeltanDokBridge.ini"))
        command = ["wine", os.path.join(harness.build_dir(), "ZeltanDokTestClient.exe"), "check",
                   harness.wine_path(ini)]
        status, out, _ = _run_wine(command, folder, harness.wine_env(), "check-shipped")
        lines = stdout_lines(out)
        text = ("\n== the bundle's ZeltanDokBridge.ini, unedited\n" + "\n".join(lines) +
                f"\nexit status {status}\n")
        print("\n" + text)
        with open(os.path.join(harness.work_dir(), "check_outputs.txt"), "a") as handle:
            handle.write(text)
        self.assertEqual(lines[-1:], [REFUSED], "\n".join(lines))
        self.assertEqual(status, 1, "\n".join(lines))

    def test_relative_name_from_the_settings_folder(self):
        # The .ini's own comment shows the check run beside the file with a
        # bare name; the check must resolve it against the current folder.
        folder = _work("check-relative")
        shutil.rmtree(folder, ignore_errors=True)
        self._write_case(folder, "https://stands.example.org/v1/events", _token("relative", 40),
                         [])
        command = ["wine", os.path.join(harness.build_dir(), "ZeltanDokTestClient.exe"), "check",
                   "ZeltanDokBridge.ini"]
        status, out, _ = _run_wine(command, folder, harness.wine_env(), "check-relative")
        lines = stdout_lines(out)
        self.assertEqual(status, 0, lines)
        self.assertEqual(lines[0], "settings file: "
                         + harness.wine_path(os.path.join(folder, "ZeltanDokBridge.ini")), lines)
        self.assertEqual(lines[-1], "verdict: delivery would start", lines)

    def test_the_log_beside_is_opened_as_the_plugin_does_and_left_as_found(self):
        def make_folder(log):
            os.makedirs(log)
        # (label, what is at the log's place beforehand, exit status, the
        #  line about the log, the verdict)
        cases = [
            ("no log yet", None, 0, "  log: {log} can be created", "verdict: delivery would start"),
            ("a log from earlier loads", b"2026-12-07T08:00:00.000Z Bridge unloaded\r\n", 0,
             "  log: {log} can be written", "verdict: delivery would start"),
            # Windows will not open a folder for writing: as with a folder
            # the controller may not write to, the plug-in would log nothing.
            ("a folder in the log's place", make_folder, 1,
             "refused: the log cannot be written: {log} (Windows error 5: ",
             "verdict: delivery would start, but without a log"),
        ]
        for index, (label, before, status_wanted, line_wanted, verdict) in enumerate(cases):
            with self.subTest(label):
                folder = _work("check-log", f"{index}")
                shutil.rmtree(folder, ignore_errors=True)
                self._write_case(folder, "https://stands.example.org/x", "t" * 40, [])
                log = os.path.join(folder, "ZeltanDokBridge.log")
                if callable(before):
                    before(log)
                elif before is not None:
                    with open(log, "wb") as handle:
                        handle.write(before)
                command = ["wine", os.path.join(harness.build_dir(), "ZeltanDokTestClient.exe"),
                           "check", harness.wine_path(os.path.join(folder, "ZeltanDokBridge.ini"))]
                status, out, _ = _run_wine(command, folder, harness.wine_env(), f"check-log-{index}")
                lines = stdout_lines(out)
                wanted = line_wanted.format(log=harness.wine_path(log))
                self.assertTrue(any(line.startswith(wanted) for line in lines), (wanted, lines))
                self.assertEqual((status, lines[-1]), (status_wanted, verdict), lines)
                # Opened, never written: the file is as it was, or still absent.
                if before is None:
                    self.assertFalse(os.path.exists(log), lines)
                elif not callable(before):
                    self.assertEqual(read_bytes(log), before, lines)


class VersionResource(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.path = os.path.join(harness.build_dir(), "ZeltanDokBridge.dll")
        cls.info = read_version_info(cls.path)

    def test_properties_windows_shows(self):
        info = self.info
        self.assertEqual(info.file_version, (0, 1, 0, 0))
        self.assertEqual(info.product_version, (0, 1, 0, 0))
        self.assertEqual(info.file_type, 2, "VFT_DLL")
        cases = [("ProductName", "ZELTAN DOK Bridge"), ("FileVersion", VERSION),
                 ("ProductVersion", VERSION), ("OriginalFilename", "ZeltanDokBridge.dll")]
        for name, value in cases:
            with self.subTest(name=name):
                self.assertEqual(info.string(name), value)
        self.assertTrue((info.string("FileDescription") or "").strip(), info.strings)

    def test_translation_names_the_string_table(self):
        # Explorer looks the strings up through the translation; a table
        # under another key shows as blank properties.
        self.assertTrue(self.info.translations)
        keys = {f"{language:04x}{codepage:04x}" for language, codepage in self.info.translations}
        self.assertTrue(keys & {k.lower() for k in self.info.strings},
                        f"translations {self.info.translations}, tables {list(self.info.strings)}")

    def test_llvm_readobj_sees_the_same_resource(self):
        tool = shutil.which("llvm-readobj") or shutil.which("llvm-readobj-14")
        if not tool:
            self.skipTest("llvm-readobj not found")
        done = subprocess.run([tool, "--coff-resources", self.path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=120, check=True)
        self.assertIn("Type: VERSIONINFO (ID 16)", done.stdout)
        rva = re.search(r"DataRVA: (0x[0-9A-Fa-f]+)", done.stdout)
        size = re.search(r"DataSize: (\d+)", done.stdout)
        self.assertEqual((int(rva.group(1), 16), int(size.group(1))),
                         (self.info.data_rva, self.info.data_size))


class ReproducibleBuild(unittest.TestCase):

    def test_fresh_build_tree_gives_the_same_bytes(self):
        tree = _work("second build")
        shutil.rmtree(tree, ignore_errors=True)
        configure = ["cmake", "-S", ROOT, "-B", tree, "-G", "Ninja",
                     f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/i686-windows-msvc.cmake"]
        for command in (configure, ["cmake", "--build", tree]):
            done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=600, check=False)
            self.assertEqual(done.returncode, 0, done.stdout.decode("utf-8", "replace")[-4000:])
        build = harness.build_dir()
        # Both trees from one state of the source, even if it was edited
        # since release.sh last built the first one.
        done = subprocess.run(["cmake", "--build", build], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600,
                              check=False)
        self.assertEqual(done.returncode, 0, done.stdout.decode("utf-8", "replace")[-4000:])
        for name in PRODUCT_FILES:
            first = read_bytes(os.path.join(build, name))
            second = read_bytes(os.path.join(tree, name))
            print(f"{name}: {len(first)} bytes, SHA-256 {_sha256(first)}")
            with self.subTest(name=name):
                self.assertEqual(_sha256(second), _sha256(first),
                                 f"{name} differs between {build} and {tree}")


if __name__ == "__main__":
    unittest.main()
