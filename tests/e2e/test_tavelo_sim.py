#!/usr/bin/python3
"""tavelo-sim end to end: runs of the built Tavelo.fmu read back with scipy, the --set values,
bad command lines and broken FMUs, and the host's event handling on a small test FMU.

Environment: TAVELO_SIM, TAVELO_FMU, TEST_FMU (the test model), PLOT_SCRIPT, TAVELO_TEST_TMP.
"""
import contextlib
import ctypes
import fcntl
import io
import math
import os
import pty
import random
import re
import resource
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest
import unittest.mock
import warnings
import xml.etree.ElementTree as ElementTree
import zipfile

import numpy as np
import scipy.io

SIM = os.environ["TAVELO_SIM"]
FMU = os.environ["TAVELO_FMU"]
TEST_FMU = os.environ["TEST_FMU"]
PLOT_SCRIPT = os.environ["PLOT_SCRIPT"]
sys.path.insert(0, os.path.dirname(PLOT_SCRIPT))
from plot_result import NotAResultFile, Result  # noqa: E402

STATES = ["armJoint.phi", "armJoint.w", "pendulumJoint.phi", "pendulumJoint.w"]


def scratch():
    base = os.environ.get("TAVELO_TEST_TMP") or None
    if base:
        os.makedirs(base, exist_ok=True)
    return tempfile.TemporaryDirectory(dir=base)


def run(args, cwd, tmpdir=None, **kwargs):
    """tavelo-sim in cwd; with tmpdir, its scratch folders go there."""
    env = dict(os.environ, TMPDIR=tmpdir) if tmpdir else None
    return subprocess.run([SIM] + args, cwd=cwd, capture_output=True, text=True, timeout=300,
                          env=env, **kwargs)


def summary_values(stdout):
    """The final states of the summary, by name."""
    return {m.group(1): float(m.group(2))
            for m in re.finditer(r"^    (\S+)\s+(\S+)$", stdout, re.MULTILINE)}


def summary_count(stdout, what):
    return int(re.search(rf"^  {what}\s+(\d+)", stdout, re.MULTILINE).group(1))


def summary_rows(stdout):
    """The summary's count of the result file's rows; None where it counted none."""
    m = re.search(r"^  result rows\s+(?:(\d+) in dsres\.mat|none counted \((.*)\))$", stdout,
                  re.MULTILINE)
    if m is None:
        raise AssertionError(f"no result rows line in the summary:\n{stdout}")
    return int(m.group(1)) if m.group(1) else None


def load_strictly(path):
    """The result file through scipy, any warning (a file it reads only in part) an error."""
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return scipy.io.loadmat(path)


def description_of(fmu):
    with zipfile.ZipFile(fmu) as z:
        return ElementTree.fromstring(z.read("modelDescription.xml"))


def start_values(fmu):
    """Start values of the variables that are no aliases and have one, by name."""
    starts = {}
    for v in description_of(fmu).iter("ScalarVariable"):
        typed = v[0]
        if v.get("alias", "noAlias") == "noAlias" and "start" in typed.attrib:
            starts[v.get("name")] = float(typed.get("start"))
    return starts


def f32(x):
    return np.float32(x)


