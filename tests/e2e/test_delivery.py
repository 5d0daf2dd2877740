"""Getting events to the endpoint: answers, retries and their pauses,
broken and silent servers, redirects, a full queue, and unloading while the
worker is busy."""

import os
import re
import unittest
import unittest.mock

from harness import (LOADED, QUEUE_FULL, TOKEN, UNLOADED, BridgeTestCase, body, event_line,
                     ini_text, refused_port)
from receiver import parse_json_object

# Beyond a scenario's own sleeps a run may take the plug-in's longest
# shutdown wait, 30 s, plus start-up and slack.
SHUTDOWN_BOUND = 30 + 15

EVENT_MESSAGE = re.compile(r"(?:Captured|Delivered|Delivery failed|Event abandoned) \S+ (\S+)")


def scratch_steps(callsign, scratch="DOK/S/A1", destination="EDDF"):
    return [f"flightplan {callsign} {destination}", f"scratch {scratch}"]


def assign(callsign, stand="A1"):
    return body("assign", callsign, destination="EDDF", stand=stand)


def gap(later, earlier):
    return (later - earlier).total_seconds()


class DeliveryTestCase(BridgeTestCase):

    def deliver(self, receiver, events, sleep_ms, path="/stands"):
        """One client run posting `events` (lists of scenario steps) to
        `receiver`, then waiting `sleep_ms` before a timed exit and unload."""
        bench = self.bench(ini_text(receiver.url(path)))
        steps = ["init", "controller EDDF_GND"]
        for event in events:
            steps += event
        steps += [f"sleep {sleep_ms}", "timed-exit", "unload"]
        run = bench.run(steps)
        self.assert_clean_run(run)
        self.assertLess(run.elapsed, sleep_ms / 1000 + SHUTDOWN_BOUND, run.describe())
        return run

    def assert_each_delivered_at_once(self, run, expected, status=201):
        """Each event of `expected` was captured and delivered at its first attempt."""
        for pairs in expected:
            callsign = dict(pairs)["callsign"]
            with self.subTest(callsign):
                self.assertEqual(self.event_messages(run, callsign),
                                 [event_line("Captured", pairs),
                                  event_line("Delivered", pairs, status)])

    def event_messages(self, run, callsign):
        """The log lines about the events of one flight, in order."""
        return [m for m in run.messages
                if (match := EVENT_MESSAGE.match(m)) and match.group(1) == callsign]


class Answers(DeliveryTestCase, unittest.TestCase):

    def test_each_action_arrives_exactly(self):
        receiver = self.start_receiver()
        events = [
            scratch_steps("DLH1AB", "DOK/S/V155"),
            scratch_steps("DLH2CD", "DOK/S/"),
            scratch_steps("DLH3EF", "DOK/M/EDDM/G12"),
            scratch_steps("DLH4GH", "DOK/M/"),
        ]
        expected = [
            body("assign", "DLH1AB", destination="EDDF", stand="V155"),
            body("cancel", "DLH2CD", destination="EDDF"),
            body("manual_occupy", "DLH3EF", destination="EDDM", stand="G12"),
            body("manual_cancel", "DLH4GH"),
        ]
        run = self.deliver(receiver, events, 1500)
        self.assertEqual(self.checked_bodies(run, receiver), expected)
        self.assert_each_delivered_at_once(run, expected)
        self.assertEqual(run.messages[0], LOADED)
        self.assertEqual(run.messages[-1], UNLOADED)

    def test_endpoint_path_is_used_as_given(self):
        # The longest path and token the settings keep must also arrive whole.
        longest_path = "/" + "p" * 1533 + "z"
        longest_token = "t" * 254 + "z"
        self.assertEqual((len(longest_path), len(longest_token)), (1535, 255))
        for path, sent, token in (("", "/", TOKEN), ("/", "/", TOKEN),
                                  ("/v1/stand-events", "/v1/stand-events", TOKEN),
                                  ("/hook?src=es&x=1", "/hook?src=es&x=1", TOKEN),
                                  (longest_path, longest_path, longest_token)):
            with self.subTest(path=path[:20], token=len(token)):
                receiver = self.start_receiver()
                bench = self.bench(ini_text(receiver.url(path), token=token),
                                   suffix=f"-{len(path)}")
                run = bench.run(["init", "controller EDDF_GND"] + scratch_steps("P1") +
                                ["sleep 1500", "exit", "unload"])
                self.assert_clean_run(run)
                self.assertEqual(self.checked_bodies(run, receiver, path=sent, token=token),
                                 [assign("P1")], run.describe())

    def test_a_proxy_set_on_the_test_machine_diverts_nothing(self):
        # Under Wine the environment's proxy applies; the tests must reach
        # their own receiver whatever the machine that runs them sets.
        proxy = self.start_receiver()
        receiver = self.start_receiver()
        proxies = {name: proxy.url("") for name in ("http_proxy", "HTTP_PROXY", "all_proxy")}
        with unittest.mock.patch.dict(os.environ, proxies):
            run = self.deliver(receiver, [scratch_steps("X1")], 1500)
        self.assertEqual(self.checked_bodies(run, receiver), [assign("X1")])
        self.assertEqual(proxy.snapshot(), [])

    def test_answers_decide_between_delivered_and_retried(self):
        # Every failing answer is followed by a 201 for the same event's
        # second attempt, so each costs one 1 s pause.
        failing = [400, 401, 404, 429, 500, 503, 304]
        succeeding = [200, 201, 202, 204]
        script = []
        for status in failing:
            script += [status, 201]
        script += succeeding
        receiver = self.start_receiver(script=script, default=201)
        events = [scratch_steps(f"F{status}") for status in failing]
        events += [scratch_steps(f"S{status}") for status in succeeding]
        run = self.deliver(receiver, events, len(failing) * 1000 + 4000)
        for status in failing:
            with self.subTest(status=status):
                pairs = assign(f"F{status}")
                self.assertEqual(self.event_messages(run, f"F{status}"), [
                    event_line("Captured", pairs),
                    event_line("Delivery failed", pairs, status),
                    event_line("Delivered", pairs, 201),
                ])
        for status in succeeding:
            with self.subTest(status=status):
                pairs = assign(f"S{status}")
                self.assertEqual(self.event_messages(run, f"S{status}"), [
                    event_line("Captured", pairs),
                    event_line("Delivered", pairs, status),
                ])
        self.assertEqual(len(receiver.snapshot()), len(script), run.describe())

    def test_retries_resend_the_same_event_after_growing_pauses(self):
        receiver = self.start_receiver(script=[500, 500], default=201)
        run = self.deliver(receiver, [scratch_steps("R1")], 5500)
        pairs = assign("R1")
        self.assertEqual(self.event_messages(run, "R1"), [
            event_line("Captured", pairs),
            event_line("Delivery failed", pairs, 500),
            event_line("Delivery failed", pairs, 500),
            event_line("Delivered", pairs, 201),
        ])
        requests = receiver.snapshot()
        self.assertEqual(len(requests), 3)
        # The same event, observedAt included, not a new one per attempt.
        self.assertEqual(len({r.body for r in requests}), 1, [r.body for r in requests])
        parse_json_object(requests[0].body)
        first = requests[1].arrived - requests[0].arrived
        second = requests[2].arrived - requests[1].arrived
        self.assertTrue(0.8 <= first <= 1.8, f"first pause {first:.2f} s")
        self.assertTrue(1.8 <= second <= 3.0, f"second pause {second:.2f} s")


