#!/usr/bin/env python3
"""Peer of bench_fusion: OpenCV's exposure fusion (MergeMertens with contrast and
saturation weights 0, exposure weight 1) of the PNG exposures bench_fusion wrote, timed in
memory with one thread and with all of them; then the PSNR of our result against it.

  fusion_peer.py DIR COUNT WIDTH HEIGHT   DIR holds e0.png .. and ours.f32 (channel 0 of
                                          our result, rows top down, 0-255 scale)
Prints "seconds T1 TALL" for bench_fusion, and the PSNR line.
"""
import sys
import time

import numpy as np


def main(d, count, w, h):
    import cv2

    frames = [cv2.imread(f"{d}/e{i}.png", cv2.IMREAD_COLOR) for i in range(count)]
    merge = cv2.createMergeMertens(0, 0, 1)
    seconds = []
    for threads in (1, cv2.getNumberOfCPUs()):
        cv2.setNumThreads(threads)
        start = time.perf_counter()
        fused = merge.process(frames)
        seconds.append(time.perf_counter() - start)
    peer = fused[:, :, 0].astype(float) * 255.0
    ours = np.fromfile(f"{d}/ours.f32", np.float32).reshape(h, w).astype(float)
    mse = np.mean((ours - peer) ** 2)
    print(f"PSNR of ours against MergeMertens: {10 * np.log10(255.0 ** 2 / mse):.2f} dB")
    print(f"seconds {seconds[0]:.6f} {seconds[1]:.6f}")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
