#!/usr/bin/env python3
"""Independent references of the mask builders, by scipy.ndimage.

Usage: mask_reference.py IN OUT sobel|prewitt T      (IN: "w h" then the plane row by row)
       mask_reference.py IN OUT fill X Y             (IN: "w h" then 0/1 row by row)
OUT gets one 0/1 per pixel: for sobel/prewitt the interior pixels whose squared gradient
reaches (4T)^2 or (3T)^2; for fill the 4-connected component of clear pixels holding (X, Y).
"""
import sys

import numpy as np
from scipy import ndimage


def main():
    src, dst, what = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(src) as f:
        w, h = (int(v) for v in f.readline().split())
        p = np.array([float(v) for v in f.read().split()], dtype=np.float64).reshape(h, w)
    if what in ("sobel", "prewitt"):
        t = float(sys.argv[4])
        op = ndimage.sobel if what == "sobel" else ndimage.prewitt
        scale = 4.0 if what == "sobel" else 3.0
        g2 = op(p, axis=0) ** 2 + op(p, axis=1) ** 2
        out = g2 >= (scale * t) ** 2
        out[0, :] = out[-1, :] = False
        out[:, 0] = out[:, -1] = False
    else:
        x, y = int(sys.argv[4]), int(sys.argv[5])
        labels, _ = ndimage.label(p == 0)
        out = labels == labels[y, x]
    with open(dst, "w") as f:
        f.write("\n".join(str(int(v)) for v in out.ravel()))


main()
