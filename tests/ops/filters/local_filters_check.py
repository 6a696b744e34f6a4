#!/usr/bin/env python3
"""The picture of the local filters' end-to-end test, and its check.

local_filters_check.py make IN.png
local_filters_check.py compare IN.png OUT.png LensBlur|Median RADIUS
The check filters every channel of IN with scipy.ndimage (the disc of cells within
RADIUS + 0.5 of the centre, mode 'reflect': the edge sample repeated) and accepts OUT when
no byte differs by more than one level (the float result is rounded to bytes on saving).
"""
import sys

import numpy as np
from PIL import Image
from scipy import ndimage


def make(path):
    y, x = np.mgrid[0:41, 0:53]
    r = 128 + 100 * np.sin(x * 0.37) * np.cos(y * 0.23) + (x * 7 + y * 13) % 17
    g = (x * 5 + y * 3) % 256
    b = (x * y) % 251
    rgb = np.dstack([r, g, b]).clip(0, 255).astype(np.uint8)
    Image.fromarray(rgb).save(path)


def compare(src, out, command, radius):
    a = np.asarray(Image.open(src).convert("RGB"), dtype=np.float64)
    z = np.asarray(Image.open(out).convert("RGB"), dtype=np.float64)
    yy, xx = np.mgrid[-radius:radius + 1, -radius:radius + 1]
    disc = np.sqrt(xx * xx + yy * yy) <= radius + 0.5
    want = np.empty_like(a)
    for c in range(3):
        if command == "LensBlur":
            want[:, :, c] = ndimage.correlate(a[:, :, c], disc / disc.sum(), mode="reflect")
        else:
            want[:, :, c] = ndimage.median_filter(a[:, :, c], footprint=disc, mode="reflect")
    worst = np.abs(np.round(want) - z).max()
    print("largest difference %g levels" % worst)
    return 0 if worst <= 1 else 1


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
