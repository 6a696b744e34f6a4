#!/usr/bin/env python3
"""Oracle for the Gaussian blur: a plane blurred along its columns, then along its rows,
in double precision. Inside, scipy's correlate1d with the given taps; at the ends, where
taps fall outside the line, the taps inside with their sum as divisor (the first f and
the last f + 1 samples of a line, f = half the kernel).

Input file: "w h", then the column taps, then the row taps (each line: count, taps), then
h lines of w values (row 0 first). Output file: h lines of w values.
"""
import sys

import numpy as np
from scipy import ndimage


def blur_lines(a, taps, axis):
    """Blurs every line of a along axis."""
    n = a.shape[axis]
    length = len(taps)
    f = length // 2
    out = ndimage.correlate1d(a, taps, axis=axis, mode="constant")
    b = np.moveaxis(a, axis, 0)
    o = np.moveaxis(out, axis, 0)
    for p in range(n):
        if f <= p <= n - f - 2:
            continue
        j = np.arange(max(0, f - p), min(length, n + f - p))
        w = taps[j]
        o[p] = np.tensordot(w, b[p - f + j], axes=(0, 0)) / w.sum()
    return out


def read_taps(line):
    values = [float(t) for t in line.split()]
    return np.array(values[1:], dtype=np.float64)


def main(source, target):
    with open(source) as f:
        w, h = (int(t) for t in f.readline().split())
        ky = read_taps(f.readline())
        kx = read_taps(f.readline())
        a = np.loadtxt(f, ndmin=2).reshape(h, w)
    a = blur_lines(a, ky, 0)
    a = blur_lines(a, kx, 1)
    np.savetxt(target, a, fmt="%.17g")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
