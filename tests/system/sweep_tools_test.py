#!/usr/bin/env python3
"""tools/sweep and tools/plot end to end on a sweep of 4 short runs: the sweep file's expansion and its
errors, GNU parallel and its resume, the Slurm task body, the CSV against the JSON files, the plots.

    tests/system/sweep_tools_test.py --quorsim build/quorsim
"""

import csv
import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SWEEP = os.path.join(ROOT, "tools", "sweep")
PLOT = os.path.join(ROOT, "tools", "plot")
QUORSIM = os.path.join(ROOT, "build", "quorsim")

# Runs that end with their sources done: the end the model checks for stranded flits, tags and credits.
SMALL_SWEEP = """
set: {SIM_TIME: 5000, NUM_REQUESTS: 200}
grid:
  PERCENTAGE_READ: {from: 50, to: 100, step: 50}
  link_width: {keys: [LINK_0_WIDTH, LINK_1_WIDTH, LINK_2_WIDTH, LINK_3_WIDTH], values: [8, 16]}
seeds: [3]
"""
GRID = {(50, 8), (50, 16), (100, 8), (100, 16)}
FIGURES = ["load-latency-PERCENTAGE_READ", "load-latency-link_width", "bandwidth-per-size",
           "vault-heatmap", "bank-heatmap"]


def run(command, env=None, cwd=ROOT):
    return subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=120)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def joblog_entries(out):
    with open(os.path.join(out, "joblog"), encoding="utf-8") as f:
        return [line.split("\t") for line in f.read().splitlines()[1:]]


