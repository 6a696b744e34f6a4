"""Two-layer seamless cloning through zep-run (clone.zep.in): a brightened copy of a smooth
picture, cloned into the holes of a damaged copy, must give the picture back.

  clone_check.py ZEP_RUN SCRIPT WORK_DIR

Fails when a pixel ends more than one level from the picture, or when a pixel farther than
one pixel from every hole changed (only the holes and their outer ring may move). Exits 77
(skipped) without numpy or PIL.
"""
import os
import sys

try:
    import numpy as np
    from PIL import Image
except ImportError as e:
    print(f"SKIP: {e}")
    sys.exit(77)

sys.dont_write_bytecode = True  # no cache files in the source tree
from lattice import clean, pictures, run  # noqa: E402

zep_run, script, work = sys.argv[1:4]
clean(work)
truth, hole, damaged = pictures()
paths = {name: os.path.join(work, name + ".png") for name in ("truth", "damaged", "out")}
Image.fromarray(truth).save(paths["truth"])
Image.fromarray(damaged).save(paths["damaged"])
run(zep_run, script, work, "clone", {name.upper(): path for name, path in paths.items()})

out = np.asarray(Image.open(paths["out"]).convert("RGB")).astype(np.int32)
error = np.abs(out - truth.astype(np.int32))
print(f"largest difference from the picture: {error.max()}, "
      f"of the damaged copy: {np.abs(damaged.astype(np.int32) - truth).max()}")
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
