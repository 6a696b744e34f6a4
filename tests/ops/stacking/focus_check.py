"""A focus series for the focus-stacking script and the check of its result.

make DIR: truth.tif, a textured float RGB scene, and s1.tif .. s4.tif, four slices each
sharp in one vertical band and Gaussian-blurred (scipy.ndimage) the more the farther the
band lies from its focus.
check DIR: DIR/out.tif must beat every slice and their plain average by 3 dB PSNR against
the truth.
"""
import sys

import numpy as np
import tifffile
from scipy import ndimage

SLICES = 4


def psnr(a, b):
    return 10 * np.log10(255.0 ** 2 / np.mean((a - b) ** 2))


def make(d):
    rng = np.random.default_rng(5)
    h, w = 72, 104
    y, x = np.mgrid[0:h, 0:w]
    truth = np.stack([128 + 50 * np.sin(0.3 * x + 0.2 * y + c) + rng.uniform(-40, 40, (h, w))
                      for c in range(3)], -1)
    tifffile.imwrite(f"{d}/truth.tif", truth.astype(np.float32), photometric="rgb")
    depth = x * SLICES // w
    for s in range(SLICES):
        out = np.zeros_like(truth)
        for dist in range(SLICES):
            sigma = 1.3 * dist
            blurred = np.stack([ndimage.gaussian_filter(truth[..., c], sigma, mode="nearest")
                                for c in range(3)], -1) if sigma > 0 else truth
            where = np.abs(depth - s) == dist
            out[where] = blurred[where]
        tifffile.imwrite(f"{d}/s{s + 1}.tif", out.astype(np.float32), photometric="rgb")


def check(d):
    truth = tifffile.imread(f"{d}/truth.tif").astype(np.float64)
    slices = [tifffile.imread(f"{d}/s{s + 1}.tif").astype(np.float64) for s in range(SLICES)]
    got = tifffile.imread(f"{d}/out.tif").astype(np.float64)[..., :3]
    if got.shape != truth.shape:
        sys.exit(f"size {got.shape} against {truth.shape}")
    inputs = [psnr(s, truth) for s in slices] + [psnr(np.mean(slices, 0), truth)]
    result = psnr(got, truth)
    print(f"PSNR to the truth: stacked {result:.2f} dB, best input {max(inputs):.2f} dB")
    if not result >= max(inputs) + 3:
        sys.exit("the stacked image is not 3 dB better than every input")


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2])
