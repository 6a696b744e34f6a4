"""Grey exposure brackets for the fusion script and the check of its result against
OpenCV's exposure fusion with the same weights.

make DIR: five 8-bit grey exposures f1.png .. f5.png of one scene, and DIR/peer.npy, the
    fusion of OpenCV's MergeMertens with contrast and saturation weights 0 and the
    exposure weight 1, on the 0-255 scale.
check DIR: DIR/out.png must reach 30 dB PSNR against it. On grey pictures the two weigh
    every pixel alike (the bell of each channel multiplied over three channels is one bell
    of sigma 0.2/sqrt(3)); only the pyramids' kernels differ.
"""
import sys

import cv2
import numpy as np


def make(d):
    y, x = np.mgrid[0:90, 0:120].astype(float)
    # Radiance over some five stops in blobs and finer texture. No ramp across the whole
    # picture: the two pyramids end at different sizes (ours at 4-8 pixels, OpenCV's at 1-2),
    # and where the light changes at that scale the top levels blend apart by design.
    log2 = 1.5 * np.sin(x / 6.0) * np.cos(y / 7.0) + 0.8 * np.sin(x / 2.3 + y / 3.1)
    log2 += 0.5 * np.cos(x * 1.3 - y * 0.7)
    radiance = 2.0 ** log2
    frames = []
    for i, stops in enumerate((-2, -1, 0, 1, 2)):
        v = np.clip(np.rint(255 * (radiance * 2.0 ** stops / 4.0) ** (1 / 2.2)), 0, 255)
        frame = np.repeat(v.astype(np.uint8)[:, :, None], 3, axis=2)
        cv2.imwrite(f"{d}/f{i + 1}.png", frame)
        frames.append(frame)
    fused = cv2.createMergeMertens(0, 0, 1).process(frames)
    np.save(f"{d}/peer.npy", fused * 255.0)


def check(d):
    got = cv2.imread(f"{d}/out.png", cv2.IMREAD_COLOR).astype(float)
    want = np.clip(np.load(f"{d}/peer.npy"), 0, 255)
    if got.shape != want.shape:
        sys.exit(f"size {got.shape} against {want.shape}")
    mse = np.mean((got - want) ** 2)
    psnr = 10 * np.log10(255.0 ** 2 / mse) if mse > 0 else float("inf")
    print(f"PSNR against MergeMertens: {psnr:.2f} dB")
    if psnr < 30:
        sys.exit("the fusion is further than 30 dB from MergeMertens")


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2])
