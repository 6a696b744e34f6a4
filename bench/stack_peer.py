#!/usr/bin/env python3
"""Peer of bench_stack's exposure merge: OpenCV's Debevec merge with a linear response and
the true times, on the bracket bench_stack wrote, timed; then the error of ours and of the
peer against the true radiance.

  stack_peer.py DIR WIDTH HEIGHT   DIR holds e0.u8 .. e6.u8 (8-bit grey frames, exposure
                                   times 1, 4, ..., 4096), radiance.f32 and ours.f32
The error is the median absolute log-ratio to the radiance after the best common scale
(each result is in a scale of its own).
"""
import sys
import time

import numpy as np


def error(result, radiance):
    ok = (result > 0) & np.isfinite(result)
    d = np.log(result[ok]) - np.log(radiance[ok])
    return float(np.median(np.abs(d - np.median(d)))), float(1 - ok.mean())


def main(d, w, h):
    import cv2

    times = np.array([1, 4, 16, 64, 256, 1024, 4096], np.float32)
    frames = [np.fromfile(f"{d}/e{i}.u8", np.uint8).reshape(h, w) for i in range(7)]
    bgr = [cv2.merge([f, f, f]) for f in frames]
    response = np.tile(np.arange(256, dtype=np.float32).reshape(256, 1, 1), (1, 1, 3))
    response[0] = 0.5  # the log of the response must exist
    merge = cv2.createMergeDebevec()
    for threads in (1, cv2.getNumberOfCPUs()):
        cv2.setNumThreads(threads)
        start = time.perf_counter()
        hdr = merge.process(bgr, times, response)
        print(f"cv2 MergeDebevec, threads {threads:2d}: {time.perf_counter() - start:.3f} s")
    radiance = np.fromfile(f"{d}/radiance.f32", np.float32).astype(float)
    ours = np.fromfile(f"{d}/ours.f32", np.float32).astype(float)
    theirs = hdr[:, :, 0].reshape(-1).astype(float)
    for name, result in (("ours", ours), ("Debevec", theirs)):
        e, bad = error(result, radiance)
        print(f"merge error against the radiance, {name}: median |log ratio| {e:.5f}"
              f" ({100 * bad:.2f} % of pixels not positive)")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
