"""Frames for the stacking script and the check of its result against numpy's median.

make DIR: five 8-bit RGB frames f1.png .. f5.png of one noisy scene, one with an occluder.
check DIR: DIR/out.png must equal the per-pixel median of the frames exactly.
"""
import sys

import numpy as np
from PIL import Image


def make(d):
    rng = np.random.default_rng(11)
    y, x = np.mgrid[0:37, 0:53]
    scene = np.stack([120 + 60 * np.sin(x / 7.0), 90 + 50 * np.cos(y / 5.0), 40 + 2 * x], -1)
    for i in range(5):
        frame = scene + rng.normal(0, 6, scene.shape)
        if i == 2:
            frame[10:20, 15:30] = 250
        Image.fromarray(np.clip(np.rint(frame), 0, 255).astype(np.uint8)).save(f"{d}/f{i + 1}.png")


def check(d):
    frames = np.stack([np.asarray(Image.open(f"{d}/f{i + 1}.png").convert("RGB"), float)
                       for i in range(5)])
    want = np.median(frames, 0)
    got = np.asarray(Image.open(f"{d}/out.png").convert("RGB"), float)
    if got.shape != want.shape:
        sys.exit(f"size {got.shape} against {want.shape}")
    worst = np.abs(got - want).max()
    print(f"largest difference from numpy's median: {worst}")
    if worst != 0:
        sys.exit("the stacked median differs from numpy's")


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2])
