"""The module's binary interface: what it exports to the radar client and
what it needs from Windows, checked against the DLLs Wine really ships and
the documented names of the client's interface DLL."""

import os
import re
import shutil
import subprocess
import unittest

import harness

WINE_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
DEF_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "sdk",
                        "EuroScopePlugInDll.def")

EXPECTED_EXPORTS = {
    "?EuroScopePlugInInit@@YAXPAPAVCPlugIn@EuroScopePlugIn@@@Z",
    "?EuroScopePlugInExit@@YAXXZ",
}
ALLOWED_IMPORT_DLLS = {"kernel32.dll", "winhttp.dll", "euroscopeplugindll.dll"}
RUNTIME_DLL = re.compile(r"^(msvcr|msvcp|ucrtbase|vcruntime|api-ms-win-crt-|libgcc|libstdc\+\+|"
                         r"libwinpthread|crtdll|msvcrt)", re.IGNORECASE)


def readobj():
    for name in ("llvm-readobj", "llvm-readobj-14"):
        path = shutil.which(name)
        if path:
            return path
    raise unittest.SkipTest("llvm-readobj not found")


def run_readobj(*args):
    done = subprocess.run([readobj(), *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120, check=False, text=True, errors="replace")
    if done.returncode != 0:
        raise AssertionError(f"llvm-readobj {args} failed: {done.stderr}")
    return done.stdout


def blocks(text, kind):
    """The bodies of the top-level `kind {` ... `}` blocks."""
    found = []
    for match in re.finditer(rf"^{kind} \{{\n(.*?)^\}}", text, re.MULTILINE | re.DOTALL):
        found.append(match.group(1))
    return found


def exports(path):
    """Named exports; an unnamed slot with RVA 0 is an unused ordinal, an
    unnamed one with code behind it or forwarded elsewhere an ordinal-only
    export (named '#n'). llvm-readobj 19 prints a forwarded slot's target in
    place of its RVA."""
    names = []
    for body in blocks(run_readobj("--coff-exports", path), "Export"):
        name = re.search(r"^\s*Name: ?(.*)$", body, re.MULTILINE).group(1).strip()
        forwarded = re.search(r"^\s*ForwardedTo: \S", body, re.MULTILINE)
        if name:
            names.append(name)
        elif forwarded or int(re.search(r"^\s*RVA: (0x[0-9A-Fa-f]+)", body,
                                        re.MULTILINE).group(1), 16):
            ordinal = re.search(r"^\s*Ordinal: (\d+)", body, re.MULTILINE).group(1)
            names.append(f"#{ordinal}")
    return names


def imports(path):
    """{dll name: [symbols]} of the ordinary and the delay-load imports,
    and the delay-load DLL names on their own."""
    text = run_readobj("--coff-imports", path)
    table = {}
    delayed = []
    for kind in ("Import", "DelayImport"):
        for body in blocks(text, kind):
            dll = re.search(r"^\s*Name: (.*)$", body, re.MULTILINE).group(1).strip()
            symbols = [s.strip() for s in re.findall(r"^\s*Symbol: (.*?) \(\d+\)$", body,
                                                     re.MULTILINE)]
            table.setdefault(dll, []).extend(symbols)
            if kind == "DelayImport":
                delayed.append(dll)
    return table, delayed


def def_names(path):
    names = []
    in_exports = False
    with open(path, encoding="ascii") as handle:
        for line in handle:
            line = line.split(";", 1)[0].strip()
            if not line:
                continue
            if line.upper() == "EXPORTS":
                in_exports = True
            elif in_exports:
                names.append(line.split()[0])
    return names


class BinaryInterface(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        build = harness.build_dir()
        cls.plugin = os.path.join(build, harness.PLUGIN_NAME)
        cls.interface = os.path.join(build, harness.INTERFACE_NAME)
        cls.imports, cls.delayed = imports(cls.plugin)

    def imported_from(self, dll):
        return [symbol for name, symbols in self.imports.items() if name.lower() == dll
                for symbol in symbols]

    def test_exports_exactly_the_two_entry_points(self):
        names = exports(self.plugin)
        self.assertEqual(sorted(names), sorted(EXPECTED_EXPORTS))

    def test_module_is_32_bit_x86(self):
        headers = run_readobj("--file-headers", self.plugin)
        self.assertRegex(headers, r"Machine: IMAGE_FILE_MACHINE_I386 \(0x14C\)")
        self.assertRegex(headers, r"Magic: 0x10B\b")  # PE32, not PE32+
        self.assertIn("IMAGE_FILE_DLL", headers)

    def test_imports_only_windows_and_the_client_interface(self):
        names = {name.lower() for name in self.imports}
        self.assertTrue(names, "no imports found at all: parsing broken?")
        self.assertLessEqual(names, ALLOWED_IMPORT_DLLS)
        self.assertEqual([n for n in self.imports if RUNTIME_DLL.match(n)], [])
        # Everything the module needs must resolve when the client loads it.
        self.assertEqual(self.delayed, [])

    def test_system_imports_exist_in_wines_dlls(self):
        for dll in ("kernel32.dll", "winhttp.dll"):
            with self.subTest(dll):
                wanted = self.imported_from(dll)
                self.assertTrue(wanted, f"nothing imported from {dll}?")
                available = set(exports(os.path.join(WINE_DLLS, dll)))
                self.assertEqual(sorted(set(wanted) - available), [])

    def test_client_interface_imports_are_documented_and_provided(self):
        wanted = self.imported_from("euroscopeplugindll.dll")
        self.assertTrue(wanted, "the module must build on the client's interface")
        documented = set(def_names(DEF_FILE))
        self.assertEqual(sorted(set(wanted) - documented), [], "not a documented client name")
        provided = set(exports(self.interface))
        self.assertEqual(sorted(set(wanted) - provided), [], "missing from the test client")

    def test_test_client_interface_provides_every_documented_name(self):
        documented = def_names(DEF_FILE)
        self.assertGreater(len(documented), 10)
        provided = set(exports(self.interface))
        self.assertEqual(sorted(set(documented) - provided), [])


if __name__ == "__main__":
    unittest.main()
