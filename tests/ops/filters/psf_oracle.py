"""Independent blurs for the degradation tests: scipy.ndimage with mode 'mirror' (the edge
sample not repeated). Reads a little-endian float32 plane of ny rows of nx samples, writes
the result the same way.

  psf_oracle.py IN OUT NX NY separable VERTICAL_TAPS HORIZONTAL_TAPS
  psf_oracle.py IN OUT NX NY disc RADIUS
"""
import sys

import numpy as np
from scipy import ndimage


def taps(text):
    return np.array([float(t) for t in text.split(",")])


def main():
    src, dst, nx, ny, mode = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    plane = np.fromfile(src, dtype="<f4").reshape(ny, nx).astype(np.float64)
    if mode == "separable":
        out = ndimage.correlate1d(plane, taps(sys.argv[6]), axis=0, mode="mirror")
        out = ndimage.correlate1d(out, taps(sys.argv[7]), axis=1, mode="mirror")
    else:
        r = int(sys.argv[6])
        d = np.arange(-r, r + 1)
        disc = (np.hypot(d[:, None], d[None, :]) <= r + 0.5).astype(np.float64)
        out = ndimage.correlate(plane, disc / disc.sum(), mode="mirror")
    out.astype("<f4").tofile(dst)


main()