class BrokenServers(DeliveryTestCase, unittest.TestCase):

    def test_broken_answers_fail_the_attempt_without_a_status(self):
        receiver = self.start_receiver(script=["close", 201, ("stall-after-headers", 201)],
                                       default=201)
        events = [scratch_steps("B1"), scratch_steps("B2"), scratch_steps("B3")]
        run = self.deliver(receiver, events, 3000)
        with self.subTest("closed mid-answer"):
            pairs = assign("B1")
            self.assertEqual(self.event_messages(run, "B1"), [
                event_line("Captured", pairs),
                event_line("Delivery failed", pairs),
                event_line("Delivered", pairs, 201),
            ])
        with self.subTest("status known, body never comes"):
            pairs = assign("B2")
            self.assertEqual(self.event_messages(run, "B2"), [
                event_line("Captured", pairs),
                event_line("Delivered", pairs, 201),
            ])
        with self.subTest("later events unaffected"):
            self.assertIn(event_line("Delivered", assign("B3"), 201), run.messages)
        self.assertEqual(len(receiver.snapshot()), 4)

    # Wine bounds the wait for the answer's headers by
    # WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, not by the receive timeout of
    # WinHttpSetTimeouts; the worker sets both.
    def test_silent_server_times_out_then_the_retry_succeeds(self):
        # The server hangs up after 14 s, so a missing timeout shows as a
        # late failure instead of holding the worker for ever.
        receiver = self.start_receiver(script=[("stall", 14.0)], default=201)
        run = self.deliver(receiver, [scratch_steps("T1")], 16500)
        pairs = assign("T1")
        self.assertEqual(self.event_messages(run, "T1"), [
            event_line("Captured", pairs),
            event_line("Delivery failed", pairs),
            event_line("Delivered", pairs, 201),
        ])
        captured = self.stamp_of(run, event_line("Captured", pairs))
        failed = self.stamp_of(run, event_line("Delivery failed", pairs))
        # The answer is awaited for 10 s; a much shorter wait would fail
        # slow but healthy endpoints, a much longer one stall the queue.
        self.assertTrue(8.0 <= gap(failed, captured) <= 12.5,
                        f"attempt failed {gap(failed, captured):.1f} s after capture")
        requests = receiver.snapshot()
        self.assertEqual(len(requests), 2)

    def test_nothing_listening_gives_four_attempts_then_abandons(self):
        closed = refused_port()
        self.addCleanup(closed.close)
        port = closed.getsockname()[1]
        bench = self.bench(ini_text(f"http://127.0.0.1:{port}/stands"))
        run = bench.run(["init", "controller EDDF_GND"] + scratch_steps("N1") +
                        ["sleep 10500", "exit", "unload"])
        self.assert_clean_run(run)
        pairs = assign("N1")
        self.assertEqual(self.event_messages(run, "N1"),
                         [event_line("Captured", pairs)] +
                         [event_line("Delivery failed", pairs)] * 4 +
                         [event_line("Event abandoned", pairs)])
        stamps = [line.stamp for line in run.log if line.message.startswith("Delivery failed")]
        pauses = [gap(b, a) for a, b in zip(stamps, stamps[1:])]
        for pause, low, high in zip(pauses, (0.8, 1.8, 3.8), (1.8, 3.0, 5.5)):
            self.assertTrue(low <= pause <= high, f"pauses {pauses}")
        self.assertEqual(run.messages[-1], UNLOADED)

    def test_redirects_are_not_followed(self):
        elsewhere = self.start_receiver(default=201)
        target = elsewhere.url("/stolen")
        statuses = [301, 302, 303, 307, 308]
        script = []
        for status in statuses:
            script += [(status, {"Location": target}), 201]
        receiver = self.start_receiver(script=script, default=201)
        run = self.deliver(receiver, [scratch_steps(f"D{s}") for s in statuses],
                           len(statuses) * 1000 + 2500)
        for status in statuses:
            with self.subTest(status=status):
                pairs = assign(f"D{status}")
                self.assertEqual(self.event_messages(run, f"D{status}"), [
                    event_line("Captured", pairs),
                    event_line("Delivery failed", pairs, status),
                    event_line("Delivered", pairs, 201),
                ])
        self.assertEqual(elsewhere.snapshot(), [], "the token went to the redirect target")
        self.assertEqual(len(receiver.snapshot()), len(script))


