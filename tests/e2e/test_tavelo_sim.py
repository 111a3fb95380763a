#!/usr/bin/python3
"""tavelo-sim end to end: runs of the built Tavelo.fmu read back with scipy, the --set values,
bad command lines and broken FMUs, and the host's event handling on a small test FMU.

Environment: TAVELO_SIM, TAVELO_FMU, TEST_FMU (the test model), PLOT_SCRIPT, TAVELO_TEST_TMP.
"""
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

import numpy as np
import scipy.io

SIM = os.environ["TAVELO_SIM"]
FMU = os.environ["TAVELO_FMU"]
TEST_FMU = os.environ["TEST_FMU"]
PLOT_SCRIPT = os.environ["PLOT_SCRIPT"]
sys.path.insert(0, os.path.dirname(PLOT_SCRIPT))
from plot_result import Result  # noqa: E402

STATES = ["armJoint.phi", "armJoint.w", "pendulumJoint.phi", "pendulumJoint.w"]


def scratch():
    base = os.environ.get("TAVELO_TEST_TMP") or None
    if base:
        os.makedirs(base, exist_ok=True)
    return tempfile.TemporaryDirectory(dir=base)


def run(args, cwd):
    return subprocess.run([SIM] + args, cwd=cwd, capture_output=True, text=True, timeout=300)


def summary_values(stdout):
    """The final states of the summary, by name."""
    return {m.group(1): float(m.group(2))
            for m in re.finditer(r"^    (\S+)\s+(\S+)$", stdout, re.MULTILINE)}


def summary_count(stdout, what):
    return int(re.search(rf"^  {what}\s+(\d+)", stdout, re.MULTILINE).group(1))


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


class ResultReader(unittest.TestCase):
    """The plot script's reader on a small file: matrix, column and sign from dataInfo."""

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
        with scratch() as d:
            # height is x, fall is -v, moving is not frozen: a frozen ball keeps its start.
            done = run(["--set", "height=2", "--set", "fall=3", "--set", "moving=false",
                        TEST_FMU], d)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(summary_values(done.stdout), {"x": 2.0, "v": -3.0})

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
            (FMU, "world.g=1e999", '--set world.g: "1e999" is no Real value'),
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
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))


class CommandLine(unittest.TestCase):
    def test_bad_command_lines(self):
        cases = [
            ([], 2, "no FMU given"),
            (["--bogus", FMU], 2, "unknown option --bogus"),
            (["-x", FMU], 2, "unknown option -x"),
            (["--stop"], 2, "--stop needs a value"),
            (["--stop", "abc", FMU], 2, '--stop: "abc" is not a finite number'),
            (["--start", "nan", FMU], 2, '--start: "nan" is not a finite number'),
            (["--interval", "0", FMU], 2, "--interval must be greater than 0"),
            (["--interval=-1e-3", FMU], 2, "--interval must be greater than 0"),
            (["--tolerance", "1", FMU], 2, "--tolerance must lie between 0 and 1"),
            (["--tolerance", "0", FMU], 2, "--tolerance must lie between 0 and 1"),
            (["--start", "1", "--stop", "1", FMU], 2, "the stop time must lie after"),
            (["--start", "12", FMU], 1,
             "the stop time 10 s does not lie after the start time 12 s"),
            (["--set", "novalue", FMU], 2, '--set needs NAME=VALUE, not "novalue"'),
            (["--set", "=1", FMU], 2, '--set needs NAME=VALUE, not "=1"'),
            (["--quiet=yes", FMU], 2, "--quiet takes no value"),
            ([FMU, FMU], 2, "more than one FMU given"),
            (["--result-dir", "/proc/no/such", FMU], 1, "cannot make the result directory"),
            (["missing.fmu"], 1, "cannot open the FMU missing.fmu"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args), scratch() as d:
                done = run(args, d)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(d, "dsres.mat")))

    def test_help_and_version(self):
        with scratch() as d:
            done = run(["--help"], d)
            self.assertEqual(done.returncode, 0)
            self.assertTrue(done.stdout.startswith("usage: tavelo-sim"))
            for option in ["--start", "--stop", "--interval", "--tolerance", "--set",
                           "--result-dir", "--log", "--quiet", "--help", "--version"]:
                self.assertIn(option, done.stdout)
            done = run(["--version"], d)
            self.assertEqual(done.returncode, 0)
            self.assertRegex(done.stdout, r"^tavelo-sim \d")

    def test_quiet_prints_nothing(self):
        with scratch() as d:
            done = run(["--quiet", "--stop", "0.01", FMU], d)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))


