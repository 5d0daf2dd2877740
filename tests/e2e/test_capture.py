"""Scratch-pad texts typed by controllers, or relayed from other
controllers over the network, and the events that reach the endpoint."""

import unittest

from harness import DISABLED, LOADED, UNLOADED, BridgeTestCase, body, event_line, ini_text
from receiver import parse_json_object

CONTROL_BYTES = "".join(f"\\x{c:02X}" for c in range(1, 32))  # scenario escapes


# (label, steps, expected body or None when nothing may be sent,
#  client calls the notification may make, or None when not checked).
# Unless a case sets its own, the flight plan is <callsign> to EDDF and the
# controller is EDDF_GND; callsigns are unique so every event maps back.
SHAPES = [
    ("stand, lower case after a blank", ["scratch DOK/S/\\sa12"],
     body("assign", "S01", destination="EDDF", stand="A12"), None),
    ("stand with trailing blanks", ["scratch DOK/S/B7\\s\\t"],
     body("assign", "S02", destination="EDDF", stand="B7"), None),
    ("blank stand cancels", ["scratch DOK/S/"],
     body("cancel", "S03", destination="EDDF"), None),
    ("whitespace stand cancels", ["scratch DOK/S/\\s\\t\\r\\n\\s"],
     body("cancel", "S04", destination="EDDF"), None),
    ("stand holding a slash", ["scratch DOK/S/A1/B2"],
     body("assign", "S05", destination="EDDF", stand="A1/B2"), None),
    ("plan destination in lower case with blanks",
     ["flightplan S06 \\seddm\\s", "scratch DOK/S/v155"],
     body("assign", "S06", destination="EDDM", stand="V155"), None),
    ("through the generic data step", ["data 5 DOK/S/A5"],
     body("assign", "S07", destination="EDDF", stand="A5"), None),
    ("manual cancel", ["scratch DOK/M/"], body("manual_cancel", "S08"), None),
    ("manual cancel with blanks", ["scratch DOK/M/\\s\\t"], body("manual_cancel", "S09"), None),
    ("manual cancel, plan to an unlisted airport",
     ["flightplan S10 EDDK", "scratch DOK/M/"], body("manual_cancel", "S10"), None),
    ("manual occupy, blanks and lower case", ["scratch DOK/M/\\seddf\\s/a12"],
     body("manual_occupy", "S11", destination="EDDF", stand="A12"), None),
    ("manual occupy names its own airport", ["scratch DOK/M/EDDM/G2"],
     body("manual_occupy", "S12", destination="EDDM", stand="G2"), None),
    ("manual occupy, plan to an unlisted airport",
     ["flightplan S13 EDDK", "scratch DOK/M/EDDF/A3"],
     body("manual_occupy", "S13", destination="EDDF", stand="A3"), None),
    ("manual occupy without an airport", ["scratch DOK/M//A12"],
     body("manual_occupy", "S14", stand="A12"), None),
    ("callsign in lower case with blanks",
     ["flightplan \\sabc123\\s EDDF", "scratch DOK/S/A1"],
     body("assign", "ABC123", destination="EDDF", stand="A1"), None),
    ("callsign with JSON metacharacters",
     ['flightplan Q"\\\\X EDDF', "scratch DOK/S/A1"],
     body("assign", 'Q"\\X', destination="EDDF", stand="A1"), None),
    ("stand with JSON metacharacters", ['scratch DOK/S/"\\\\"'],
     body("assign", "S17", destination="EDDF", stand='"\\"'), None),
    ("no controller", ["no-controller", "scratch DOK/S/A1"],
     body("assign", "S18", controller=None, destination="EDDF", stand="A1"), None),
    ("controller without callsign", ["controller (null)", "scratch DOK/S/A1"],
     body("assign", "S19", controller=None, destination="EDDF", stand="A1"), None),
    ("controller with a blank callsign", ["controller \\s\\s", "scratch DOK/S/A1"],
     body("assign", "S20", controller=None, destination="EDDF", stand="A1"), None),
    ("controller in lower case", ["controller \\seddf_twr", "scratch DOK/S/A1"],
     body("assign", "S21", controller="EDDF_TWR", destination="EDDF", stand="A1"), None),
    ("controller of dropped bytes and a blank", ["controller \\x07\\s\\x07", "scratch DOK/S/A1"],
     body("assign", "S22", controller=None, destination="EDDF", stand="A1"), None),

    ("leading blank", ["scratch \\sDOK/S/A1"], None, None),
    ("lower-case prefix", ["scratch dok/s/A1"], None, None),
    ("mixed-case prefix", ["scratch DOK/s/A1"], None, None),
    ("unknown kind", ["scratch DOK/X/A1"], None, None),
    ("prefix cut short", ["scratch DOK/S"], None, None),
    ("bare DOK", ["scratch DOK"], None, None),
    ("empty scratch pad", ["scratch \\x00"], None, None),
    ("null scratch pad", ["scratch (null)"], None, None),
    ("manual without airport separator", ["scratch DOK/M/A12"], None, None),
    ("manual to an unlisted airport", ["scratch DOK/M/EDDK/A12"], None, None),
    ("manual to a prefix of a listed airport", ["scratch DOK/M/EDD/A12"], None, None),
    ("manual to a listed airport plus a letter", ["scratch DOK/M/EDDFX/A12"], None, None),
    ("manual occupy without stand", ["scratch DOK/M/EDDF/"], None, None),
    ("manual occupy with a blank stand", ["scratch DOK/M/EDDF/\\s\\t"], None, None),
    ("stand of dropped bytes and a blank", ["scratch DOK/S/\\x01\\t\\x01"], None, None),
    ("stand, plan to an unlisted airport", ["flightplan X03 EDDK", "scratch DOK/S/A12"],
     None, None),
    ("stand, plan without destination", ["flightplan X04 (null)", "scratch DOK/S/A12"],
     None, None),
    ("stand, plan with a blank destination", ["flightplan X05 \\s", "scratch DOK/S/A12"],
     None, None),
    ("cancel, plan to an unlisted airport", ["flightplan X06 EDDK", "scratch DOK/S/"],
     None, None),
    ("plan without callsign", ["flightplan (null) EDDF", "scratch DOK/S/A12"], None, None),
    ("plan with a blank callsign", ["flightplan \\s\\s EDDF", "scratch DOK/S/A12"], None, None),
    # The radar client calls this handler for every assigned-data change;
    # anything but a scratch pad must cost no call back into the client.
    ("other data type 0", ["data 0 DOK/S/A12"], None, 0),
    ("other data type 4", ["data 4 DOK/S/A12"], None, 0),
    ("other data type 6", ["data 6 DOK/S/A12"], None, 0),
    ("other data type 12", ["data 12 DOK/S/A12"], None, 0),
    ("other data type -1", ["data 4294967295 DOK/S/A12"], None, 0),
    ("invalid flight plan", ["no-flightplan", "scratch DOK/S/A12"], None, 0),
]


