#!/usr/bin/python3
"""Draws variables of a result file "dsres.mat" over time into a PNG picture.

usage: plot_result.py [-o PICTURE.png] [RESULT.mat] [NAME ...]

RESULT.mat defaults to dsres.mat, the picture to RESULT with .png, the names to the four
states of the pendulum. Variables are found by name through the file's dataInfo matrix,
aliases and their signs included; `Result` can be imported to read the file from Python.
"""
import argparse
import os
import sys

import numpy as np
import scipy.io

DEFAULT_NAMES = ["armJoint.phi", "armJoint.w", "pendulumJoint.phi", "pendulumJoint.w"]


class Result:
    """A result file: names, descriptions, and the values of each variable over time."""

    def __init__(self, path):
        m = scipy.io.loadmat(path, chars_as_strings=False)
        # Text matrices hold one string per column, padded with blanks.
        self.names = ["".join(column).rstrip() for column in m["name"].T]
        self.descriptions = ["".join(column).rstrip() for column in m["description"].T]
        self._info = m["dataInfo"]   # per signal: matrix, ±(column + 1), 0, -1
        self._data1 = m["data_1"]    # time-invariant values: one row per variable, two times
        self._data2 = m["data_2"]    # one row per time-varying variable, one column per time
        self._index = {name: i for i, name in enumerate(self.names)}
        self.time = self._data2[0].astype(float) if self._data2.size else np.zeros(0)

    def values(self, name):
        """The values of a variable at every recorded time, as doubles."""
        if name not in self._index:
            raise KeyError(f"no variable {name} in the result")
        signal = self._index[name]
        matrix, column = int(self._info[0, signal]), int(self._info[1, signal])
        sign = -1.0 if column < 0 else 1.0
        row = abs(column) - 1
        if matrix == 0:
            return self.time
        if matrix == 1:
            return np.full(self.time.shape, sign * float(self._data1[row, 0]))
        return sign * self._data2[row].astype(float)

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
    except (OSError, ValueError) as error:
        print(f"plot_result.py: {error}", file=sys.stderr)
        return 1
    print(f"plot_result.py: {picture}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
