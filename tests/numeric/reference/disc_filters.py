#!/usr/bin/env python3
"""Disc mean and disc median of a plane by scipy.ndimage, the edges reflected with the
edge sample repeated: the independent reference of the lens blur and the median filter.

Usage: disc_filters.py IN OUT mean|median RADIUS
IN holds "width height" and then the values row by row; OUT gets the results the same way.
"""
import sys

import numpy as np
from scipy import ndimage


def disc(r):
    y, x = np.mgrid[-r:r + 1, -r:r + 1]
    return (np.sqrt(x * x + y * y) <= r + 0.5)


def main():
    src, dst, what, radius = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with open(src) as f:
        w, h = (int(t) for t in f.readline().split())
        a = np.array([float(t) for t in f.read().split()], dtype=np.float64).reshape(h, w)
    d = disc(radius)
    if what == "mean":
        out = ndimage.correlate(a, d.astype(np.float64) / d.sum(), mode="reflect")
    else:
        out = ndimage.median_filter(a, footprint=d, mode="reflect")
    with open(dst, "w") as f:
        f.write("%d %d\n" % (w, h))
        f.write("\n".join("%.9g" % v for v in out.ravel()))


if __name__ == "__main__":
    main()
