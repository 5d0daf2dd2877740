"""The version is written once, in CMakeLists.txt's project(): no code, build
file, script, workflow or shipped text restates it, and the release tag's
check (scripts/release_tag.sh) refuses every tag but v<version> and a
version that CHANGELOG.md has no entry for."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VERSION = subprocess.run([os.path.join(ROOT, "scripts", "version.sh")], check=True, text=True,
                         stdout=subprocess.PIPE).stdout.strip()
MAJOR, MINOR, PATCH = (int(part) for part in VERSION.split("."))

# Code, build files, scripts, the workflow and the texts the zip ships.
CHECKED = re.compile(r"(\.(cpp|h|rc|in|cmake|sh|py|yml|def|ini|txt)|CMakeLists\.txt|"
                     r"CMakePresets\.json)$")
SKIPPED = {".git", "build", "corpus"}


def tree_files():
    for folder, subfolders, files in os.walk(ROOT):
        subfolders[:] = [name for name in subfolders if name not in SKIPPED]
        for name in files:
            if CHECKED.search(name):
                yield os.path.join(folder, name)


def run(folder, *command):
    done = subprocess.run([os.path.join(folder, "scripts", command[0]), *command[1:]], text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    return done.returncode, done.stdout, done.stderr


class OneVersion(unittest.TestCase):

    def test_only_cmakelists_writes_the_version(self):
        # The whole version, and the User-Agent's major.minor.
        written = re.compile(rf"(?<![\d.]){re.escape(VERSION)}(?![\d])|"
                             rf"Bridge/{MAJOR}\.{MINOR}(?![\d])")
        files, found = 0, []
        for path in tree_files():
            files += 1
            with open(path, encoding="utf-8", errors="replace") as handle:
                for number, line in enumerate(handle, 1):
                    if written.search(line):
                        found.append(f"{os.path.relpath(path, ROOT)}:{number}: {line.strip()}")
        print(f"{files} files searched for {VERSION} and Bridge/{MAJOR}.{MINOR}:")
        print("\n".join(found))
        self.assertGreater(files, 100, "too few files searched: is this the source tree?")
        self.assertEqual([line.split(":", 1)[0] for line in found], ["CMakeLists.txt"], found)


# (what is planted, the tag, the changelog, exit status, a text the output must hold)
ENTRY = "## [{v}] - 2026-12-08\n\nThe first release.\n"
TAG_CASES = [
    ("the tag of the version", f"v{VERSION}", ENTRY, 0, "The first release."),
    ("a later patch", f"v{MAJOR}.{MINOR}.{PATCH + 1}", ENTRY, 1,
     f"CMakeLists.txt says {VERSION}, so the tag must be v{VERSION}"),
    ("no v", VERSION, ENTRY, 1, "does not name the version"),
    ("a suffix", f"v{VERSION}-rc1", ENTRY, 1, "does not name the version"),
    ("major.minor only", f"v{MAJOR}.{MINOR}", ENTRY, 1, "does not name the version"),
    ("the entry of another version", f"v{VERSION}", ENTRY.replace("{v}", "9.9.9"), 1,
     f"no entry '## [{VERSION}]'"),
    ("a heading with nothing under it", f"v{VERSION}",
     "## [{v}] - 2026-12-08\n\n## [0.0.1] - 2026-01-01\n\nolder\n", 1, f"no entry '## [{VERSION}]'"),
]


class ReleaseTag(unittest.TestCase):

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="release-tag-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.mkdir(os.path.join(self.folder, "scripts"))
        for name in ("version.sh", "release_tag.sh"):
            shutil.copy2(os.path.join(ROOT, "scripts", name), os.path.join(self.folder, "scripts"))
        shutil.copy2(os.path.join(ROOT, "CMakeLists.txt"), self.folder)

    def plant(self, name, text):
        with open(os.path.join(self.folder, name), "w", encoding="utf-8") as handle:
            handle.write(text)

    def test_each_tag_and_changelog_gets_its_verdict(self):
        for what, tag, changelog, status, text in TAG_CASES:
            with self.subTest(what=what):
                self.plant("CHANGELOG.md", "# Changelog\n\n" + changelog.replace("{v}", VERSION))
                seen, out, err = run(self.folder, "release_tag.sh", tag)
                print(f"{what}: {tag} -> exit {seen}: {(out + err).strip()}")
                self.assertEqual(seen, status, out + err)
                self.assertIn(text, out + err)

    def test_the_real_changelog_has_the_versions_entry(self):
        status, out, err = run(ROOT, "release_tag.sh", f"v{VERSION}")
        self.assertEqual(status, 0, err)
        self.assertTrue(out.strip(), "an empty entry")

    def test_version_script_refuses_a_cmakelists_without_one_version(self):
        line = f"project(ZeltanDokBridge VERSION {VERSION} LANGUAGES CXX)\n"
        for what, text, status in [("one project line", line, 0), ("none", "project(X)\n", 1),
                                   ("two", line + line, 1),
                                   ("no patch", line.replace(VERSION, f"{MAJOR}.{MINOR}"), 1)]:
            with self.subTest(what=what):
                self.plant("CMakeLists.txt", text)
                seen, out, err = run(self.folder, "version.sh")
                self.assertEqual(seen, status, out + err)
                self.assertEqual(out.strip(), VERSION if status == 0 else "")


if __name__ == "__main__":
    unittest.main()
