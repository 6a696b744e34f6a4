#!/usr/bin/env python3
"""Peer timings for bench_stacking, each of the call alone (loading not counted).

  stacking_peer.py match SOURCE REFERENCE COUNT   skimage.exposure.match_histograms of two
                                                   raw float32 planes; prints the seconds
"""
import sys
import time

import numpy as np


def match(source, reference, count):
    from skimage.exposure import match_histograms

    x = np.fromfile(source, dtype="<f4", count=count)
    y = np.fromfile(reference, dtype="<f4", count=count)
    start = time.perf_counter()
    out = match_histograms(x, y)
    seconds = time.perf_counter() - start
    assert out.shape == x.shape
    print(f"{seconds:.6f}")


if __name__ == "__main__":
    if sys.argv[1] == "match":
        match(sys.argv[2], sys.argv[3], int(sys.argv[4]))