def rewrite_fmu(source, target, description=None, binary_name=None, binary=None,
                drop_description=False):
    """A copy of an FMU with its description or binary replaced."""
    with zipfile.ZipFile(source) as z:
        xml = z.read("modelDescription.xml").decode()
        so = z.read("binaries/linux64/Tavelo.so")
    with zipfile.ZipFile(target, "w") as z:
        if not drop_description:
            z.writestr("modelDescription.xml", description(xml) if description else xml)
        z.writestr("binaries/linux64/" + (binary_name or "Tavelo.so"),
                   binary if binary is not None else so)


class BrokenFmus(unittest.TestCase):
    """One clear message and exit status 1 for every broken FMU, never a crash."""

    def test_broken_fmus(self):
        guid = "{8a4d88a0-e4db-4e8b-bfa0-f36b6a6c89b3}"
        other = "{00000000-e4db-4e8b-bfa0-f36b6a6c89b3}"
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
            ("state count that is no number", dict(description=lambda x: x.replace(
                'numberOfContinuousStates="4"', 'numberOfContinuousStates="four"')),
             'numberOfContinuousStates "four" is no unsigned integer'),
        ]
        for name, change, message in cases:
            with self.subTest(name), scratch() as d:
                path = os.path.join(d, "Broken.fmu")
                if "raw" in change:
                    with open(path, "wb") as f:
                        f.write(change["raw"])
                else:
                    rewrite_fmu(FMU, path, **change)
                done = run([path], d)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavelo-sim: "), done.stderr)
                self.assertIn(message, done.stderr)


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
        for args in [[], ["--interval", "0.002"], ["--start", "0.0005"], ["--interval", "0.3"]]:
            with self.subTest(args=args):
                done = self.simulate("--set", "scenario=6", "--stop", "2", *args)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertGreater(summary_count(done.stdout, "events"), 1)

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

    def test_a_model_error_ends_the_run_with_its_message(self):
        done = self.simulate("--set", "scenario=3")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
        self.assertRegex(done.stderr, r"^tavelo-sim: fmiGetDerivatives returned fmiError at t = "
                                      r"0\.2\d* s: the test model fails at t = 0\.2")


class FailureReports(unittest.TestCase):
    """A failure that ends the run shows the model's own report of it without --log (the call
    made again with debug logging on, in a process of its own); warnings are counted."""

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

    def test_a_failing_friction_solve(self):
        # The pendulum's own inertia about its joint cancels its mass's: the friction system
        # turns singular as it swings, its solve is rejected and fmiGetDerivatives returns
        # fmiDiscard until CVODE gives up. The evaluation made again on the run's instance
        # shows why; the result written so far stays whole.
        with scratch() as d:
            done = self.run_in(d, ["--stop", "2", "--set", "pendulum.I_11=-0.00155084", FMU])
            self.assertEqual((done.returncode, done.stdout), (1, ""))
            lines = done.stderr.splitlines()
            self.assertRegex(lines[0], r"^tavelo-sim: the integrator failed at t = 1\.38\d* s "
                                       r"\(CV_CONV_FAILURE\): the model discarded its evaluation "
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

    def test_a_replay_that_crashes_or_hangs_or_follows_fmiFatal(self):
        # The test model fails at 0.2 s with fmiError; made again with debug logging on, its
        # call aborts (7) or never returns (8). After fmiFatal (9) the instance may only be
        # freed: the test model aborts on any other call.
        cases = [
            ("7", "fmiError", "the test model fails",
             " (the replay ended by signal 6 (Aborted); --log shows the model's messages)"),
            ("8", "fmiError", "the test model fails",
             " (the replay did not end within 10 s; --log shows the model's messages)"),
            ("9", "fmiFatal", "the test model fails fatally", ""),
        ]
        for scenario, status, message, note in cases:
            with self.subTest(scenario=scenario), scratch() as d:
                done = self.run_in(d, ["--set", "scenario=" + scenario, TEST_FMU])
                self.assertEqual((done.returncode, done.stdout), (1, ""), done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertRegex(done.stderr, rf"^tavelo-sim: fmiGetDerivatives returned {status} "
                                 rf"at t = 0\.2\d* s: {message} at t = 0\.2\d* s"
                                 + re.escape(note) + "\n$")

    def test_warnings_are_counted_with_the_first_ones_message(self):
        # A description that claims 3 of the 4 states: every call that passes states warns
        # (the library forwards no warning without debug logging), the pendulum stands still.
        # The first warning comes from fmiGetContinuousStates when the integrator starts.
        first = ("the first fmiGetContinuousStates at t = 0 s: fmiGetContinuousStates: "
                 "argument nx = 3 is incorrect, should be 4")
        with scratch() as d:
            path = os.path.join(d, "Three.fmu")
            rewrite_fmu(FMU, path, description=lambda x: x.replace(
                'numberOfContinuousStates="4"', 'numberOfContinuousStates="3"'))
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


if __name__ == "__main__":
    unittest.main()
