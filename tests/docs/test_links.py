"""Every relative link in the repository's tracked Markdown files leads to a
file or folder that exists, and a link's #anchor to a heading of the file
it names. Links to other sites are not followed (no network here).

Run from anywhere: python3 test_links.py [repository root]; without an
argument the root is two folders up from this file.
"""

import os
import re
import subprocess
import sys
import unittest

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 and __name__ == "__main__"
                       else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

FENCE = re.compile(r"^\s*(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
# [text](target) or ![alt](target), target up to the first space or ')'.
INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
EXTERNAL = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def tracked_markdown(root):
    listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "--", "*.md"],
                            stdout=subprocess.PIPE, check=True, timeout=60).stdout
    return sorted(name for name in listed.decode("utf-8").split("\0") if name)


def prose_lines(text):
    """(line number, line) outside fenced code blocks, code spans blanked."""
    fenced = False
    for number, line in enumerate(text.split("\n"), 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        if not fenced:
            yield number, CODE_SPAN.sub("", line)


def slug(heading):
    """The anchor GitHub gives a heading: lower case, markup and punctuation
    dropped, spaces to hyphens."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading).replace("`", "")
    text = re.sub(r"[^\w\- ]", "", text.lower())
    return text.replace(" ", "-")


def anchors(text):
    found, seen = set(), {}
    for _, line in prose_lines(text):
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def links(text):
    for number, line in prose_lines(text):
        for match in INLINE.finditer(line):
            yield number, match.group(1)
        match = REFERENCE.match(line)
        if match:
            yield number, match.group(1)


def problems_of(root, name, text):
    """(links checked, problems) of one Markdown file."""
    checked, problems = 0, []
    for number, target in links(text):
        if not target or EXTERNAL.match(target):
            continue
        checked += 1
        path, _, anchor = target.partition("#")
        resolved = (os.path.join(root, name) if not path else
                    os.path.normpath(os.path.join(root, os.path.dirname(name), path)))
        where = f"{name}:{number}: {target}"
        if not os.path.exists(resolved):
            problems.append(f"{where}: no such file")
        elif anchor and resolved.endswith(".md"):
            with open(resolved, encoding="utf-8") as handle:
                if anchor not in anchors(handle.read()):
                    problems.append(f"{where}: no heading #{anchor}")
    return checked, problems


class RelativeLinks(unittest.TestCase):

    def test_every_relative_link_leads_somewhere(self):
        files = tracked_markdown(ROOT)
        self.assertTrue(files, f"no tracked Markdown file under {ROOT}")
        total, problems = 0, []
        for name in files:
            with open(os.path.join(ROOT, name), encoding="utf-8") as handle:
                checked, found = problems_of(ROOT, name, handle.read())
            print(f"{name}: {checked} relative links", file=sys.stderr)
            total += checked
            problems += found
        print(f"checked {total} relative links in {len(files)} Markdown files", file=sys.stderr)
        self.assertGreater(total, 0, "no relative link found: the check would prove nothing")
        self.assertEqual(problems, [], "\n".join(problems))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
