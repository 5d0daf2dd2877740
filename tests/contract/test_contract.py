"""The endpoint contract holds the product and nothing else: bodies that
break it are refused, and the bodies the product makes from the extremes
the body fuzzer found all keep it.

Environment (set by ctest):
    ZDB_CORPUS_BODIES  the corpus_bodies helper of the native build
    ZDB_BODY_CORPUS    fuzz/corpus/json_body
"""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import body_contract  # noqa: E402

GOOD = {"action": "assign", "callsign": "DLH4TK", "observedAt": "2026-12-07T08:16:27.430Z",
        "controller": "EDDF_GND", "destination": "EDDF", "stand": "V155"}


def changed(**fields):
    """GOOD with `fields` replaced; None removes a key."""
    body = dict(GOOD, **fields)
    return {key: value for key, value in body.items() if value is not None}


def encoded(body):
    return json.dumps(body, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


# The checks a body goes through; each broken body names the ones that must
# refuse it, so that loosening one fails the test even where another would
# still refuse the body.
READER = frozenset({"the JSON reader"})  # one JSON object, no duplicate keys
SCHEMA = frozenset({"the schema"})  # on the value a plain JSON reader makes of it
FORM = frozenset({"the form"})  # key order, compact, exactly the product's escapes

# (what is wrong, the checks that refuse it, body bytes).
BROKEN = [
    ("unknown action", SCHEMA, encoded(changed(action="occupy"))),
    ("action in upper case", SCHEMA, encoded(changed(action="ASSIGN"))),
    ("assign without stand", SCHEMA, encoded(changed(stand=None))),
    ("assign without destination", SCHEMA, encoded(changed(destination=None))),
    ("cancel with a stand", SCHEMA, encoded(changed(action="cancel"))),
    ("manual_cancel with a destination", SCHEMA,
     encoded(changed(action="manual_cancel", stand=None))),
    ("manual_occupy without stand", SCHEMA,
     encoded(changed(action="manual_occupy", stand=None))),
    ("absent destination sent as null", SCHEMA,
     encoded(changed(action="manual_cancel", stand=None, destination=None)
             | {"destination": None})),
    ("cancel without destination", SCHEMA,
     encoded(changed(action="cancel", stand=None, destination=None))),
    ("manual_cancel with a stand", SCHEMA,
     encoded(changed(action="manual_cancel", destination=None))),
    ("action missing", SCHEMA, encoded(changed(action=None))),
    ("callsign missing", SCHEMA, encoded(changed(callsign=None))),
    ("observedAt missing", SCHEMA, encoded(changed(observedAt=None))),
    ("controller missing", SCHEMA, encoded(changed(controller=None))),
    ("controller as a number", SCHEMA, encoded(changed(controller=5))),
    ("a key of its own", SCHEMA, encoded(changed() | {"gate": "V155"})),
    ("callsign in lower case", SCHEMA, encoded(changed(callsign="dlh4tk"))),
    ("stand of 40 characters", SCHEMA, encoded(changed(stand="A" * 40))),
    ("destination of 8 characters", SCHEMA, encoded(changed(destination="EDDFEDDF"))),
    ("destination with a blank", SCHEMA, encoded(changed(destination="ED DF"))),
    ("a control character the product drops", SCHEMA, encoded(changed(stand="A\u0001"))),
    ("an empty callsign", SCHEMA, encoded(changed(callsign=""))),
    ("an empty stand", SCHEMA, encoded(changed(stand=""))),
    ("an empty controller rather than null", SCHEMA, encoded(changed(controller=""))),
    ("an empty destination", SCHEMA, encoded(changed(destination=""))),
    ("a stand of blanks alone", SCHEMA, encoded(changed(stand=" \t "))),
    ("a controller of blanks alone rather than null", SCHEMA,
     encoded(changed(controller="\r\n"))),
    ("observedAt as a number", SCHEMA, encoded(changed(observedAt=1796631387430))),
    ("observedAt without milliseconds", SCHEMA,
     encoded(changed(observedAt="2026-12-07T08:16:27Z"))),
    ("observedAt with an offset", SCHEMA,
     encoded(changed(observedAt="2026-12-07T08:16:27.430+00:00"))),
    ("observedAt month 13", SCHEMA, encoded(changed(observedAt="2026-13-07T08:16:27.430Z"))),
    # A regular expression's $ also matches before a final line feed, and
    # \d matches digits of every script: the bounds must not rely on either.
    ("observedAt with a trailing line feed", SCHEMA,
     encoded(changed(observedAt="2026-12-07T08:16:27.430Z\n"))),
    ("observedAt in Arabic-Indic digits", SCHEMA,
     encoded(changed(observedAt="\u0662\u0660\u0662\u0666-12-07T08:16:27.430Z"))),
    ("destination with a trailing line feed", SCHEMA, encoded(changed(destination="EDDF\n"))),
    ("keys out of order", FORM, encoded({"callsign": "DLH4TK"} | changed())),
    ("spaces between tokens", FORM, encoded(GOOD).replace(b'":"', b'": "')),
    ("a duplicate key", READER, encoded(GOOD)[:-1] + b',"stand":"V156"}'),
    ("a slash escaped", FORM, encoded(changed(stand="A1/B2")).replace(b"/", b"\\/")),
    ("a JSON array", READER | SCHEMA, b"[" + encoded(GOOD) + b"]"),
    ("an empty body", READER, b""),
]


def refusals(body):
    """The checks that refuse `body`; the form is judged only on a body that
    both others accept."""
    text, refused = body_contract.decode(body)[0], set()
    try:
        body_contract.load_object_pairs(text)
    except body_contract.JsonProblem:
        refused |= READER
    try:
        value = json.loads(text)
    except ValueError:
        pass
    else:
        if any(True for _ in body_contract.VALIDATOR.iter_errors(value)):
            refused |= SCHEMA
    if not refused and body_contract.problem(body) is not None:
        refused |= FORM
    return refused


ENDPOINT_MD = os.path.join(os.path.dirname(body_contract.SCHEMA_PATH), "endpoint.md")


class BrokenBodies(unittest.TestCase):

    def test_the_unbroken_body_and_the_documented_examples_keep_the_contract(self):
        self.assertIsNone(body_contract.problem(encoded(GOOD)))
        with open(ENDPOINT_MD, "rb") as handle:
            examples = [line for line in handle.read().split(b"\n") if line.startswith(b"{")]
        for example in examples:
            with self.subTest(example=example):
                self.assertIsNone(body_contract.problem(example))
        self.assertEqual({json.loads(e)["action"] for e in examples},
                         {"assign", "cancel", "manual_occupy", "manual_cancel"})

    def test_each_break_is_refused_by_the_checks_it_names(self):
        for label, checks, body in BROKEN:
            with self.subTest(label):
                self.assertEqual(sorted(refusals(body)), sorted(checks), body)
                self.assertIsNotNone(body_contract.problem(body), body)


def corpus_bodies():
    """(corpus file name, body bytes or None when the capture refused it),
    four for each file: one for each stand message."""
    helper = os.environ["ZDB_CORPUS_BODIES"]
    corpus = os.environ["ZDB_BODY_CORPUS"]
    files = sorted(os.path.join(corpus, name) for name in os.listdir(corpus))
    done = subprocess.run([helper, *files], stdout=subprocess.PIPE, check=True, timeout=120)
    lines = done.stdout.split(b"\n")
    if lines[-1] != b"":
        raise AssertionError("the helper's output does not end in a line feed")
    found = []
    for line in lines[:-1]:
        name, _, rest = line.partition(b" ")
        _, _, body = rest.partition(b" ")
        found.append((name.decode("ascii"), None if body == b"-" else body))
    if [name for name, _ in found] != [os.path.basename(f) for f in files for _ in range(4)]:
        raise AssertionError("the helper did not answer four times per corpus file, in order")
    return found


class FuzzCorpusBodies(unittest.TestCase):

    def test_every_body_made_from_the_corpus_keeps_the_contract(self):
        found = corpus_bodies()
        refused = {}
        actions = set()
        counts = {"queued": 0, "utf-8": 0, "other bytes": 0}
        for name, body in found:
            if body is None:
                continue
            counts["queued"] += 1
            counts["utf-8" if body_contract.decode(body)[1] else "other bytes"] += 1
            problem = body_contract.problem(body)
            if problem is not None:
                refused.setdefault(name, []).append(f"{body!r}: {problem}")
                continue
            actions.add(json.loads(body_contract.decode(body)[0])["action"])
        print(f"\ncorpus: {len(found) // 4} inputs, {len(found)} stand messages, "
              f"{counts['queued']} queued by the capture, "
              f"{counts['utf-8']} bodies valid UTF-8 and {counts['other bytes']} not, "
              f"all checked", file=sys.stderr)
        self.assertEqual(refused, {})
        # A corpus that reached only part of the contract would prove little.
        self.assertEqual(actions, {"assign", "cancel", "manual_occupy", "manual_cancel"})
        self.assertGreater(counts["utf-8"], 0)
        self.assertGreater(counts["other bytes"], 0)


if __name__ == "__main__":
    unittest.main()
