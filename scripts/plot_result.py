#!/usr/bin/python3
"""Draws variables of a result file "dsres.mat" over time into a PNG picture.

usage: plot_result.py [-o PICTURE.png] [RESULT.mat] [NAME ...]

RESULT.mat defaults to dsres.mat, the picture to RESULT with .png, the names to the four
states of the pendulum. Variables are found by name through the file's dataInfo matrix,
aliases and their signs included; `Result` can be imported to read the file from Python.
"""
import argparse
import os
import stat
import struct
import sys

import numpy as np

DEFAULT_NAMES = ["armJoint.phi", "armJoint.w", "pendulumJoint.phi", "pendulumJoint.w"]


class NotAResultFile(ValueError):
    """A file that is no MAT version 4 result file; the message names the file and the problem."""

    def __init__(self, path, problem):
        super().__init__(f"{path}: {problem}")
        self.path = path
        self.problem = problem


# The element types of MAT version 4 by the tens digit of a matrix's type: double, single,
# int32, int16, uint16, uint8, all little-endian (the writer's byte order on every platform).
_ELEMENT_TYPES = ["<f8", "<f4", "<i4", "<i2", "<u2", "u1"]
_HEADER = struct.Struct("<5i")  # type, mrows, ncols, imaginary part flag, name length


def _read_file(path):
    """The bytes of a file, and whether it was being written while they were read: a regular
    file whose size or time of change after the read is not that before it (a run that
    appends columns meanwhile, or counts one; the time alone can miss a change on a clock of
    coarse steps). A pipe's size is no file's."""
    with open(path, "rb") as f:
        before = os.fstat(f.fileno())
        data = f.read()
        after = os.fstat(f.fileno())
    changed = (after.st_size, after.st_mtime_ns) != (before.st_size, before.st_mtime_ns)
    return data, stat.S_ISREG(before.st_mode) and changed


