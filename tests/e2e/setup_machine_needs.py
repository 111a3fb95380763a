#!/usr/bin/python3
"""The package sets of scripts/setup-machine.sh hold what the build and the run need, as this
build folder shows it: every file they use from the system belongs to a package that the set
brings, its own or one they depend on (recursively, as installed here, without recommends).

The simulate set: the programs and libraries that the main command's configuration finds
(configured here with scripts/simulate.sh's options), the headers its targets compiled and the
libraries they linked (the dependency files and link lines outside tests/ and bench/), the
shared libraries that tavelo-sim and the model's library load, and the Python modules that the
picture loads, drawn from a real run. The full set: the same of the whole build folder, tests
and benchmarks included (the libraries every program and library it built loads), and the
modules that the tests' Python files import. The headers that scripts/cvode-headers.sh unpacks
into its cache belong to no installed package and are left out.

usage: setup_machine_needs.py SOURCE_DIR BUILD_DIR TAVELO_SIM MODEL_LIBRARY TAVELO_FMU SCRATCH_DIR
"""
import ast
import os
import shlex
import shutil
import subprocess
import sys

PYTHON = "/usr/bin/python3"  # the picture's interpreter, as scripts/simulate.sh runs it

# Run by PYTHON: the file of every module that the code in argv[2] loads (the rest of argv its
# arguments), one a line into argv[1]; not those the interpreter loaded at its start (such as a
# .pth file's of whatever is installed). The code either draws the picture (a script) or
# imports modules (a list of names).
MODULE_FILES = r"""
import runpy, sys
started = set(sys.modules)
out, what, args = sys.argv[1], sys.argv[2], sys.argv[3:]
try:
    if what == "--import":
        sys.path[:0] = args[:1]
        for name in args[1:]:
            __import__(name)
    else:
        sys.argv = [what] + args
        try:
            runpy.run_path(what, run_name="__main__")
        except SystemExit as e:
            if e.code not in (None, 0):
                raise
finally:
    with open(out, "w") as f:
        for name, m in list(sys.modules.items()):
            path = None if name in started else getattr(m, "__file__", None)
            if path:
                print(path, file=f)
"""


def output(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs).stdout


class Needs:
    """The files of the system that a build or run uses, each with what uses it."""

    def __init__(self, excluded):
        self.excluded = [os.path.realpath(d) + os.sep for d in excluded]
        self.files = {}

    def update(self, other):
        for f, why in other.files.items():
            self.files.setdefault(f, why)

    def add(self, path, why):
        if not os.path.isabs(path) or not os.path.exists(path):
            return
        # The file by the name it was used under, its folder resolved (a merged /usr has /lib
        # lead to /usr/lib), and the file that name leads to.
        named = os.path.join(os.path.realpath(os.path.dirname(path)), os.path.basename(path))
        for f in {named, os.path.realpath(path)}:
            if not any(f.startswith(d) for d in self.excluded):
                self.files.setdefault(f, why)


def configured_files(needs, build):
    """The paths to files in a CMake cache: the programs and libraries the configuration found,
    and CMake itself with its modules."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition(":")
            kind, _, value = value.partition("=")
            if value.startswith("/") and (
                    kind == "FILEPATH" or name in ("CMAKE_COMMAND", "CMAKE_ROOT")):
                needs.add(value, f"the configuration's {name}")


def build_files(build, skipped):
    """The files of the build folder, less those below the top folders named in skipped."""
    for top, dirs, files in os.walk(build):
        if top == build:
            dirs[:] = [d for d in dirs if d not in skipped]
        for name in files:
            yield os.path.join(top, name)


def build_inputs(needs, build, skipped):
    """The files that the build's dependency files and link lines name."""
    compiler = None
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_CXX_COMPILER:FILEPATH="):
                compiler = line.split("=", 1)[1].strip()
    found = 0
    for path in build_files(build, skipped):
        if path.endswith(".o.d") or os.path.basename(path) == "link.txt":
            found += 1
            with open(path) as f:
                words = f.read().replace("\\\n", " ").split()
            for word in words:
                if word.startswith("-l") and compiler:
                    # A library the linker finds on its search path, shared or static.
                    for suffix in ("so", "a"):
                        lib = output([compiler, f"-print-file-name=lib{word[2:]}.{suffix}"])
                        if lib.strip().startswith("/"):
                            needs.add(lib.strip(), f"{word} in {path}")
                            break
                elif word.startswith("/"):
                    needs.add(word, path)
    if found == 0:
        sys.exit(f"no dependency files or link lines in {build}")