class Queue(DeliveryTestCase, unittest.TestCase):

    def test_full_queue_drops_the_oldest_waiting_event(self):
        # Q000 is being delivered (its answer held back) while 257 more
        # arrive: one more than the queue holds, so the oldest waiting one,
        # Q001, gives way.
        receiver = self.start_receiver(script=[("delay", 2.0, 201)], default=201)
        events = [scratch_steps("Q000"), ["sleep 500"]]
        events += [scratch_steps(f"Q{i:03d}") for i in range(1, 258)]
        run = self.deliver(receiver, events, 8000)
        delivered = [dict(parse_json_object(r.body))["callsign"] for r in receiver.snapshot()]
        self.assertEqual(delivered, ["Q000"] + [f"Q{i:03d}" for i in range(2, 258)])
        messages = run.messages
        self.assertEqual(messages.count(QUEUE_FULL), 1, run.describe())
        full = messages.index(QUEUE_FULL)
        self.assertEqual(messages[full + 1], event_line("Captured", assign("Q257")))
        self.assertEqual(self.event_messages(run, "Q001"),
                         [event_line("Captured", assign("Q001"))])
        self.assertEqual(messages[-1], UNLOADED)


class Unload(DeliveryTestCase, unittest.TestCase):
    """The client's thread is blocked while the plug-in unloads: never for
    longer than the worker's current step, and never past 30 s."""

    def test_unload_while_idle_is_prompt(self):
        receiver = self.start_receiver()
        bench = self.bench(ini_text(receiver.url()))
        run = bench.run(["init", "sleep 1500", "timed-exit", "unload"])
        self.assert_clean_run(run)
        self.assert_messages(run, [LOADED, UNLOADED])
        [waited] = run.exit_seconds()
        self.assertLess(waited, 2.0, run.describe())

    def test_unload_while_posting_to_a_silent_server(self):
        receiver = self.start_receiver(default="stall")
        run = self.deliver(receiver, [scratch_steps("U1")], 500)
        captured = event_line("Captured", assign("U1"))
        self.assertEqual(run.messages[-1], UNLOADED, run.describe())
        self.assertEqual(run.messages[:2], [LOADED, captured])
        [waited] = run.exit_seconds()
        self.assertLess(waited, 30 + 3, "unload waited past its bound")
        # No new attempt may start once the unload began.
        self.assertEqual(len(receiver.snapshot()), 1)

    def test_unload_during_a_pause(self):
        # Attempt 1 at 0 s, attempt 2 at 1 s, then a 2 s pause: the exit at
        # 2 s falls in its middle.
        receiver = self.start_receiver(default=500)
        run = self.deliver(receiver, [scratch_steps("U2")], 2000)
        pairs = assign("U2")
        self.assertEqual(run.messages[-1], UNLOADED, run.describe())
        self.assertEqual(self.event_messages(run, "U2"), [
            event_line("Captured", pairs),
            event_line("Delivery failed", pairs, 500),
            event_line("Delivery failed", pairs, 500),
        ])
        self.assertEqual(len(receiver.snapshot()), 2)
        [waited] = run.exit_seconds()
        self.assertLess(waited, 2.0 + 3.0, "the pause grew while unloading")


if __name__ == "__main__":
    unittest.main()
