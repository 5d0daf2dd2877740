"""Ten thousand stand messages as fast as the client can send them, to an
endpoint that takes 200 ms over each answer: the client's thread must not
notice the network, and the 256-event queue must give way oldest first,
leaving the newest 256 to be delivered in order."""

import re
import unittest

from harness import QUEUE_FULL, UNLOADED, event_line, ini_text
from test_delivery import SHUTDOWN_BOUND, DeliveryTestCase, assign

EVENTS = 10000
QUEUE_CAPACITY = 256
ANSWER_DELAY = 0.2
# The queue's 256 plus the one in flight at 200 ms each, plus start-up and
# each attempt's own cost, with a third to spare.
SETTLE_MS = 70000

BURST = re.compile(r"burst: count (\d+) frequency (\d+) total (\d+) p50 (\d+) p99 (\d+) max (\d+)")
STAND = re.compile(r"Captured assign LOAD1 EDDF L(\d+)")


def stand_number(pairs):
    stand = dict(pairs)["stand"]
    if not stand.startswith("L") or not stand[1:].isdigit():
        raise AssertionError(f"unexpected stand {stand!r}")
    return int(stand[1:])


class Burst(DeliveryTestCase, unittest.TestCase):

    def test_ten_thousand_events_against_a_slow_endpoint(self):
        receiver = self.start_receiver(default=("delay", ANSWER_DELAY, 201))
        bench = self.bench(ini_text(receiver.url()))
        run = bench.run(["init", "controller EDDF_GND", "flightplan LOAD1 EDDF",
                         f"burst {EVENTS} DOK/S/L", f"sleep {SETTLE_MS}", "timed-exit", "unload"],
                        timeout=SETTLE_MS / 1000 + SHUTDOWN_BOUND + 60)
        self.assert_clean_run(run)
        [burst] = [m for line in run.stdout if (m := BURST.fullmatch(line))]
        count, frequency, total, p50, p99, peak = (int(g) for g in burst.groups())
        messages = run.messages
        bodies = self.checked_bodies(run, receiver)
        posted = [stand_number(pairs) for pairs in bodies]
        drops = messages.count(QUEUE_FULL)
        requests = receiver.snapshot()
        span = requests[-1].arrived - requests[0].arrived if requests else 0.0
        print(f"\nburst of {count}: p50 {p50 / frequency * 1e6:.0f} us, "
              f"p99 {p99 / frequency * 1e6:.0f} us, max {peak / frequency * 1e6:.0f} us, "
              f"total {total / frequency * 1e3:.0f} ms; events posted {len(posted)}, "
              f"dropped {drops}; requests spread over {span:.1f} s", flush=True)

        with self.subTest("the client's thread never waits for the network"):
            self.assertEqual(count, EVENTS)
            # One handler call waiting for one answer would take 200 ms.
            self.assertLess(p99 / frequency, 0.050)
            # Waiting for every answer would take EVENTS x 200 ms = 2000 s.
            self.assertLess(total / frequency, 30.0)

        with self.subTest("one Captured line per event, in order"):
            captured = [int(m.group(1)) for line in messages if (m := STAND.fullmatch(line))]
            self.assertEqual(captured, list(range(EVENTS)))

        with self.subTest("every body is the event it stands for"):
            self.assertEqual(bodies, [assign("LOAD1", f"L{n}") for n in posted])

        with self.subTest("the queue gives way oldest first"):
            # The queue holds a run of consecutive events; when event i
            # arrives to a full queue the one that gives way is i - 256.
            dropped = []
            pending_drop = False
            for line in messages:
                if line == QUEUE_FULL:
                    self.assertFalse(pending_drop, "two drops for one event")
                    pending_drop = True
                elif (m := STAND.fullmatch(line)) and pending_drop:
                    dropped.append(int(m.group(1)) - QUEUE_CAPACITY)
                    pending_drop = False
            self.assertFalse(pending_drop)
            self.assertEqual(len(dropped), drops)
            self.assertGreater(drops, 0, "the burst never filled the queue")
            # Posted in the order captured, each once, none of them dropped
            # and none lost: every event is either posted or dropped.
            self.assertEqual(posted, sorted(set(posted)))
            self.assertEqual(set(posted) & set(dropped), set())
            self.assertEqual(sorted(set(posted) | set(dropped)), list(range(EVENTS)),
                             f"{EVENTS - len(posted) - drops} events neither posted nor "
                             f"dropped: still queued when the client unloaded?")
            self.assertEqual(posted[-QUEUE_CAPACITY:],
                             list(range(EVENTS - QUEUE_CAPACITY, EVENTS)))

        with self.subTest("one Delivered line per request"):
            delivered = [m for m in messages if m.startswith("Delivered ")]
            self.assertEqual(delivered, [event_line("Delivered", assign("LOAD1", f"L{n}"), 201)
                                         for n in posted])
            self.assertEqual([m for m in messages if m.startswith(("Delivery failed ",
                                                                   "Event abandoned "))], [])
            self.assertEqual(messages[-1], UNLOADED)


if __name__ == "__main__":
    unittest.main()