def case_steps(index, steps):
    callsign = f"S{index + 1:02d}"
    prologue = ["controller EDDF_GND", f"flightplan {callsign} EDDF"]
    return prologue + list(steps)


class CaptureTestCase(BridgeTestCase):

    def run_cases(self, cases, airports="eddf , eddm", sleep_ms=2000, suffix=""):
        """One client run for a table of cases; returns (run, receiver,
        notify line of each case)."""
        receiver = self.start_receiver()
        bench = self.bench(ini_text(receiver.url(), airports=airports), suffix=suffix)
        steps = ["init"]
        marks = []
        for index, (_, case, *_) in enumerate(cases):
            steps += case_steps(index, case)
            marks.append(len([s for s in steps if s.startswith(("scratch", "data "))]) - 1)
        steps += [f"sleep {sleep_ms}", "exit", "unload"]
        run = bench.run(steps)
        self.assert_clean_run(run)
        notify = run.notify_lines()
        self.assertEqual(len(notify), len(marks), run.describe())
        return run, receiver, [notify[m] for m in marks]


class ScratchPadShapes(CaptureTestCase, unittest.TestCase):

    def test_shapes(self):
        run, receiver, notify = self.run_cases(SHAPES)
        bodies = self.checked_bodies(run, receiver)
        by_callsign = {dict(b)["callsign"]: b for b in bodies}
        expected = [case[2] for case in SHAPES if case[2] is not None]
        messages = run.messages

        for index, (label, _, wanted, calls) in enumerate(SHAPES):
            with self.subTest(label):
                callsign = wanted and dict(wanted)["callsign"]
                if calls is not None:
                    self.assertRegex(notify[index], rf"client calls {calls} ")
                if wanted is None:
                    default_callsign = f"S{index + 1:02d}"
                    for message in messages:
                        self.assertNotRegex(message, rf"^Captured \S+ {default_callsign}\b")
                    continue
                self.assertEqual(by_callsign.get(callsign), wanted)
                self.assertIn(event_line("Captured", wanted), messages)
                self.assertIn(event_line("Delivered", wanted, 201), messages)

        with self.subTest("nothing else sent, first in first out"):
            self.assertEqual(bodies, expected)
            captured = [m for m in messages if m.startswith("Captured ")]
            self.assertEqual(captured, [event_line("Captured", b) for b in expected])
            self.assertEqual(messages[0], LOADED)
            self.assertEqual(messages[-1], UNLOADED)
            self.assertEqual(len(messages), 2 + 2 * len(expected), run.describe())

    def test_airport_lists(self):
        cases = [
            # (Airports value, destinations that must be sent, and not)
            (None, ["EDDF", "EDDM"], ["EDDK", "EDDL"]),
            ("eddk;EDDL\tedDH", ["EDDK", "EDDL", "EDDH"], ["EDDF", "EDDM"]),
            (" ,;EDDK,, ;", ["EDDK"], ["EDDF", "EDDM", "EDD"]),
            ("KJFK", ["KJFK"], ["EDDF", "KJF", "KJFKX"]),
        ]
        for number, (airports, sent, refused) in enumerate(cases):
            with self.subTest(airports=airports):
                shapes = [(f"{code}", [f"flightplan P{i:02d} {code}", "scratch DOK/S/A1"],
                           body("assign", f"P{i:02d}", destination=code, stand="A1")
                           if code in sent else None, None)
                          for i, code in enumerate(sent + refused)]
                run, receiver, _ = self.run_cases(shapes, airports=airports, sleep_ms=1500,
                                                  suffix=f"-{number}")
                self.assertEqual(self.checked_bodies(run, receiver),
                                 [s[2] for s in shapes if s[2] is not None])

    def test_disabled_bridge_ignores_scratch_pads_without_calls(self):
        bench = self.bench()
        run = bench.run(["init", "controller EDDF_GND", "flightplan S01 EDDF",
                         "scratch DOK/S/A1", "scratch DOK/M/", "exit", "unload"])
        self.assert_clean_run(run)
        for line in run.notify_lines():
            self.assertRegex(line, r"client calls 0 ")
        self.assert_messages(run, [DISABLED, UNLOADED])


