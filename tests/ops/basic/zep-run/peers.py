"""zep-run's colour, point, curve and mask commands beside independent tools.

  peers.py ZEP_RUN SCRIPTS_DIR WORK_DIR

Runs the zep-run scripts on one picture and compares what they wrote with ImageMagick
(Negative, Add, Multiply, Gamma), scipy's ranks (equalisation), Python's colorsys and the
BT.601 formulas (HSV, YCbCr), numpy's formulas of the custom curve, and scipy's Sobel
filter and connected components for the masks. Exits 77 (skipped) when a peer is missing.
"""
import colorsys
import os
import shutil
import struct
import subprocess
import sys

try:
    import numpy as np
    from PIL import Image
    from scipy import ndimage
    from scipy.stats import rankdata
except ImportError as e:
    print(f"SKIP: {e}")
    sys.exit(77)

zep_run, scripts, work = sys.argv[1:4]
convert = shutil.which("convert")
if not convert:
    print("SKIP: ImageMagick's convert is not installed")
    sys.exit(77)

shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "home"))
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def run(*args):
    subprocess.run(args, check=True, capture_output=True)


def png(name):
    return np.asarray(Image.open(os.path.join(work, name)).convert("RGB")).astype(np.int32)


def fdib(name):
    """The channel planes of an FDIB file, top picture row first, as (h, w, 3)."""
    data = open(os.path.join(work, name), "rb").read()
    w, h, code, _ = struct.unpack_from("<4i", data)
    planes = np.frombuffer(data, "<f4", 3 * w * h, 16).reshape(3, h, w)
    return planes[:, ::-1, :].transpose(1, 2, 0).astype(np.float64), code


# A smooth busy picture whose values stay in 0..219, so that Add 0.1 (+25.5) never leaves
# the byte range, where the two tools round differently.
run(convert, "-size", "97x61", "-seed", "7", "plasma:red-blue", "-blur", "0x1",
    "+level", "0,86%", "-depth", "8", "PNG24:" + os.path.join(work, "in.png"))
picture = png("in.png")

for script in ("point", "colour", "curve", "masks"):
    text = open(os.path.join(scripts, script + ".zep.in")).read().replace("@DIR@", work)
    path = os.path.join(work, script + ".zep")
    open(path, "w").write(text)
    result = subprocess.run([zep_run, "--home", os.path.join(work, "home"), path],
                            capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stdout, result.stderr)
        sys.exit(f"the {script} script failed")


def peer(name, *operation):
    out = os.path.join(work, "peer-" + name + ".png")
    run(convert, os.path.join(work, "in.png"), *operation, "-depth", "8", "PNG24:" + out)
    return png("peer-" + name + ".png")


check(np.array_equal(png("negative.png"), peer("negate", "-negate")),
      "Negative equals convert -negate byte for byte")
for name, operation in (("add", ("-evaluate", "add", "10%")),
                        ("multiply", ("-evaluate", "multiply", "0.75")),
                        ("gamma", ("-evaluate", "pow", "2"))):
    largest = np.abs(png(name + ".png") - peer(name, *operation)).max()
    check(largest <= 1, f"{name} within 1 level of convert {' '.join(operation)} ({largest})")
check(np.abs(png("gamma-back.png") - picture).max() <= 1, "Gamma 2 F3 gives the picture back")

equalized, _ = fdib("equalized.fdib")
n = picture.shape[0] * picture.shape[1]
largest = 0.0
for c in range(3):
    expected = 255.0 * (rankdata(picture[:, :, c].ravel(), method="average") - 0.5) / n
    largest = max(largest, np.abs(equalized[:, :, c].ravel() - expected).max())
check(largest <= 1e-4, f"equalisation is 255 (rank - 0.5)/n of scipy's average ranks ({largest})")

hsv, code = fdib("hsv.fdib")
check(code == 0x207, f"HSV code word {code:#x}")
rgb = picture.astype(np.float64)
largest = 0.0
for (y, x) in np.ndindex(picture.shape[:2]):
    h, s, v = colorsys.rgb_to_hsv(*(rgb[y, x] / 255.0))
    if s <= 0.05:
        continue
    dh = abs(hsv[y, x, 0] - 360.0 * h)
    dh = min(dh, 360.0 - dh)
    largest = max(largest, dh, abs(hsv[y, x, 1] - s), abs(hsv[y, x, 2] - 255.0 * v))
