"""The transform records and a 30-degree rotation beside OpenCV, an implementation we did
not write. Prints SKIP when OpenCV is missing."""
import os
import subprocess
import sys
import tempfile

try:
    import cv2
    import numpy as np
except ImportError:
    print("SKIP: python3-opencv is not installed")
    sys.exit(0)

dump = sys.argv[1]
rng = np.random.default_rng(5)

# Similarities from two pairs: ours maps output (x, y) to (c x + s y + tx, -s x + c y + ty);
# OpenCV's partial affine from output to source points is [[c, s, tx], [-s, c, ty]].
pairs = []
for _ in range(20):
    out = rng.uniform(0, 200, (2, 2)).astype(np.float32)
    src = rng.uniform(0, 200, (2, 2)).astype(np.float32)
    pairs.append((out, src))
quads = []
for _ in range(20):
    out = np.array([[0, 0], [120, 0], [120, 90], [0, 90]], np.float32) + rng.uniform(-15, 15, (4, 2)).astype(np.float32)
    src = out + rng.uniform(-20, 20, (4, 2)).astype(np.float32)
    quads.append((out, src))
lines = ["s %s" % " ".join("%.9g" % v for v in list(o.ravel()) + list(s.ravel())) for o, s in pairs]
lines += ["h %s" % " ".join("%.9g" % v for v in list(s.ravel()) + list(o.ravel())) for o, s in quads]
got = subprocess.run([dump, "records"], input="\n".join(lines) + "\n", capture_output=True,
                     text=True, check=True).stdout.split("\n")
worst = 0.0
for (o, s), line in zip(pairs, got):
    c, sn, tx, ty = map(float, line.split())
    m, _ = cv2.estimateAffinePartial2D(o, s, method=cv2.LMEDS)
    want = [m[0, 0], m[0, 1], m[0, 2], m[1, 2]]
    worst = max(worst, max(abs(a - b) for a, b in zip([c, sn, tx, ty], want)))
for (o, s), line in zip(quads, got[len(pairs):]):
    h = list(map(float, line.split()))
    m = cv2.getPerspectiveTransform(o, s)
    want = list((m / m[2, 2]).ravel()[:8])
    worst = max(worst, max(abs(a - b) for a, b in zip(h, want)))
print("records: worst difference %.3g" % worst)
if worst > 1e-4:
    sys.exit("records differ from OpenCV by %.3g" % worst)

# A smooth picture turned by 30 degrees about its centre, 0 and 3 back-projection passes.
w, h = 160, 120
y, x = np.mgrid[0:h, 0:w].astype(np.float64)
pic = (128 + 50 * np.sin(0.09 * x + 0.05 * y) * np.cos(0.07 * y - 0.03 * x) + 0.2 * x).astype(np.float32)
m = cv2.getRotationMatrix2D(((w - 1) / 2, (h - 1) / 2), 30, 1.0)
peer = cv2.warpAffine(pic, m, (w, h), flags=cv2.INTER_LANCZOS4, borderMode=cv2.BORDER_REFLECT_101)
inside = (x - (w - 1) / 2) ** 2 + (y - (h - 1) / 2) ** 2 < (min(w, h) / 2 - 8) ** 2
with tempfile.TemporaryDirectory() as d:
    src, dst = os.path.join(d, "in.raw"), os.path.join(d, "out.raw")
    pic.tofile(src)
    for iterations in (0, 3):
        subprocess.run([dump, "rotate", str(w), str(h), "30", str(iterations), src, dst], check=True)
        ours = np.fromfile(dst, np.float32).reshape(h, w)
        rms = np.sqrt(np.mean((ours[inside].astype(np.float64) - peer[inside]) ** 2))
        psnr = 20 * np.log10(255 / rms) if rms > 0 else float("inf")
        print("30 degrees, %d iterations: %.1f dB beside OpenCV" % (iterations, psnr))
        if psnr < 40:
            sys.exit("rotation differs from OpenCV: %.1f dB" % psnr)