class TaveloRun(unittest.TestCase):
    """The pendulum for 2 s, read back with scipy."""

    @classmethod
    def setUpClass(cls):
        cls.dir = scratch()
        cls.done = run(["--stop", "2", "--result-dir", "out", FMU], cls.dir.name)
        cls.path = os.path.join(cls.dir.name, "out", "dsres.mat")

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_exits_0_with_a_summary_and_nothing_on_stderr(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        self.assertEqual(self.done.stderr, "")
        self.assertEqual(summary_count(self.done.stdout, "output points"), 2000)
        self.assertEqual(summary_rows(self.done.stdout),
                         scipy.io.loadmat(self.path)["data_2"].shape[1])
        self.assertEqual(list(summary_values(self.done.stdout)), STATES)

    def test_time_column_is_the_millisecond_grid(self):
        # A row for every millisecond, in order; the library also records a completed step
        # that ends within 1e-7 s of a millisecond (an event there), so a millisecond may have
        # two rows.
        time = scipy.io.loadmat(self.path)["data_2"][0].astype(float)
        self.assertGreaterEqual(len(time), 2001)
        self.assertTrue(np.all(np.diff(time) > 0.0))
        ms = np.round(time * 1000.0)
        # float32 holds a time near 2 s to about 1.2e-7 s
        np.testing.assert_array_less(np.abs(time - ms / 1000.0), 1e-7 + 1.2e-7)
        self.assertEqual(sorted(set(ms.astype(int))), list(range(2001)))
        grid = np.array([time[np.argmax(ms == k)] for k in range(2001)], dtype=np.float32)
        np.testing.assert_array_equal(grid, (np.arange(2001) * 0.001).astype(np.float32))

    def test_no_step_ends_a_hair_from_a_millisecond(self):
        # The integrator chooses its own steps; one that ended within 1e-7 s of a millisecond
        # would give that millisecond a second row at nearly the same time (at these
        # tolerances some steps would, over 10 s).
        for tolerance in ["3e-7", "1e-7", "1e-8"]:
            with self.subTest(tolerance=tolerance), scratch() as d:
                done = run(["--quiet", "--tolerance", tolerance, FMU], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                time = scipy.io.loadmat(os.path.join(d, "dsres.mat"))["data_2"][0]
                self.assertTrue(np.all(np.diff(time) > 0.0))
                ms = np.round(time.astype(float) * 1000.0).astype(int)
                rows_per_ms = np.bincount(ms)
                self.assertEqual(len(rows_per_ms), 10001)
                self.assertTrue(np.all(rows_per_ms[1:] == 1), np.flatnonzero(rows_per_ms[1:] > 1))

    def test_rows_agree_with_a_run_at_a_far_tighter_tolerance(self):
        # The rows between the integrator's own steps come from its interpolation: they agree
        # with a run at 1e-10 as closely as the steps do (over 2 s the states' global error at
        # 1e-6 is some 3e-4).
        with scratch() as d:
            done = run(["--quiet", "--stop", "2", "--tolerance", "1e-10", FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            tight, loose = Result(os.path.join(d, "dsres.mat")), Result(self.path)
            on_grid = [np.unique(np.round(r.time.astype(float) * 1000.0), return_index=True)[1]
                       for r in (tight, loose)]
            for name in STATES:
                a, b = (r.values(name)[i].astype(float) for r, i in zip((tight, loose), on_grid))
                self.assertEqual(len(a), 2001)
                np.testing.assert_allclose(b, a, rtol=0.0, atol=1e-3, err_msg=name)

    def test_the_pendulum_falls_the_arm_is_held_at_first_energy_does_not_grow(self):
        r = Result(self.path)
        t = r.time
        arm_phi, arm_w = r.values("armJoint.phi"), r.values("armJoint.w")
        phi, w = r.values("pendulumJoint.phi"), r.values("pendulumJoint.w")
        early = (t > 0.0) & (t <= 0.3)
        # Released at 30 degrees from upright, the pendulum falls: its angle grows.
        self.assertTrue(np.all(np.diff(phi[t <= 0.3]) >= 0.0))
        self.assertTrue(np.all(w[early & (t >= 0.001)] > 0.0))
        self.assertGreater(phi[np.searchsorted(t, 0.3)], phi[0] + 0.2)
        # The arm's bearing holds it at first; later the pendulum's swing turns it.
        held = t <= 0.2
        self.assertTrue(np.all(arm_phi[held] == 0.0) and np.all(arm_w[held] == 0.0))
        self.assertGreater(np.max(np.abs(arm_phi)), 0.05)
        # Kinetic plus potential energy of arm and pendulum, from the recorded parameters:
        # friction only takes energy away.
        p = {n: r.values(n)[0] for n in ["pendulum.m", "pendulum.r_CM[2]", "pendulum.I_11",
                                         "pendulum.I_22", "pendulum.I_33", "arm.I_22",
                                         "arm.length", "world.g"]}
        m, l, big_l = p["pendulum.m"], p["pendulum.r_CM[2]"], p["arm.length"]
        s, c = np.sin(phi), np.cos(phi)
        m11 = (p["arm.I_22"] + m * (big_l ** 2 + l ** 2 * s ** 2) + p["pendulum.I_22"] * c ** 2
               + p["pendulum.I_33"] * s ** 2)
        m12 = -m * big_l * l * c
        m22 = m * l ** 2 + p["pendulum.I_11"]
        energy = (0.5 * m11 * arm_w ** 2 + m12 * arm_w * w + 0.5 * m22 * w ** 2
                  + m * p["world.g"] * l * c)
        self.assertTrue(np.all(np.diff(energy) <= 1e-6 * energy[0]),
                        f"largest increase {np.max(np.diff(energy))}")
        self.assertLess(energy[-1], 0.9 * energy[0])

    def test_states_and_parameters_start_at_their_start_values(self):
        result = Result(self.path)
        starts = start_values(FMU)
        for name in STATES:
            self.assertEqual(result.values(name)[0], f32(starts[name]), name)
        parameters = [v.get("name") for v in description_of(FMU).iter("ScalarVariable")
                      if v.get("variability") == "parameter" and v.get("alias") is None
                      and v.get("name") in starts]
        self.assertEqual(len(parameters), 62)
        for name in parameters:
            self.assertEqual(result.values(name)[0], f32(starts[name]), name)

    def test_an_alias_reads_as_its_variable(self):
        result = Result(self.path)
        np.testing.assert_array_equal(result.values("pendulumJoint.angle"),
                                      result.values("pendulumJoint.phi"))

    def test_plot_script_draws_a_picture(self):
        picture = os.path.join(self.dir.name, "states.png")
        done = subprocess.run([sys.executable, PLOT_SCRIPT, self.path, "-o", picture],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(picture, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        unknown = subprocess.run([sys.executable, PLOT_SCRIPT, self.path, "no.such", "-o",
                                  picture], capture_output=True, text=True, timeout=120)
        self.assertEqual(unknown.returncode, 1)
        self.assertIn("no variable no.such", unknown.stderr)
        # Without -o the picture is the result file's name with .png for .mat.
        default = os.path.join(self.dir.name, "out", "dsres.png")
        done = subprocess.run([sys.executable, PLOT_SCRIPT, self.path], capture_output=True,
                              text=True, timeout=120)
        self.assertEqual((done.returncode, done.stdout), (0, f"plot_result.py: {default}\n"),
                         done.stderr)
        with open(default, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


class OutputGrid(unittest.TestCase):
    """The output points are the whole multiples of the interval after the start: the model
    records a row only within 1e-7 s of a whole millisecond."""

    def test_one_row_at_every_multiple_of_the_interval_after_the_start(self):
        # (options, the milliseconds after the start that get a row, output points). The
        # pendulum has an event just after its start, which the model records too where it
        # lies within 1e-7 s of a millisecond (at the start 0 it does).
        cases = [
            (["--start", "0.0003"], range(1, 201), 200),
            (["--start", "0.0003", "--interval", "0.002"], range(2, 201, 2), 100),
            (["--interval", "0.002"], range(2, 201, 2), 100),
            # before 0: the multiples from 0 on, not from the start's millisecond rounded up
            (["--start", "-0.0005", "--interval", "0.002"], range(0, 201, 2), 101),
            # a stop off the grid gives no row and no output point of its own
            (["--stop", "0.2005"], range(1, 201), 200),
            # a stop within a millionth of an interval of a point is that point, but 5e-7 s
            # off the millisecond it gets no row, and the run misses none (the start's row is
            # the only one: the event just after this start lies off the millisecond too)
            (["--start", "0.0005", "--stop", "1.0000005", "--interval", "1"], [], 1),
        ]
        for args, milliseconds, points in cases:
            with self.subTest(args=args), scratch() as d:
                args = list(args) if "--stop" in args else list(args) + ["--stop", "0.2"]
                done = run(args + [FMU], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                time = scipy.io.loadmat(os.path.join(d, "dsres.mat"))["data_2"][0]
                self.assertEqual(summary_rows(done.stdout), len(time))
                self.assertEqual(summary_count(done.stdout, "output points"), points)
                start = float(args[args.index("--start") + 1]) if "--start" in args else 0.0
                self.assertEqual(time[0], f32(start))
                later = time[time.astype(float) > start + 1e-7]
                ms = np.round(later.astype(float) * 1000.0)
                np.testing.assert_array_less(np.abs(later - ms / 1000.0), 1e-7 + 2e-8)
                self.assertEqual(sorted(set(ms.astype(int))), list(milliseconds))
                for k in milliseconds:  # the output point itself, to the float's last bit
                    self.assertIn(f32(k / 1000.0), later[ms == k], k)

    def test_intervals_that_are_no_whole_number_of_milliseconds(self):
        # An interval is taken as a whole number of milliseconds when it lies within a
        # billionth of its size of one: 0.002000000005 and 0.001999999995 lie 2.5e-9 of it
        # from 2 ms, 0.002000000001 and 0.0019999999995 lie 5e-10 and 2.5e-10 from it; just
        # outside and inside, 0.0020000000021 and 0.0020000000019 lie 1.05e-9 and 0.95e-9.
        # None of the refusals may take longer than a moment, however small the interval.
        rejected = ["0.0015", "1e-300", "5e-324", "0.0005", "0.002000000005", "0.001999999995",
                    "0.0020000000021"]
        with scratch() as d:
            for interval in rejected:
                with self.subTest(interval=interval):
                    done = subprocess.run([SIM, "--interval", interval, FMU], cwd=d,
                                          capture_output=True, text=True, timeout=10)
                    self.assertEqual(done.returncode, 2, done.stderr)
                    self.assertEqual(done.stdout, "")
                    self.assertEqual(done.stderr,
                                     f"tavelo-sim: --interval: {interval} s is no whole number "
                                     "of milliseconds (the model records its result on the "
                                     "millisecond grid) (see tavelo-sim --help)\n")
                    self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))
            done = run(["--interval", "1e300", FMU], d)
            self.assertEqual(done.returncode, 2, done.stderr)
            self.assertIn("--interval: 1e300 s is longer than 1e9 s", done.stderr)
            for interval in ["0.002000000001", "0.0019999999995", "0.0020000000019"]:
                with self.subTest(interval=interval):
                    done = run(["--interval", interval, TEST_FMU], d)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertIn("output points     500 (every 0.002 s)", done.stdout)

    def test_times_too_far_for_the_grid_end_the_run_at_once(self):
        # A bad command line; 1e9 s itself is near enough.
        with scratch() as d:
            for args in [["--start", "1e300", "--stop", "2e300"], ["--stop", "1000000000.001"],
                         ["--start", "-1000000000.001", "--stop", "0"]]:
                with self.subTest(args=args):
                    done = subprocess.run([SIM, *args, FMU], cwd=d, capture_output=True,
                                          text=True, timeout=10)
                    self.assertEqual(done.returncode, 2, done.stderr)
                    self.assertRegex(done.stderr, r"^tavelo-sim: --st(art|op): \S+ s lies farther "
                                     r"than 1e9 s from 0 \(the output grid counts milliseconds\) "
                                     r"\(see tavelo-sim --help\)\n$")
            for args in [["--start", "999999999.9", "--stop", "1e9"],
                         ["--start", "-1e9", "--stop", "-999999999.9"]]:
                with self.subTest(args=args):
                    done = run(args + [TEST_FMU], d)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertIn("output points     100 (every 0.001 s)", done.stdout)

    def test_the_summary_writes_its_start_time_as_its_end_time(self):
        # To nine digits without an exponent: "%g" made 999999990 s "1e+09 s".
        with scratch() as d:
            done = run(["--set", "frozen=true", "--start", "999999990", "--stop", "1e9",
                        TEST_FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout.splitlines()[0],
                             f"{TEST_FMU}: simulated from 999999990 s to 1000000000 s")

    def test_rows_are_counted_only_in_a_file_this_run_wrote(self):
        with scratch() as d:
            path = os.path.join(d, "dsres.mat")
            done = run(["--stop", "0.05", FMU], d)
            self.assertEqual(summary_rows(done.stdout), scipy.io.loadmat(path)["data_2"].shape[1])
            # Over the file of an earlier run: the new one's rows.
            done = run(["--stop", "0.02", FMU], d)
            self.assertEqual(summary_rows(done.stdout), scipy.io.loadmat(path)["data_2"].shape[1])
            self.assertLess(summary_rows(done.stdout), 30)
            # The test model writes no result: the file there is not its own.
            done = run([TEST_FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIsNone(summary_rows(done.stdout))
            self.assertIn("result rows       none counted (no dsres.mat written by this run)",
                          done.stdout)

    def test_a_run_repeated_within_a_second_and_a_model_without_a_file(self):
        # The same run again within the same second rewrites the same file to the same size:
        # only the nanoseconds of its modification time tell the two apart. The first run's
        # file is dated back to the start of a second, so only the run again has to end
        # within it, even on a busy machine; a few tries at most.
        with scratch() as d:
            path = os.path.join(d, "dsres.mat")
            first = run(["--stop", "0.01", FMU], d)
            for _ in range(10):
                time.sleep(1.0 - time.time() % 1.0)
                second = time.time_ns() // 10**9 * 10**9
                os.utime(path, ns=(second, second))
                before = os.stat(path)
                again = run(["--stop", "0.01", FMU], d)
                after = os.stat(path)
                if before.st_mtime_ns // 10**9 == after.st_mtime_ns // 10**9:
                    break
            else:
                self.fail("no two runs wrote their files within the same second")
            self.assertEqual((before.st_ino, before.st_size), (after.st_ino, after.st_size))
            self.assertNotEqual(before.st_mtime_ns, after.st_mtime_ns)
            self.assertEqual(summary_rows(again.stdout), summary_rows(first.stdout))
            self.assertEqual(summary_rows(again.stdout),
                             scipy.io.loadmat(path)["data_2"].shape[1])
        # The test model writes no result: in an empty folder there is none to count.
        with scratch() as d:
            done = run([TEST_FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("\n  result rows       none counted (no dsres.mat written by this "
                          "run)\n", done.stdout)
            self.assertEqual(os.listdir(d), [])


def signals_caught(pid):
    """The signals the process catches, from /proc (empty once it has ended)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            mask = int(re.search(r"^SigCgt:\s*([0-9a-f]+)$", f.read(), re.MULTILINE).group(1), 16)
    except (OSError, AttributeError):
        return set()
    return {n for n in range(1, 65) if mask >> (n - 1) & 1}


def signal_pending(pid, sig):
    """Whether a signal sent to the process awaits its delivery, from /proc."""
    try:
        with open(f"/proc/{pid}/status") as f:
            mask = int(re.search(r"^ShdPnd:\s*([0-9a-f]+)$", f.read(), re.MULTILINE).group(1), 16)
    except (OSError, AttributeError):
        return False
    return bool(mask >> (sig - 1) & 1)


# The signals that end a run early and cleanly.
INTERRUPTS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGALRM,
              signal.SIGUSR1, signal.SIGUSR2, signal.SIGXCPU, signal.SIGVTALRM, signal.SIGPROF]


class Interrupts(unittest.TestCase):
    """SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM and
    SIGPROF end a run after the step it is in: the model is terminated and freed, so its result
    file is whole; the summary says where and counts the file's rows; the exit status is 128 +
    the signal's number. A second signal ends the run at once, but the same one delivered twice
    at once (timeout, a closed terminal) is one request; one ignored at the start stays ignored.
    A CPU-time limit as bash sets it ends the run on SIGXCPU before the kernel kills it. A
    console that is a closed pipe ends the run the same way, but keeps the status of a signal
    before it; a file-size limit kills no run."""

    @classmethod
    def setUpClass(cls):
        seed = int(os.environ.get("TAVELO_TEST_SEED") or random.randrange(1 << 32))
        print(f"Interrupts: seed {seed} (TAVELO_TEST_SEED={seed} repeats the moments)",
              file=sys.stderr)
        cls.random = random.Random(seed)

    def start_long_run(self, d, *args, fmu=FMU, stop="100000", ignored=None, cpu_limit=None,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE):
        """A run far longer than any test waits for, once it has its handlers; with ignored,
        that signal ignored from its start; with cpu_limit, under that soft and hard
        RLIMIT_CPU."""
        tmp = os.path.join(d, "tmp")  # the run's scratch folders, seen by no other run
        os.mkdir(tmp)
        run_dir = os.path.join(d, "run")
        os.mkdir(run_dir)

        def before_exec():
            if ignored:
                signal.signal(ignored, signal.SIG_IGN)
            if cpu_limit:
                resource.setrlimit(resource.RLIMIT_CPU, cpu_limit)

        child = subprocess.Popen(
            [SIM, *args, "--stop", stop, fmu], cwd=run_dir, env=dict(os.environ, TMPDIR=tmp),
            stdout=stdout, stderr=stderr, text=True, preexec_fn=before_exec)
        self.addCleanup(lambda: child.poll() is not None or child.kill())
        deadline = time.monotonic() + 10.0
        while not set(INTERRUPTS) - {ignored} <= signals_caught(child.pid):
            self.assertIsNone(child.poll(), "the run ended before it caught its signals")
            self.assertLess(time.monotonic(), deadline, "the run catches not all its signals")
            time.sleep(0.0002)
        return child, run_dir, tmp

    def test_a_signal_at_any_moment_leaves_a_whole_file_with_the_rows_of_the_summary(self):
        # Right after the handlers are in place (the FMU being unpacked, some 20 ms), and at
        # moments up to half a second in, more of them early: the model's initialisation, the
        # first seconds of the run and the long steps of the pendulum at rest, each passing
        # thousands of output points. SIGINT and SIGTERM at six moments, the others at two.
        for sig in INTERRUPTS:
            often = sig in [signal.SIGINT, signal.SIGTERM]
            for delay in [0.0] * (2 if often else 1) + [
                    0.5 * self.random.random() ** 2 for _ in range(4 if often else 1)]:
                with self.subTest(signal=sig.name, delay=delay), scratch() as d:
                    child, run_dir, tmp = self.start_long_run(d)
                    time.sleep(delay)
                    child.send_signal(sig)
                    out, err = child.communicate(timeout=60)
                    rows = self.assert_ended_by(sig, child.returncode, out, err, run_dir)
                    if rows is not None:
                        self.assertGreaterEqual(rows, 1)
                        data = load_strictly(os.path.join(run_dir, "dsres.mat"))["data_2"]
                        # The summary's end is where the rows end: its last millisecond has
                        # its row (the file's times are floats, good to 1e-5 s at 100 s).
                        end = float(re.search(r" to (\S+) s, interrupted", out).group(1))
                        self.assertGreaterEqual(float(data[0, -1]), end - 1e-3 - 2e-5, out)
                        self.assertLessEqual(float(data[0, -1]), end + 2e-5, out)
                    self.assertEqual(os.listdir(tmp), [])

    def wait_for_result_file(self, run_dir):
        """The run's "dsres.mat", once it has one, a little into the run."""
        path = os.path.join(run_dir, "dsres.mat")
        deadline = time.monotonic() + 10.0
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.001)
        time.sleep(0.1)  # into the run, past the initialisation
        return path

    def test_quiet_prints_no_summary(self):
        with scratch() as d:
            child, run_dir, _ = self.start_long_run(d, "--quiet")
            path = self.wait_for_result_file(run_dir)
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=60)
            self.assertEqual((child.returncode, out, err), (130, "", ""))
            self.assertGreater(load_strictly(path)["data_2"].shape[1], 1)

    def test_an_interrupted_run_writes_its_start_and_stop_time_as_its_end_time(self):
        # To nine digits: "%g" made them 1234.57 s and 100000 s.
        with scratch() as d:
            child, run_dir, _ = self.start_long_run(d, "--start", "1234.5678", stop="100000.5")
            self.wait_for_result_file(run_dir)
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=60)
            self.assertEqual((child.returncode, err), (130, ""))
            self.assertRegex(out.splitlines()[0], r": simulated from 1234\.5678 s to \d+\.?\d* s, "
                             r"interrupted by SIGINT \(stop time 100000\.5 s\)$")

    def test_no_descriptor_of_the_fmu_is_open_during_the_run(self):
        # The archive is closed once the library is loaded: the model's process, and any
        # process it starts, holds no descriptor of it (libzip's copy has no close-on-exec).
        with scratch() as d:
            child, run_dir, _ = self.start_long_run(d, "--quiet")
            path = self.wait_for_result_file(run_dir)
            fmu, result = os.stat(FMU), os.stat(path)
            open_files = set()
            for fd in os.listdir(f"/proc/{child.pid}/fd"):
                with contextlib.suppress(OSError):  # one closed since the listing
                    st = os.stat(f"/proc/{child.pid}/fd/{fd}")
                    open_files.add((st.st_dev, st.st_ino))
            child.send_signal(signal.SIGINT)
            self.assertEqual(child.communicate(timeout=60), ("", ""))
            self.assertEqual(child.returncode, 130)
            self.assertIn((result.st_dev, result.st_ino), open_files)  # it was in the run
            self.assertNotIn((fmu.st_dev, fmu.st_ino), open_files)

    def test_a_second_signal_ends_the_run_at_once(self):
        # Stopped, the run gets both signals before it can act on the first: SIGINT is
        # delivered first, SIGTERM then kills it.
        with scratch() as d:
            child, _, _ = self.start_long_run(d)
            time.sleep(0.1)
            child.send_signal(signal.SIGSTOP)
            _, status = os.waitpid(child.pid, os.WUNTRACED)
            self.assertTrue(os.WIFSTOPPED(status))
            child.send_signal(signal.SIGINT)
            child.send_signal(signal.SIGTERM)
            child.send_signal(signal.SIGCONT)
            out, _ = child.communicate(timeout=60)
            self.assertEqual(child.returncode, -signal.SIGTERM)
            self.assertEqual(out, "")

    def assert_ended_by(self, sig, returncode, out, err, run_dir):
        """The run ended cleanly on sig: its status, its summary, a whole file of the summary's
        rows. Returns those rows (nothing where the summary counts none)."""
        self.assertEqual((returncode, err), (128 + sig, ""), out)
        self.assertRegex(out.splitlines()[0] if out else "",
                         rf"(simulated from 0 s to [0-9.e+-]+ s, interrupted by {sig.name} "
                         rf"\(stop time 100000 s\)|interrupted by {sig.name} before the "
                         rf"simulation started)$")
        rows = summary_rows(out)
        path = os.path.join(run_dir, "dsres.mat")
        if rows is None:
            self.assertFalse(os.path.exists(path), out)
        else:
            self.assertEqual(load_strictly(path)["data_2"].shape, (108, rows))
        return rows

    def test_a_signal_delivered_twice_at_once_is_one_request(self):
        # timeout signals the run, then its process group: the run again. The second delivery,
        # microseconds to milliseconds after the first, asks for the same end; so it does when
        # the test sends the signal again as soon as the first is delivered (sent before, it
        # would be merged with the first). A soft CPU-time limit raises SIGXCPU, again after
        # each further second of CPU time: the run ends before that.
        cases = [("timeout", signal.SIGHUP), ("timeout", signal.SIGTERM),
                 ("twice", signal.SIGINT), ("twice", signal.SIGHUP), ("twice", signal.SIGTERM),
                 ("a soft CPU-time limit of 1 s", signal.SIGXCPU)]
        for how, sig in cases:
            with self.subTest(how, signal=sig.name), scratch() as d:
                if how == "twice":
                    child, run_dir, tmp = self.start_long_run(d)
                    time.sleep(0.3 * self.random.random())
                    os.kill(child.pid, sig)
                    while signal_pending(child.pid, sig):
                        pass
                    os.kill(child.pid, sig)
                else:
                    tmp, run_dir = os.path.join(d, "tmp"), os.path.join(d, "run")
                    os.mkdir(tmp)
                    os.mkdir(run_dir)
                    command = [SIM, "--stop", "100000", FMU]
                    hard = resource.getrlimit(resource.RLIMIT_CPU)[1]
                    cpu_limit = None
                    if how == "timeout":  # late enough for the run to have its handlers
                        delay = 0.5 + 0.5 * self.random.random()
                        command = ["timeout", "--preserve-status", "-s", sig.name,
                                   f"{delay:.3f}"] + command
                    else:
                        cpu_limit = lambda: resource.setrlimit(resource.RLIMIT_CPU, (1, hard))
                    child = subprocess.Popen(command, cwd=run_dir, env=dict(os.environ, TMPDIR=tmp),
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                             text=True, preexec_fn=cpu_limit)
                    self.addCleanup(lambda: child.poll() is not None or child.kill())
                out, err = child.communicate(timeout=120)
                self.assert_ended_by(sig, child.returncode, out, err, run_dir)
                self.assertEqual(os.listdir(tmp), [])

    def test_a_cpu_time_limit_whose_soft_and_hard_values_are_equal_ends_the_run_cleanly(self):
        # bash's "ulimit -t 2" sets both to 2 s. At the hard limit the kernel sends SIGKILL,
        # also where the first SIGXCPU is due: the run lowers its soft limit to 1 s, and ends
        # on SIGXCPU within the second of CPU time that leaves.
        with scratch() as d:
            child, run_dir, tmp = self.start_long_run(d, cpu_limit=(2, 2))
            out, err = child.communicate(timeout=120)
            self.assert_ended_by(signal.SIGXCPU, child.returncode, out, err, run_dir)
            self.assertEqual(os.listdir(tmp), [])

    def test_a_closed_terminal_ends_the_run_with_sighup(self):
        # An interactive bash on a terminal runs the command as its foreground job, the
        # summary into a file, the standard error stream on the terminal. The terminal goes
        # (its master is closed): bash gets SIGHUP, sends SIGHUP to its jobs and exits, and the
        # kernel sends SIGHUP and SIGCONT to the foreground job. The test
        # adopts the run orphaned by bash's exit (a child subreaper) to learn its status.
        libc = ctypes.CDLL(None, use_errno=True)
        PR_SET_CHILD_SUBREAPER = 36
        self.assertEqual(libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0)
        self.addCleanup(libc.prctl, PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0)
        for attempt in range(3):
            with self.subTest(attempt=attempt), scratch() as d:
                master, slave = pty.openpty()
                shell = subprocess.Popen(
                    ["bash", "--norc", "--noprofile", "-i"], cwd=d, stdin=slave, stdout=slave,
                    stderr=slave, start_new_session=True,
                    preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0),
                    env=dict(os.environ, HISTFILE="", PS1="$ "))
                os.close(slave)
                self.addCleanup(lambda: shell.poll() is not None or shell.kill())
                os.write(master, f"'{SIM}' --stop 100000 '{FMU}' >out.txt\n".encode())
                pid = self.foreground_job(shell, master)
                time.sleep(0.3 * self.random.random())
                os.close(master)
                shell.wait(timeout=60)
                _, status = os.waitpid(pid, 0)
                with open(os.path.join(d, "out.txt")) as out:
                    self.assert_ended_by(signal.SIGHUP, os.waitstatus_to_exitcode(status),
                                         out.read(), "", d)

    def foreground_job(self, shell, master):
        """The pid of the shell's job, once it has its handlers; the terminal read meanwhile."""
        deadline = time.monotonic() + 60.0
        while True:
            self.assertLess(time.monotonic(), deadline, "the shell runs no tavelo-sim")
            if select.select([master], [], [], 0.001)[0]:
                os.read(master, 4096)
            try:
                with open(f"/proc/{shell.pid}/task/{shell.pid}/children") as f:
                    children = [int(pid) for pid in f.read().split()]
            except OSError:
                children = []
            if children and set(INTERRUPTS) <= signals_caught(children[0]):
                return children[0]

    def test_a_signal_ignored_at_the_start_stays_ignored(self):
        # The test model at rest: one long step, some seconds of output points. The signal
        # comes while the run is in it, and the run goes to its end.
        for sig in INTERRUPTS:
            with self.subTest(signal=sig.name), scratch() as d:
                child, _, _ = self.start_long_run(d, "--set", "frozen=true", fmu=TEST_FMU,
                                                  stop="20000", ignored=sig)
                self.assertIsNone(child.poll(), "the run ended before the signal")
                child.send_signal(sig)
                out, err = child.communicate(timeout=300)
                self.assertEqual((child.returncode, err), (0, ""))
                self.assertEqual(out.splitlines()[0], f"{TEST_FMU}: simulated from 0 s to 20000 s")

    def test_a_console_that_is_a_closed_pipe_ends_the_run_like_a_signal(self):
        # "tavelo-sim --log ... 2>&1 | head -2", with a description that claims 3 of the 4
        # states: every call that passes states warns, and --log prints each warning. The run
        # ends after the step in which the pipe's reader went away, with 128 + SIGPIPE; where
        # the standard output still works, the summary says so.
        for to_file in [False, True]:
            with self.subTest(summary_to_file=to_file), scratch() as d:
                fmu = three_state_fmu(d)
                summary = os.path.join(d, "summary.txt")
                with open(summary, "w") as out:
                    child, run_dir, tmp = self.start_long_run(
                        d, "--log", fmu=fmu, stdout=out if to_file else subprocess.PIPE,
                        stderr=subprocess.PIPE if to_file else subprocess.STDOUT)
                    pipe = child.stderr if to_file else child.stdout
                    for _ in range(2):
                        self.assertIn("[fmiWarning]", pipe.readline())
                    pipe.close()
                    child.wait(timeout=60)
                self.assertEqual(child.returncode, 128 + signal.SIGPIPE)
                data = load_strictly(os.path.join(run_dir, "dsres.mat"))["data_2"]
                self.assertGreaterEqual(data.shape[1], 1)
                self.assertEqual(os.listdir(tmp), [])
                if to_file:
                    with open(summary) as f:
                        lines = f.read().splitlines()
                    self.assertRegex(lines[0], r"simulated from 0 s to [0-9.e+-]+ s, interrupted "
                                               r"by SIGPIPE \(stop time 100000 s\)$")
                    self.assertEqual(summary_rows("\n".join(lines)), data.shape[1])
                    self.assertEqual(lines[-1], "tavelo-sim: output was lost: writing to the "
                                                "standard error stream failed (Broken pipe)")

    def test_a_signal_before_a_closed_console_keeps_its_status(self):
        # The standard output is a pipe whose reader has gone before the run started: the
        # summary, its only output, fails after the signal has ended the run. The status is the
        # signal's, and a line on the standard error stream says what was lost. (That the
        # closed pipe leaves the signal's number in the run's flag is the unit test's: the
        # status is taken before the summary is written.)
        reader, writer = os.pipe()
        os.close(reader)
        with scratch() as d:
            child, run_dir, tmp = self.start_long_run(d, stdout=writer)
            os.close(writer)
            path = self.wait_for_result_file(run_dir)
            child.send_signal(signal.SIGINT)
            _, err = child.communicate(timeout=60)
            self.assertEqual((child.returncode, err), (130, (
                "tavelo-sim: output was lost: writing to the standard output failed (Broken "
                "pipe)\n")))
            self.assertGreater(load_strictly(path)["data_2"].shape[1], 1)
            self.assertEqual(os.listdir(tmp), [])

    def test_a_file_size_limit_kills_no_run(self):
        # Under RLIMIT_FSIZE a write past the limit raises SIGXFSZ, which kills by default: the
        # run would end in the middle of a row. It fails like a write to a full disk instead.
        # The limit leaves room for the library unpacked from the FMU and for a header of
        # 513942 bytes and some rows, far fewer than the run makes.
        with zipfile.ZipFile(FMU) as z:
            library = z.getinfo("binaries/linux64/Tavelo.so").file_size
        limit = max(library, 513942) + 65536
        rows = (limit - 513942) // 432
        stop = 2 * rows / 1000 + 1

        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)

        with scratch() as d:
            done = run(["--stop", str(stop), FMU], d, preexec_fn=limited)
            self.assertGreaterEqual(done.returncode, 0, "ended by a signal")
            data = load_strictly(os.path.join(d, "dsres.mat"))["data_2"]
            self.assertGreaterEqual(data.shape[1], 1)
            self.assertLess(data.shape[1], 1000 * stop + 1)
            self.assertLessEqual(os.path.getsize(os.path.join(d, "dsres.mat")), limit)


class FileWrittenWhileRead:
    """A file opened for the reader that a run writes to between two of the reader's reads:
    once its first `at` bytes are read, write(path) is made, and then the rest is read."""

    def __init__(self, path, at, write):
        self._file = open(path, "rb")
        self._path, self._at, self._write = path, at, write

    def read(self):
        first = self._file.read(self._at)
        self._write(self._path)
        return first + self._file.read()

    def fileno(self):
        return self._file.fileno()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self._file.close()


class ResultReader(unittest.TestCase):
    """The plot script's reader: matrix, column and sign from dataInfo on a small file; on a
    result file of tavelo-sim that ends in a column written without its count, the counted
    columns and one warning; on one that a run writes while it is read, the columns counted
    then and one line; on files that are no result file, NotAResultFile and one line from the
    command line."""

    @classmethod
    def setUpClass(cls):
        cls.dir = scratch()
        done = run(["--quiet", "--stop", "0.05", FMU], cls.dir.name)
        if done.returncode != 0:
            raise RuntimeError(f"tavelo-sim failed: {done.stderr}")
        cls.clean = os.path.join(cls.dir.name, "dsres.mat")
        with open(cls.clean, "rb") as f:
            cls.whole = f.read()
        cls.matrices = scipy.io.loadmat(cls.clean)
        cls.row_bytes = 4 * cls.matrices["data_2"].shape[0]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def file(self, name, content):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def elements_at(self, name):
        """Where the elements of a matrix of the clean file start."""
        return self.whole.index(name.encode() + b"\0") + len(name) + 1

    def header_at(self, name):
        """Where the header of a matrix of the clean file starts (type, mrows, ncols, imaginary
        part, name length; int32 each)."""
        return self.elements_at(name) - len(name) - 1 - 20

    def patched(self, at, value):
        """The clean file with the int32 at byte at replaced."""
        return self.whole[:at] + struct.pack("<i", value) + self.whole[at + 4:]

    def read(self, path):
        """Result(path) and what it wrote on the standard error stream."""
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            result = Result(path)
        return result, err.getvalue()

    def plot(self, path):
        return subprocess.run([sys.executable, PLOT_SCRIPT, path, "-o",
                               os.path.join(self.dir.name, "picture.png")],
                              capture_output=True, text=True, timeout=120)

    def reading_while(self, write, at=None):
        """The reader's files written to by write(path) once their first `at` bytes have been
        read, by default up to data_2's count."""
        at = self.header_at("data_2") + 20 if at is None else at
        return unittest.mock.patch.object(
            sys.modules[Result.__module__], "open", create=True,
            new=lambda path, mode: FileWrittenWhileRead(path, at, write))

    def columns(self, count, part=0):
        """The bytes of whole columns and `part` bytes of one more, as a run appends them."""
        return (self.whole[-self.row_bytes:] * (count + 1))[:count * self.row_bytes + part]

    def appending(self, columns, part, counted, ticks):
        """A run's writing: columns and `part` bytes of one more appended, and data_2's count
        raised to `counted`; unless the clock `ticks`, the file's time is set back to what it
        was (a clock of coarse steps)."""
        def write(path):
            before = os.stat(path)
            with open(path, "r+b") as f:
                f.seek(0, os.SEEK_END)
                f.write(self.columns(columns, part))
                f.seek(self.header_at("data_2") + 8)
                f.write(struct.pack("<i", counted))
            if not ticks:
                os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
        return write

    def assert_counted_columns(self, result):
        data2 = self.matrices["data_2"]
        np.testing.assert_array_equal(result.time, data2[0].astype(float))
        for name in STATES + ["pendulumJoint.angle", "world.g"]:
            signal = result._index[name]
            matrix, row = self.matrices["dataInfo"][:2, signal]
            expected = (data2[abs(row) - 1] if matrix == 2 else
                        np.full(data2.shape[1], self.matrices["data_1"][abs(row) - 1, 0]))
            np.testing.assert_array_equal(result.values(name), np.sign(row) * expected, name)

    def test_the_clean_file_reads_without_a_warning(self):
        result, err = self.read(self.clean)
        self.assertEqual(err, "")
        self.assertEqual(result.ignored_bytes, 0)
        self.assertEqual(len(result.time), self.matrices["data_2"].shape[1])
        self.assertGreaterEqual(len(result.time), 51)
        self.assert_counted_columns(result)

    def test_a_column_written_without_its_count_is_left_out_with_a_warning(self):
        # A run killed while it appends a column leaves up to a whole column's bytes after the
        # columns the header counts: the first bytes of the next time's values.
        next_column = self.whole[-self.row_bytes:]
        for extra in [1, 19, 20, self.row_bytes - 1, self.row_bytes]:
            with self.subTest(extra=extra):
                path = self.file(f"cut{extra}.mat", self.whole + next_column[:extra])
                result, err = self.read(path)
                self.assertEqual(result.ignored_bytes, extra)
                self.assert_counted_columns(result)
                self.assertEqual(err.count("\n"), 1, err)
                self.assertRegex(err, rf"^plot_result.py: {re.escape(path)}: ignored {extra} "
                                      rf"bytes after the {len(result.time)} columns of data_2 ")
        done = self.plot(path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr.count(f"ignored {self.row_bytes} bytes"), 1, done.stderr)

    def test_a_file_written_while_it_is_read_is_read_as_counted_then(self):
        # A run appends columns and raises data_2's count after the reader has read the count:
        # the columns counted then are read, and one line says the file was being written.
        # The size tells, also where the clock has not ticked since the file's last change;
        # where the run only counts a column it had appended before the read, the time tells.
        counted = self.matrices["data_2"].shape[1]
        for uncounted, columns, part, ticks in [(0, 1, 0, False), (0, 3, 0, False),
                                                (0, 2, 100, False), (1, 0, 0, True)]:
            with self.subTest(uncounted=uncounted, columns=columns, part=part):
                path = self.file("growing.mat", self.whole + self.columns(uncounted))
                os.utime(path, (time.time() - 10,) * 2)  # a tick since it was written
                with self.reading_while(self.appending(columns, part,
                                                       counted + uncounted + columns, ticks)):
                    result, err = self.read(path)
                appended = (uncounted + columns) * self.row_bytes + part
                self.assertTrue(result.being_written)
                self.assertEqual(result.ignored_bytes, appended)
                self.assert_counted_columns(result)
                self.assertEqual(err, f"plot_result.py: {path}: being written while it was read: "
                                      f"read the {counted} columns of data_2 that it counted "
                                      f"then, left out the {appended} bytes after them\n")
        # A column appended and counted before the reader reads the count: no bytes left out.
        path = self.file("growing.mat", self.whole)
        with self.reading_while(self.appending(1, 0, counted + 1, ticks=False), at=0):
            result, err = self.read(path)
        self.assertEqual((len(result.time), result.ignored_bytes), (counted + 1, 0))
        self.assertEqual(err, f"plot_result.py: {path}: being written while it was read: read "
                              f"the {counted + 1} columns of data_2 that it counted then\n")

    def test_a_damaged_file_that_holds_still_is_refused(self):
        # More than a column after the counted ones, read through the same reads as a file
        # that grows: from a file that nothing writes meanwhile, and from a FIFO, whose size
        # is no file's, while its writer changes its time.
        damaged = self.whole + self.whole[-self.row_bytes:] + b"\0"
        problem = (f"{self.row_bytes + 1} bytes after the {self.matrices['data_2'].shape[1]} "
                   "columns of data_2 that its header counts, more than one column")

        def fed_fifo():
            path = os.path.join(self.dir.name, "still.fifo")
            os.mkfifo(path)

            def feed():
                with open(path, "wb") as f:
                    f.write(damaged)
            threading.Thread(target=feed, daemon=True).start()
            return path

        for name, path, meanwhile in [
                ("file", self.file("still.mat", damaged), lambda path: None),
                ("FIFO", fed_fifo(), lambda path: os.utime(path, (time.time() - 10,) * 2))]:
            with self.subTest(name), self.reading_while(meanwhile):
                with self.assertRaises(NotAResultFile) as raised:
                    Result(path)
                self.assertEqual(str(raised.exception), f"{path}: {problem}")

    def test_a_file_that_is_no_result_file_gives_one_line(self):
        def v4_without(name):
            path = os.path.join(self.dir.name, f"without-{name}.mat")
            scipy.io.savemat(path, {k: v for k, v in self.matrices.items()
                                    if not k.startswith("__") and k != name}, format="4")
            with open(path, "rb") as f:
                return f.read()

        def v4_with_data_info(column, matrix, row):
            """The file with dataInfo stored as doubles and the first variable's entry
            replaced."""
            info = self.matrices["dataInfo"].astype(float)
            info[:2, column] = matrix, row
            path = os.path.join(self.dir.name, "float-dataInfo.mat")
            scipy.io.savemat(path, {k: info if k == "dataInfo" else v
                                    for k, v in self.matrices.items() if not k.startswith("__")},
                             format="4")
            with open(path, "rb") as f:
                return f.read()

        data2_header = self.header_at("data_2")
        v5 = os.path.join(self.dir.name, "v5-source.mat")
        scipy.io.savemat(v5, {"data_2": self.matrices["data_2"]}, format="5")
        with open(v5, "rb") as f:
            version5 = f.read()
        # dataInfo holds (matrix, ±row, 0, -1) per variable, stored one variable after the
        # other; a variable in data_2's last row pointed one row further.
        info = self.matrices["dataInfo"]
        rows = self.matrices["data_2"].shape[0]
        last = int(np.flatnonzero((info[0] == 2) & (np.abs(info[1]) == rows))[0])
        past_data2 = self.patched(self.elements_at("dataInfo") + 16 * last + 4,
                                  int(np.sign(info[1, last])) * (rows + 1))
        row_0 = self.patched(self.elements_at("dataInfo") + 16 * last + 4, 0)
        # Aclass is stored as is, 4 strings of 11 characters column by column; its fourth
        # string says how the other matrices are stored.
        normal = bytearray(self.whole)
        for j, c in enumerate(b"binNormal\0 "):
            normal[self.elements_at("Aclass") + 3 + 4 * j] = c
        cases = [
            ("empty", b"", "empty file"),
            ("text", b"time,phi\n0,0.5236\n0.001,0.5237\n", "no matrix header at byte 0"),
            ("version5", version5, "MAT file of version 5 or later"),
            ("no-name", v4_without("name"), "no matrix name"),
            ("no-dataInfo", v4_without("dataInfo"), "no matrix dataInfo"),
            ("no-data_2", v4_without("data_2"), "no matrix data_2"),
            ("header-cut", self.whole[:data2_header + 19], "cut short in the matrix header"),
            ("elements-cut", self.whole[:data2_header - 1], "cut short in the elements of "
                                                            "matrix data_1"),
            ("a-column-and-a-byte-more",
             self.whole + self.whole[-self.row_bytes:] + b"\0",
             f"{self.row_bytes + 1} bytes after the {len(self.matrices['data_2'][0])} columns"),
            ("dataInfo-as-text", self.patched(self.header_at("dataInfo"), 21),
             "dataInfo holds text"),
            ("complex", self.patched(self.header_at("data_1") + 12, 1), "imaginary part 1"),
            ("sparse", self.patched(self.header_at("data_1"), 12),
             f"no matrix header at byte {self.header_at('data_1')} (type 12"),
            ("binNormal", bytes(normal), "matrices stored as binNormal, not transposed"),
            # A text matrix of ten million names of no characters, in 25 bytes: counted
            # columns of no elements cannot outnumber the file's bytes.
            ("ten-million-empty-names", struct.pack("<5i", 51, 0, 10 ** 7, 0, 5) + b"name\0",
             "matrix name counts 10000000 columns of no elements, more than the file's 25 "
             "bytes"),
            ("dataInfo-row-not-a-number", v4_with_data_info(3, 2, float("nan")),
             "dataInfo of world.frame_b.r_0[3] holds nan, which is no matrix or row number"),
            ("dataInfo-matrix-not-whole", v4_with_data_info(3, 1.5, 2),
             "dataInfo of world.frame_b.r_0[3] holds 1.5, which is no matrix or row number"),
            ("dataInfo-row-too-large", v4_with_data_info(3, 2, 1e300),
             "dataInfo of world.frame_b.r_0[3] holds 1e+300, which is no matrix or row number"),
            ("row-past-data_2", past_data2, f"points to row {rows + 1} of data matrix 2"),
            ("row-0-of-data_2", row_0, "points to row 0 of data matrix 2"),
        ]
        for name, content, problem in cases:
            with self.subTest(name):
                path = self.file(f"{name}.mat", content)
                with self.assertRaises(NotAResultFile) as raised:
                    Result(path)
                self.assertIsInstance(raised.exception, ValueError)
                self.assertTrue(str(raised.exception).startswith(f"{path}: "), raised.exception)
                self.assertIn(problem, str(raised.exception))
                done = self.plot(path)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, f"plot_result.py: {raised.exception}\n")
        for path, problem in [(os.path.join(self.dir.name, "missing.mat"),
                               "No such file or directory"),
                              (self.dir.name, "Is a directory")]:
            with self.subTest(path):
                done = self.plot(path)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, f"plot_result.py: {path}: {problem}\n")

    def test_the_reader_and_the_picture_need_no_scipy(self):
        # The main command installs numpy and matplotlib for the picture, not scipy.
        code = ("import sys; sys.modules['scipy'] = None; sys.path.insert(0, sys.argv[1]); "
                "import plot_result; sys.exit(plot_result.main(sys.argv[2:]))")
        picture = os.path.join(self.dir.name, "no-scipy.png")
        done = subprocess.run([sys.executable, "-c", code, os.path.dirname(PLOT_SCRIPT),
                               self.clean, "-o", picture], capture_output=True, text=True,
                              timeout=120)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        with open(picture, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    def test_values_follow_data_info(self):
        with scratch() as d:
            path = os.path.join(d, "small.mat")
            names = ["Time", "x", "minusX", "k", "minusK"]
            # One name per column, as the writer stores them: row i holds character i of each.
            width = max(map(len, names))
            text = np.array(["".join(n.ljust(width)[i] for n in names) for i in range(width)])
            info = np.array([[0, 1, 0, -1], [2, 2, 0, -1], [2, -2, 0, -1], [1, 2, 0, -1],
                             [1, -2, 0, -1]], dtype=np.int32).T
            data1 = np.array([[0.0, 1.0], [7.5, 7.5]], dtype=np.float32)
            data2 = np.array([[0.0, 0.5, 1.0], [1.0, 2.0, 3.0]], dtype=np.float32)
            scipy.io.savemat(path, {"name": text, "description": text, "dataInfo": info,
                                    "data_1": data1, "data_2": data2}, format="4")
            r = Result(path)
            self.assertEqual(r.names, names)
            np.testing.assert_array_equal(r.values("Time"), [0.0, 0.5, 1.0])
            np.testing.assert_array_equal(r.values("x"), [1.0, 2.0, 3.0])
            np.testing.assert_array_equal(r.values("minusX"), [-1.0, -2.0, -3.0])
            np.testing.assert_array_equal(r.values("k"), [7.5, 7.5, 7.5])
            np.testing.assert_array_equal(r.values("minusK"), [-7.5, -7.5, -7.5])


class SetValues(unittest.TestCase):
    """--set by name: parameters, start values, aliases; a start value shows without motion."""

    def test_set_changes_the_result(self):
        with scratch() as d:
            done = run(["--stop", "0.01", "--set", "pendulumJoint.phi=0.7",
                        "--set", "armJoint.angle=-0.25", "--set", "armFriction=+0.05", FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            r = Result(os.path.join(d, "dsres.mat"))
            self.assertEqual(r.values("pendulumJoint.phi")[0], f32(0.7))
            self.assertEqual(r.values("armJoint.phi")[0], f32(-0.25))  # through the alias
            self.assertEqual(r.values("armFriction")[0], f32(0.05))

    def test_aliases_and_negated_aliases_of_each_type(self):
        # height is x, fall is -v, moving is not frozen: a frozen ball keeps its start. The
        # summary names the states by the variables of their references, which are no aliases
        # and of type Real: also where the aliases, and the Integer and Boolean variables of
        # the same references, come first in the description. Causality "none" is FMI 1.0's
        # too. A warning from fmiGetStateValueReferences (scenario 11) leaves its references.
        first = ["height", "fall", "moving", "scenario", "frozen"]
        cases = [
            ("as built", None, []),
            ("aliases and other types first", lambda x: variables_first(x, first), []),
            ("causality none", lambda x: x.replace('causality="internal"', 'causality="none"'),
             []),
            ("state references with a warning", None, ["--set", "scenario=11"]),
        ]
        for name, description, args in cases:
            with self.subTest(name), scratch() as d:
                fmu = TEST_FMU
                if description:
                    fmu = os.path.join(d, "Rewritten.fmu")
                    rewrite_test_fmu(fmu, description)
                done = run(["--set", "height=2", "--set", "fall=3", "--set", "moving=false",
                            *args, fmu], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(summary_values(done.stdout), {"x": 2.0, "v": -3.0})
                if args:
                    self.assertIn("fmiGetStateValueReferences at t = 1 s: the state "
                                  "references come with a warning", done.stderr)

    def test_a_model_error_at_initialisation(self):
        # Without --log the model's report, which it logs below fmiError, follows the host's
        # line; with --log it came as it was logged.
        with scratch() as d:
            done = run(["--set", "world.defaultFrameDiameterFraction=0", FMU], d)
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stdout, "")
            self.assertEqual(done.stderr, "tavelo-sim: fmiInitialize returned fmiError: "
                             "fmiInitialize: dsblock_ failed, QiErr = 1\n"
                             "  The following error was detected at time: 0\n"
                             "  Model error - division by zero: (world.axisLength) / "
                             "(world.defaultFrameDiameterFraction) = (0.5) / (0)\n")
            logged = run(["--log", "--set", "world.defaultFrameDiameterFraction=0", FMU], d)
            self.assertEqual(logged.returncode, 1)
            self.assertIn("[fmiOK] [] Tavelo: \nModel error - division by zero: "
                          "(world.axisLength) / (world.defaultFrameDiameterFraction)",
                          logged.stderr)
            self.assertTrue(logged.stderr.endswith("tavelo-sim: fmiInitialize returned fmiError\n"))

    def test_values_that_do_not_parse_or_cannot_be_set(self):
        cases = [
            (FMU, "world.g=9,81", '--set world.g: "9,81" is no Real value'),
            (FMU, "world.g=", '--set world.g: "" is no Real value'),
            (FMU, "world.g=inf", '--set world.g: "inf" is no Real value'),
            (FMU, "world.g=1e999", '--set world.g: "1e999" is out of the range of a double'),
            # A sign after the leading plus: no -0.02.
            (FMU, "armFriction=+-0.02", '--set armFriction: "+-0.02" is no Real value'),
            (TEST_FMU, "scenario=1.5", '--set scenario: "1.5" is no Integer value'),
            (TEST_FMU, "scenario=2147483648", '--set scenario: "2147483648" is no Integer'),
            (TEST_FMU, "moving=yes", '--set moving: "yes" is no Boolean value'),
            (FMU, "no.such=1", "unknown variable no.such"),
            (FMU, "world.axisLength=1", "world.axisLength is a constant"),
            (FMU, "armBearingFriction.sa=1", "armBearingFriction.sa has no start value"),
        ]
        for fmu, assignment, message in cases:
            with self.subTest(assignment=assignment), scratch() as d:
                done = run(["--set", assignment, fmu], d)
                self.assertEqual(done.returncode, 2)  # a bad command line
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))


class CommandLine(unittest.TestCase):
    def test_bad_command_lines(self):
        cases = [
            ([], 2, "no FMU given"),
            ([""], 2, "the FMU's name is empty"),
            (["", FMU], 2, "the FMU's name is empty"),  # not a run of the FMU
            (["--bogus", FMU], 2, "unknown option --bogus"),
            (["-x", FMU], 2, "unknown option -x"),
            (["--stop"], 2, "--stop needs a value"),
            (["--stop", "abc", FMU], 2, '--stop: "abc" is not a finite number'),
            (["--start", "nan", FMU], 2, '--start: "nan" is not a finite number'),
            (["--stop", "1e400", FMU], 2, '--stop: "1e400" is out of the range of a double'),
            (["--interval", "0", FMU], 2, "--interval must be greater than 0"),
            (["--interval=-1e-3", FMU], 2, "--interval must be greater than 0"),
            (["--tolerance", "1", FMU], 2, "--tolerance: 1 does not lie between 0 and 1"),
            (["--tolerance", "0", FMU], 2, "--tolerance: 0 does not lie between 0 and 1"),
            (["--tolerance", "-1", FMU], 2, "--tolerance: -1 does not lie between 0 and 1"),
            # Below the unit roundoff CVODE cannot hold the states to the tolerance.
            (["--tolerance", "2.2204460492503126e-16", FMU], 2,
             "--tolerance: 2.2204460492503126e-16 lies below 2.220446049250313e-16, the "
             "smallest the integrator can meet (its unit roundoff)"),
            (["--tolerance", "1e-17", FMU], 2, "--tolerance: 1e-17 lies below"),
            (["--start", "1", "--stop", "1", FMU], 2, "the stop time must lie after"),
            # Times that do not fit the model's default experiment (0 to 10 s).
            (["--start", "12", FMU], 2,
             "the stop time 10 s does not lie after the start time 12 s"),
            (["--start", "10", FMU], 2,
             "the stop time 10 s does not lie after the start time 10 s"),
            (["--stop", "-1", FMU], 2, "the stop time -1 s does not lie after the start time 0 s"),
            (["--stop", "0", FMU], 2, "the stop time 0 s does not lie after the start time 0 s"),
            (["--set", "novalue", FMU], 2, '--set needs NAME=VALUE, not "novalue"'),
            (["--set", "=1", FMU], 2, '--set needs NAME=VALUE, not "=1"'),
            (["--quiet=yes", FMU], 2, "--quiet takes no value"),
            ([FMU, FMU], 2, "more than one FMU given"),
            (["--result-dir", "/proc/no/such", FMU], 1, "cannot make the result directory"),
            (["missing.fmu"], 1, "cannot open the FMU missing.fmu"),
            # Refused before the archive is read; the FIFO has no writer, so opening it for
            # reading as libzip does would wait for one.
            (["folder.fmu"], 1, "cannot open the FMU folder.fmu: it is a folder\n"),
            (["fifo.fmu"], 1, "cannot open the FMU fifo.fmu: it is no regular file (a FIFO)\n"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args), scratch() as d:
                os.mkdir(os.path.join(d, "folder.fmu"))
                os.mkfifo(os.path.join(d, "fifo.fmu"))
                done = run(args, d)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    def test_double_dash_ends_the_options(self):
        # After "--" an argument that looks like an option is the FMU.
        for name in ["-m.fmu", "--m.fmu"]:
            with self.subTest(name=name), scratch() as d:
                shutil.copy(TEST_FMU, os.path.join(d, name))
                done = run(["--stop", "0.01", "--", name], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertTrue(done.stdout.startswith(f"{name}: simulated from 0 s to 0.01 s"),
                                done.stdout)

    def test_help_and_version(self):
        with scratch() as d:
            done = run(["--help"], d)
            self.assertEqual(done.returncode, 0)
            self.assertTrue(done.stdout.startswith("usage: tavelo-sim"))
            for option in ["--start", "--stop", "--interval", "--tolerance", "--set",
                           "--result-dir", "--log", "--quiet", "--help", "--version"]:
                self.assertIn(option, done.stdout)
            # It names the manual, which is there.
            manual = re.search(r"The manual, (\S+) in Tavelo's sources", done.stdout).group(1)
            self.assertTrue(os.path.isfile(os.path.join(
                os.path.dirname(PLOT_SCRIPT), "..", manual)), manual)
            done = run(["--version"], d)
            self.assertEqual(done.returncode, 0)
            self.assertRegex(done.stdout, r"^tavelo-sim \d")

    def test_quiet_prints_nothing(self):
        with scratch() as d:
            done = run(["--quiet", "--stop", "0.01", FMU], d)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))


def read_terminal(master, on_chunk=None, deadline=60):
    """What a terminal's master reads, up to the end of its last writer; the master closed.
    Each read is followed by on_chunk(shown, start): all read so far, where the read's bytes
    begin. A writer still there after deadline seconds fails the test: a fault that keeps a
    long run going shows in a minute."""
    shown = bytearray()
    end = time.monotonic() + deadline
    try:
        while True:
            left = end - time.monotonic()
            if left <= 0 or not select.select([master], [], [], left)[0]:
                raise AssertionError(f"the terminal is written to after {deadline} s: "
                                     f"{bytes(shown[-200:])!r}")
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal's last writer is gone
                break
            if not chunk:
                break
            shown += chunk
            if on_chunk:
                on_chunk(shown, len(shown) - len(chunk))
    finally:
        os.close(master)
    return bytes(shown)


class Console(unittest.TestCase):
    """The standard streams: a closed one is no place for the result file, and one that is the
    result file is refused; output that cannot be written is not lost without a word; the
    progress line on a terminal."""

    def run_redirected(self, redirections, args, d):
        """tavelo-sim in d with the shell's redirections (2>&- closes the standard error)."""
        return subprocess.run(["sh", "-c", f'exec "$0" "$@" {redirections}', SIM, *args],
                              cwd=d, capture_output=True, text=True, timeout=300)

    def test_a_closed_standard_stream_does_not_become_the_result_file(self):
        # With the standard error closed, "dsres.mat" would get its descriptor (with the
        # standard input closed too: the FMU's archive takes the first one) and CVODE's and the
        # model's messages from --log would land in it. A pendulum of negative mass fails at
        # 0.28 s after a good many of them. A description that claims 3 of the pendulum's 4
        # states makes every call that passes states warn: a run that ends well, and with --log
        # writes a message at each call to the standard error stream. Only where that stream
        # is /dev/null, no descriptor of the run, is no output lost and the status 0.
        failing = ["--log", "--set", "pendulum.m=-1", FMU]
        fmus = self.enterContext(scratch())
        three = three_state_fmu(fmus)
        warning = ["--log", "--stop", "0.5", three]
        cases = [
            ("2>&-", failing, 1),
            ("<&- 2>&-", failing, 1),
            (">&- 2>&-", failing, 1),
            ("<&- >&- 2>&-", failing, 1),
            ("<&- >&-", failing, 1),
            ("<&- >&-", ["--log", "--stop", "0.5", FMU], 0),
            ("2>&-", warning, 0),
            ("<&- >&- 2>&-", warning, 0),
        ]
        for redirections, args, status in cases:
            with self.subTest(redirections=redirections, args=args), scratch() as d:
                done = self.run_redirected(redirections, args, d)
                self.assertEqual(done.returncode, status, done.stderr)
                path = os.path.join(d, "dsres.mat")
                self.assertGreater(load_strictly(path)["data_2"].shape[1], 1)
                with open(path, "rb") as f:
                    content = f.read()
                for text in [b"tavelo-sim", b"[warning]", b"[fmi", b"CVODE"]:
                    self.assertNotIn(text, content)
                if "2>&-" not in redirections and status == 1:
                    self.assertIn("\ntavelo-sim: ", "\n" + done.stderr)

    def test_a_standard_stream_that_is_the_result_file_is_refused(self):
        # The summary would land over the file's header (>) or after its rows (>>). Refused
        # before the library is loaded (the FMU's binary is no library), the file left as the
        # shell made it (with 2>> the refusal's line after it); by whatever name the stream
        # and "dsres.mat" reach the file. A device takes both.
        refused = "tavelo-sim: cannot write the result file {}: it is also the {}\n"
        cases = [
            # redirections, --result-dir, the file the streams reach, what is left in it and
            # the standard error stream; None for a run that goes on
            ("> dsres.mat", [], "dsres.mat", "",
             refused.format("{real}/dsres.mat", "standard output")),
            (">> dsres.mat", [], "dsres.mat", "an earlier result",
             refused.format("{real}/dsres.mat", "standard output")),
            ("2>> dsres.mat", [], "dsres.mat", "an earlier result" +
             refused.format("{real}/dsres.mat", "standard error stream"), ""),
            ("> out/dsres.mat", ["--result-dir", "./out/"], "out/dsres.mat", "",
             refused.format("./out/dsres.mat", "standard output")),
            ("2> kept.mat", ["--result-dir", "link"], "kept.mat",
             refused.format("link/dsres.mat (a link to link/../kept.mat)",
                            "standard error stream"), ""),
            ("> hard.mat", ["--result-dir", "hard"], "hard.mat", "",
             refused.format("hard/dsres.mat", "standard output")),
            ("> other.mat", [], "other.mat", None, None),
            ("> /dev/null 2> /dev/null", ["--result-dir", "null"], "/dev/null", None, None),
        ]
        with scratch() as base:
            unloadable = os.path.join(base, "Unloadable.fmu")
            rewrite_fmu(FMU, unloadable, binary=b"MZ, a Windows DLL")
            for redirections, args, reached, left, stderr in cases:
                with self.subTest(redirections=redirections, args=args), scratch() as d:
                    self.prepare_result_files(d)
                    fmu = FMU if left is None else unloadable
                    done = self.run_redirected(redirections, ["--stop", "0.01", *args, fmu], d)
                    if left is None:
                        self.assertEqual((done.returncode, done.stderr), (0, ""))
                        continue
                    real = os.path.realpath(d)
                    self.assertEqual((done.returncode, done.stdout, done.stderr),
                                     (1, "", stderr.format(real=real)))
                    with open(os.path.join(d, reached)) as f:
                        self.assertEqual(f.read(), left.format(real=real))

    @staticmethod
    def prepare_result_files(d):
        """Earlier results in d: its "dsres.mat", and the one of each result folder, out's a
        file, link's a link to kept.mat, hard's a hard link to hard.mat, null's /dev/null."""
        for folder in ["out", "link", "hard", "null"]:
            os.mkdir(os.path.join(d, folder))
        for name in ["dsres.mat", "out/dsres.mat", "kept.mat", "hard.mat"]:
            with open(os.path.join(d, name), "w") as f:
                f.write("an earlier result")
        os.symlink("../kept.mat", os.path.join(d, "link", "dsres.mat"))
        os.link(os.path.join(d, "hard.mat"), os.path.join(d, "hard", "dsres.mat"))
        os.symlink("/dev/null", os.path.join(d, "null", "dsres.mat"))

    def test_output_that_cannot_be_written_is_not_lost_without_a_word(self):
        # A summary that cannot be written (a full disk, a pipe whose reader is gone) ends with
        # status 1 and a line on the standard error stream; messages that cannot be written
        # let the run go to its end, then the same line on the standard output.
        def lost(stream, why):
            return f"tavelo-sim: output was lost: writing to the {stream} failed ({why})\n"

        closed_pipe = os.pipe()
        os.close(closed_pipe[0])
        self.addCleanup(os.close, closed_pipe[1])
        streams = {"a closed pipe": closed_pipe[1], "/dev/full": "/dev/full", None: None}
        cases = [
            (["--stop", "0.5", TEST_FMU], "/dev/full", None, 1, "",
             lost("standard output", "No space left on device")),
            (["--stop", "0.5", TEST_FMU], "a closed pipe", None, 1, "",
             lost("standard output", "Broken pipe")),
            (["--help"], "/dev/full", None, 1, "",
             lost("standard output", "No space left on device")),
            (["--quiet", "--stop", "0.5", TEST_FMU], "/dev/full", None, 0, "", ""),
            # The model's discards, each logged: the run goes on to its end.
            (["--log", "--set", "scenario=1", TEST_FMU], None, "/dev/full", 1,
             lost("standard error stream", "No space left on device"), ""),
        ]
        for args, stdout, stderr, status, out_end, err in cases:
            with self.subTest(args=args, stdout=stdout, stderr=stderr), scratch() as d, \
                    open(os.path.join(d, "out"), "w+") as out, \
                    open(os.path.join(d, "err"), "w+") as error, \
                    contextlib.ExitStack() as files:
                stdout, stderr = streams[stdout], streams[stderr]
                if isinstance(stdout, str):
                    stdout = files.enter_context(open(stdout, "w"))
                if isinstance(stderr, str):
                    stderr = files.enter_context(open(stderr, "w"))
                done = subprocess.run([SIM] + args, cwd=d, stdout=stdout or out,
                                      stderr=stderr or error, timeout=300)
                self.assertEqual(done.returncode, status)
                out.seek(0)
                error.seek(0)
                self.assertEqual(error.read(), err)
                printed = out.read()
                self.assertTrue(printed.endswith(out_end), printed)
                if stderr is not None:
                    self.assertIn(f"{TEST_FMU}: simulated from 0 s to 1 s\n", printed)

    def test_the_progress_line_moves_inside_a_long_step(self):
        # The test model at rest: after a few short steps a single one reaches the stop time,
        # passing 80 million output points in some seconds. The line shows up after a second
        # and moves on with the points, up to near the stop, then is wiped.
        master, slave = pty.openpty()
        with scratch() as d:
            child = subprocess.Popen([SIM, "--set", "frozen=true", "--stop", "80000", TEST_FMU],
                                     cwd=d, stdout=subprocess.PIPE, stderr=slave, text=True)
            self.addCleanup(lambda: child.poll() is not None or child.kill())
            os.close(slave)
            shown = read_terminal(master)
            out, _ = child.communicate(timeout=300)
        self.assertEqual(child.returncode, 0, shown)
        self.assertIn("simulated from 0 s to 80000 s", out)
        times = [float(t) for t in re.findall(rb"\rtavelo-sim: t = ([0-9.]+) s of 80000 s "
                                              rb"\( *\d+ %\)", shown)]
        self.assertEqual(times, sorted(set(times)), shown)
        # Each redraw a tenth of a second after the last: the last one inside the step lies
        # within a tenth of a second of its end.
        inside = [t for t in times if t < 80000.0]
        self.assertGreaterEqual(len(inside), 3, shown)
        self.assertGreater(inside[-1], 40000.0, shown)
        self.assertTrue(shown.endswith(b"\r\x1b[K"), shown)

    def test_each_redraw_shows_the_progress_line_alone_within_the_terminals_width(self):
        # The test model at rest from 100000 s to 1000000 s, a minute or so: t has 6 digits
        # before the point all along, so the fields the line holds at each width are known.
        # Once 3 redraws have shown the fields of a width of the walk, the terminal is resized
        # (TIOCSWINSZ) to the next one; after the last the run is interrupted. Each redraw is
        # "\r", a text of at most width - 1 characters (some terminals wrap after the last
        # column at once) and "\x1b[K" (without it a longer text before would show through),
        # nothing else; at the end the row is wiped. The first redraws read after a resize may
        # have been drawn before it, with the fields of the width before.
        t, of, percent = r"t = \d{6}\.\d{3} s", " of 1000000 s", r" \([ \d]{2}\d %\)"
        fields = {  # the text on a terminal that many columns wide
            200: f"tavelo-sim: {t}{of}{percent}",  # 49 characters
            40: f"{t}{of}{percent}",  # 37
            37: f"{t}{percent}",  # 24: the 37 above would take the last column
            30: f"{t}{percent}",
            20: t,  # 16: the percentage left out whole, not cut to " (  3"
            10: r"t = \d{5}",  # t itself cut, to 9
        }
        walk = [200, 40, 37, 30, 20, 10, 200]  # and wide again: the whole text
        redraw = re.compile(rb"\r([^\r\n\x1b]+)\x1b\[K")
        read = [[]]  # the texts read at each width of the walk so far
        interrupted = []

        def follow(shown, start):
            width, texts = walk[len(read) - 1], read[-1]
            before = fields[walk[len(read) - 2]] if len(read) > 1 else None
            for m in redraw.finditer(shown, max(0, start - 100)):  # each shorter than 100 bytes
                if m.end() <= start:  # read before
                    continue
                texts.append(m.group(1).decode())
                # Drawn before the resize, for the width before: at most the first 10 read
                # after it, those of a second.
                early = before and len(texts) <= 10 and all(re.fullmatch(before, x) for x in texts)
                if not fits(texts[-1], width) and not early:
                    self.fail(f"at {width} columns: {texts[-1]!r}")
            if sum(fits(x, width) for x in texts) < 3:
                return
            if len(read) < len(walk):
                fcntl.ioctl(master, termios.TIOCSWINSZ,
                            struct.pack("HHHH", 24, walk[len(read)], 0, 0))
                read.append([])
            elif not interrupted:
                child.send_signal(signal.SIGINT)
                interrupted.append(True)

        def fits(text, width):
            return len(text) <= width - 1 and bool(re.fullmatch(fields[width], text))

        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, walk[0], 0, 0))
        with scratch() as d:
            child = subprocess.Popen([SIM, "--set", "frozen=true", "--start", "100000",
                                      "--stop", "1000000", TEST_FMU], cwd=d,
                                     stdout=subprocess.PIPE, stderr=slave, text=True)
            self.addCleanup(lambda: child.poll() is not None or child.kill())
            os.close(slave)
            shown = read_terminal(master, follow)
            child.communicate(timeout=60)
        self.assertEqual(child.returncode, 130, shown)
        self.assertRegex(shown, rb"\A(\r[^\r\n\x1b]+\x1b\[K)+\r\x1b\[K\Z")

    def test_other_output_wipes_the_progress_line_first(self):
        # --log on a terminal, with a description that claims 3 of the pendulum's 4 states:
        # every call that passes states warns, and each warning is printed between the redraws
        # of the progress line. The line is wiped before it ("\r\x1b[K"): a carriage return
        # follows the line (its text and the erase of the rest of its row) every time, never a
        # message. Three lines shown, the run is interrupted.
        master, slave = pty.openpty()
        with scratch() as d:
            fmu = three_state_fmu(d)
            child = subprocess.Popen([SIM, "--log", "--stop", "100000", fmu], cwd=d,
                                     stdout=subprocess.PIPE, stderr=slave, text=True)
            self.addCleanup(lambda: child.poll() is not None or child.kill())
            os.close(slave)
            progress = re.compile(
                rb"\rtavelo-sim: t = [0-9.]+ s of 100000 s \( *\d+ %\)\x1b\[K")

            ends = []  # of the progress lines read

            def interrupt_after_three_lines(shown, start):
                # The lines that end in the bytes read from start, each shorter than 100 bytes.
                ends.extend(m.end() for m in progress.finditer(shown, max(0, start - 100))
                            if m.end() > start)
                if len(ends) >= 3 and not interrupted:
                    child.send_signal(signal.SIGINT)
                    interrupted.append(True)

            interrupted = []
            shown = read_terminal(master, interrupt_after_three_lines)
            out, _ = child.communicate(timeout=60)
        self.assertEqual(child.returncode, 130, out)
        after = [m.group(1) for m in re.finditer(progress.pattern + rb"(.?)", bytes(shown),
                                                 re.DOTALL)]
        self.assertGreaterEqual(len(after), 3)
        self.assertEqual(set(after), {b"\r"}, after)
        self.assertRegex(bytes(shown), progress.pattern + rb"\r\x1b\[K\[fmiWarning\] ")


def rewrite_fmu(source, target, description=None, binary_name=None, binary=None,
                drop_description=False, compression=zipfile.ZIP_STORED, damage=None):
    """A copy of an FMU with its description or binary replaced: binary is the bytes or a
    function of the original's. damage: 100 bytes of the stored (maybe compressed) binary
    inverted, this far into it."""
    with zipfile.ZipFile(source) as z:
        xml = z.read("modelDescription.xml").decode()
        so = z.read("binaries/linux64/Tavelo.so")
    member = "binaries/linux64/" + (binary_name or "Tavelo.so")
    with zipfile.ZipFile(target, "w", compression) as z:
        if not drop_description:
            z.writestr("modelDescription.xml", description(xml) if description else xml)
        z.writestr(member, binary(so) if callable(binary) else binary if binary is not None
                   else so)
    if damage is not None:
        with zipfile.ZipFile(target) as z:
            info = z.getinfo(member)
        with open(target, "r+b") as f:
            f.seek(info.header_offset + 26)
            name_length, extra_length = struct.unpack("<HH", f.read(4))
            f.seek(info.header_offset + 30 + name_length + extra_length
                   + int(info.compress_size * damage))
            bad = bytes(b ^ 0xFF for b in f.read(100))
            f.seek(-100, os.SEEK_CUR)
            f.write(bad)


def three_state_fmu(folder):
    """A copy of the pendulum's FMU in folder whose description claims 3 of its 4 states: the
    library warns at every call that passes states, and the pendulum stands still."""
    path = os.path.join(folder, "Three.fmu")
    rewrite_fmu(FMU, path, description=lambda x: x.replace(
        'numberOfContinuousStates="4"', 'numberOfContinuousStates="3"'))
    return path


def rewrite_test_fmu(target, description):
    """A copy of the test FMU with its description changed by description(xml)."""
    with zipfile.ZipFile(TEST_FMU) as source, zipfile.ZipFile(target, "w") as z:
        for member in source.namelist():
            content = source.read(member)
            if member == "modelDescription.xml":
                content = description(content.decode()).encode()
            z.writestr(member, content)


def variables_first(xml, names):
    """The description with the named variables listed before the others, in that order."""
    blocks = re.findall(r"^ *<ScalarVariable .*?</ScalarVariable>\n", xml,
                        re.MULTILINE | re.DOTALL)
    named = {re.search(r'name="([^"]*)"', b).group(1): b for b in blocks}
    ordered = [named[n] for n in names] + [b for b in blocks if b not in
                                           [named[n] for n in names]]
    body = "".join(blocks)
    assert body in xml and ordered != blocks
    return xml.replace(body, "".join(ordered))


# Tavelo.so as the tests change it: a 64-bit little-endian ELF file.
ELF_HEADER = struct.Struct("<16sHHIQQQIHHHHHH")
ELF_FIELDS = ("e_ident e_type e_machine e_version e_entry e_phoff e_shoff e_flags e_ehsize "
              "e_phentsize e_phnum e_shentsize e_shnum e_shstrndx").split()
PROGRAM_HEADER = struct.Struct("<IIQQQQQQ")  # type, flags, offset, vaddr, paddr, filesz, memsz


def elf_header(so):
    return dict(zip(ELF_FIELDS, ELF_HEADER.unpack_from(so)))


def with_elf_header(so, **changes):
    header = dict(elf_header(so), **changes)
    return ELF_HEADER.pack(*(header[f] for f in ELF_FIELDS)) + so[ELF_HEADER.size:]


def segments(so):
    """(where its header lies, file offset, file size) of each segment."""
    h = elf_header(so)
    for i in range(h["e_phnum"]):
        at = h["e_phoff"] + i * h["e_phentsize"]
        p = PROGRAM_HEADER.unpack_from(so, at)
        yield at, p[2], p[5]


def segments_end(so):
    return max(offset + size for _, offset, size in segments(so))


def with_last_segment_at(so, offset):
    """The segment that ends last moved to offset in its header (its size kept)."""
    at = max(segments(so), key=lambda s: s[1] + s[2])[0]
    return so[:at + 8] + struct.pack("<Q", offset) + so[at + 16:]


def without_section_headers(so):
    return with_elf_header(so, e_shoff=0, e_shnum=0, e_shstrndx=0)


class BrokenFmus(unittest.TestCase):
    """One clear message and exit status 1 for every broken FMU, never a crash, and no scratch
    folder left behind."""

    def test_broken_fmus(self):
        guid = "{8a4d88a0-e4db-4e8b-bfa0-f36b6a6c89b3}"
        other = "{00000000-e4db-4e8b-bfa0-f36b6a6c89b3}"
        with zipfile.ZipFile(FMU) as z:
            machine = elf_header(z.read("binaries/linux64/Tavelo.so"))["e_machine"]
        other_machine = 183 if machine == 62 else 62  # AArch64 or x86-64
        member = r"binaries/linux64/Tavelo\.so"
        cases = [
            ("not a zip", dict(raw=b"PK but no archive"), "cannot open the FMU"),
            ("no description", dict(drop_description=True), "holds no modelDescription.xml"),
            ("description cut short", dict(description=lambda x: x[: len(x) // 2]),
             "modelDescription.xml does not parse"),
            ("FMI 2.0", dict(description=lambda x: x.replace('fmiVersion="1.0"',
                                                            'fmiVersion="2.0"')),
             'fmiVersion "2.0" is not 1.0'),
            ("GUID mismatch", dict(description=lambda x: x.replace(guid, other)),
             f"could not be instantiated: Invalid GUID: {other}, expected {guid}"),
            ("GUID with a percent sign", dict(description=lambda x: x.replace(guid, "%s%s%n")),
             "Invalid GUID: %s%s%n, expected"),
            ("identifier with a path", dict(description=lambda x: x.replace(
                'modelIdentifier="Tavelo"', 'modelIdentifier="../Tavelo"')),
             'the model identifier "../Tavelo" is no C identifier'),
            ("no binary for the identifier", dict(description=lambda x: x.replace(
                'modelIdentifier="Tavelo"', 'modelIdentifier="Other"')),
             "holds no binaries/linux64/Other.so"),
            ("identifier the binary does not export", dict(
                description=lambda x: x.replace('modelIdentifier="Tavelo"',
                                                'modelIdentifier="Other"'),
                binary_name="Other.so"),
             "lacks Other_fmiGetModelTypesPlatform"),
            ("binary that is no library", dict(binary=b"\x7fELF but not really"),
             "cannot load binaries/linux64/Tavelo.so"),
            ("default experiment that ends before it starts",
             dict(description=lambda x: x.replace('stopTime="10"', 'stopTime="-1"')),
             "modelDescription.xml: the default experiment's stop time -1 s does not lie after "
             "its start time 0 s\n"),
            ("state count that is no number", dict(description=lambda x: x.replace(
                'numberOfContinuousStates="4"', 'numberOfContinuousStates="four"')),
             'numberOfContinuousStates "four" is no unsigned integer'),
            # A damaged member: libzip's checksum shows it once the member is read to its end.
            # Damage in a compressed member may also break the compressed stream itself.
            ("100 damaged bytes in the stored Tavelo.so", dict(damage=0.5),
             re.compile(rf"^tavelo-sim: cannot read {member} in .*/Broken\.fmu: CRC error\n$")),
            ("100 damaged bytes in the compressed Tavelo.so",
             dict(compression=zipfile.ZIP_DEFLATED, damage=0.15),
             re.compile(rf"^tavelo-sim: cannot read {member} in .*/Broken\.fmu: "
                        r"(CRC error|Zlib error: .*)\n$")),
            # A whole member that cannot be a library of this machine: refused before the
            # loader maps it (cut short, it would die with SIGBUS).
            ("Tavelo.so cut short in a segment", dict(binary=lambda so: so[: len(so) * 2 // 5]),
             "it is cut short: a segment of"),
            ("Tavelo.so one byte short", dict(binary=lambda so: so[:-1]),
             "it is cut short: its section headers reach past its end"),
            ("Tavelo.so cut short in its program headers", dict(binary=lambda so: so[:100]),
             "it is cut short: its program headers reach past its end"),
            ("Tavelo.so cut short in its ELF header", dict(binary=lambda so: so[:40]),
             "it is cut short within its ELF header"),
            ("program headers at an offset that wraps around", dict(
                binary=lambda so: with_elf_header(so, e_phoff=2 ** 64 - 8)),
             "it is cut short: its program headers reach past its end"),
            ("a segment at an offset that wraps around", dict(
                binary=lambda so: with_last_segment_at(so, 2 ** 64 - 0x1000)),
             "it is cut short: a segment of"),
            ("a Windows DLL", dict(binary=b"MZ\x90\x00" + bytes(200)), "it is no ELF file"),
            ("Tavelo.so of another machine", dict(
                binary=lambda so: with_elf_header(so, e_machine=other_machine)),
             f"it is built for another machine (ELF machine {other_machine}, not {machine})"),
            ("Tavelo.so as an executable", dict(binary=lambda so: with_elf_header(so, e_type=2)),
             "it is no shared library (ELF type 2)"),
        ]
        for name, change, message in cases:
            with self.subTest(name), scratch() as d:
                path = os.path.join(d, "Broken.fmu")
                if "raw" in change:
                    with open(path, "wb") as f:
                        f.write(change["raw"])
                else:
                    rewrite_fmu(FMU, path, **change)
                tmp = os.path.join(d, "tmp")
                os.mkdir(tmp)
                done = run([path], d, tmpdir=tmp)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                if isinstance(message, re.Pattern):
                    self.assertRegex(done.stderr, message)
                else:
                    self.assertIn(message, done.stderr)
                self.assertEqual(os.listdir(tmp), [])

    def test_libraries_refused_when_loaded(self):
        # Variants of the test model: a library is loaded with every symbol bound, so one that
        # needs a function no library defines (called by its fmiInitialize) is refused before
        # the run; a library of FMI 2.0 is refused by its answer to fmiGetVersion.
        def variant(name):
            return os.path.join(os.path.dirname(TEST_FMU), name + ".fmu")

        member = "binaries/linux64/TestModel.so"
        cases = [
            ("UndefinedSymbol", f"cannot load {member} of {variant('UndefinedSymbol')}: "
                                "undefined symbol: test_model_undefined_function"),
            ("Fmi20", f'{member} of {variant("Fmi20")} reports FMI version "2.0", not 1.0'),
        ]
        for name, message in cases:
            with self.subTest(name), scratch() as d:
                tmp = os.path.join(d, "tmp")
                os.mkdir(tmp)
                done = run([variant(name)], d, tmpdir=tmp)
                self.assertEqual((done.returncode, done.stdout, done.stderr),
                                 (1, "", f"tavelo-sim: {message}\n"))
                self.assertEqual(os.listdir(tmp), [])

    def test_a_library_loads_up_to_the_end_of_its_last_segment(self):
        # Without section headers the last segment's end may be the file's end; a byte less
        # is a library cut short.
        for cut, status in [(0, 0), (1, 1)]:
            with self.subTest(cut=cut), scratch() as d:
                path = os.path.join(d, "Stripped.fmu")
                rewrite_fmu(FMU, path, binary=lambda so: without_section_headers(
                    so[: segments_end(so) - cut]))
                done = run(["--quiet", "--stop", "0.01", path], d)
                self.assertEqual(done.returncode, status, done.stderr)
                if status:
                    self.assertIn("it is cut short: a segment of", done.stderr)


# Mounts a tmpfs ($1 its options) at $2 and runs the rest of the arguments, then lists on
# stdout what they left in it; exit status 125 where the mount fails.
IN_TMPFS = ('options=$1 folder=$2; shift 2; mount -t tmpfs -o "$options" tmpfs "$folder" || '
            'exit 125; "$@"; status=$?; ls -A "$folder"; exit $status')


def in_tmpfs():
    """The command that, followed by the tmpfs's options, its folder and a command, runs that
    with the tmpfs mounted there, in a mount namespace of its own (the tmpfs is gone with it):
    root's, else a user namespace's; None where neither can mount one."""
    for namespace in (["unshare", "--mount"], ["unshare", "--user", "--map-root-user", "--mount"]):
        command = namespace + ["sh", "-c", IN_TMPFS, "sh"]
        with contextlib.suppress(OSError), scratch() as d:
            if subprocess.run(command + ["noexec", d, "true"], capture_output=True,
                              timeout=60).returncode == 0:
                return command
    return None


class ScratchFolders(unittest.TestCase):
    """A run removes what earlier runs left in their scratch folders when their process is
    gone; nothing of a live process, of another user, or that the host does not put there."""

    def test_stale_scratch_folders(self):
        with scratch() as d:
            tmp = os.path.join(d, "tmp")
            os.mkdir(tmp)
            child = subprocess.Popen(["true"])
            child.wait()
            gone = child.pid
            live = os.getpid()

            def folder(name, *files):
                path = os.path.join(tmp, name)
                os.mkdir(path)
                for f in files:
                    open(os.path.join(path, f), "w").close()
                return path

            removed = [folder(f"tavelo-sim-{gone}-a1B2c3", "Tavelo.so"),
                       folder(f"tavelo-sim-{gone}-empty0"),
                       folder("tavelo-sim-4194305-Zz9999", "Other_model.so")]
            kept = {
                folder(f"tavelo-sim-{live}-a1B2c3", "Tavelo.so"): ["Tavelo.so"],
                folder(f"tavelo-sim-{gone}-notes0", "Tavelo.so", "notes.txt"): ["notes.txt"],
                folder(f"tavelo-sim-{gone}-abc12", "Tavelo.so"): ["Tavelo.so"],
                folder(f"tavelo-sim-{gone}-abc1234", "Tavelo.so"): ["Tavelo.so"],
                folder(f"tavelo-sim-0{gone}-abc123", "Tavelo.so"): ["Tavelo.so"],
                folder("tavelo-sim-a1B2c3", "Tavelo.so"): ["Tavelo.so"],
                folder(f"tavelo-sim-{gone}-lib000", "libc.so.6", "Tavelo.so.bak"):
                    ["Tavelo.so.bak", "libc.so.6"],
                folder(f"tavelo-sim-{gone}-mat000", "dsres.mat"): ["dsres.mat"],
            }
            target = folder("elsewhere", "Tavelo.so")
            os.symlink(target, os.path.join(tmp, f"tavelo-sim-{gone}-link00"))
            kept[target] = ["Tavelo.so"]
            with open(os.path.join(tmp, f"tavelo-sim-{gone}-file00"), "w"):
                pass
            if os.geteuid() == 0:
                other = folder(f"tavelo-sim-{gone}-nobody", "Tavelo.so")
                for path in (other, os.path.join(other, "Tavelo.so")):
                    os.chown(path, 65534, 65534)
                kept[other] = ["Tavelo.so"]

            done = run(["--quiet", "--stop", "0.01", TEST_FMU], d, tmpdir=tmp)
            self.assertEqual(done.returncode, 0, done.stderr)
            for path in removed:
                self.assertFalse(os.path.lexists(path), path)
            for path, files in kept.items():
                self.assertEqual(sorted(os.listdir(path)), files, path)
            self.assertTrue(os.path.islink(os.path.join(tmp, f"tavelo-sim-{gone}-link00")))
            self.assertTrue(os.path.isfile(os.path.join(tmp, f"tavelo-sim-{gone}-file00")))
            # The run's own folder is gone as well.
            left = {os.path.join(tmp, n) for n in os.listdir(tmp)}
            self.assertEqual(left, set(kept) | {os.path.join(tmp, f"tavelo-sim-{gone}-{n}")
                                                for n in ("link00", "file00")})

    def test_a_scratch_folder_that_cannot_be_made_or_written(self):
        # The message names the folder and the reason; a folder made is removed again.
        def small_files():  # files of at most 100 kB, a write past that fails (EFBIG)
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        with scratch() as d:
            tmp = os.path.join(d, "tmp")
            os.mkdir(tmp)
            missing = os.path.join(tmp, "missing")
            done = run(["--quiet", FMU], d, tmpdir=missing)
            self.assertEqual((done.returncode, done.stderr), (
                1, f"tavelo-sim: cannot make a folder for the FMU's binary in {missing}: "
                   "No such file or directory\n"))
            done = run(["--quiet", FMU], d, tmpdir=tmp, preexec_fn=small_files)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertRegex(done.stderr, rf"^tavelo-sim: cannot load .*: cannot write "
                                          rf"{re.escape(tmp)}/tavelo-sim-\d+-\w{{6}}/Tavelo\.so: "
                                          r"File too large\n$")
            self.assertEqual(os.listdir(tmp), [])
            self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    def test_a_scratch_folder_on_a_file_system_mounted_noexec(self):
        # The loader maps no library from it: one line names the folder, the reason and how to
        # choose another. The same tmpfs mounted without noexec runs; the folder is gone.
        mounted = in_tmpfs()
        if mounted is None:
            self.skipTest("no tmpfs can be mounted here: neither unshare --mount nor unshare "
                          "--user --map-root-user --mount works")
        for options, status in [("exec", 0), ("noexec", 1)]:
            with self.subTest(options), scratch() as d:
                tmp = os.path.join(d, "tmp")
                os.mkdir(tmp)
                done = subprocess.run(mounted + [options, tmp, SIM, "--quiet", "--stop", "0.01",
                                                 FMU], cwd=d, capture_output=True, text=True,
                                      timeout=300, env=dict(os.environ, TMPDIR=tmp))
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertEqual(done.stdout, "")  # nothing left in the tmpfs
                if status == 0:
                    self.assertEqual(done.stderr, "")
                    continue
                self.assertRegex(done.stderr, rf"^tavelo-sim: cannot load binaries/linux64/"
                                              rf"Tavelo\.so of {re.escape(FMU)}: the scratch "
                                              rf"folder {re.escape(tmp)}/tavelo-sim-\d+-\w{{6}} "
                                              r"is on a file system that does not allow "
                                              r"programs to be run from it \(noexec\); choose "
                                              r"a folder on another file system with "
                                              r"TMPDIR=FOLDER\n$")
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    def test_a_relative_tmpdir_with_a_result_dir(self):
        # TMPDIR is taken from the folder the run starts in, not from the result folder it
        # works in: the scratch folder, and those of gone runs, are there.
        child = subprocess.Popen(["true"])
        child.wait()
        for tmpdir in ["tmp", "./tmp/"]:
            with self.subTest(tmpdir=tmpdir), scratch() as d:
                os.mkdir(os.path.join(d, "tmp"))
                stale = os.path.join(d, "tmp", f"tavelo-sim-{child.pid}-a1B2c3")
                os.mkdir(stale)
                open(os.path.join(stale, "Tavelo.so"), "w").close()
                done = run(["--quiet", "--stop", "0.01", "--result-dir", "out/run", FMU], d,
                           tmpdir=tmpdir)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                self.assertGreaterEqual(len(Result(os.path.join(d, "out", "run",
                                                                "dsres.mat")).time), 11)
                self.assertEqual(os.listdir(os.path.join(d, "tmp")), [])
                self.assertEqual(sorted(os.listdir(d)), ["out", "tmp"])


class ResultFolder(unittest.TestCase):
    """--result-dir makes the folders that are missing; a "dsres.mat" that cannot be written is
    found before the library is loaded, without touching one that exists."""

    def test_missing_folders_are_made(self):
        with scratch() as d:
            for directory in ["a/b//c/", os.path.join(d, "x", "y")]:
                with self.subTest(directory=directory):
                    done = run(["--quiet", "--stop", "0.01", "--result-dir", directory, FMU], d)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertTrue(os.path.isfile(os.path.join(d, directory, "dsres.mat")))

    def test_a_result_file_that_cannot_be_written(self):
        # The FMU's binary is no library: a check after loading it would report that instead.
        # Root may write any file: as root the permission cases run as nobody.
        other_user = dict(user=65534, group=65534) if os.geteuid() == 0 else {}

        def read_only_file(out):
            path = os.path.join(out, "dsres.mat")
            with open(path, "wb") as f:
                f.write(b"an earlier result")
            os.chmod(path, 0o444)

        cases = [
            ("a folder named dsres.mat", lambda out: os.mkdir(os.path.join(out, "dsres.mat")),
             {}, "Is a directory"),
            ("a read-only dsres.mat", read_only_file, other_user, "Permission denied"),
            ("a folder that takes no new file", lambda out: os.chmod(out, 0o555), other_user,
             "Permission denied"),
        ]
        for name, prepare, user, reason in cases:
            with self.subTest(name), scratch() as d:
                os.chmod(d, 0o755)
                fmu = os.path.join(d, "Unloadable.fmu")
                rewrite_fmu(FMU, fmu, binary=b"MZ, a Windows DLL")
                out = os.path.join(d, "out")
                os.mkdir(out)
                prepare(out)
                done = run(["--result-dir", "out", fmu], d, **user)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertEqual(done.stderr, "tavelo-sim: cannot write the result file "
                                 f"out/dsres.mat: {reason}\n")
                if prepare is read_only_file:
                    with open(os.path.join(out, "dsres.mat"), "rb") as f:
                        self.assertEqual(f.read(), b"an earlier result")

    def test_a_result_file_that_is_a_fifo_or_a_socket(self):
        # A FIFO the library would wait in its open for a reader, for ever; one the check
        # opened would end a reader's input. Refused before the library is loaded and never
        # opened for writing: a writer that came and went would show as POLLHUP to the test's
        # reader. A device such as /dev/null takes the rows as before.
        def fifo(path):
            os.mkfifo(path)

        def unix_socket(path):
            s = socket.socket(socket.AF_UNIX)
            self.addCleanup(s.close)
            s.bind(path)

        # "dsres.mat" itself or a link to the file, what it is
        cases = [(None, fifo, "FIFO"), (None, unix_socket, "socket"),
                 ("../special", fifo, "FIFO"), ("../special", unix_socket, "socket"),
                 ("/dev/null", None, None)]
        with scratch() as base:
            unloadable = os.path.join(base, "Unloadable.fmu")
            rewrite_fmu(FMU, unloadable, binary=b"MZ, a Windows DLL")
            for link, make, kind in cases:
                with self.subTest(link=link, kind=kind), scratch() as d:
                    out = os.path.join(d, "out")
                    os.mkdir(out)
                    if link is not None:
                        os.symlink(link, os.path.join(out, "dsres.mat"))
                    if make is None:
                        done = run(["--quiet", "--stop", "0.01", "--result-dir", "out", FMU], d)
                        self.assertEqual((done.returncode, done.stderr), (0, ""))
                        continue
                    special = os.path.join(out, link or "dsres.mat")
                    make(special)
                    reader = None
                    if make is fifo:
                        reader = os.open(special, os.O_RDONLY | os.O_NONBLOCK)
                        self.addCleanup(os.close, reader)
                    done = subprocess.run([SIM, "--result-dir", "out", unloadable], cwd=d,
                                          capture_output=True, text=True, timeout=60)
                    named = f" (a link to out/{link})" if link else ""
                    self.assertEqual((done.returncode, done.stdout, done.stderr), (
                        1, "", f"tavelo-sim: cannot write the result file out/dsres.mat{named}: "
                               f"it is no regular file (a {kind})\n"))
                    if reader is not None:
                        ends = select.poll()
                        ends.register(reader, select.POLLIN)
                        self.assertEqual(ends.poll(0), [], "a writer opened the FIFO")

    def test_a_current_folder_removed_before_the_run(self):
        # The removed folder takes no new file: the library would end the process when it
        # opens "dsres.mat". Found before the library is loaded (the FMU's binary is no
        # library); a result folder elsewhere still runs.
        with scratch() as d:
            unloadable = os.path.join(d, "Unloadable.fmu")
            rewrite_fmu(FMU, unloadable, binary=b"MZ, a Windows DLL")
            elsewhere = os.path.join(d, "elsewhere")
            refused = "tavelo-sim: cannot write the result file {}: {} was removed\n"
            current = refused.format("dsres.mat", "the current folder")
            dot = refused.format("./dsres.mat", "its folder")
            for args, fmu, status, stderr in [([], unloadable, 1, current),
                                              (["--result-dir", "."], unloadable, 1, dot),
                                              (["--result-dir", elsewhere], FMU, 0, "")]:
                with self.subTest(args=args):
                    done = subprocess.run(
                        ["sh", "-c", 'mkdir gone && cd gone && rmdir ../gone && exec "$@"', "sh",
                         SIM, "--quiet", "--stop", "0.01", *args, fmu],
                        cwd=d, capture_output=True, text=True, timeout=300)
                    self.assertEqual((done.returncode, done.stdout, done.stderr),
                                     (status, "", stderr))
            self.assertGreaterEqual(
                load_strictly(os.path.join(elsewhere, "dsres.mat"))["data_2"].shape[1], 11)

    def test_a_result_file_that_is_a_link_to_a_file_yet_to_be_made(self):
        # The library follows the link and makes its target: its folder must take the file.
        # A relative target lies in the link's folder, not in the one the run starts in.
        cases = [
            ("missing/dsres.mat", 1, "tavelo-sim: cannot write the result file out/dsres.mat "
                                     "(a link to out/missing/dsres.mat): No such file or "
                                     "directory\n"),
            ("../results/run1.mat", 0, ""),
            ("chain", 0, ""),
        ]
        for target, status, stderr in cases:
            with self.subTest(target=target), scratch() as d:
                out = os.path.join(d, "out")
                os.mkdir(out)
                os.mkdir(os.path.join(d, "results"))
                os.symlink("../results/run1.mat", os.path.join(out, "chain"))
                os.symlink(target, os.path.join(out, "dsres.mat"))
                done = run(["--quiet", "--stop", "0.01", "--result-dir", "out", FMU], d)
                self.assertEqual((done.returncode, done.stderr), (status, stderr))
                made = os.path.join(d, "results", "run1.mat")
                self.assertEqual(os.path.isfile(made), status == 0)
                if status == 0:
                    self.assertGreaterEqual(len(Result(made).time), 11)

    def test_an_existing_result_file_is_untouched_by_a_run_that_fails_before_it_starts(self):
        with scratch() as d:
            damaged = os.path.join(d, "Damaged.fmu")
            rewrite_fmu(FMU, damaged, damage=0.5)
            for args, status in [(["--set", "no.such=1", FMU], 2), (["--stop", "-1", FMU], 2),
                                 (["--tolerance", "1e-17", FMU], 2), ([damaged], 1)]:
                with self.subTest(args=args):
                    path = os.path.join(d, "dsres.mat")
                    with open(path, "wb") as f:
                        f.write(b"an earlier result")
                    os.utime(path, (1e9, 1e9))
                    done = run(args, d)
                    self.assertEqual(done.returncode, status, done.stderr)
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), b"an earlier result")
                    self.assertEqual(os.stat(path).st_mtime, 1e9)


def flock_holder(folder):
    """The process that holds a flock on the folder, from /proc/locks; None for none."""
    st = os.stat(folder)
    with open("/proc/locks") as f:
        for line in f:
            fields = line.split()  # 1: FLOCK ADVISORY WRITE 4711 fe:00:123456 0 EOF
            if len(fields) >= 6 and fields[1] == "FLOCK":
                major, minor, inode = fields[5].split(":")
                if (os.makedev(int(major, 16), int(minor, 16)), int(inode)) == (st.st_dev,
                                                                                 st.st_ino):
                    return int(fields[4])
    return None


class ResultFolderLock(unittest.TestCase):
    """One run at a time in a result folder, whatever the path to it: a second one exits 1
    before it loads the library, naming the folder and the first run's pid. The lock is a flock
    on the folder: no file is left beside "dsres.mat", and it dies with its process."""

    def start_holder(self, d, folder):
        """A run far longer than any test waits for, once it holds the folder's lock."""
        child = subprocess.Popen([SIM, "--stop", "100000", "--result-dir", folder, FMU], cwd=d,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: child.poll() is not None or child.kill())
        deadline = time.monotonic() + 60.0
        while not (os.path.isdir(os.path.join(d, folder)) and
                   flock_holder(os.path.join(d, folder)) == child.pid):
            self.assertIsNone(child.poll(), "the run ended before it held the lock")
            self.assertLess(time.monotonic(), deadline, "the run takes no lock")
            time.sleep(0.001)
        return child

    def test_a_second_run_in_the_folder_exits_1_at_once(self):
        with scratch() as d:
            first = self.start_holder(d, "run")
            folder = os.path.join(d, "run")
            os.symlink("run", os.path.join(d, "link"))
            # A scratch folder that cannot be made: a run that got as far as the loader would
            # say so instead.
            no_tmp = os.path.join(d, "missing")
            cases = [(d, ["--result-dir", "run"], "run"),
                     (d, ["--result-dir", "link"], "link"),
                     (d, ["--result-dir", "run/../run/"], "run/../run/"),
                     (folder, [], os.path.realpath(folder))]
            for cwd, args, name in cases:
                with self.subTest(name=name):
                    done = run(["--stop", "0.01", *args, FMU], cwd, tmpdir=no_tmp)
                    self.assertEqual((done.returncode, done.stdout, done.stderr), (
                        1, "", f"tavelo-sim: the result directory {name} is in use by another "
                               f"run (pid {first.pid})\n"))
            # The first run's model opens its file after the lock is taken.
            deadline = time.monotonic() + 60.0
            while not os.path.exists(os.path.join(folder, "dsres.mat")):
                self.assertLess(time.monotonic(), deadline, "the first run writes no dsres.mat")
                time.sleep(0.001)
            self.assertEqual(os.listdir(folder), ["dsres.mat"])
            first.send_signal(signal.SIGINT)
            out, err = first.communicate(timeout=60)
            self.assertEqual((first.returncode, err), (130, ""))
            # The file is whole and holds the first run's rows alone: from its start, in order.
            time_column = load_strictly(os.path.join(folder, "dsres.mat"))["data_2"][0]
            self.assertEqual(len(time_column), summary_rows(out))
            self.assertEqual(time_column[0], 0.0)
            self.assertTrue(np.all(np.diff(time_column) > 0), time_column)
            self.assertEqual(os.listdir(folder), ["dsres.mat"])

    def test_result_files_that_lead_to_one_folder(self):
        # The first run's "dsres.mat" is a link to c/result.mat: it writes in c, which it holds
        # as well. A run whose "dsres.mat" leads into c, or into the first run's folder, or a
        # run in c, exits 1 before it loads the library; a link within its own folder runs.
        with scratch() as d:
            for folder, target in [("a", "../c/result.mat"), ("b", "../c/result.mat"),
                                   ("via_a", "../a/dsres.mat"), ("into_a", "../a/other.mat"),
                                   ("own", "result.mat")]:
                os.mkdir(os.path.join(d, folder))
                os.symlink(target, os.path.join(d, folder, "dsres.mat"))
            os.mkdir(os.path.join(d, "c"))
            first = self.start_holder(d, "a")
            deadline = time.monotonic() + 60.0
            while flock_holder(os.path.join(d, "c")) != first.pid:
                self.assertLess(time.monotonic(), deadline, "the run holds not its link's folder")
                time.sleep(0.001)
            no_tmp = os.path.join(d, "missing")
            real = os.path.realpath(d)
            cases = [("b", f"{real}/c (where b/dsres.mat leads)"),
                     ("via_a", f"{real}/c (where via_a/dsres.mat leads)"),
                     ("into_a", f"{real}/a (where into_a/dsres.mat leads)"),
                     ("c", "c")]
            for folder, name in cases:
                with self.subTest(folder=folder):
                    done = run(["--stop", "0.01", "--result-dir", folder, FMU], d, tmpdir=no_tmp)
                    self.assertEqual((done.returncode, done.stdout, done.stderr), (
                        1, "", f"tavelo-sim: the result directory {name} is in use by another "
                               f"run (pid {first.pid})\n"))
            done = run(["--quiet", "--stop", "0.01", "--result-dir", "own", FMU], d)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertGreaterEqual(
                load_strictly(os.path.join(d, "own", "result.mat"))["data_2"].shape[1], 11)
            first.send_signal(signal.SIGINT)
            first.communicate(timeout=60)
            self.assertEqual(first.returncode, 130)

    def test_the_lock_dies_with_its_process(self):
        with scratch() as d:
            first = self.start_holder(d, "run")
            first.kill()
            first.wait()
            done = run(["--quiet", "--stop", "0.01", "--result-dir", "run", FMU], d)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertEqual(os.listdir(os.path.join(d, "run")), ["dsres.mat"])

    def test_runs_in_two_folders_at_once(self):
        with scratch() as d:
            first = self.start_holder(d, "a")
            done = run(["--quiet", "--stop", "0.01", "--result-dir", "b", FMU], d)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertIsNone(first.poll())
            first.send_signal(signal.SIGINT)
            first.communicate(timeout=60)
            self.assertEqual(first.returncode, 130)

    def test_a_folder_that_cannot_be_read_runs_without_a_lock(self):
        # A folder it may write in but not read: no descriptor to lock, the run goes on.
        # Root reads any folder: as root the run is nobody's.
        other_user = dict(user=65534, group=65534) if os.geteuid() == 0 else {}
        with scratch() as d:
            os.chmod(d, 0o755)
            fmu = os.path.join(d, "Tavelo.fmu")
            shutil.copy(FMU, fmu)
            out = os.path.join(d, "out")
            os.mkdir(out)
            os.chmod(out, 0o333)
            done = run(["--quiet", "--stop", "0.01", "--result-dir", "out", fmu], d,
                       **other_user)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            os.chmod(out, 0o755)
            self.assertGreaterEqual(load_strictly(os.path.join(out, "dsres.mat"))["data_2"]
                                    .shape[1], 11)


class LostRows(unittest.TestCase):
    """The library leaves out rows that do not fit (a full disk, a file-size limit) and goes on;
    tavelo-sim counts the rows the run should have left, the start's and one per output point,
    and a file that holds fewer fails the run: the summary and a line on the standard error
    stream, also with --quiet, say how many are missing. Where the library ends the process
    itself, the host's line names the result file."""

    @classmethod
    def setUpClass(cls):
        # Under a file-size limit the FMU's binary must still fit into its scratch folder: the
        # run is long enough that its file is larger (the sanitizer build's library is too).
        with zipfile.ZipFile(FMU) as z:
            binary = z.getinfo("binaries/linux64/Tavelo.so").file_size
        with scratch() as d:
            done = run(["--quiet", "--stop", "0.01", FMU], d)
            path = os.path.join(d, "dsres.mat")
            data = load_strictly(path)["data_2"]
            cls.row = 4 * data.shape[0]  # bytes per row: floats
            cls.header = os.path.getsize(path) - cls.row * data.shape[1]
        cls.stop = max(2, math.ceil((binary - cls.header) / cls.row / 1000 / 0.8) + 1)
        cls.expected = 1000 * cls.stop + 1  # the start and each millisecond

    def run_limited(self, d, limit, *args, **streams):
        """A run under a file-size limit; its output captured unless streams say where."""
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        return subprocess.run(
            [SIM, *args, "--stop", str(self.stop), "--result-dir", "out", FMU], cwd=d,
            timeout=300, preexec_fn=small_files,
            **(streams or {"capture_output": True, "text": True}))

    def test_rows_cut_by_a_file_size_limit(self):
        with scratch() as d:
            done = run(["--quiet", "--stop", str(self.stop), "--result-dir", "out", FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            path = os.path.join(os.path.realpath(d), "out", "dsres.mat")
            whole = os.path.getsize(path)
            rows = (whole - self.header) // self.row
            self.assertGreaterEqual(rows, self.expected)
            e = self.expected
            # The limit, the rows the file then holds.
            cases = [("every row fits", whole, rows),
                     ("the run's rows fit, not the extra ones", self.header + e * self.row, e),
                     ("a byte short of the run's rows", self.header + e * self.row - 1, e - 1),
                     ("a fifth cut", self.header + (e - e // 5) * self.row, e - e // 5)]
            for name, limit, held in cases:
                for quiet in [[], ["--quiet"]]:
                    with self.subTest(name, quiet=quiet):
                        done = self.run_limited(d, limit, *quiet)
                        missing = max(0, e - held)
                        self.assertEqual(load_strictly(path)["data_2"].shape[1], held)
                        line = (f"tavelo-sim: {path} holds {held} of at least {e} rows of "
                                f"the run's start and output points, {missing} missing: the "
                                f"disk is full or a file-size limit was reached\n")
                        self.assertEqual((done.returncode, done.stderr),
                                         (1, line) if missing else (0, ""))
                        if quiet:
                            self.assertEqual(done.stdout, "")
                            continue
                        self.assertEqual(summary_rows(done.stdout), held)
                        missing_line = (f"  rows missing      {missing} of at least {e} (the "
                                        f"disk is full or a file-size limit was reached)\n")
                        self.assertEqual(missing_line in done.stdout, missing > 0, done.stdout)

    def test_the_line_of_missing_rows_follows_the_summary_in_one_stream(self):
        # ">log 2>&1": the summary, buffered, is written before the line on the standard error
        # stream, which ends the log. A fifth of the rows cut.
        e = self.expected
        with scratch() as d:
            log = os.path.join(d, "log")
            with open(log, "w") as f:
                done = self.run_limited(d, self.header + (e - e // 5) * self.row, stdout=f,
                                        stderr=subprocess.STDOUT)
            with open(log) as f:
                lines = f.read().splitlines()
        self.assertEqual(done.returncode, 1, lines)
        self.assertRegex(lines[0], r": simulated from 0 s to ")
        self.assertRegex(lines[-2], r"^  result in ")
        self.assertRegex(lines[-1], rf"^tavelo-sim: \S+/dsres\.mat holds {e - e // 5} of at "
                                    rf"least {e} rows of the run's start and output points")

    def test_a_result_file_removed_or_renamed_during_the_run(self):
        # The library keeps writing the file it holds open, and the run goes on; "dsres.mat"
        # does not hold its rows: they are lost with a removed file, and in a renamed one
        # (kept.mat beside the folder) under another name. The removal comes once the run is
        # well past its initialisation (a hundred rows), then the run is interrupted or goes to
        # its end (stopped for the removal).
        def remove_file(out):
            os.remove(os.path.join(out, "dsres.mat"))

        def remove_folder(out):
            shutil.rmtree(out)

        def replace_file(out):
            remove_file(out)
            with open(os.path.join(out, "dsres.mat"), "w") as f:
                f.write("another file")

        def rename_file(out):
            os.rename(os.path.join(out, "dsres.mat"), os.path.join(out, "..", "kept.mat"))

        def rename_file_remove_folder(out):
            rename_file(out)
            os.rmdir(out)

        with_folder = ", and its folder was removed"
        cases = [(remove_folder, "interrupted", [], with_folder),
                 (remove_folder, "interrupted", ["--quiet"], with_folder),
                 (remove_file, "ends", [], ""),
                 (remove_file, "ends", ["--quiet"], ""),
                 (replace_file, "interrupted", [], ", another file has its name now"),
                 (rename_file, "ends", [], ""),
                 (rename_file, "interrupted", ["--quiet"], ""),
                 (rename_file_remove_folder, "interrupted", [], with_folder)]
        for remove, end, quiet, how in cases:
            with self.subTest(remove.__name__, end=end, quiet=quiet), scratch() as d:
                stop = "100000" if end == "interrupted" else "60"
                child = subprocess.Popen([SIM, *quiet, "--stop", stop, "--result-dir", "out",
                                          FMU], cwd=d, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True)
                self.addCleanup(lambda: child.poll() is not None or child.kill())
                out = os.path.join(d, "out")
                deadline = time.monotonic() + 60.0
                while not (os.path.exists(os.path.join(out, "dsres.mat")) and os.path.getsize(
                        os.path.join(out, "dsres.mat")) >= self.header + 100 * self.row):
                    self.assertIsNone(child.poll(), "the run ended before its file grew")
                    self.assertLess(time.monotonic(), deadline, "the run's file does not grow")
                    time.sleep(0.001)
                if end == "ends":  # no end before the removal
                    child.send_signal(signal.SIGSTOP)
                remove(out)
                child.send_signal(signal.SIGCONT if end == "ends" else signal.SIGINT)
                printed, err = child.communicate(timeout=120)
                path = os.path.join(os.path.realpath(d), "out", "dsres.mat")
                self.assertEqual((child.returncode, err), (1, (
                    f"tavelo-sim: the result file {path} was removed or renamed during the "
                    f"run{how}: dsres.mat does not hold the run's rows\n")))
                if remove in (rename_file, rename_file_remove_folder):
                    # The renamed file is whole and holds the run's rows from its start.
                    kept = load_strictly(os.path.join(d, "kept.mat"))["data_2"][0]
                    self.assertEqual(kept[0], 0.0)
                    self.assertGreaterEqual(len(kept), 60001 if end == "ends" else 101)
                if quiet:
                    self.assertEqual(printed, "")
                    continue
                self.assertEqual(" interrupted by SIGINT " in printed.splitlines()[0],
                                 end == "interrupted", printed)
                self.assertIn(f"\n  result rows       none counted (dsres.mat was removed or "
                              f"renamed during the run{how}: dsres.mat does not hold the run's "
                              f"rows)\n", printed)
                self.assertIn(f"\n  result in         {os.path.dirname(path)}\n", printed)

    def test_an_earlier_result_file_removed_during_a_run_that_writes_none(self):
        # The test model writes no "dsres.mat": the one of an earlier run is none of this
        # run's, and its removal loses none of its rows.
        with scratch() as d:
            with open(os.path.join(d, "dsres.mat"), "w") as f:
                f.write("an earlier result")
            child = subprocess.Popen([SIM, "--set", "frozen=true", "--stop", "20000", TEST_FMU],
                                     cwd=d, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
            self.addCleanup(lambda: child.poll() is not None or child.kill())
            time.sleep(0.5)
            os.remove(os.path.join(d, "dsres.mat"))
            printed, err = child.communicate(timeout=300)
            self.assertEqual((child.returncode, err), (0, ""))
            self.assertIn("\n  result rows       none counted (no dsres.mat written by this "
                          "run)\n", printed)

    def test_the_library_ends_the_process_when_the_file_does_not_open(self):
        # Every write fails at once: the library cannot write the file's header, says so and
        # exits.
        with scratch() as d:
            out = os.path.join(d, "out")
            os.mkdir(out)
            os.symlink("/dev/full", os.path.join(out, "dsres.mat"))
            done = run(["--stop", "0.01", "--result-dir", "out", FMU], d)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertEqual(done.stdout, "")
            path = os.path.join(os.path.realpath(out), "dsres.mat")
            self.assertTrue(done.stderr.endswith(
                f"\ntavelo-sim: the model ended the process, most likely unable to write the "
                f"result file {path} (the disk is full, a file-size limit was reached, or the "
                f"folder is gone)\n"),
                done.stderr)


class HostEvents(unittest.TestCase):
    """What the pendulum does not show yet, on the test model: state and time events, a model
    that stops the run, discarded evaluations, failures, step events."""

    def simulate(self, *args):
        with scratch() as d:
            return run(list(args) + [TEST_FMU], d)

    def test_state_event_bounces_the_ball(self):
        done = self.simulate("--stop", "0.6", "--tolerance", "1e-10")
        self.assertEqual(done.returncode, 0, done.stderr)
        g, e = 9.81, 0.5
        t1 = math.sqrt(2.0 / g)
        v1 = e * g * t1
        x = v1 * (0.6 - t1) - g / 2 * (0.6 - t1) ** 2
        final = summary_values(done.stdout)
        self.assertAlmostEqual(final["x"], x, delta=1e-6)
        self.assertAlmostEqual(final["v"], v1 - g * (0.6 - t1), delta=1e-6)
        self.assertEqual(summary_count(done.stdout, "events"), 1)

    def test_completed_steps_are_evaluated_and_give_one_row_per_millisecond(self):
        # The model records a completed step near a millisecond with the values of its last
        # evaluation; the output points between the integrator's steps are evaluated too, so
        # the step's end must be evaluated again, also where it lies on no output point. Its
        # time event falls just before an output point, where the first step after it must
        # end on the point, not a hair after it.
        # A start 9.999e-8 s before a millisecond, within the model's 1e-7 s of it, has that
        # millisecond's row from the initialisation: no output point there.
        # A default experiment shorter than a millisecond (the model's time scale) leaves the
        # first step and the output margin at 1e-6 s: a first step of 9e-8 s would end within
        # the model's 1e-7 s of millisecond 0, one of 1e-7 s from 5e-8 s before it as well;
        # the first step after the time event (1e-6 s) ends 5e-8 s after the output point
        # 0.3 s, which a margin of 1e-9 s would not move onto it.
        cases = [(None, []), (None, ["--interval", "0.002"]), (None, ["--start", "0.0005"]),
                 (None, ["--interval", "0.3"]), (None, ["--start", "0.00099990001"]),
                 ("0.000001", []), ("0.00001", []), ("0.00009", []),
                 ("0.000001", ["--interval", "0.3"]), ("0.000001", ["--start", "0.0005"]),
                 ("0.000001", ["--start", "-0.00000005"])]
        for default_stop, args in cases:
            with self.subTest(default_stop=default_stop, args=args), scratch() as d:
                fmu = TEST_FMU
                if default_stop:
                    fmu = os.path.join(d, "Short.fmu")
                    rewrite_test_fmu(fmu, lambda xml: xml.replace(
                        'stopTime="1"', f'stopTime="{default_stop}"'))
                done = run(["--set", "scenario=6", "--stop", "2", *args, fmu], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertGreater(summary_count(done.stdout, "events"), 1)

    def test_the_step_count_includes_the_steps_before_an_event(self):
        # The run to 0.91 s takes the steps of the run to 0.9 s, with its bounce at 0.4515 s;
        # then the ball bounces again (at 0.903 s) and the integrator starts again, for fewer
        # steps than it took before.
        before = self.simulate("--stop", "0.9", "--tolerance", "1e-10")
        after = self.simulate("--stop", "0.91", "--tolerance", "1e-10")
        self.assertEqual((before.returncode, after.returncode), (0, 0), after.stderr)
        self.assertEqual(summary_count(before.stdout, "events"), 1)
        self.assertEqual(summary_count(after.stdout, "events"), 2)
        self.assertGreater(summary_count(after.stdout, "integrator steps"),
                           summary_count(before.stdout, "integrator steps"))

    def test_discarded_evaluations_are_retried_with_smaller_steps(self):
        # The model refuses every step longer than 0.01 s, whatever the tolerance; at 1e-4 the
        # result lies well within the delta however the refusals shape the steps (at 1e-3 the
        # global error is itself about 1e-3).
        done = self.simulate("--set", "scenario=1", "--interval", "0.5", "--tolerance", "1e-4",
                             "--log")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stderr, r"\[fmiDiscard\] \[test\] TestModel: refusing a step to")
        self.assertAlmostEqual(summary_values(done.stdout)["x"], math.exp(-1.0), delta=1e-3)

    def test_time_events_and_a_model_that_stops_the_run(self):
        done = self.simulate("--set", "scenario=2")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("simulated from 0 s to 0.5 s (stopped by the model)", done.stdout)
        self.assertEqual(summary_count(done.stdout, "events"), 2)
        self.assertAlmostEqual(summary_values(done.stdout)["x"], 1.2, delta=1e-9)

    def test_a_model_that_never_leaves_its_event_time_ends_the_run(self):
        done = self.simulate("--set", "scenario=5")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
        self.assertIn("tavelo-sim: the model asks for event after event at t = 0.3", done.stderr)

    def test_step_event_updates_the_states(self):
        done = self.simulate("--set", "scenario=4")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(summary_count(done.stdout, "events"), 1)
        self.assertAlmostEqual(summary_values(done.stdout)["x"], 1.75, delta=1e-9)

    def test_a_step_event_that_changes_nothing_goes_on_from_its_point(self):
        # The falling ball asks for an event at the first completed step from 0.25 s on, an
        # output point within a longer step; the run goes on from the states there, not from
        # those at the step's end.
        done = self.simulate("--set", "scenario=13", "--stop", "0.4", "--tolerance", "1e-10")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(summary_count(done.stdout, "events"), 1)
        final = summary_values(done.stdout)
        self.assertAlmostEqual(final["x"], 1.0 - 9.81 / 2 * 0.4 ** 2, delta=1e-7)
        self.assertAlmostEqual(final["v"], -9.81 * 0.4, delta=1e-7)

    def test_a_model_that_stops_before_its_event_iteration_converged(self):
        # The event update at 0.3 s asks to stop with its iteration unsettled: the run ends
        # there, normally, without another event update (which the model fails).
        done = self.simulate("--set", "scenario=14")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        self.assertIn("simulated from 0 s to 0.3 s (stopped by the model)", done.stdout)
        self.assertEqual(summary_count(done.stdout, "events"), 1)

    def test_a_model_error_ends_the_run_with_its_message(self):
        done = self.simulate("--set", "scenario=3")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
        self.assertRegex(done.stderr, r"^tavelo-sim: fmiGetDerivatives returned fmiError at t = "
                                      r"0\.2\d* s: the test model fails at t = 0\.2")


class FailureReports(unittest.TestCase):
    """A failure that ends the run shows the model's own report of it without --log (what the
    model logged in the failing call, with debug logging on); warnings are counted."""

    def run_in(self, d, args):
        """A run whose temporary folders go to d/tmp, which must be empty again after it."""
        tmp = os.path.join(d, "tmp")
        os.makedirs(tmp, exist_ok=True)
        done = subprocess.run([SIM] + args, cwd=d, capture_output=True, text=True, timeout=300,
                              env=dict(os.environ, TMPDIR=tmp))
        self.assertEqual(os.listdir(tmp), [])
        return done

    def test_division_by_zero_at_initialisation(self):
        with scratch() as d:
            done = self.run_in(d, ["--set", "world.defaultWidthFraction=0", FMU])
            self.assertEqual((done.returncode, done.stdout), (1, ""))
            self.assertEqual(done.stderr.splitlines(), [
                "tavelo-sim: fmiInitialize returned fmiError: "
                "fmiInitialize: dsblock_ failed, QiErr = 1",
                "  The following error was detected at time: 0",
                "  Model error - division by zero: (world.gravityArrowLength) / "
                "(world.defaultWidthFraction) = (0.25) / (0)"])
            self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    def test_the_report_holds_the_failing_calls_messages_only(self):
        # The test model logs a line in every evaluation of its derivatives, which succeed;
        # then a completed step logs 25 lines and fails. Only that call's lines follow the
        # host's line: 20 of them, the rest counted.
        with scratch() as d:
            done = self.run_in(d, ["--set", "scenario=16", TEST_FMU])
            self.assertEqual((done.returncode, done.stdout), (1, ""), done.stderr)
            lines = done.stderr.splitlines()
            self.assertRegex(lines[0], r"^tavelo-sim: fmiCompletedIntegratorStep returned "
                                       r"fmiError: the test model fails its completed step at "
                                       r"t = 0\.2\d* s$")
            self.assertEqual(lines[1:], [f"  step report line {i}" for i in range(1, 21)]
                             + ["  ... 5 more lines (--log shows them all)"])

    def test_a_start_time_the_model_discards(self):
        # fmiSetTime of the start time is no evaluation at a point: its discard ends the run,
        # named without a time, as any call before the initialisation.
        start_time = os.path.join(os.path.dirname(TEST_FMU), "StartTimeDiscarded.fmu")
        with scratch() as d:
            done = self.run_in(d, [start_time])
            self.assertEqual((done.returncode, done.stdout, done.stderr), (
                1, "", "tavelo-sim: fmiSetTime returned fmiDiscard\n"
                       "  the test model refuses its start time 0 s\n"))

    def test_a_failing_friction_solve(self):
        # The pendulum's own inertia about its joint cancels its mass's: the friction system
        # turns singular as it swings, its solve is rejected and fmiGetDerivatives returns
        # fmiDiscard until CVODE gives up. What the model logged in the last discarded
        # evaluation shows why; the result written so far stays whole.
        with scratch() as d:
            done = self.run_in(d, ["--stop", "2", "--set", "pendulum.I_11=-0.00155084", FMU])
            self.assertEqual((done.returncode, done.stdout), (1, ""))
            lines = done.stderr.splitlines()
            # How CVODE gives up (CV_CONV_FAILURE, CV_REPTD_RHSFUNC_ERR) depends on its steps
            # before; that it gives up there, on the model's discards, does not.
            self.assertRegex(lines[0], r"^tavelo-sim: the integrator failed at t = 1\.38\d* s "
                                       r"\(CV_[A-Z_]+\): the model discarded its evaluation "
                                       r"\d+ times, also with smaller steps$")
            report = lines[1:]
            self.assertTrue(all(line.startswith("  ") for line in report), report)
            self.assertLessEqual(len(report), 21)
            for line in ["  LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 1.38267",
                         "  ...    Linear system of equations number = 1",
                         "  ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL",
                         "  fmiGetDerivatives: dsblock_ failed, QiErr = 1"]:
                self.assertIn(line, report)
            time = scipy.io.loadmat(os.path.join(d, "dsres.mat"))["data_2"][0].astype(float)
            self.assertTrue(np.all(np.diff(time) > 0.0))
            self.assertGreaterEqual(len(time), 1383)
            self.assertAlmostEqual(time[-1], 1.382, delta=1e-6)

    def test_after_fmiFatal_the_instance_is_only_freed(self):
        # After fmiFatal the instance may only be freed: the test model aborts on any other
        # call. It returns fmiFatal from its derivatives at 0.2 s (9), or from the state
        # references asked for at the end (10).
        cases = [
            ("9", r"fmiGetDerivatives returned fmiFatal at t = 0\.2\d* s: the test model fails "
             r"fatally at t = 0\.2\d* s"),
            ("10", "fmiGetStateValueReferences returned fmiFatal: the test model fails fatally "
             r"at t = 1 s"),
        ]
        for scenario, failure in cases:
            with self.subTest(scenario=scenario), scratch() as d:
                done = self.run_in(d, ["--set", "scenario=" + scenario, TEST_FMU])
                self.assertEqual((done.returncode, done.stdout), (1, ""), done.stderr)
                self.assertRegex(done.stderr, rf"^tavelo-sim: {failure}\n$")

    def test_warnings_are_counted_with_the_first_ones_message(self):
        # A description that claims 3 of the 4 states: every call that passes states warns,
        # the pendulum stands still.
        # The first warning comes from fmiGetContinuousStates when the integrator starts.
        first = ("the first fmiGetContinuousStates at t = 0 s: fmiGetContinuousStates: "
                 "argument nx = 3 is incorrect, should be 4")
        with scratch() as d:
            path = three_state_fmu(d)
            done = self.run_in(d, ["--stop", "1", path])
            self.assertEqual(done.returncode, 0, done.stderr)
            found = re.search(r"^  warnings +(\d+) calls returned fmiWarning, (.*)$",
                              done.stdout, re.MULTILINE)
            self.assertIsNotNone(found, done.stdout)
            count = int(found.group(1))
            # At least one fmiSetContinuousStates at each of the 1000 output points.
            self.assertGreater(count, 1000)
            self.assertEqual(found.group(2), first)
            self.assertEqual(done.stderr, f"tavelo-sim: warning: {count} calls returned "
                                          f"fmiWarning, {first}\n")
            quiet = self.run_in(d, ["--quiet", "--stop", "1", path])
            self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr),
                             (0, "", done.stderr))
            # Each call that warns logs one warning with debug logging on: as many as counted.
            logged = self.run_in(d, ["--log", "--stop", "1", path])
            self.assertEqual(logged.returncode, 0, logged.stderr)
            self.assertEqual(logged.stderr.count("[fmiWarning] "), count)
            self.assertTrue(logged.stderr.endswith(done.stderr), logged.stderr[-300:])

    def test_the_warning_line_follows_the_summary_in_one_stream(self):
        # ">log 2>&1": the summary, buffered, is written before the warning's line, which ends
        # the log.
        with scratch() as d:
            log = os.path.join(d, "log")
            with open(log, "w") as f:
                done = subprocess.run([SIM, "--set", "scenario=15", TEST_FMU], cwd=d,
                                      stdout=f, stderr=subprocess.STDOUT, timeout=300)
            with open(log) as f:
                lines = f.read().splitlines()
        self.assertEqual(done.returncode, 0, lines)
        self.assertRegex(lines[0], r": simulated from 0 s to ")
        self.assertRegex(lines[-2], r"^  result in ")
        self.assertEqual(lines[-1], "tavelo-sim: warning: 1 calls returned fmiWarning, the "
                                    "first fmiCompletedIntegratorStep at t = 0.5 s: the test "
                                    "model warns once")

    def test_a_single_warning_is_reported_also_with_quiet(self):
        # The test model warns once, at the completed step of 0.5 s.
        line = ("tavelo-sim: warning: 1 calls returned fmiWarning, the first "
                "fmiCompletedIntegratorStep at t = 0.5 s: the test model warns once\n")
        with scratch() as d:
            for quiet in [[], ["--quiet"]]:
                with self.subTest(quiet=quiet):
                    done = self.run_in(d, quiet + ["--set", "scenario=15", TEST_FMU])
                    self.assertEqual((done.returncode, done.stderr), (0, line))
                    if quiet:
                        self.assertEqual(done.stdout, "")
                    else:
                        self.assertEqual(summary_count(done.stdout, "warnings"), 1, done.stdout)


def with_description(source, target, change):
    """A copy of an FMU, any of them, with its model description changed."""
    with zipfile.ZipFile(source) as z, zipfile.ZipFile(target, "w") as out:
        for member in z.namelist():
            data = z.read(member)
            if member == "modelDescription.xml":
                data = change(data.decode()).encode()
            out.writestr(member, data)


def with_states(count):
    return lambda xml: xml.replace('numberOfContinuousStates="4"',
                                   f'numberOfContinuousStates="{count}"')


SANITIZED = os.environ.get("TAVELO_SANITIZED") == "1"
SANITIZED_SKIP = "the sanitizer build runs in no address-space limit and under no valgrind"


class ModelNumbers(unittest.TestCase):
    """The numbers a model gives the integrator: state counts that no memory holds, states the
    model leaves unset, output intervals far longer than the model's time scale, tolerances,
    and the integrator's own failures."""

    def run_in(self, d, args, **kwargs):
        """A run whose scratch folders go to d/tmp, which must be empty again after it."""
        tmp = os.path.join(d, "tmp")
        os.makedirs(tmp, exist_ok=True)
        done = run(args, d, tmpdir=tmp, **kwargs)
        self.assertEqual(os.listdir(tmp), [])
        return done

    def test_state_counts_whose_integrator_takes_half_the_memory_are_refused(self):
        # The dense Jacobian and its saved copy take 16·n² bytes: 160 GB for 100000 states,
        # 25.6 GB for 40000. Refused before the library is loaded (else SIGSEGV, or the kernel
        # kills the run at 21 GB), where that is more than half of this machine's memory.
        memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
        for count in [100000, 40000]:
            with self.subTest(states=count), scratch() as d:
                if 16 * count ** 2 <= memory / 2:
                    self.skipTest(f"{count} states fit half of this machine's memory")
                path = os.path.join(d, "Many.fmu")
                rewrite_fmu(FMU, path, description=with_states(count))
                done = self.run_in(d, ["--quiet", path])
                self.assertEqual((done.returncode, done.stdout), (1, ""), done.stderr)
                self.assertRegex(done.stderr, rf"^tavelo-sim: modelDescription\.xml: {count} "
                                 r"continuous states and 32 event indicators would take "
                                 r"\S+ GB for the integrator \(its dense Jacobian grows with "
                                 r"the square of the states\), more than half of (this "
                                 r"machine's \S+ GB of memory|the \S+ GB of memory that the "
                                 r"cgroup of this process allows)\n$")
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    @unittest.skipIf(SANITIZED, SANITIZED_SKIP)
    def test_an_allocation_that_fails_is_out_of_memory(self):
        # In an address space of 256 MB the Jacobian of 8000 states (512 MB) cannot be made;
        # in 768 MB it can, but not its saved copy, which SUNDIALS makes at the first step.
        # Anything else the host cannot allocate (here the 300 MB of a library it reads) is
        # out of memory as well, never a signal. Each is found before the model is
        # instantiated: an earlier "dsres.mat" stays as it was.
        cases = [
            ("Jacobian", with_states(8000), None, 256,
             "out of memory for the integrator's dense Jacobian (8000 x 8000)"),
            ("saved copy", with_states(8000), None, 768,
             "out of memory for the saved copy of the integrator's dense Jacobian "
             "(8000 x 8000)"),
            ("library", None, 300 << 20, 128, "out of memory (an allocation of the host failed)"),
        ]
        for name, description, binary_size, megabytes, message in cases:
            with self.subTest(name), scratch() as d:
                path = os.path.join(d, "Big.fmu")
                if binary_size is None:
                    rewrite_fmu(FMU, path, description=description)
                else:
                    with zipfile.ZipFile(FMU) as z:
                        xml = z.read("modelDescription.xml")
                    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
                        z.writestr("modelDescription.xml", xml)
                        with z.open("binaries/linux64/Tavelo.so", "w", force_zip64=True) as f:
                            for _ in range(binary_size >> 20):
                                f.write(bytes(1 << 20))
                earlier = os.path.join(d, "dsres.mat")
                with open(earlier, "wb") as f:
                    f.write(b"an earlier run's result\n")
                limit = megabytes << 20
                done = self.run_in(d, ["--quiet", "--stop", "0.01", path], preexec_fn=lambda:
                                   resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
                self.assertEqual((done.returncode, done.stderr), (1, f"tavelo-sim: {message}\n"))
                with open(earlier, "rb") as f:
                    self.assertEqual(f.read(), b"an earlier run's result\n")

    @unittest.skipIf(SANITIZED, SANITIZED_SKIP)
    def test_the_memory_made_early_is_taken_once(self):
        # The memory for the saved copy of 8000 states' Jacobian, held from before the model is
        # instantiated, is given back for the copy at the first step: the run needs some
        # 1.0 GB of address space, not 1.5 GB.
        with scratch() as d:
            path = os.path.join(d, "Big.fmu")
            rewrite_fmu(FMU, path, description=with_states(8000))
            limit = 1280 << 20
            done = self.run_in(d, ["--quiet", "--stop", "0.001", path], preexec_fn=lambda:
                               resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(done.stderr.startswith("tavelo-sim: warning: "), done.stderr)
            self.assertEqual(load_strictly(os.path.join(d, "dsres.mat"))["data_2"].shape[1], 3)

    @unittest.skipIf(SANITIZED, SANITIZED_SKIP)
    def test_values_the_model_leaves_unset_are_zero(self):
        # A description that claims 5 states, or 33 event indicators: the library fills 4 and
        # 32 of them and warns. Valgrind finds no value read before it was set; the fifth state
        # stays 0.
        valgrind = os.environ.get("TAVELO_VALGRIND", "")
        self.assertTrue(os.path.isfile(valgrind),
                        f"valgrind is missing ('{valgrind}'): install the Debian package valgrind")
        cases = [("5 states", with_states(5), r"\n    state 5 +0\n  warnings "),
                 ("33 indicators", lambda x: x.replace('numberOfEventIndicators="32"',
                                                       'numberOfEventIndicators="33"'),
                  r"\n    pendulumJoint\.w +\S+\n  warnings ")]
        for name, description, final in cases:
            with self.subTest(name), scratch() as d:
                path = os.path.join(d, "Claims.fmu")
                rewrite_fmu(FMU, path, description=description)
                tmp = os.path.join(d, "tmp")
                os.mkdir(tmp)
                done = subprocess.run([valgrind, "-q", "--error-exitcode=99", SIM, "--stop",
                                       "0.01", path], cwd=d, capture_output=True, text=True,
                                      timeout=300, env=dict(os.environ, TMPDIR=tmp))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertNotIn("==", done.stderr)
                self.assertEqual(summary_values(done.stdout)["armJoint.phi"], 0.0)
                self.assertRegex(done.stdout, final)

    def test_long_output_intervals_end_at_the_stop_time(self):
        # The pendulum's time scale is its default experiment's 10 s: the first step after a
        # start or an event is a thousandth of that, not of the interval, and --log shows no
        # retry (a first step of 1e5 s for --interval 1e8 would fail, and the retry hide it).
        # With a default experiment of 1e7 s or more it is 1e4 s, which CVODE gives up on
        # after an event at 19.7 s (its error test) or at the start at 1e-10 (its corrector):
        # the integrator starts again there with a first step 1000 times shorter, once.
        # (default stop time, stop time and interval, options, the first step retried)
        cases = [(None, "1e8", [], None), (None, "1e7", [], None),
                 ("1e7", "1e7", [], "10000 s"), ("1e7", "1e8", [], "10000 s"),
                 ("1e7", "1e7", ["--tolerance", "1e-10"], "10000 s"),
                 ("1e9", "1e9", [], "1e+06 s")]
        for default_stop, stop, args, retried in cases:
            with self.subTest(default_stop=default_stop, stop=stop, args=args), scratch() as d:
                fmu = FMU
                if default_stop:
                    fmu = os.path.join(d, "Long.fmu")
                    rewrite_fmu(FMU, fmu, description=lambda xml: xml.replace(
                        'stopTime="10"', f'stopTime="{default_stop}"'))
                done = self.run_in(d, ["--log", "--stop", stop, "--interval", stop, *args, fmu])
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(re.findall(r"^\[retry\] tavelo-sim: the first step of (\S+ s) ",
                                            done.stderr, re.MULTILINE),
                                 [retried] if retried else [], done.stderr)
                self.assertIn(f"simulated from 0 s to {float(stop):.0f} s\n", done.stdout)
                self.assertEqual(summary_count(done.stdout, "output points"), 1)
                time = load_strictly(os.path.join(d, "dsres.mat"))["data_2"][0]
                self.assertEqual(time[-1], f32(float(stop)))
                self.assertGreater(summary_count(done.stdout, "events"), 10)

    def test_a_first_step_the_model_discards_is_tried_again_shorter(self):
        # The ball's default experiment of 1e7 s gives a first step of 1e4 s, which the model
        # discards until CVODE gives up (0.038 s); it takes 0.01 s, and later any step.
        with scratch() as d:
            fmu = os.path.join(d, "Long.fmu")
            rewrite_test_fmu(fmu, lambda xml: xml.replace('stopTime="1"', 'stopTime="1e7"'))
            done = self.run_in(d, ["--set", "scenario=17", "--interval", "1e7", fmu])
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("simulated from 0 s to 10000000 s\n", done.stdout)
            logged = self.run_in(d, ["--log", "--set", "scenario=17", "--interval", "1e7", fmu])
            self.assertEqual(logged.returncode, 0, logged.stderr)
            self.assertIn("[retry] tavelo-sim: the first step of 10000 s from t = 0 s failed: "
                          "again with 10 s\n", logged.stderr)

    def test_a_failure_of_the_integrator_alone_says_so(self):
        # x' = x², from 1 at 0 s, grows past every bound before 1 s; every call of the model
        # succeeds (but a warning, named after the failure). CVODE gives up there after steps,
        # not on a first step: it is not tried again (--log would show it), also where the
        # first step was 1e-3 s. On its way --log shows CVODE's warnings of steps too short
        # for t to move, on which it goes on, and then the error it gives up with.
        warned = ("\n  before it 1 calls returned fmiWarning, the first "
                  "fmiCompletedIntegratorStep at t = 9.9999999999999995e-07 s: the test model "
                  "warns once")
        for scenario, args, after in [("12", [], ""), ("12", ["--interval", "1"], ""),
                                      ("18", [], warned)]:
            with self.subTest(scenario=scenario, args=args), scratch() as d:
                command = ["--set", f"scenario={scenario}", "--stop", "2", *args, TEST_FMU]
                done = self.run_in(d, command)
                self.assertEqual((done.returncode, done.stdout), (1, ""))
                self.assertRegex(done.stderr, r"^tavelo-sim: the integrator failed at t = "
                                 r"0\.99\d* s \(CV_[A-Z_]+\), no call of the model failed: "
                                 r"CVODE CVode: At t = [^\n]* \(another --tolerance than 1e-06 "
                                 r"may get it through\)" + re.escape(after) + r"\n$")
                logged = self.run_in(d, ["--log", *command])
                self.assertEqual(logged.returncode, 1)
                self.assertNotIn("[retry]", logged.stderr)
                *warnings, failure = re.findall(r"^\[(\w+)\] (CVODE CVode: .*)$",
                                                logged.stderr, re.MULTILINE)
                self.assertEqual(failure[0], "error")
                self.assertIn(f"no call of the model failed: {failure[1]} (", logged.stderr)
                self.assertGreater(len(warnings), 1)
                for label, message in warnings:
                    self.assertEqual(label, "warning", message)
                    self.assertRegex(message, r"t \+ h = t on the next step|The above warning")

    def test_the_default_tolerance_is_the_model_descriptions(self):
        self.assertEqual(description_of(FMU).find("DefaultExperiment").get("tolerance"), "1e-6")
        # The bouncing ball takes other steps at 1e-10 than at 1e-6: the summaries differ but in
        # their wall time.
        def summary(fmu, *args):
            with scratch() as d:
                done = run(["--stop", "0.6", *args, fmu], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                return re.sub(r"(wall time|result in) .*\n|^\S+: ", "", done.stdout)
        with scratch() as d:
            tight = os.path.join(d, "Tight.fmu")
            with_description(TEST_FMU, tight, lambda x: x.replace(
                '<DefaultExperiment startTime="0" stopTime="1"/>',
                '<DefaultExperiment startTime="0" stopTime="1" tolerance="1e-10"/>'))
            self.assertEqual(summary(tight), summary(TEST_FMU, "--tolerance", "1e-10"))
            self.assertEqual(summary(tight, "--tolerance", "1e-6"), summary(TEST_FMU))
            self.assertNotEqual(summary(tight), summary(TEST_FMU))
            # One that cannot be met is a broken FMU, unless the command line gives its own.
            for tolerance, why in [("1e-17", "1e-17 lies below 2.220446049250313e-16, the "
                                    "smallest the integrator can meet (its unit roundoff)"),
                                   ("1", "1 does not lie between 0 and 1")]:
                with self.subTest(tolerance=tolerance):
                    broken = os.path.join(d, "Broken.fmu")
                    with_description(TEST_FMU, broken, lambda x: x.replace(
                        'stopTime="1"/>', f'stopTime="1" tolerance="{tolerance}"/>'))
                    done = self.run_in(d, [broken])
                    self.assertEqual((done.returncode, done.stdout), (1, ""))
                    self.assertEqual(done.stderr, "tavelo-sim: modelDescription.xml: the default "
                                     f"experiment's tolerance {why}\n")
                    self.assertEqual(summary(broken, "--tolerance", "1e-6"), summary(TEST_FMU))

    def test_absolute_tolerances_scale_with_the_states_nominal_values(self):
        # The test model reports its parameter nominal as both states' nominal value: each
        # absolute tolerance is the relative one times its magnitude, a nominal of 0 taken as 1.
        # The bouncing ball's states are of order 1: a nominal of 1e-3 takes it through more
        # steps, one of 1e3 through fewer.
        def summary(nominal):
            with scratch() as d:
                done = run(["--stop", "0.6", "--set", f"nominal={nominal}", TEST_FMU], d)
                self.assertEqual(done.returncode, 0, done.stderr)
                return re.sub(r"(wall time|result in) .*\n|^\S+: ", "", done.stdout)
        def steps(text):
            return summary_count(text, "integrator steps")
        one, small = summary("1"), summary("1e-3")
        self.assertEqual(summary("0"), one)
        self.assertEqual(summary("-1e-3"), small)
        self.assertGreater(steps(small), steps(one))
        self.assertLess(steps(summary("1e3")), steps(one))

    def test_the_smallest_tolerance_is_met(self):
        # At the unit roundoff itself, the bound that --help and the README give; just below
        # it the command line is refused (CommandLine), at 1e-16 the test model's run fails
        # with CV_TOO_MUCH_ACC.
        with scratch() as d:
            smallest = re.search(r"(\S+) <= TOL < 1\n", run(["--help"], d).stdout).group(1)
        with open(os.path.join(os.path.dirname(PLOT_SCRIPT), "..", "README.md")) as f:
            self.assertIn(f"relative tolerance of the integrator, {smallest} <= TOL < 1", f.read())
        for fmu, stop in [(TEST_FMU, "1"), (FMU, "0.05")]:
            with self.subTest(fmu=os.path.basename(fmu)), scratch() as d:
                done = self.run_in(d, ["--quiet", "--stop", stop, "--tolerance", smallest, fmu])
                self.assertEqual((done.returncode, done.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
