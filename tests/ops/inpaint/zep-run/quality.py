"""Diffusion inpainting through zep-run beside OpenCV's two inpainting methods and
scikit-image's biharmonic inpainting, on a smooth picture with a lattice of holes.

  quality.py ZEP_RUN SCRIPT WORK_DIR

Prints every PSNR inside the holes. Fails when ours is more than 3 dB below OpenCV's
Navier-Stokes method (a broken implementation rather than the method), or when a pixel
outside the holes changed. Exits 77 (skipped) when a peer is missing.
"""
import os
import sys

try:
    import cv2
    import numpy as np
    from PIL import Image
    from skimage.restoration import inpaint_biharmonic
except ImportError as e:
    print(f"SKIP: {e}")
    sys.exit(77)

sys.dont_write_bytecode = True  # no cache files in the source tree
from lattice import clean, pictures, run  # noqa: E402

zep_run, script, work = sys.argv[1:4]
clean(work)
truth, hole, damaged = pictures()
Image.fromarray(damaged).save(os.path.join(work, "in.png"))


def psnr(image):
    d = image.astype(np.float64)[hole] - truth.astype(np.float64)[hole]
    return 10 * np.log10(255.0 ** 2 / np.mean(d * d))


mask8 = hole.astype(np.uint8)
peers = {
    "cv2 NS": cv2.inpaint(damaged, mask8, 3, cv2.INPAINT_NS),
    "cv2 TELEA": cv2.inpaint(damaged, mask8, 3, cv2.INPAINT_TELEA),
    "skimage biharmonic": np.clip(
        np.rint(inpaint_biharmonic(damaged, hole, channel_axis=-1) * 255), 0, 255),
}
for name, image in peers.items():
    print(f"{name}: {psnr(image):.2f} dB")

failures = []
for mode in (1, 2):
    out = os.path.join(work, f"out{mode}.png")
    run(zep_run, script, work, f"inpaint{mode}",
        {"IN": os.path.join(work, "in.png"), "OUT": out, "MODE": str(mode)})
    ours = np.asarray(Image.open(out).convert("RGB"))
    q = psnr(ours)
    print(f"ours, mode {mode}: {q:.2f} dB")
    if not np.array_equal(ours[~hole], damaged[~hole]):
        failures.append(f"mode {mode} changed pixels outside the holes")
    if q < psnr(peers["cv2 NS"]) - 3:
        failures.append(f"mode {mode} is more than 3 dB below cv2 NS")
for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