check(largest <= 0.02, f"HSV agrees with colorsys ({largest})")

ycbcr, code = fdib("ycbcr.fdib")
check(code == 0x20007, f"YCbCr code word {code:#x}")
r, g, b = rgb[:, :, 0], rgb[:, :, 1], rgb[:, :, 2]
expected = np.stack([0.299 * r + 0.587 * g + 0.114 * b,
                     -0.168736 * r - 0.331264 * g + 0.5 * b,
                     0.5 * r - 0.418688 * g - 0.081312 * b], axis=2)
largest = np.abs(ycbcr - expected).max()
check(largest <= 0.02, f"YCbCr agrees with BT.601 ({largest})")

back, code = fdib("back.fdib")
largest = np.abs(back - rgb).max()
check(code == 0x17 and largest <= 1e-3, f"RGB -> HSV -> YCbCr -> RGB within 1e-3 ({largest})")

mean, _ = fdib("mean.fdib")
largest = np.abs(mean - rgb.reshape(-1, 3).mean(axis=0)).max()
check(largest <= 1e-3, f"Enter Average Color then Set Image to Color fills the mean ({largest})")

editor = png("curve-editor.png")
check(editor.shape[:2] == (601, 601), f"the curve editor shows a 601 x 601 graph {editor.shape}")
curve, _ = fdib("curve.fdib")
largest = np.abs(curve - 255.0 * (rgb / 255.0) ** 2).max()
check(largest <= 1e-3, f"ApplyCurve with X^2 gives 255 (v/255)^2 ({largest})")
back, _ = fdib("curve-back.fdib")
largest = np.abs(back - rgb).max()
check(largest <= 1e-3, f"ApplyCurve F3 gives the picture back ({largest})")
fitted, _ = fdib("curve-fitted.fdib")
largest = np.abs(fitted - rgb).max()
check(largest <= 1e-3, f"the curve fitted through a line leaves the picture alone ({largest})")


def masked(name, mask):
    """Whether the saved picture is zero where mask is set and the picture elsewhere."""
    saved, _ = fdib(name)
    expected = np.where(mask[:, :, None], 0.0, rgb)
    return np.abs(saved - expected).max()


mean = rgb.reshape(-1, 3).mean(axis=0)
distance = (np.abs(rgb - mean) / 255.0).max(axis=2)
near = distance <= 0.1
saved, _ = fdib("mask-colour.fdib")
disagree = (np.abs(saved - np.where(near[:, :, None], 0.0, rgb)).max(axis=2) > 0) & (
    np.abs(distance - 0.1) > 1e-5)
check(near.any() and not near.all() and not disagree.any(),
      f"Mask by Color marks the pixels within 0.1 of the mean in Linf ({near.sum()} pixels)")


def sobel_edges(t):
    """Interior pixels whose Sobel magnitude in some channel reaches 4t (scipy)."""
    edges = np.zeros(picture.shape[:2], bool)
    for c in range(3):
        gx = ndimage.sobel(rgb[:, :, c], axis=1)
        gy = ndimage.sobel(rgb[:, :, c], axis=0)
        edges |= gx * gx + gy * gy >= (4.0 * t) ** 2
    edges[0, :] = edges[-1, :] = edges[:, 0] = edges[:, -1] = False
    return edges


edges = sobel_edges(20)
largest = masked("mask-edges.fdib", edges)
check(edges.any() and largest == 0,
      f"Mask by Edge Detection is scipy's Sobel magnitude from 80 inside ({edges.sum()} pixels)")

dense = sobel_edges(12)
labels, _ = ndimage.label(~dense)  # 4-connected
flood = dense | (labels == labels[-1, 0])
largest = masked("mask-flood.fdib", flood)
check(dense.sum() < flood.sum() < flood.size and largest == 0,
      f"the flood fill adds the bottom-left pixel's component of scipy's label ({flood.sum()})")

sys.exit(1 if failures else 0)