class HostileScratchPads(CaptureTestCase, unittest.TestCase):

    def test_long_scratch_pads_are_cut(self):
        steps = [
            "scratch-fill DOK/S/ a 100000",
            "scratch-fill DOK/S/ A 38",
            "scratch-fill DOK/S/ A 39",
            "scratch-fill DOK/S/ A 40",
            "scratch-fill DOK/M/EDDF/ B 100000",
            "scratch-fill DOK/M/ \\s 100000",
            "scratch-fill DOK/S/ \\s 100000",
            "scratch-fill DOK/S/\\s\\s C 100000",
        ]
        stands = ["A" * 39, "A" * 38, "A" * 39, "A" * 39, "B" * 39, None, None, "C" * 39]
        actions = ["assign"] * 4 + ["manual_occupy", "manual_cancel", "cancel", "assign"]
        destinations = ["EDDF"] * 5 + [None, "EDDF", "EDDF"]
        cases = [(f"fill {i}", [step], body(actions[i], f"S{i + 1:02d}",
                                            destination=destinations[i], stand=stands[i]), None)
                 for i, step in enumerate(steps)]
        run, receiver, _ = self.run_cases(cases)
        self.assertEqual(self.checked_bodies(run, receiver), [c[2] for c in cases])
        self.assertEqual([m for m in run.messages if m.startswith("Captured ")],
                         [event_line("Captured", c[2]) for c in cases])

    def control_byte_run(self, stand_text):
        cases = [("control bytes", [f"scratch DOK/S/{stand_text}"], None, None),
                 ("control bytes after a stand", [f"scratch DOK/S/A1{stand_text}"], None, None),
                 ("a plain event after them", ["scratch DOK/S/Z9"], None, None)]
        return self.run_cases(cases)

    def test_control_bytes_survive_and_give_valid_json(self):
        run, receiver, _ = self.control_byte_run(CONTROL_BYTES)
        requests = receiver.snapshot()
        self.assertEqual(len(requests), 3, run.describe())
        for request, prefix in zip(requests, ["", "A1", "Z9"]):
            with self.subTest(prefix=prefix):
                fields = dict(parse_json_object(request.body))
                stand = fields.get("stand", "")
                self.assertTrue(stand.startswith(prefix), stand)
                # Whatever is kept of the bytes must be the bytes themselves.
                self.assertLessEqual(set(stand[len(prefix):]), {chr(c) for c in range(1, 32)})
        self.assertEqual(run.stdout[-1], "scenario done: 0 failed steps")

    def test_bytes_above_ascii_travel_unchanged(self):
        # The body carries the client's bytes as they are, without any
        # character-set conversion: the endpoint gets exactly what was typed.
        run, receiver, _ = self.control_byte_run("\\xFF\\xC4")
        requests = receiver.snapshot()
        self.assertEqual(len(requests), 3, run.describe())
        self.assertIn(b'"stand":"\xff\xc4"', requests[0].body)
        self.assertIn(b'"stand":"A1\xff\xc4"', requests[1].body)

    def test_control_bytes_keep_one_log_line_per_message(self):
        run, _, _ = self.control_byte_run(CONTROL_BYTES)
        self.assert_log_sane(run)


if __name__ == "__main__":
    unittest.main()