def read_rows(out):
    with open(os.path.join(out, "results.csv"), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def load(out, relative):
    with open(os.path.join(out, relative), encoding="utf-8") as f:
        return json.load(f)


def result_times(out):
    runs = os.path.join(out, "runs")
    return {n: os.stat(os.path.join(runs, n)).st_mtime_ns for n in os.listdir(runs) if n.endswith(".json")}


class SweepFile(unittest.TestCase):
    """What a sweep file expands to (--dry-run), and the files it refuses."""

    def dry_run(self, text):
        with tempfile.TemporaryDirectory() as tmp:
            return run([SWEEP, write(tmp, "s.yaml", text), "--dry-run", "--quorsim", QUORSIM])

    def test_expansion(self):
        cases = [  # sweep file, expected runs as "seed overrides" in order
            ("grid: {LINK_SPEED: {from: 10, to: 15, step: 2.5}}",
             ["1 LINK_SPEED=10.0", "1 LINK_SPEED=12.5", "1 LINK_SPEED=15.0"]),
            ("set: {SIM_TIME: 500, NUM_GENERATORS: 2}\ngrid: {NUM_GENERATORS: [1, 3]}\nrepeat: 2",
             ["1 SIM_TIME=500 NUM_GENERATORS=1", "2 SIM_TIME=500 NUM_GENERATORS=1",
              "1 SIM_TIME=500 NUM_GENERATORS=3", "2 SIM_TIME=500 NUM_GENERATORS=3"]),
            ("grid:\n  size: {cases: {32: {PERCENTAGE_RD_32B: 100}, 128: {PERCENTAGE_RD_128B: 100}}}\n"
             "points: [{POSTED_WRITES: true}, {PERCENTAGE_READ: 7, PERCENTAGE_RD_32B: 5}]\nseeds: [9]",
             ["9 PERCENTAGE_RD_32B=100 POSTED_WRITES=true", "9 PERCENTAGE_RD_32B=5 PERCENTAGE_READ=7",
              "9 PERCENTAGE_RD_128B=100 POSTED_WRITES=true",
              "9 PERCENTAGE_RD_128B=100 PERCENTAGE_READ=7 PERCENTAGE_RD_32B=5"]),
            ("{}", ["1 "]),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                done = self.dry_run(text)
                self.assertEqual(done.returncode, 0, done.stderr)
                lines = [l.split(" ", 3) for l in done.stdout.splitlines()]  # id point RANDOM_SEED=s keys
                self.assertEqual(["%s %s" % (l[2].split("=")[1], l[3]) for l in lines], expected)
                ids = [l[0] for l in lines]
                self.assertEqual(len(set(ids)), len(ids), "run ids must differ")

    def test_refused_files(self):
        cases = [
            ("grid: {PERCENTAGE_READ: [1]}\nrepeats: 2", "unknown entry repeats"),
            ("grid: {RANDOM_SEED: [1, 2]}", "RANDOM_SEED is set by the sweep itself"),
            ("grid: {PERCENTAGE_READ: []}", "non-empty list"),
            ("grid: {PERCENTAGE_READ: {from: 0, to: 10, step: 0}}", "step > 0"),
            ("grid: {PERCENTAGE_READ: [{a: 1}]}", "not a value a key can take"),
            ("repeat: 2\nseeds: [1]", "either seeds or repeat"),
            ("grid: {PERCENTAGE_READ: [1, 2]\n", "not valid YAML"),
            ("points: [{PERCENTAGE_READ: 1}, {PERCENTAGE_READ: 1}]", "the same overrides"),
            ("grid: {LINK_0_WIDTH: [8], PERCENTAGE_READ: [20, 101]}", "2 points are refused"),
            # Points run strict: a value quorsim would misread stops the sweep, named where it stands.
            ("set: {SIM_TIME: 20xs}", "point 0, set: SIM_TIME=20xs: ERROR - command line: SIM_TIME"),
            ("grid: {POSTED_WRITES: [true, 'yes']}", "point 1, grid.POSTED_WRITES: POSTED_WRITES=yes"),
            ("points: [{NUM_REQUESTS: 100}, {EPOCH_NS: 500ps}]", "point 1, points[1]: EPOCH_NS=500ps"),
            ("{}", "may not hold white space", "an out"),
        ]
        for text, message, *name in cases:
            with self.subTest(text=text), tempfile.TemporaryDirectory() as tmp:
                out = os.path.join(tmp, *(name or ["out"]))
                done = run([SWEEP, write(tmp, "s.yaml", text), "--out", out, "--quorsim", QUORSIM])
                self.assertEqual(done.returncode, 1)
                self.assertIn("ERROR - sweep: ", done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(out), "nothing runs when the sweep is refused")


class SmallSweep(unittest.TestCase):
    """The 4-run sweep through GNU parallel, then resumed, then as Slurm array tasks, then plotted."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.sweep_file = write(cls.tmp.name, "small.yaml", SMALL_SWEEP)
        cls.out = os.path.join(cls.tmp.name, "par")
        cls.first = cls.sweep(cls.out, plot=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def sweep(cls, out, *extra, plot=False):
        return run([SWEEP, cls.sweep_file, "--out", out, "--jobs", "2", "--quorsim", QUORSIM] + list(extra)
                   + ([] if plot else ["--no-plot"]))

    def test_csv_has_one_row_per_run_matching_its_json(self):
        self.assertEqual(self.first.returncode, 0, self.first.stderr)
        rows = read_rows(self.out)
        self.assertEqual(len(rows), 4)
        for column in ["point", "run", "PERCENTAGE_READ", "link_width", "seed",
                       "delivered_total_bandwidth_gbps", "host_data_bandwidth_gbps", "read_latency_mean_ns",
                       "read_latency_p50_ns", "read_latency_p99_ns", "size_64B_bandwidth_gbps", "json"]:
            self.assertIn(column, rows[0])
        columns = list(rows[0])
        self.assertEqual(columns[2:5], ["PERCENTAGE_READ", "link_width", "seed"], "swept keys between run and seed")
        seen = set()
        for row in rows:
            stats = load(self.out, row["json"])
            config = stats["configuration"]
            self.assertEqual(int(row["seed"]), 3)
            self.assertEqual(stats["seed"], 3)
            self.assertEqual(config["NUM_REQUESTS"]["value"], 200)
            self.assertEqual(row["end"], stats["run"]["end"])
            self.assertEqual(row["end"], "sources_done")
            width = int(row["link_width"])
            self.assertEqual([config["LINK_%d_WIDTH" % l]["value"] for l in range(4)], [width] * 4)
            self.assertEqual(config["PERCENTAGE_READ"]["value"], int(row["PERCENTAGE_READ"]))
            seen.add((int(row["PERCENTAGE_READ"]), width))
            self.assertAlmostEqual(float(row["delivered_total_bandwidth_gbps"]),
                                   stats["delivered"]["total_bandwidth_gbps"])
            self.assertGreater(float(row["delivered_total_bandwidth_gbps"]), 0)
            reads = stats["end_to_end_latency"]["reads"]
            for q in ("mean", "p50", "p99"):
                self.assertAlmostEqual(float(row["read_latency_%s_ns" % q]), reads["%s_ns" % q])
            if row["PERCENTAGE_READ"] == "100":
                self.assertEqual(row["write_latency_mean_ns"], "", "no write latency without writes")
        self.assertEqual(seen, GRID)
        entries = joblog_entries(self.out)
        self.assertEqual(sorted(e[6] for e in entries), ["0"] * 4)

    def test_resume_reruns_only_missing_results(self):
        out = os.path.join(self.tmp.name, "resume")
        self.assertEqual(self.sweep(out).returncode, 0)
        before = result_times(out)
        again = self.sweep(out)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("4 runs, 4 done before", again.stdout)
        self.assertEqual(len(joblog_entries(out)), 4, "parallel --resume ran nothing again")
        self.assertEqual(result_times(out), before)
        gone = sorted(before)[1]
        kept = load(os.path.join(out, "runs"), gone)
        os.remove(os.path.join(out, "runs", gone))
        third = self.sweep(out)
        self.assertEqual(third.returncode, 0, third.stderr)
        after = result_times(out)
        self.assertEqual(set(after), set(before))
        self.assertEqual({n: t for n, t in after.items() if n != gone},
                         {n: t for n, t in before.items() if n != gone}, "finished runs are not run again")
        self.assertEqual(load(os.path.join(out, "runs"), gone)["delivered"], kept["delivered"])

    def test_slurm_task_body_runs_its_chunk(self):
        out = os.path.join(self.tmp.name, "slurm")
        done = self.sweep(out, "--slurm", "--chunk", "3")
        self.assertEqual(done.returncode, 0, done.stderr)
        script = os.path.join(out, "sweep.sbatch")
        with open(script, encoding="utf-8") as f:
            self.assertIn("#SBATCH --array=0-1\n", f.read())
        self.assertEqual(result_times(out), {}, "--slurm without --submit runs nothing")
        env = dict(os.environ, SLURM_ARRAY_TASK_ID="1")
        task = run(["bash", script], env=env, cwd=self.tmp.name)
        self.assertEqual(task.returncode, 0, task.stderr)
        with open(os.path.join(out, "plan.json"), encoding="utf-8") as f:
            last = json.load(f)["runs"][3]["id"]
        self.assertEqual(sorted(result_times(out)), [last + ".json"], "task 1 of chunks of 3 is run 3 alone")
        self.assertEqual(load(out, "runs/%s.json" % last)["delivered"],
                         load(self.out, "runs/%s.json" % last)["delivered"], "same run, same result")
        self.assertEqual(run(["bash", script], env=dict(env, SLURM_ARRAY_TASK_ID="0")).returncode, 0)
        self.assertEqual(run([SWEEP, "--collect", "--no-plot", "--out", out]).returncode, 0)
        ignore = {"wall_time_s"}
        strip = lambda rows: [{k: v for k, v in r.items() if k not in ignore} for r in rows]  # noqa: E731
        self.assertEqual(strip(read_rows(out)), strip(read_rows(self.out)))

    def test_plots_png_and_svg_and_epochs_when_given(self):
        self.assertEqual(self.first.returncode, 0, self.first.stderr)
        # The sweep itself drew them, beside its CSV.
        figures = os.path.join(self.out, "figures")
        self.assertIn("no epoch CSV", self.first.stderr)
        # Without histograms in the statistics files the CDF is left out, with a note.
        histograms = "histogram" in load(self.out, read_rows(self.out)[0]["json"])["end_to_end_latency"]["reads"]
        if not histograms:
            self.assertIn("no latency histograms", self.first.stderr)
        names = sorted(os.listdir(figures))
        expected = FIGURES + (["latency-cdf"] if histograms else [])
        self.assertEqual(names, sorted(n + e for n in expected for e in (".png", ".svg")))
        for name in names:
            path = os.path.join(figures, name)
            if name.endswith(".png"):
                with open(path, "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
            else:
                self.assertTrue(ET.parse(path).getroot().tag.endswith("svg"))
        # quorsim's own epoch log (its panels by column name), and any other CSV (a panel per column).
        logged = run([QUORSIM, "configs/default.ini", "SIM_TIME=2000", "--epoch-ns", "500", "--epochs",
                      os.path.join(self.tmp.name, "run-epochs.csv")])
        self.assertEqual(logged.returncode, 0, logged.stderr)
        other = write(self.tmp.name, "other-epochs.csv", "time_ns,bandwidth_gbps,queue\n0,1,2\n100,3,4\n200,2,1\n")
        for epochs in (os.path.join(self.tmp.name, "run-epochs.csv"), other):
            with self.subTest(epochs=epochs):
                out = os.path.join(self.tmp.name, "epoch-figures")
                done = run([PLOT, os.path.join(self.out, "results.csv"), "--out", out, "--formats", "png",
                            "--epochs", epochs])
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertTrue(os.path.getsize(os.path.join(out, "epochs.png")) > 0)
                os.remove(os.path.join(out, "epochs.png"))

    def test_latency_cdf_from_histograms(self):
        """Runs whose latencies carry histograms get a CDF figure; the CDF is the buckets' running share."""
        copy = os.path.join(self.tmp.name, "with-histograms")
        os.makedirs(os.path.join(copy, "runs"))
        with open(os.path.join(self.out, "results.csv"), encoding="utf-8") as f:
            write(copy, "results.csv", f.read())
        for row in read_rows(self.out):
            stats = load(self.out, row["json"])
            for dist in stats["end_to_end_latency"].values():
                dist["histogram"] = [{"low_ns": 100, "high_ns": 110, "count": 1},
                                     {"low_ns": 200, "high_ns": 220, "count": 3}] if dist["count"] else []
            write(copy, row["json"], json.dumps(stats))
        done = run([PLOT, os.path.join(copy, "results.csv"), "--formats", "png", "--latency", "write"])
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(os.path.join(copy, "figures", "latency-cdf.png"), done.stdout.splitlines())
        with open(PLOT, encoding="utf-8") as f:
            interpreter = f.readline()[2:].strip()  # the plot's own Python, which has matplotlib
        steps = run([interpreter, "-c", "import importlib.machinery as m, sys; p = m.SourceFileLoader("
                     "'plot', sys.argv[1]).load_module(); b = [{'low_ns': 100, 'high_ns': 110, 'count': 1}, "
                     "{'low_ns': 200, 'high_ns': 220, 'count': 3}]; print(p.cdf_steps(p.pooled([b, b[1:]])))",
                     PLOT])
        self.assertEqual(steps.stdout.strip(), "([100, 110, 220], [0.0, 0.14285714285714285, 1.0])", steps.stderr)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--quorsim":
        QUORSIM = os.path.abspath(sys.argv[2])
        del sys.argv[1:3]
    unittest.main()
