#!/usr/bin/env python3
"""The picture of the sharpeners' end-to-end test, and its check.

sharpen_check.py make IN.png
sharpen_check.py compare IN.png OUT.png UnsharpMask RADIUS
sharpen_check.py compare IN.png OUT.png Xsharpen WINDOW
sharpen_check.py compare IN.png OUT.png PeriodicSmoothing FUNCTION
sharpen_check.py compare IN.png OUT.png PoissonSharpener 0
Unsharp Mask (Gaussian mode, default thresholds) is checked in the interior against x + (x - g*x),
g the normalised Gaussian of sigma RADIUS over trunc(6 RADIUS + 0.5) taps made odd, through
scipy.ndimage.correlate1d. Xsharpen (threshold 12, amount 0.75) is checked against window
extremes from scipy.ndimage maximum_filter/minimum_filter. Periodic Smoothing (a honeycomb of
radius 3, median for FUNCTION 0, mean for 3) is checked against numpy's median and mean of the
shifted copies of the picture reflected at its edges. The Poisson Sharpener (amount 1, scale 0)
must give the picture back. OUT is accepted when no byte
differs by more than one level (the float result is rounded to bytes on saving). Pixels
where the reference leaves 0-255 in any channel are not compared: the byte conversion scales
such a pixel as a whole, where the reference clips each channel.
"""
import sys

import numpy as np
from PIL import Image
from scipy import ndimage


def make(path):
    y, x = np.mgrid[0:47, 0:61]
    r = 128 + 90 * np.sin(x * 0.41) * np.cos(y * 0.29) + (x * 7 + y * 13) % 17
    g = np.where((x // 6 + y // 5) % 2 == 0, 60, 190) + (x * 5 + y * 3) % 9
    b = 120 + 60 * np.tanh((x - 30) * 0.8) + (x * y) % 7
    rgb = np.dstack([r, g, b]).clip(0, 255).astype(np.uint8)
    Image.fromarray(rgb).save(path)


def usm(a, radius):
    m = int(6 * radius + 0.5)
    m = max(m, 3)
    if m % 2 == 0:
        m += 1
    t = np.arange(m) - m // 2
    g = np.exp(-(t / radius) ** 2 / 2)
    g /= g.sum()
    s = ndimage.correlate1d(ndimage.correlate1d(a, g, axis=0), g, axis=1)
    return a + (a - s), m // 2


def xsharpen(a, w):
    hi = ndimage.maximum_filter(a, size=w)
    lo = ndimage.minimum_filter(a, size=w)
    move = (hi - a >= 12) & (a - lo >= 12)
    target = np.where(hi - a > a - lo, lo, hi)
    return np.where(move, a * 0.25 + 0.75 * target, a), w


# The honeycomb of radius 3 as (column, row) offsets, rows counted upwards.
HONEYCOMB = [(0, 0), (3, 0), (2, 3), (-2, 3), (-3, 0), (-2, -3), (2, -3)]


def periodic(a, function):
    h, w = a.shape
    p = np.pad(a, 3, mode="reflect")  # whole-sample: the edge sample is not repeated
    # Array rows run downwards, the program's upwards.
    stack = np.stack([p[3 - dy:3 - dy + h, 3 + dx:3 + dx + w] for dx, dy in HONEYCOMB])
    return (np.median(stack, axis=0) if function == 0 else stack.mean(axis=0)), 0


def unchanged(a, size):
    return a, 0


def compare(src, out, command, size):
    a = np.asarray(Image.open(src).convert("RGB"), dtype=np.float64)
    z = np.asarray(Image.open(out).convert("RGB"), dtype=np.float64)
    want = np.empty_like(a)
    reference = {"UnsharpMask": usm, "Xsharpen": xsharpen, "PeriodicSmoothing": periodic,
                 "PoissonSharpener": unchanged}[command]
    for c in range(3):
        want[:, :, c], margin = reference(a[:, :, c], size)
    inner = (slice(margin, a.shape[0] - margin), slice(margin, a.shape[1] - margin))
    inside = ((want >= 0) & (want <= 255)).all(axis=2)[inner]
    worst = np.abs(np.round(want) - z)[inner][inside].max()
    changed = np.count_nonzero(z[inner] != a[inner])
    print("largest difference %g levels over %d pixels inside the range, %d samples changed"
          % (worst, np.count_nonzero(inside), changed))
    if command == "PoissonSharpener":
        return 0 if worst == 0 else 1
    return 0 if worst <= 1 and changed > 0 and np.count_nonzero(inside) > inside.size // 8 else 1


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
