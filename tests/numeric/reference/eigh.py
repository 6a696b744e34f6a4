#!/usr/bin/env python3
"""Oracle for the 2 x 2 symmetric eigen analysis: numpy.linalg.eigh in double precision.

Input file: one tensor a c b a line. Output file: one line per tensor with the smaller
and the larger eigenvalue, then the unit eigenvector of the smaller (x y) and that of the
larger (x y).
"""
import sys

import numpy as np


def main():
    rows = np.loadtxt(sys.argv[1], ndmin=2)
    with open(sys.argv[2], "w") as out:
        for a, c, b in rows:
            w, v = np.linalg.eigh(np.array([[a, c], [c, b]]))
            out.write("%.17g %.17g %.17g %.17g %.17g %.17g\n"
                      % (w[0], w[1], v[0, 0], v[1, 0], v[0, 1], v[1, 1]))


main()
