#!/usr/bin/env python3
"""The picture of the presharpening end-to-end test, and its check.

presharpen_check.py make IN.png
presharpen_check.py compare IN.png OUT.png KERNELS MODEL SCALE AMOUNT
The reference reads the kernel table from the KERNELS file (.mat: int32 width, height, count,
then float32 values), takes the row of the model and scale (the mean of the neighbouring rows
for scales 6 and 8), blends it with the identity by the amount and correlates each channel
with it through scipy.ndimage.correlate, reflecting on the edge sample. OUT is accepted when
no byte differs by more than one level; pixels where the reference leaves 0-255 in any
channel are not compared (the byte conversion scales such a pixel as a whole).
"""
import sys

import numpy as np
from PIL import Image
from scipy import ndimage


def make(path):
    y, x = np.mgrid[0:41, 0:53]
    r = 128 + 40 * np.sin(x * 1.3) * np.cos(y * 0.9)
    g = np.where((x // 3 + y // 3) % 2 == 0, 100, 160)
    b = 128 + 35 * np.cos((x + 2 * y) * 1.1)
    rgb = np.dstack([r, g, b]).clip(0, 255).astype(np.uint8)
    Image.fromarray(rgb).save(path)


def kernel(path, model, scale, amount):
    raw = np.fromfile(path, dtype="<i4", count=3)
    table = np.fromfile(path, dtype="<f4", offset=12).reshape(raw[1], raw[0])
    base = 6 * model
    if scale <= 5:
        k = table[base + scale - 2].astype(np.float64)
    else:
        k = table[base + scale // 2 + 1].astype(np.float64)
        if scale % 2 == 0:
            k = (k + table[base + scale // 2]) * 0.5
    k = k.reshape(21, 21)
    if amount != 1:
        k[10, 10] -= 1
        k *= amount
        k[10, 10] += 1
    return k


def compare(inp, out, kernels, model, scale, amount):
    a = np.asarray(Image.open(inp).convert("RGB"), dtype=np.float64)
    b = np.asarray(Image.open(out).convert("RGB"), dtype=np.float64)
    k = kernel(kernels, int(model), int(scale), float(amount))
    ref = np.dstack([ndimage.correlate(a[:, :, c], k, mode="mirror") for c in range(3)])
    inside = np.all((ref >= 0) & (ref <= 255), axis=2)
    diff = np.abs(np.rint(ref) - b)[inside]
    changed = np.abs(b - a).max()
    print("max difference %.0f over %d pixels, largest change %.0f" % (diff.max(), inside.sum(), changed))
    return 0 if diff.max() <= 1 and changed > 2 else 1


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(compare(*sys.argv[2:8]))
