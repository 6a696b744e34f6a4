#!/usr/bin/env python3
"""The orientation-steered filters beside G'MIC (Debian package gmic), with one thread and
with all of them, on the pictures bench_pde makes (1000 x 1000 and 4000 x 3000 RGB, noise of
sigma 20 for the smoothers). G'MIC runs its loops through OpenMP: its thread count is set by
OMP_NUM_THREADS, 1 or every core, like ours by ZEP_THREADS.

- `gmic smooth` (anisotropic smoothing) beside Tschumperle Regularization. `smooth` has no
  default amplitude: its "defaults" are its other parameters' defaults with the amplitude of
  best PSNR on a grid (1000 x 1000); its "best" adds a small grid of sharpness and anisotropy
  at that amplitude. Ours: the defaults (70 iterations, sigma 5) and the best of bench_pde's
  grid of iterations and sigmas. Printed: the PSNR of each, the time ratios, and the fastest
  G'MIC amplitude that reaches our defaults' PSNR.
- `gmic sharpen 300,1` (its shock-filter form) beside the Shock Filter at its defaults.

Times are best of runs, G'MIC's less its reading of the file (a run that only loads), wall
and CPU (the CPU time of the one-thread runs is the steadier figure on a loaded machine).

    bench/pde_peers.py BENCH_PDE [WORK-DIR] [--small]
"""
import math
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

AMPLITUDES = (40, 80, 160, 320, 640, 1280)
# (sharpness, anisotropy) tried at the best amplitude; (0.7, 0.3) are G'MIC's defaults.
SHAPES = ((0.7, 0.3), (0.3, 0.3), (1.2, 0.3), (0.7, 0.6), (0.3, 0.6))
NAME = r"(Tschumperle|Isophote|Shock Filter) \((\d+) it\.(?:, sigma ([\d.]+))?\)"
LINE = re.compile(r"(\d+)x(\d+)\s+threads\s+(\d+)\s+" + NAME +
                  r"\s+([\d.]+) ms\s+cpu\s+([\d.]+) ms(?:\s+PSNR\s+([\d.]+) -> ([\d.]+) dB)?")


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


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(args, threads, repeat=2):
    """Best wall and CPU milliseconds of a G'MIC run."""
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    wall = cpu = math.inf
    for _ in range(repeat):
        c0, t0 = children_cpu(), time.perf_counter()
        subprocess.run(args, check=True, env=env, capture_output=True)
        wall = min(wall, time.perf_counter() - t0)
        cpu = min(cpu, children_cpu() - c0)
    return wall * 1000, cpu * 1000


def gmic_psnr(gmic, noisy, clean, command, out):
    subprocess.run([gmic, "-v", "-", noisy] + command.split() + ["o", out], check=True,
                   capture_output=True)
    return psnr(read_pfm(out), clean)


