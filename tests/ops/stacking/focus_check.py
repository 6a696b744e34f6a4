"""A focus series for the focus-stacking script and the check of its result.

make DIR: truth.png, a textured 8-bit RGB scene, and f1.png .. f5.png, five slices each
sharp in one vertical band and Gaussian-blurred the more the farther the band lies from
its focus.
check DIR: DIR/out.png must beat every slice and their plain average by 3 dB PSNR against
the truth.
"""
import sys

import numpy as np
from PIL import Image

SLICES = 5


def blur(a, sigma):
    """Separable Gaussian blur of an H x W x 3 array, edge samples repeated."""
    if sigma == 0:
        return a
    r = int(np.ceil(3 * sigma))
    k = np.exp(-0.5 * (np.arange(-r, r + 1) / sigma) ** 2)
    k /= k.sum()
    for axis in (0, 1):
        pad = [(r, r) if i == axis else (0, 0) for i in range(3)]
        p = np.pad(a, pad, mode="edge")
        n = a.shape[axis]
        a = sum(w * np.take(p, range(i, i + n), axis=axis) for i, w in enumerate(k))
    return a


def load(path):
    return np.asarray(Image.open(path).convert("RGB"), np.float64)


def psnr(a, b):
    return 10 * np.log10(255.0 ** 2 / np.mean((a - b) ** 2))


def make(d):
    rng = np.random.default_rng(5)
    h, w = 60, 100
    y, x = np.mgrid[0:h, 0:w]
    truth = np.stack([128 + 50 * np.sin(0.3 * x + 0.2 * y + c) + rng.uniform(-40, 40, (h, w))
                      for c in range(3)], -1)
    truth = np.clip(np.rint(truth), 0, 255)
    Image.fromarray(truth.astype(np.uint8)).save(f"{d}/truth.png")
    depth = x * SLICES // w
    blurred = [blur(truth, 1.3 * dist) for dist in range(SLICES)]
    for s in range(SLICES):
        out = np.zeros_like(truth)
        for dist in range(SLICES):
            where = np.abs(depth - s) == dist
            out[where] = blurred[dist][where]
        Image.fromarray(np.clip(np.rint(out), 0, 255).astype(np.uint8)).save(f"{d}/f{s + 1}.png")


def check(d):
    truth = load(f"{d}/truth.png")
    slices = [load(f"{d}/f{s + 1}.png") for s in range(SLICES)]
    got = load(f"{d}/out.png")
    if got.shape != truth.shape:
        sys.exit(f"size {got.shape} against {truth.shape}")
    inputs = [psnr(s, truth) for s in slices] + [psnr(np.mean(slices, 0), truth)]
    result = psnr(got, truth)
    print(f"PSNR to the truth: stacked {result:.2f} dB, best input {max(inputs):.2f} dB")
    if not result >= max(inputs) + 3:
        sys.exit("the stacked image is not 3 dB better than every input")


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2])