def is_program_or_library(path):
    """An ELF executable or shared library (not an object file)."""
    try:
        with open(path, "rb") as f:
            head = f.read(18)
    except OSError:
        return False
    return len(head) == 18 and head[:4] == b"\x7fELF" and head[16] in (2, 3)


def loaded_libraries(needs, binaries, failures):
    """The shared libraries that programs and libraries load, as ldd finds them."""
    for binary in binaries:
        run = subprocess.run(["ldd", binary], capture_output=True, text=True)
        if run.returncode != 0:
            continue  # no dynamic program (the tests' deliberately broken files among them)
        for line in run.stdout.splitlines():
            if "=> not found" in line:
                failures.append(f"{binary} loads {line.split()[0]}, which this machine lacks")
            words = line.split()
            for w in words:
                if w.startswith("/"):
                    needs.add(w, f"loaded by {binary}")
                    break


def module_files(needs, scratch, what, args, why):
    out = os.path.join(scratch, "modules.txt")
    subprocess.run([PYTHON, "-c", MODULE_FILES, out, what] + args, check=True, cwd=scratch,
                   stdout=subprocess.DEVNULL)
    with open(out) as f:
        for line in f:
            needs.add(line.strip(), why)


def picture_modules(needs, source, sim, fmu, scratch):
    """The modules that the picture of a real run loads, and the interpreter."""
    run_dir = os.path.join(scratch, "run")
    os.makedirs(run_dir)
    subprocess.run([sim, "--quiet", fmu], check=True, cwd=run_dir)
    script = os.path.join(source, "scripts", "plot_result.py")
    module_files(needs, run_dir, script, ["dsres.mat", "-o", "dsres.png"], "the picture")
    if not os.path.exists(os.path.join(run_dir, "dsres.png")):
        sys.exit("the picture was not drawn")
    needs.add(PYTHON, "the picture")


def test_imports(needs, source, scratch):
    """The modules that the tests' Python files import (their own files left aside)."""
    names = set()
    for top, _, files in os.walk(os.path.join(source, "tests")):
        for name in files:
            if name.endswith(".py"):
                with open(os.path.join(top, name)) as f:
                    tree = ast.parse(f.read())
                for node in ast.walk(tree):
                    if isinstance(node, ast.Import):
                        names.update(a.name for a in node.names)
                    elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
                        names.add(node.module)
    module_files(needs, scratch, "--import",
                 [os.path.join(source, "scripts")] + sorted(names), "the tests' imports")


def owners(files):
    """The packages of each file, by the paths dpkg installed (which on a merged /usr may lack
    the /usr that a resolved path has): {file: [packages]}, [] for a file of no package."""
    arch = output(["dpkg", "--print-architecture"]).strip()
    queries = {}
    for f in files:
        queries[f] = [f] + ([f[4:]] if f.startswith(("/usr/lib", "/usr/bin", "/usr/sbin")) else [])
    args = sorted({q for qs in queries.values() for q in qs})
    known = {}
    for i in range(0, len(args), 500):
        run = subprocess.run(["dpkg-query", "-S"] + args[i:i + 500], capture_output=True,
                             text=True)
        for line in run.stdout.splitlines():
            if line.startswith("diversion "):
                continue
            packages, sep, path = line.partition(": /")
            if sep:
                known["/" + path] = [p.strip().removesuffix(":" + arch)
                                     for p in packages.split(",")]
    return {f: sum((known.get(q, []) for q in qs), []) for f, qs in queries.items()}


