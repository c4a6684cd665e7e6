#!/usr/bin/env python3
"""Open-loop runs end to end: both sample traces converted by tools/convert-trace and replayed
(every source line answered), a trace with nothing to send refused, and the offered load of the
generators delivered below saturation and queued past it.

    tests/system/open_loop_test.py --quorsim build/quorsim
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CONVERT = os.path.join(ROOT, "tools", "convert-trace")
SAMPLES = os.path.join(ROOT, "traces", "samples")
QUORSIM = os.path.join(ROOT, "build", "quorsim")


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=120)


def request_lines(path):
    with open(path, encoding="utf-8") as f:
        return sum(1 for line in f if line.strip() and not line.lstrip().startswith("#"))


class OpenLoop(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def quorsim(self, *overrides):
        stats = os.path.join(self.tmp, "stats.json")
        if os.path.exists(stats):
            os.remove(stats)
        done = run([QUORSIM, os.path.join(ROOT, "configs", "default.ini"), *overrides,
                    "--stats-json", stats], self.tmp)
        result = None
        if done.returncode == 0:
            with open(stats, encoding="utf-8") as f:
                result = json.load(f)
        return done, result

    def test_converted_samples_replay_with_every_line_answered(self):
        cases = [("cycle_stamped.txt", [], []),
                 ("cycle_stamped.txt", ["--clock-ns", "0.8"], []),
                 ("untimed.txt", [], ["TRACE_TIMING=as_fast_as_possible"]),
                 ("untimed.txt", ["--spacing-ns", "3"], [])]
        for name, options, keys in cases:
            with self.subTest(name=name, options=options):
                source = os.path.join(SAMPLES, name)
                converted = os.path.join(self.tmp, "converted.txt")
                done = run([sys.executable, CONVERT, source, converted, *options], self.tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                done, stats = self.quorsim("USE_TRACE=true", "NUM_GENERATORS=1",
                                           "TRACE_FILENAME_0=" + converted, *keys)
                self.assertEqual(done.returncode, 0, done.stdout[-2000:])
                self.assertEqual(stats["run"]["end"], "sources_done")
                latency = stats["end_to_end_latency"]
                answered = latency["reads"]["count"] + latency["writes"]["count"]
                self.assertEqual(answered, request_lines(source))

    def test_a_line_that_is_no_format_stops_the_conversion(self):
        bad = os.path.join(self.tmp, "bad.txt")
        with open(bad, "w", encoding="utf-8") as f:
            f.write("0x40 R\nfetch 0x80\n")
        done = run([sys.executable, CONVERT, bad], self.tmp)
        self.assertEqual(done.returncode, 1)
        self.assertIn("ERROR - convert-trace: %s:2: 'fetch 0x80'" % bad, done.stderr)

    def test_a_trace_with_nothing_to_send_is_an_error_not_a_report(self):
        empty = os.path.join(self.tmp, "empty.txt")
        with open(empty, "w", encoding="utf-8") as f:
            f.write("// nothing here\n\n")
        done, _ = self.quorsim("USE_TRACE=true", "NUM_GENERATORS=1", "TRACE_FILENAME_0=" + empty)
        self.assertEqual(done.returncode, 1)
        self.assertIn("ERROR - %s: no request to send\n" % empty, done.stdout)
        self.assertNotIn("BANDWIDTH", done.stdout)

    def test_offered_load_is_delivered_below_the_knee_and_queues_past_it(self):
        low, saturated = [], []
        for rate, into in (("2", low), ("40", saturated)):
            done, stats = self.quorsim("SIM_TIME=4us", "--injection-rate", rate,
                                       "INJECTION_PROCESS=poisson")
            self.assertEqual(done.returncode, 0, done.stdout[-2000:])
            into.append(stats)
        delivered = low[0]["delivered"]["total_bandwidth_gbps"]
        self.assertAlmostEqual(delivered, 4 * 2.0, delta=1.0)
        low_latency = low[0]["end_to_end_latency"]["reads"]["mean_ns"]
        high_latency = saturated[0]["end_to_end_latency"]["reads"]["mean_ns"]
        self.assertLess(low_latency, 130)
        self.assertGreater(high_latency, 3 * low_latency)

    def test_validation_refuses_a_negative_rate_and_an_unknown_process(self):
        for override, text in (("INJECTION_RATE=-2", "ERROR - INJECTION_RATE must be at least 0"),
                               ("INJECTION_PROCESS=bursty", "ERROR - INJECTION_PROCESS must be")):
            with self.subTest(override=override):
                done, _ = self.quorsim(override)
                self.assertEqual(done.returncode, 1)
                self.assertIn(text, done.stdout)


if __name__ == "__main__":
    if "--quorsim" in sys.argv:
        at = sys.argv.index("--quorsim")
        QUORSIM = os.path.abspath(sys.argv[at + 1])
        del sys.argv[at:at + 2]
    unittest.main()
