#!/usr/bin/env python3
"""Least-squares oracle for the gradient solvers: reads a sparse system and solves it with
scipy's LSQR in double precision.

Input file: "rows cols", then "count", then count lines "row col value", then rows lines
of b. Output file: cols lines of x.
"""
import sys

import numpy as np
from scipy.sparse import coo_matrix
from scipy.sparse.linalg import lsqr


def main(source, target):
    with open(source) as f:
        rows, cols = (int(t) for t in f.readline().split())
        count = int(f.readline())
        entries = np.loadtxt(f, max_rows=count, ndmin=2)
        b = np.loadtxt(f, ndmin=1)
    a = coo_matrix((entries[:, 2], (entries[:, 0].astype(int), entries[:, 1].astype(int))),
                   shape=(rows, cols)).tocsr()
    x = lsqr(a, b, atol=1e-14, btol=1e-14, iter_lim=200000)[0]
    np.savetxt(target, x, fmt="%.17g")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
