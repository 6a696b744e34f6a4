#!/usr/bin/env python3
"""The orientation-steered filters beside G'MIC (Debian package gmic), with one thread and
with all of them, on the pictures bench_pde makes (1000 x 1000 and 4000 x 3000 RGB, noise of
sigma 20 for the smoothers): `gmic -smooth` (anisotropic smoothing, its default parameters,
the amplitude it requires chosen on a small grid as the one of best PSNR on the 1000 x 1000
picture) beside Tschumperle Regularization, and `gmic -sharpen` in its shock-filter form
(amplitude 300, edge 1) beside the Shock Filter. G'MIC's times are less its reading of the
file. Prints our lines, G'MIC's, and for the smoother the time our Tschumperle takes to reach
at least G'MIC's PSNR (the fewest iterations of bench_pde's grid that do).

    bench/pde_peers.py BENCH_PDE [WORK-DIR] [--small]
"""
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

from blur_peers import best

AMPLITUDES = (40, 80, 160, 320, 640, 1280, 2560)
LINE = re.compile(r"(\d+)x(\d+)\s+threads\s+(\d+)\s+(Tschumperle|Isophote|Shock Filter) \((\d+) it\.\)"
                  r"\s+([\d.]+) ms(?:\s+PSNR\s+([\d.]+) -> ([\d.]+) dB)?")


def read_pfm(path):
    with open(path, "rb") as f:
        if f.readline().strip() != b"PF":
            raise ValueError(f"{path} is not an RGB PFM file")
        w, h = map(int, f.readline().split())
        scale = float(f.readline())
        data = np.fromfile(f, dtype="<f4" if scale < 0 else ">f4")
    return data.reshape(h, w, 3)


def psnr(a, b):
    return 10 * math.log10(255.0 ** 2 / np.mean((a.astype(np.float64) - b) ** 2))


def gmic_time(gmic, args, threads, load):
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    run = lambda: subprocess.run([gmic, "-v", "-"] + args + ["rm"], check=True, env=env,
                                 capture_output=True)
    return (best(run, 2) - load) * 1000


def main(bench, work, small):
    ours = subprocess.run([bench, "--pfm", work] + (["--small"] if small else []), check=True,
                          capture_output=True, text=True).stdout
    print(ours, end="")
    rows = {}
    for m in LINE.finditer(ours):
        w, h, threads, name, it, ms = m.group(1, 2, 3, 4, 5, 6)
        rows.setdefault((int(w), int(h), int(threads), name), []).append(
            (int(it), float(ms), float(m.group(8)) if m.group(8) else None))
    gmic = shutil.which("gmic")
    if not gmic:
        print("gmic is not installed (Debian package gmic): its column is left out")
        return
    all_threads = os.cpu_count() or 1
    sizes = [(1000, 1000)] + ([] if small else [(4000, 3000)])
    amplitude, best_psnr = None, -1.0
    clean = read_pfm(os.path.join(work, "clean-1000x1000.pfm"))
    out = os.path.join(work, "gmic-out.pfm")
    for a in AMPLITUDES:
        subprocess.run([gmic, "-v", "-", os.path.join(work, "noisy-1000x1000.pfm"), "smooth",
                        str(a), "o", out], check=True, capture_output=True)
        p = psnr(read_pfm(out), clean)
        print(f"gmic -smooth {a:<5} on 1000x1000: PSNR {p:.2f} dB")
        if p > best_psnr:
            amplitude, best_psnr = a, p
    for w, h in sizes:
        noisy = os.path.join(work, f"noisy-{w}x{h}.pfm")
        cleanfile = os.path.join(work, f"clean-{w}x{h}.pfm")
        clean = read_pfm(cleanfile)
        subprocess.run([gmic, "-v", "-", noisy, "smooth", str(amplitude), "o", out], check=True,
                       capture_output=True)
        p = psnr(read_pfm(out), clean)
        for threads in (1, all_threads):
            env = dict(os.environ, OMP_NUM_THREADS=str(threads))
            load = best(lambda: subprocess.run([gmic, "-v", "-", noisy, "rm"], check=True,
                                               env=env, capture_output=True), 2)
            smooth = gmic_time(gmic, [noisy, "smooth", str(amplitude)], threads, load)
            sharpen = gmic_time(gmic, [cleanfile, "sharpen", "300,1"], threads, load)
            tsch = rows.get((w, h, threads, "Tschumperle"), [])
            reach = [r for r in tsch if r[2] is not None and r[2] >= p]
            line = (f"{w}x{h} threads {threads:2d}  gmic -smooth {amplitude} {smooth:9.1f} ms"
                    f"  PSNR {p:.2f} dB   ")
            if reach:
                it, ms, q = min(reach, key=lambda r: r[1])
                line += f"Tschumperle {it} it. {ms:9.1f} ms PSNR {q:.2f} dB  ratio {ms / smooth:5.2f}"
            else:
                line += "Tschumperle never reaches that PSNR on the grid"
            print(line)
            shock = rows.get((w, h, threads, "Shock Filter"), [])
            if shock:
                ms = shock[0][1]
                print(f"{w}x{h} threads {threads:2d}  gmic -sharpen 300,1 {sharpen:9.1f} ms   "
                      f"Shock Filter (5 it.) {ms:9.1f} ms  ratio {ms / sharpen:5.2f}", flush=True)


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--small"]
    work = args[1] if len(args) > 1 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    main(args[0], work, "--small" in sys.argv)
