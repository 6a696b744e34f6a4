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
- At equal or better PSNR: the cheapest of our grid settings whose PSNR reaches G'MIC's best,
  beside that best. Our defaults (70 iterations) lie past the grid's PSNR peak, so the defaults
  row alone does not say what either costs for a given quality.
- `gmic sharpen 300,1` (its shock-filter form) beside the Shock Filter at its defaults (5
  iterations) and with one iteration. G'MIC's call is one explicit step, while each of our
  iterations builds and smooths a structure tensor for each channel: one iteration is the
  nearer match in work.

G'MIC's time of one call is taken by difference: a process that runs the command k times, each
on a fresh copy of the picture, less one that only makes and drops the k copies, over k. The
start-up and the reading of the file, which cost a good part of a 1 MP call and swing with the
load, drop out, and k calls outweigh the swings that are left. (A call repeated on its own
result is no measure: `smooth` on a picture it has already smoothed takes several times as
long.) Each process runs several times; the rows give the per-call time from the fastest runs
and from the median ones, wall and CPU (the CPU time, from the children's rusage, is the
steadier figure on a loaded machine). Our times are bench_pde's, one run each.

    bench/pde_peers.py BENCH_PDE [WORK-DIR] [--small]
"""
import math
import os
import re
import resource
import shutil
import statistics
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


def timed(args, threads, runs):
    """Wall and CPU milliseconds of `runs` runs of a process."""
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    walls, cpus = [], []
    for _ in range(runs):
        c0, t0 = children_cpu(), time.perf_counter()
        subprocess.run(args, check=True, env=env, capture_output=True)
        walls.append(1000 * (time.perf_counter() - t0))
        cpus.append(1000 * (children_cpu() - c0))
    return walls, cpus


def gmic_call(gmic, image, command, threads, calls, runs):
    """One call of a G'MIC command on the image: {"min": (wall, cpu), "median": (wall, cpu)} in
    milliseconds, from a process running it `calls` times on copies of the image less one
    making and dropping as many copies."""
    def process(step):
        return timed([gmic, "-v", "-", image, "repeat", str(calls)] + step + ["rm.", "done", "rm"],
                     threads, runs)
    copies = process(["[0]"])
    many = process([f"+{command[0]}[0]"] + command[1:])
    per = lambda pick, i: (pick(many[i]) - pick(copies[i])) / calls
    return {name: (per(pick, 0), per(pick, 1))
            for name, pick in (("min", min), ("median", statistics.median))}


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
    gmic_binary = shutil.which("gmic")
    if not gmic_binary:
        print("gmic is not installed (Debian package gmic): its column is left out")
        return
    all_threads = os.cpu_count() or 1
    out = os.path.join(work, "gmic-out.pfm")
    noisy1 = os.path.join(work, "noisy-1000x1000.pfm")
    clean1 = read_pfm(os.path.join(work, "clean-1000x1000.pfm"))
    amplitude, best_default = None, -1.0
    by_amplitude = {}
    for a in AMPLITUDES:
        p = gmic_psnr(gmic_binary, noisy1, clean1, f"smooth {a}", out)
        by_amplitude[a] = p
        print(f"gmic smooth {a:<5} on 1000x1000: PSNR {p:.2f} dB")
        if p > best_default:
            amplitude, best_default = a, p
    shape, best_shaped = SHAPES[0], best_default
    for s in SHAPES[1:]:
        p = gmic_psnr(gmic_binary, noisy1, clean1, f"smooth {amplitude},{s[0]},{s[1]}", out)
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
    # The cheapest of our grid at or above G'MIC's best PSNR.
    reaching = [r for r in grid if r["psnr"] >= best_shaped]
    cheapest = min(reaching, key=lambda r: r["cpu"]) if reaching else None
    if cheapest:
        print(f"Cheapest Tschumperle at or above gmic's best PSNR: {cheapest['it']} it. sigma "
              f"{cheapest['sigma']:g} {cheapest['psnr']:.2f} dB")
    known = {}

    def gmic_time(image, command, threads, size):
        key = (image, command, threads)
        if key not in known:
            calls, runs = (4, 3) if size == (1000, 1000) else (2, 1)
            known[key] = gmic_call(gmic_binary, image, command.split(), threads, calls, runs)
        return known[key]

    def row(w, h, threads, label, g, name, ours):
        line = (f"{w}x{h} threads {threads:2d}  gmic {label} per call: fastest "
                f"{g['min'][0]:8.1f} ms cpu {g['min'][1]:8.1f} ms, median {g['median'][0]:8.1f} ms "
                f"cpu {g['median'][1]:8.1f} ms")
        if ours:
            line += (f"   {name} {ours['ms']:8.1f} ms cpu {ours['cpu']:8.1f} ms   ratio cpu "
                     f"{ours['cpu'] / g['min'][1]:5.2f} / {ours['cpu'] / g['median'][1]:5.2f}, "
                     f"wall {ours['ms'] / g['min'][0]:5.2f} / {ours['ms'] / g['median'][0]:5.2f}")
        print(line, flush=True)

    sizes = [(1000, 1000)] + ([] if small else [(4000, 3000)])
    for w, h in sizes:
        noisy = os.path.join(work, f"noisy-{w}x{h}.pfm")
        cleanfile = os.path.join(work, f"clean-{w}x{h}.pfm")
        for threads in (1, all_threads):
            tsch = next((r for r in rows.get((w, h, threads, "Tschumperle"), [])
                         if r["it"] == 70 and r["sigma"] == 5), None)
            for label, a in (("defaults", amplitude), ("equal PSNR", equal)):
                if a is not None:
                    row(w, h, threads, f"smooth {a} ({label})",
                        gmic_time(noisy, f"smooth {a}", threads, (w, h)), "Tschumperle defaults",
                        tsch)
            if (w, h, threads) == (1000, 1000, 1) and best_ours:
                # G'MIC's default shape is the plain amplitude's call, timed once.
                shaped = "" if shape == SHAPES[0] else f",{shape[0]},{shape[1]}"
                best = gmic_time(noisy, f"smooth {amplitude}{shaped}", threads, (w, h))
                b = best_ours
                row(w, h, threads, f"smooth {amplitude},{shape[0]},{shape[1]} (best)", best,
                    f"Tschumperle best {b['it']} it. sigma {b['sigma']:g}", b)
                if cheapest:
                    c = cheapest
                    row(w, h, threads, f"smooth {amplitude},{shape[0]},{shape[1]} (best)", best,
                        f"Tschumperle at or above it, {c['it']} it. sigma {c['sigma']:g}", c)
            for s in rows.get((w, h, threads, "Shock Filter"), []):
                row(w, h, threads, "sharpen 300,1",
                    gmic_time(cleanfile, "sharpen 300,1", threads, (w, h)),
                    f"Shock Filter ({s['it']} it.)", s)


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--small"]
    work = args[1] if len(args) > 1 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    main(args[0], work, "--small" in sys.argv)
