#!/usr/bin/python3
"""Runs the examples of Markdown pages and checks that each prints what the page shows.

usage: doc_examples.py [--timeout S] BUILD_DIR PAGE.md...

An example is a code block, indented by 4 spaces or fenced with ```, whose first non-empty line
begins with "$ ". Each "$ " line is a command (a line ending in a backslash continues it); the
lines after it up to the next command are its output, standard output and error together. A
line "..." matches any number of lines. In the real output the figure of the summary's
"  wall time         N.NNN s" and the N of "(pid N)" may be any, and the folder the block runs
in reads /home/me/tavelo. Blank lines at the end of an output do not count. A block after a
line "<!-- not run: REASON -->" is skipped.

The commands of a block run in order in one bash, in a fresh folder where build/release is the
build folder and scripts the checkout's scripts/, with LC_ALL=C. Exit status 1 when an example
differs, else 77 when a page has no example (or none was run), else 0.
"""
import argparse
import difflib
import os
import re
import signal
import subprocess
import sys
import tempfile
import uuid

CHECKOUT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
HOME = "/home/me/tavelo"
NOT_RUN = re.compile(r"<!--\s*not run:\s*(.*?)\s*-->")
FENCE = re.compile(r"( {0,3})(`{3,})[^`]*$")
WALL_TIME = re.compile(r"^(  wall time +)\d+\.\d+ s$")
PID = re.compile(r"\(pid \d+\)")
# Variables that would change what a command prints or how bash runs it.
DROPPED = {"LANG", "LANGUAGE", "COLUMNS", "LINES", "BASH_ENV", "ENV", "CDPATH", "SHELLOPTS",
           "BASHOPTS", "PS4", "POSIXLY_CORRECT", "GREP_OPTIONS", "GREP_COLORS", "LS_COLORS"}


def code_blocks(lines):
    """The page's code blocks: (number of their first line, their lines, reason not to run)."""
    blocks, i, skip = [], 0, None
    while i < len(lines):
        fence = FENCE.match(lines[i])
        if fence:
            end = closing_fence(lines, i + 1, fence.group(2))
            indent = len(fence.group(1))
            body = [re.sub(f"^ {{0,{indent}}}", "", line) for line in lines[i + 1:end]]
            blocks.append((i + 2, body, skip))
            i, skip = end + 1, None
        elif lines[i].startswith("    ") and (i == 0 or may_precede_code(lines[i - 1])):
            end = i
            while end < len(lines) and (lines[end].startswith("    ") or not lines[end].strip()):
                end += 1
            blocks.append((i + 1, [line[4:] for line in lines[i:end]], skip))
            i, skip = end, None
        else:
            # A "not run" note holds for the next block, across blank lines only.
            note = NOT_RUN.fullmatch(lines[i].strip())
            if note:
                skip = note.group(1)
            elif lines[i].strip():
                skip = None
            i += 1
    return blocks


def closing_fence(lines, start, opening):
    """The line that closes a fenced block opened with `opening`; the page's end if none does."""
    for i in range(start, len(lines)):
        if re.fullmatch(f" {{0,3}}{opening}`* *", lines[i]):
            return i
    return len(lines)


def may_precede_code(line):
    """An indented block cannot continue a paragraph: a blank line, heading or comment precedes."""
    line = line.strip()
    return not line or line.startswith("#") or (line.startswith("<!--") and line.endswith("-->"))


def commands(body):
    """An example's commands as (their lines, their documented output); None for no example."""
    body = body[next((k for k, line in enumerate(body) if line.strip()), len(body)):]
    if not body or not body[0].startswith("$ "):
        return None
    result, i = [], 0
    while i < len(body):
        if body[i].startswith("$ "):
            source = [body[i]]
            while source[-1].endswith("\\") and i + 1 < len(body):
                i += 1
                source.append(body[i])
            result.append((source, []))
        else:
            result[-1][1].append(body[i])
        i += 1
    return [(source, without_blank_end(output)) for source, output in result]


def without_blank_end(lines):
    end = len(lines)
    while end and not lines[end - 1].strip():
        end -= 1
    return lines[:end]


def example_environment():
    env = {name: value for name, value in os.environ.items()
           if name not in DROPPED and not name.startswith(("LC_", "TAVELO_", "BASH_FUNC_"))}
    env["LC_ALL"] = "C"
    return env


