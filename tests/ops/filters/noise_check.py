#!/usr/bin/env python3
"""The picture and profile of Fast Noise Removal's end-to-end test, and its check.

noise_check.py make IN.png              a noisy picture and IN.png.PRFL beside it
noise_check.py compare IN.png OUT.png   OUT against numpy's own a-trous shrinkage

The profile (3 levels, RGB with all channels visible, no autosharpen) is written as the raw
140-byte record. The reference splits each channel into a-trous levels with the taps
(1, 4, 6, 4, 1)/16 spaced 2^i apart, mirrored at the edges (numpy's 'reflect' padding),
soft-thresholds each level by its factor and adds the levels back to the residual. OUT is
accepted when no byte differs by more than one level; pixels where the reference leaves
0-255 are not compared (the byte conversion scales such a pixel as a whole).
"""
import struct
import sys

import numpy as np
from PIL import Image

FACTORS = [[9.0, 2.0, 1.0], [6.0, 1.5, 0.5], [12.0, 0.0, 2.5]]


def make(path):
    rng = np.random.default_rng(7)
    y, x = np.mgrid[0:47, 0:61]
    clean = np.dstack([
        128 + 60 * np.sin(x * 0.11) * np.cos(y * 0.07),
        np.where(x < 30, 80, 170) + 0 * y,
        100 + 1.5 * x + y,
    ])
    rgb = (clean + rng.normal(0, 10, clean.shape)).clip(0, 255).astype(np.uint8)
    Image.fromarray(rgb).save(path)
    record = struct.pack('<iI', 3, 0x17)
    for channel in FACTORS:
        record += struct.pack('<10f', *(channel + [0.0] * 7))
    record += struct.pack('<3I', 0, 0, 0)
    assert len(record) == 140
    with open(path + '.PRFL', 'wb') as f:
        f.write(record)


def smooth(a, level, axis):
    s = 2 ** level
    pad = [(0, 0), (0, 0)]
    pad[axis] = (2 * s, 2 * s)
    p = np.pad(a, pad, mode='reflect')
    n = a.shape[axis]
    def take(offset):
        return np.take(p, np.arange(2 * s + offset, 2 * s + offset + n), axis=axis)
    return (0.375 * take(0) + 0.25 * (take(-s) + take(s)) + 0.0625 * (take(-2 * s) + take(2 * s)))


def shrink(channel, factors):
    s = channel
    out = np.zeros_like(channel)
    for i, t in enumerate(factors):
        nxt = smooth(smooth(s, i, 1), i, 0)
        d = s - nxt
        out += np.sign(d) * np.maximum(np.abs(d) - t, 0)
        s = nxt
    return out + s


def compare(inp, outp):
    a = np.asarray(Image.open(inp).convert('RGB'), dtype=np.float64)
    b = np.asarray(Image.open(outp).convert('RGB'), dtype=np.float64)
    # PNG rows run top to bottom; the program's row 0 is the bottom one, which changes
    # nothing here: the filter is symmetric in y.
    ref = np.dstack([shrink(a[:, :, c], FACTORS[c]) for c in range(3)])
    inside = np.all((ref >= 0) & (ref <= 255), axis=2)
    diff = np.abs(np.round(ref) - b)[inside]
    print(f'max difference {diff.max():.0f} over {inside.sum()} pixels; '
          f'changed from the input: {np.abs(a - b).mean():.2f} on average')
    if diff.max() > 1 or inside.sum() < 0.9 * inside.size or np.abs(a - b).mean() < 1:
        sys.exit(1)


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        make(sys.argv[2])
    else:
        compare(sys.argv[2], sys.argv[3])