def main(bench, work, small):
    ours = subprocess.run([bench, "--pfm", work] + (["--small"] if small else []), check=True,
                          capture_output=True, text=True).stdout
    print(ours, end="")
    rows = {}
    for m in LINE.finditer(ours):
        w, h, threads, name, it, sigma, ms, cpu, _, after = m.groups()
        rows.setdefault((int(w), int(h), int(threads), name), []).append(
            {"it": int(it), "sigma": float(sigma) if sigma else None, "ms": float(ms),
             "cpu": float(cpu), "psnr": float(after) if after else None})
    gmic = shutil.which("gmic")
    if not gmic:
        print("gmic is not installed (Debian package gmic): its column is left out")
        return
    all_threads = os.cpu_count() or 1
    out = os.path.join(work, "gmic-out.pfm")
    noisy1 = os.path.join(work, "noisy-1000x1000.pfm")
    clean1 = read_pfm(os.path.join(work, "clean-1000x1000.pfm"))
    amplitude, best_default = None, -1.0
    by_amplitude = {}
    for a in AMPLITUDES:
        p = gmic_psnr(gmic, noisy1, clean1, f"smooth {a}", out)
        by_amplitude[a] = p
        print(f"gmic smooth {a:<5} on 1000x1000: PSNR {p:.2f} dB")
        if p > best_default:
            amplitude, best_default = a, p
    shape, best_shaped = SHAPES[0], best_default
    for s in SHAPES[1:]:
        p = gmic_psnr(gmic, noisy1, clean1, f"smooth {amplitude},{s[0]},{s[1]}", out)
        print(f"gmic smooth {amplitude},{s[0]},{s[1]} on 1000x1000: PSNR {p:.2f} dB")
        if p > best_shaped:
            shape, best_shaped = s, p
    grid = rows.get((1000, 1000, 1, "Tschumperle"), [])
    defaults = next((r for r in grid if r["it"] == 70 and r["sigma"] == 5), None)
    best_ours = max(grid, key=lambda r: r["psnr"]) if grid else None
    if defaults and best_ours:
        print(f"PSNR at the defaults: Tschumperle {defaults['psnr']:.2f} dB, gmic smooth "
              f"{amplitude} {best_default:.2f} dB (gap {best_default - defaults['psnr']:+.2f} dB)")
        print(f"PSNR at the best of the grids: Tschumperle {best_ours['it']} it. sigma "
              f"{best_ours['sigma']:g} {best_ours['psnr']:.2f} dB, gmic smooth {amplitude},"
              f"{shape[0]},{shape[1]} {best_shaped:.2f} dB (gap "
              f"{best_shaped - best_ours['psnr']:+.2f} dB)")
        reach = [a for a in AMPLITUDES if by_amplitude[a] >= defaults["psnr"]]
        equal = min(reach) if reach else None
    else:
        equal = None
    sizes = [(1000, 1000)] + ([] if small else [(4000, 3000)])
    for w, h in sizes:
        noisy = os.path.join(work, f"noisy-{w}x{h}.pfm")
        cleanfile = os.path.join(work, f"clean-{w}x{h}.pfm")
        for threads in (1, all_threads):
            load = timed([gmic, "-v", "-", noisy, "rm"], threads)
            less = lambda t: (t[0] - load[0], t[1] - load[1])
            for label, a in (("defaults", amplitude), ("equal PSNR", equal)):
                if a is None:
                    continue
                g = less(timed([gmic, "-v", "-", noisy, "smooth", str(a), "rm"], threads))
                tsch = [r for r in rows.get((w, h, threads, "Tschumperle"), [])
                        if r["it"] == 70 and r["sigma"] == 5]
                line = (f"{w}x{h} threads {threads:2d}  gmic smooth {a} ({label}) "
                        f"{g[0]:9.1f} ms cpu {g[1]:9.1f} ms")
                if tsch:
                    t = tsch[0]
                    line += (f"   Tschumperle defaults {t['ms']:9.1f} ms cpu {t['cpu']:9.1f} ms"
                             f"  ratio {t['ms'] / g[0]:5.2f} (cpu {t['cpu'] / g[1]:5.2f})")
                print(line, flush=True)
            if (w, h, threads) == (1000, 1000, 1) and best_ours:
                g = less(timed([gmic, "-v", "-", noisy, "smooth",
                                f"{amplitude},{shape[0]},{shape[1]}", "rm"], threads))
                b = best_ours
                print(f"{w}x{h} threads {threads:2d}  gmic smooth {amplitude},{shape[0]},"
                      f"{shape[1]} (best) {g[0]:9.1f} ms cpu {g[1]:9.1f} ms   Tschumperle "
                      f"best {b['it']} it. sigma {b['sigma']:g} {b['ms']:9.1f} ms cpu "
                      f"{b['cpu']:9.1f} ms  ratio {b['ms'] / g[0]:5.2f} (cpu "
                      f"{b['cpu'] / g[1]:5.2f})", flush=True)
            shock = rows.get((w, h, threads, "Shock Filter"), [])
            if shock:
                g = less(timed([gmic, "-v", "-", cleanfile, "sharpen", "300,1", "rm"], threads))
                s = shock[0]
                print(f"{w}x{h} threads {threads:2d}  gmic sharpen 300,1 {g[0]:9.1f} ms cpu "
                      f"{g[1]:9.1f} ms   Shock Filter (5 it.) {s['ms']:9.1f} ms cpu "
                      f"{s['cpu']:9.1f} ms  ratio {s['ms'] / g[0]:5.2f} (cpu "
                      f"{s['cpu'] / g[1]:5.2f})", flush=True)


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--small"]
    work = args[1] if len(args) > 1 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    main(args[0], work, "--small" in sys.argv)
