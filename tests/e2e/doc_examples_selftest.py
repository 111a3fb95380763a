#!/usr/bin/python3
"""doc_examples.py on pages of its own: examples that agree must pass, each one that differs
must be reported by its line, and a page without examples must be skipped.

usage: doc_examples_selftest.py BUILD_DIR [unittest options]
"""
import functools
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "doc_examples.py")
FIXTURES = os.path.join(HERE, "doc_examples_fixtures")
NAME = "tests/e2e/doc_examples_fixtures/"
BUILD_DIR = None


@functools.cache
def run(pages, *options):
    """doc_examples.py on fixture pages; a block there that hangs gets 3 s."""
    return subprocess.run([sys.executable, RUNNER, "--timeout", "3", *options, BUILD_DIR]
                          + [os.path.join(FIXTURES, page) for page in pages],
                          capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, LANG="de_DE.UTF-8", LC_NUMERIC="de_DE.UTF-8",
                                   COLUMNS="40"))


def verdicts(stdout):
    """The line of each example in the report, with its verdict."""
    return {int(m.group(1)): m.group(2)
            for m in re.finditer(r"^\S+\.md:(\d+): (agrees|differs|skipped.*)$", stdout, re.M)}


def noted_lines(page, note):
    """The lines of the first command after each note "<!-- NOTE: ... -->" of a fixture."""
    with open(os.path.join(FIXTURES, page)) as text:
        lines = text.read().splitlines()
    notes = [i for i, line in enumerate(lines) if line.startswith(f"<!-- {note}:")]
    return {next(k for k in range(i, len(lines)) if lines[k].lstrip().startswith("$ ")) + 1
            for i in notes}


class DocExamples(unittest.TestCase):
    def test_examples_that_agree_pass(self):
        result = run(("agree.md",), "--timeout", "60")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        found = verdicts(result.stdout)
        [skipped] = noted_lines("agree.md", "not run")
        self.assertEqual(found.pop(skipped),
                         "skipped (not run: it shows what would differ if it ran)")
        self.assertEqual(set(found.values()), {"agrees"}, result.stdout)
        self.assertIn("doc_examples: 8 agree, 0 differ, 1 skipped", result.stdout)

    def test_each_example_that_differs_fails(self):
        result = run(("differ.md",))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        found = verdicts(result.stdout)
        differing = {line for line, verdict in found.items() if verdict == "differs"}
        self.assertEqual(differing, noted_lines("differ.md", "differs"), result.stdout)
        self.assertEqual(found[max(found)], "agrees", result.stdout)
        self.assertIn("doc_examples: 1 agree, 12 differ, 0 skipped", result.stdout)

    def test_report_names_the_page_and_shows_the_difference(self):
        result = run(("differ.md",))
        self.assertIn(f"--- {NAME}differ.md:7 (documented)\n+++ {NAME}differ.md:7 (actual)\n",
                      result.stdout)
        for line in ["-tavelo-sim: unknown flag --bogus (see tavelo-sim --help)",
                     "+tavelo-sim: unknown option --bogus (see tavelo-sim --help)",
                     "-1\n+2", "+  events            1", "+[timed out after 3 s]"]:
            self.assertIn(f"\n{line}\n", result.stdout)

    def test_page_without_examples_is_skipped(self):
        result = run(("no_example.md",))
        self.assertEqual(result.returncode, 77, result.stdout + result.stderr)
        self.assertIn(f"skipped: {NAME}no_example.md: no example", result.stdout)
        self.assertEqual(verdicts(result.stdout), {})

    def test_page_without_examples_is_not_hidden_by_another(self):
        self.assertEqual(run(("agree.md", "no_example.md")).returncode, 77)
        self.assertEqual(run(("no_example.md", "differ.md")).returncode, 1)


if __name__ == "__main__":
    BUILD_DIR = sys.argv.pop(1)
    unittest.main()
