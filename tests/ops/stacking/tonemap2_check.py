#!/usr/bin/env python3
"""The scene of Tone Map 2's end-to-end test, and its check.

tonemap2_check.py make IN.tif
tonemap2_check.py check IN.tif OUT.tif

The scene is a grey float TIFF whose values span 1 to 10^4 (smooth blobs over a ramp, in
log space). With its gradients kept as they are, Tone Map 2 rebuilds the log luminance up
to a constant, so the result is a global monotone map of the input: the check asks for a
Spearman rank correlation above 0.999 (scipy.stats.spearmanr), finite values and a result
spanning 0 to 255, grey staying grey.
"""
import sys

import numpy as np
import tifffile
from scipy import stats


def make(path):
    y, x = np.mgrid[0:40, 0:56].astype(np.float64)
    log10 = 4 * x / 55 * 0.6 + 1.6 * np.exp(-((x - 14) ** 2 + (y - 12) ** 2) / 60)
    log10 += 0.8 * np.sin(y * 0.35) * np.cos(x * 0.21)
    log10 = 4 * (log10 - log10.min()) / (log10.max() - log10.min())
    grey = np.power(10.0, log10).astype(np.float32)
    tifffile.imwrite(path, np.dstack([grey, grey, grey]), photometric="rgb")


def check(inp, out):
    a = tifffile.imread(inp)[..., 1].astype(np.float64)
    b = tifffile.imread(out).astype(np.float64)
    if not np.all(np.isfinite(b)):
        print("non-finite values in the result")
        return 1
    spread = np.abs(b[..., 0] - b[..., 2]).max()
    rho = stats.spearmanr(a.ravel(), b[..., 1].ravel()).correlation
    print(f"Spearman rho {rho:.6f}, range {b.min():.4f} .. {b.max():.4f}, "
          f"channel spread {spread:.2e}")
    if rho <= 0.999 or abs(b.min()) > 1e-2 or abs(b.max() - 255) > 1e-2 or spread > 1e-2:
        return 1
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(check(sys.argv[2], sys.argv[3]))