def run_example(example, build_dir, timeout):
    """The real outputs of an example's commands, run in one bash in a fresh folder."""
    base = os.environ.get("TAVELO_TEST_TMP") or None
    if base:
        os.makedirs(base, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=base, ignore_cleanup_errors=True) as folder:
        os.mkdir(os.path.join(folder, "build"))
        os.symlink(build_dir, os.path.join(folder, "build", "release"))
        os.symlink(os.path.join(CHECKOUT, "scripts"), os.path.join(folder, "scripts"))
        # After each command a line of its own marks its end and keeps its exit status for $?.
        mark = f"doc_examples: end of command {uuid.uuid4().hex}"
        script = f"doc_mark() {{ local s=$?; printf '\\n%s\\n' '{mark}'; return $s; }}\n"
        script += "".join("\n".join(source)[2:] + "\ndoc_mark\n" for source, _ in example)
        text, status = run_bash(script, folder, timeout)
        for path in sorted({folder, os.path.realpath(folder)}, key=len, reverse=True):
            text = text.replace(path, HOME)
    outputs = [part.removesuffix("\n").split("\n") if part else []
               for part in text.split(f"\n{mark}\n")]
    if len(outputs) > len(example):  # what follows the last mark came from background jobs
        tail = outputs.pop()
        outputs[-1] += tail
    elif status is not None:
        outputs[-1].append(f"[the shell ended with status {status}]")
    if status is None:
        outputs[-1].append(f"[timed out after {timeout:g} s]")
    outputs += [["[not run]"]] * (len(example) - len(outputs))
    return [without_blank_end(output) for output in outputs]


def run_bash(script, folder, timeout):
    """What the script printed on both streams, and bash's exit status (None: timed out)."""
    bash = subprocess.Popen(["/bin/bash", "-c", script], cwd=folder, env=example_environment(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = bash.communicate(timeout=timeout)
        status = bash.returncode
    except subprocess.TimeoutExpired:
        end_group(bash)
        out, _ = bash.communicate()
        status = None
    end_group(bash)  # whatever the block left running ends with it
    return out.decode(errors="replace"), status


def end_group(bash):
    try:
        os.killpg(bash.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def normalised(line):
    line = WALL_TIME.sub(r"\1N.NNN s", line)
    return PID.sub("(pid N)", line)


def agrees(expected, actual):
    """Whether the real output lines match the documented ones, "..." for any lines."""
    pattern = "".join(r"(?:.*\n)*?" if line == "..." else re.escape(normalised(line)) + r"\n"
                      for line in expected)
    return re.fullmatch(pattern, "".join(normalised(line) + "\n" for line in actual)) is not None


def difference(name, example, outputs):
    """A diff of the documented example against the real one, where a command agrees as shown."""
    shown, real = [], []
    for (source, expected), actual in zip(example, outputs):
        shown += source + [normalised(line) for line in expected]
        real += source + [normalised(line) for line in
                          (expected if agrees(expected, actual) else actual)]
    return "\n".join(difflib.unified_diff(shown, real, f"{name} (documented)",
                                          f"{name} (actual)", lineterm=""))


def page_examples(path):
    with open(path, encoding="utf-8") as page:
        lines = page.read().splitlines()
    # An example is told by the line of its first command.
    return [(line + body.index(example[0][0][0]), example, skip)
            for line, body, skip in code_blocks(lines) if (example := commands(body))]


def check_build(build_dir):
    """build/release/host/tavelo-sim and build/release/Tavelo.fmu must be the ones under test."""
    for relative, variable in (("host/tavelo-sim", "TAVELO_SIM"), ("Tavelo.fmu", "TAVELO_FMU")):
        path = os.path.join(build_dir, relative)
        wanted = os.environ.get(variable)
        if not os.path.isfile(path) or (wanted and not (os.path.isfile(wanted)
                                                        and os.path.samefile(path, wanted))):
            sys.exit(f"doc_examples: {path} is not the {variable} under test "
                     f"({wanted or 'unset'})")


def main():
    parser = argparse.ArgumentParser(description="Runs the examples of Markdown pages.")
    parser.add_argument("--timeout", type=float, default=60, help="seconds for each block")
    parser.add_argument("build_dir")
    parser.add_argument("pages", nargs="+")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    check_build(build_dir)
    counts, empty = {"agree": 0, "differ": 0, "skipped": 0}, []
    for path in args.pages:
        name = os.path.relpath(os.path.abspath(path), CHECKOUT)
        name = path if name.startswith("..") else name
        examples = page_examples(path)
        if not examples:
            empty.append(name)
        for line, example, skip in examples:
            if skip:
                print(f"{name}:{line}: skipped (not run: {skip})")
                counts["skipped"] += 1
                continue
            outputs = run_example(example, build_dir, args.timeout)
            if all(agrees(expected, actual) for (_, expected), actual in zip(example, outputs)):
                print(f"{name}:{line}: agrees")
                counts["agree"] += 1
            else:
                print(f"{name}:{line}: differs\n{difference(f'{name}:{line}', example, outputs)}")
                counts["differ"] += 1
    print("doc_examples: " + ", ".join(f"{n} {what}" for what, n in counts.items()))
    if counts["differ"]:
        return 1
    if empty or not counts["agree"]:
        reason = f"{', '.join(empty)}: no example" if empty else "no example was run"
        print(f"skipped: {reason}")
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())
