#!/usr/bin/env python3
"""Histogram-matching oracle for the levels match: reads two raw little-endian float32
planes of the same size (source, reference), matches the source's histogram to the
reference's with scikit-image and writes the result as raw float32.

Usage: match_histograms.py SOURCE REFERENCE OUTPUT
"""
import sys

import numpy as np
from skimage.exposure import match_histograms


def main(source, reference, target):
    x = np.fromfile(source, dtype="<f4")
    y = np.fromfile(reference, dtype="<f4")
    match_histograms(x, y).astype("<f4").tofile(target)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3])
