#!/usr/bin/env python3
"""Regularized deconvolution beside scikit-image (python3-skimage): runs bench_deconv, which
writes the clean and degraded pictures (Gaussian blur of sigma 1.5, noise of sigma 1 and 2)
and prints our least-squares PSNR against time, then restores the same pictures with
`skimage.restoration.richardson_lucy` (2 to 100 iterations), `wiener` (its balance chosen
on a small grid as the one of best PSNR) and `unsupervised_wiener`, all with the blur's own
taps as the PSF, on the picture scaled to 0-1 as scikit-image expects and mirrored by 32
pixels beyond its edges (cut off again) so that their borders match ours. PSNR leaves out the
same 16-pixel border as bench_deconv. For each peer line it prints our best PSNR within the
same time, over every LS line: at one thread our CPU time against the peer's (the steadier
figure on a loaded machine), at all cores our wall time against the peer's (scikit-image's
restorations run on one thread).

    bench/deconv_peers.py BENCH_DECONV [WORK-DIR] [--large]
"""
import math
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np
from skimage import restoration

BORDER = 16
PAD = 32  # the peers see the picture mirrored beyond its edges, as our operators do
LS = re.compile(r"(\d+x\d+) noise (\d) threads\s+(\d+)\s+LS weight \S+\s+(\d+) it\.\s+([\d.]+) ms"
                r"\s+\(CPU\s+([\d.]+)\)\s+PSNR ([\d.]+) dB")


def psnr(a, clean):
    d = (a.astype(np.float64) - clean)[BORDER:-BORDER, BORDER:-BORDER]
    return 10 * math.log10(255.0 ** 2 / np.mean(d ** 2))


def timed(run):
    """The result, wall and CPU milliseconds of a run."""
    start, cpu = time.perf_counter(), time.process_time()
    out = run()
    return out, (time.perf_counter() - start) * 1000, (time.process_time() - cpu) * 1000


def unsupervised(image, psf):
    # The seed's keyword was renamed between scikit-image versions.
    try:
        return restoration.unsupervised_wiener(image, psf, clip=False, rng=1)[0]
    except TypeError:
        return restoration.unsupervised_wiener(image, psf, clip=False, random_state=1)[0]


def padded(restore):
    # Runs restore on the picture extended by mirroring and cuts the result back.
    def run(image):
        out = restore(np.pad(image, PAD, mode="reflect"))
        return out[PAD:-PAD, PAD:-PAD]
    return run


def main(bench, work, large):
    ours = subprocess.run([bench, "--npy", work] + (["--large"] if large else []), check=True,
                          capture_output=True, text=True).stdout
    print(ours, end="", flush=True)
    ls = {}
    for m in LS.finditer(ours):
        size, noise, threads, _, ms, cpu, p = m.groups()
        ls.setdefault((size, int(noise)), {}).setdefault(int(threads), []).append(
            (float(ms), float(cpu), float(p)))
    taps = np.load(os.path.join(work, "taps.npy")).astype(np.float64)
    psf = np.outer(taps, taps)
    psf /= psf.sum()
    for size in ["1000x1000"] + (["4000x3000"] if large else []):
        clean = np.load(os.path.join(work, f"clean-{size}.npy")).astype(np.float64)
        for noise in (1, 2):
            blurred = np.load(os.path.join(work, f"blurred-{size}-{noise}.npy")) / 255.0
            ours_by_threads = ls.get((size, noise), {})

            def line(name, result, ms, cpu):
                # Our best PSNR within the peer's time: at one thread CPU time against CPU
                # time, at all cores wall time against the peer's (one-thread) wall time.
                p = psnr(result * 255.0, clean)
                text = (f"{size} noise {noise}  {name:<28} {ms:10.1f} ms (CPU {cpu:10.1f})"
                        f"  PSNR {p:.2f} dB")
                for threads, points in sorted(ours_by_threads.items()):
                    if threads == 1:
                        within = [q for _, c, q in points if c <= cpu]
                        what = "1 thr., CPU"
                    else:
                        within = [q for w, _, q in points if w <= ms]
                        what = f"{threads} thr., wall"
                    text += (f"   ZEP ({what}) best within: "
                             + (f"{max(within):.2f} dB" if within else "-"))
                print(text, flush=True)

            iterations = (2, 5, 10, 20, 50, 100) if size == "1000x1000" else (5, 10, 20, 50)
            for n in iterations:
                result, ms, cpu = timed(lambda: padded(lambda i: restoration.richardson_lucy(
                    i, psf, num_iter=n, clip=False))(blurred))
                line(f"richardson_lucy {n} it.", result, ms, cpu)
            best = None
            for balance in (0.003, 0.01, 0.03, 0.1, 0.3):
                result = padded(lambda i: restoration.wiener(i, psf, balance, clip=False))(blurred)
                p = psnr(result * 255.0, clean)
                if best is None or p > best[1]:
                    best = (balance, p)
            result, ms, cpu = timed(lambda: padded(
                lambda i: restoration.wiener(i, psf, best[0], clip=False))(blurred))
            line(f"wiener balance {best[0]}", result, ms, cpu)
            result, ms, cpu = timed(lambda: padded(lambda i: unsupervised(i, psf))(blurred))
            line("unsupervised_wiener", result, ms, cpu)


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--large"]
    work = args[1] if len(args) > 1 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    main(args[0], work, "--large" in sys.argv)