def _read_matrices(path, data, growing, written_meanwhile=False):
    """The matrices of a MAT version 4 file, {name: (holds text, elements)}, the elements of
    each as stored, one stored column per row (ncols x mrows); and the number of bytes after
    the last matrix where that is `growing`: at most one more stored column, the bytes of a
    column written without its count (a run killed while appending it), or any number where
    the file was `written_meanwhile` (the columns appended after the count was read)."""
    if not data:
        raise NotAResultFile(path, "empty file, no MAT version 4 result file")
    if data.startswith(b"MATLAB "):
        raise NotAResultFile(path, "a MAT file of version 5 or later, no MAT version 4 result "
                                   "file")
    matrices = {}
    at, last = 0, None
    while at < len(data):
        if last is not None and last == growing:
            elements = matrices[last][1]
            extra = len(data) - at
            if extra > elements.shape[1] * elements.itemsize and not written_meanwhile:
                raise NotAResultFile(path, f"{extra} bytes after the {elements.shape[0]} columns "
                                           f"of {last} that its header counts, more than one "
                                           "column")
            return matrices, extra
        if len(data) - at < _HEADER.size:
            raise NotAResultFile(path, f"cut short in the matrix header at byte {at}")
        mopt, mrows, ncols, imagf, namlen = _HEADER.unpack_from(data, at)
        # mopt: 0 thousands (little-endian), 0 hundreds, the element type in the tens, and
        # 0 (numbers) or 1 (text) in the units; sparse matrices hold no results.
        if not (0 <= mopt < 10 * len(_ELEMENT_TYPES) and mopt % 10 <= 1 and mrows >= 0
                and ncols >= 0 and imagf == 0 and namlen >= 1):
            raise NotAResultFile(path, f"no MAT version 4 result file: no matrix header at byte "
                                       f"{at} (type {mopt}, {mrows} x {ncols}, imaginary part "
                                       f"{imagf}, name length {namlen})")
        at += _HEADER.size
        name = data[at:at + namlen]
        if len(name) < namlen or name[-1] != 0:
            raise NotAResultFile(path, f"bad matrix name at byte {at}")
        name = name[:-1].decode("latin-1")
        at += namlen
        # Columns of no elements take no bytes; iterated as text, a count no file of this
        # size can hold would take as long and as much memory as that many names.
        if mrows == 0 and ncols > len(data):
            raise NotAResultFile(path, f"matrix {name} counts {ncols} columns of no elements, "
                                       f"more than the file's {len(data)} bytes")
        element_type = np.dtype(_ELEMENT_TYPES[mopt // 10])
        if len(data) - at < mrows * ncols * element_type.itemsize:
            raise NotAResultFile(path, f"cut short in the elements of matrix {name}")
        if name in matrices:
            raise NotAResultFile(path, f"two matrices named {name}")
        elements = np.frombuffer(data, element_type, mrows * ncols, at).reshape(ncols, mrows)
        matrices[name] = (mopt % 10 == 1, elements)
        at += elements.nbytes
        last = name
    return matrices, 0


class Result:
    """A result file: names, descriptions, and the values of each variable over time.

    A file that is no MAT version 4 result file raises NotAResultFile. A run killed while it
    appended a column of data_2 (one recorded time) can leave that column's bytes, not
    counted, at the end of the file: the counted columns are read, and a warning on the
    standard error stream names the bytes left out (also in `ignored_bytes`). A file that a
    run writes while it is read (`being_written`) is read as the columns of data_2 counted
    when the count was read, with a line on the standard error stream that says so."""

    def __init__(self, path):
        data, self.being_written = _read_file(path)
        matrices, self.ignored_bytes = _read_matrices(path, data, "data_2", self.being_written)

        def matrix(name, text, required=True):
            if name not in matrices:
                if required:
                    raise NotAResultFile(path, f"no matrix {name}, no result file")
                return None
            is_text, elements = matrices[name]
            if is_text != text:
                raise NotAResultFile(path, f"matrix {name} holds "
                                           f"{'numbers' if text else 'text'}, not "
                                           f"{'text' if text else 'numbers'}")
            return elements

        def strings(elements):
            if not np.all((elements >= 0) & (elements < 256)):
                raise NotAResultFile(path, "a text matrix holds codes that are no characters")
            return [bytes(row.astype(np.uint8)).decode("latin-1").rstrip(" \0")
                    for row in elements]

        # The writer stores the matrices transposed: one name, one description, one dataInfo
        # entry per stored column; data_1 and data_2 one time per stored column.
        aclass = matrix("Aclass", text=True, required=False)
        if aclass is not None and aclass.shape[1] == 4 and strings(aclass.T)[3] != "binTrans":
            raise NotAResultFile(path, f"matrices stored as {strings(aclass.T)[3]}, not "
                                       "transposed (binTrans)")
        self.names = strings(matrix("name", text=True))
        described = matrix("description", text=True, required=False)
        self.descriptions = ([""] * len(self.names) if described is None
                             else strings(described))
        info = matrix("dataInfo", text=False)
        data1 = matrix("data_1", text=False, required=False)
        self._data2 = matrix("data_2", text=False)
        if len(self.descriptions) != len(self.names) or info.shape[0] != len(self.names) \
                or info.shape[1] < 2:
            raise NotAResultFile(path, f"{len(self.names)} names, {len(self.descriptions)} "
                                       f"descriptions and a {info.shape[1]} x {info.shape[0]} "
                                       "dataInfo do not fit together")
        if self._data2.shape[1] < 1:
            raise NotAResultFile(path, "data_2 has no row for the time")
        # Per variable: the data matrix (0 the time, 1 data_1, 2 data_2) and the row there as
        # ±(row), negative for a negated alias; whole numbers, also where stored as floats.
        if info.dtype.kind == "f":
            whole = np.isfinite(info[:, :2]) & (np.trunc(info[:, :2]) == info[:, :2]) \
                & (np.abs(info[:, :2]) < 2.0 ** 31)
            if not np.all(whole):
                i, j = np.argwhere(~whole)[0]
                raise NotAResultFile(path, f"dataInfo of {self.names[i]} holds {info[i, j]:g}, "
                                           "which is no matrix or row number")
        self._info = info[:, :2].astype(np.int64)
        rows = {1: data1.shape[1] if data1 is not None and data1.shape[0] > 0 else 0,
                2: self._data2.shape[1]}
        for i, (which, row) in enumerate(self._info):
            if which != 0 and not (which in rows and 1 <= abs(row) <= rows[which]):
                raise NotAResultFile(path, f"dataInfo of {self.names[i]} points to row {row} of "
                                           f"data matrix {which}, which has "
                                           f"{rows.get(which, 0)} rows")
        self._data1 = data1
        self._index = {name: i for i, name in enumerate(self.names)}
        self.time = self._data2[:, 0].astype(float)
        self._warn_of_what_was_left_out(path)

    def _warn_of_what_was_left_out(self, path):
        """One line on the standard error stream for a file read as it was being written, or
        one that ends in the bytes of a column without its count."""
        if self.being_written:
            left_out = f", left out the {self.ignored_bytes} bytes after them" \
                if self.ignored_bytes else ""
            print(f"plot_result.py: {path}: being written while it was read: read the "
                  f"{len(self.time)} columns of data_2 that it counted then{left_out}",
                  file=sys.stderr)
        elif self.ignored_bytes:
            print(f"plot_result.py: {path}: ignored {self.ignored_bytes} bytes after the "
                  f"{len(self.time)} columns of data_2 that the file counts (a column whose "
                  "writing was cut short)", file=sys.stderr)

    def values(self, name):
        """The values of a variable at every recorded time, as doubles."""
        if name not in self._index:
            raise KeyError(f"no variable {name} in the result")
        which, row = self._info[self._index[name]]
        sign = -1.0 if row < 0 else 1.0
        if which == 0:
            return self.time
        if which == 1:
            return np.full(self.time.shape, sign * float(self._data1[0, abs(row) - 1]))
        return sign * self._data2[:, abs(row) - 1].astype(float)

    def description(self, name):
        return self.descriptions[self._index[name]]


def plot(result, names, picture, title):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(len(names), 1, sharex=True, squeeze=False,
                                figsize=(8, 1.8 + 1.6 * len(names)))
    for ax, name in zip(axes[:, 0], names):
        ax.plot(result.time, result.values(name), linewidth=1.2)
        ax.set_ylabel(name, fontsize=8)
        ax.grid(True, linewidth=0.4)
        description = result.description(name)
        if description:
            ax.set_title(description, fontsize=8, loc="left")
    axes[-1, 0].set_xlabel("time [s]")
    figure.suptitle(title)
    figure.tight_layout()
    figure.savefig(picture, dpi=100)
    plt.close(figure)


def main(argv):
    parser = argparse.ArgumentParser(description="Draws variables of dsres.mat over time.")
    parser.add_argument("result", nargs="?", default="dsres.mat", help="the result file")
    parser.add_argument("names", nargs="*", help="variables to draw (default: the states)")
    parser.add_argument("-o", "--output", help="the picture (default: RESULT with .png)")
    args = parser.parse_args(argv)
    picture = args.output or os.path.splitext(args.result)[0] + ".png"
    try:
        result = Result(args.result)
        names = args.names or DEFAULT_NAMES
        for name in names:
            result.values(name)
        plot(result, names, picture, os.path.basename(args.result))
    except KeyError as error:
        print(f"plot_result.py: {error.args[0]}", file=sys.stderr)
        return 1
    except OSError as error:
        where = f"{error.filename}: " if error.filename is not None else ""
        print(f"plot_result.py: {where}{error.strerror or error}", file=sys.stderr)
        return 1
    except ValueError as error:
        print(f"plot_result.py: {error}", file=sys.stderr)
        return 1
    print(f"plot_result.py: {picture}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