def brought(source, set_name):
    """The packages a set brings: its own and what they depend on, recursively, of those
    installed."""
    packages = output(["bash", os.path.join(source, "scripts", "setup-machine.sh"), set_name,
                       "--print"]).split()
    tree = output(["apt-cache", "depends", "--recurse", "--installed", "--no-recommends",
                   "--no-suggests", "--no-conflicts", "--no-breaks", "--no-replaces",
                   "--no-enhances"] + packages)
    return {line.strip() for line in tree.splitlines() if line and not line[0].isspace()
            and not line.startswith("<")}


def check(source, set_name, needs, failures):
    """Whether the set brings the package of every needed file; one failure per package it
    lacks, naming the first of its files. The number of packages needed."""
    have = brought(source, set_name)
    if not have:
        failures.append(f"apt-cache shows no package of the {set_name} set installed")
        return 0
    packages = set()
    missing = {}
    for f, owned_by in sorted(owners(needs.files).items()):
        why = needs.files[f]
        if not owned_by:
            # A link made by update-alternatives: the file it leads to is checked.
            if not os.path.islink(f):
                failures.append(f"{f} ({why}) belongs to no package: a new machine lacks it")
        elif not any(p in have for p in owned_by):
            missing.setdefault(", ".join(owned_by), []).append(f"{f} ({why})")
        packages.update(owned_by)
    for package, files in missing.items():
        more = f" and {len(files) - 1} more of its files" if len(files) > 1 else ""
        failures.append(f"the {set_name} set brings no {package}, whose {files[0]}{more} its "
                        f"build or run needs")
    return len(packages)


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__.strip().splitlines()[-1])
    source, build, sim, model, fmu, scratch = (os.path.realpath(a) for a in sys.argv[1:])
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    cache = None
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("TAVELO_CVODE_CACHE:PATH="):
                cache = line.split("=", 1)[1].strip()
    if not cache:
        sys.exit(f"no TAVELO_CVODE_CACHE in {build}/CMakeCache.txt")
    excluded = [source, build, scratch, cache]
    failures = []

    # The main command's configuration, with scripts/simulate.sh's -D options and this build's
    # cache of CVODE's headers (nothing to download).
    with open(os.path.join(source, "scripts", "simulate.sh")) as f:
        text = f.read().replace("\\\n", " ")
    command = next(line for line in text.splitlines() if line.startswith("cmake -S"))
    options = [w for w in shlex.split(command) if w.startswith("-D")]
    configured = os.path.join(scratch, "configure")
    run = subprocess.run(["cmake", "-S", source, "-B", configured] + options +
                         [f"-DTAVELO_CVODE_CACHE={cache}"], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(run.stdout + run.stderr + "the main command's configuration failed")

    # The tests' scratch folders in the build folder (this one's among them) hold no part of
    # the build, only what the tests made, also while this one runs.
    scratch_top = os.path.relpath(scratch, build).split(os.sep)[0]
    picture = Needs(excluded)
    picture_modules(picture, source, sim, fmu, scratch)

    simulate = Needs(excluded)
    configured_files(simulate, configured)
    shutil.rmtree(configured)
    build_inputs(simulate, build, {"tests", "bench", scratch_top})
    loaded_libraries(simulate, [sim, model], failures)
    simulate.update(picture)
    simulate_packages = check(source, "simulate", simulate, failures)

    full = Needs(excluded)
    configured_files(full, build)
    build_inputs(full, build, {scratch_top})
    loaded_libraries(full, [f for f in build_files(build, {scratch_top})
                            if is_program_or_library(f)], failures)
    full.update(picture)
    test_imports(full, source, scratch)
    full_packages = check(source, "full", full, failures)

    if failures:
        sys.exit("\n".join(failures))
    shutil.rmtree(scratch, ignore_errors=True)
    print(f"the simulate set brings the {simulate_packages} packages of the "
          f"{len(simulate.files)} system files the main command's build and run use; the full "
          f"set the {full_packages} packages of the {len(full.files)} files of the whole build, "
          f"its programs and the tests' imports")


if __name__ == "__main__":
    main()
