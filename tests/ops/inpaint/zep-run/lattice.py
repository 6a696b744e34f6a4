"""The picture and the holes of the inpainting and cloning scripts, and their run.

The scripts mask a lattice of 8 x 8 holes (columns and rows 12-19 of every 32, counted
from the left and the top) as the complement of two bar patterns; pictures() gives a
smooth 128 x 96 picture, the holes, and the picture with its holes set to black.
"""
import os
import shutil
import subprocess
import sys

import numpy as np


def pictures():
    h, w = 96, 128
    y, x = np.mgrid[0:h, 0:w].astype(np.float64)
    truth = np.stack([128 + 60 * np.sin(x / 9 + c) * np.cos(y / 13) + 30 * np.sin((x + y) / 17)
                      for c in range(3)], axis=-1)
    truth = np.clip(np.rint(truth), 0, 255).astype(np.uint8)
    band = (np.arange(128) % 32 >= 12) & (np.arange(128) % 32 < 20)
    hole = band[:h, None] & band[None, :w]
    damaged = truth.copy()
    damaged[hole] = 0
    return truth, hole, damaged


def clean(work):
    """Empties the work folder, keeping an empty program directory in it."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "home"))


def run(zep_run, script, work, name, words):
    """Writes the script with every @WORD@ replaced and runs it; a failed run ends this one."""
    text = open(script).read()
    for word, value in words.items():
        text = text.replace("@" + word + "@", value)
    zep = os.path.join(work, name + ".zep")
    open(zep, "w").write(text)
    done = subprocess.run([zep_run, "--home", os.path.join(work, "home"), zep],
                          capture_output=True, text=True)
    if done.returncode != 0:
        print(done.stdout, done.stderr)
        sys.exit(1)
