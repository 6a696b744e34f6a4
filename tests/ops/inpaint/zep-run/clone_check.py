"""Two-layer seamless cloning through zep-run (clone.zep.in): a brightened copy of a smooth
picture, cloned into the holes of a damaged copy, must give the picture back.

  clone_check.py ZEP_RUN SCRIPT WORK_DIR

Fails when a pixel ends more than one level from the picture, or when a pixel farther than
one pixel from every hole changed (only the holes and their outer ring may move). Exits 77
(skipped) without numpy or PIL.
"""
import os
import shutil
import subprocess
import sys

try:
    import numpy as np
    from PIL import Image
except ImportError as e:
    print(f"SKIP: {e}")
    sys.exit(77)

zep_run, script, work = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "home"))

h, w = 96, 128
y, x = np.mgrid[0:h, 0:w].astype(np.float64)
truth = np.stack([128 + 60 * np.sin(x / 9 + c) * np.cos(y / 13) + 30 * np.sin((x + y) / 17)
                  for c in range(3)], axis=-1)
truth = np.clip(np.rint(truth), 0, 255).astype(np.uint8)
# The holes the script masks: columns and rows 12-19 of every 32, from the top left.
band = (np.arange(128) % 32 >= 12) & (np.arange(128) % 32 < 20)
hole = band[:h, None] & band[None, :w]
damaged = truth.copy()
damaged[hole] = 0
paths = {name: os.path.join(work, name + ".png") for name in ("truth", "damaged", "out")}
Image.fromarray(truth).save(paths["truth"])
Image.fromarray(damaged).save(paths["damaged"])

text = open(script).read()
for name, path in paths.items():
    text = text.replace("@" + name.upper() + "@", path)
zep = os.path.join(work, "clone.zep")
open(zep, "w").write(text)
run = subprocess.run([zep_run, "--home", os.path.join(work, "home"), zep],
                     capture_output=True, text=True)
if run.returncode != 0:
    print(run.stdout, run.stderr)
    sys.exit(1)

out = np.asarray(Image.open(paths["out"]).convert("RGB")).astype(np.int32)
error = np.abs(out - truth.astype(np.int32))
print(f"largest difference from the picture: {error.max()} (holes were {damaged[hole].max()})")
near = hole.copy()
for dy in (-1, 0, 1):
    for dx in (-1, 0, 1):
        near |= np.roll(np.roll(hole, dy, axis=0), dx, axis=1)
failures = []
if error.max() > 1:
    failures.append("the holes did not come back within one level")
if not np.array_equal(out[~near], damaged[~near]):
    failures.append("pixels away from the holes changed")
for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
