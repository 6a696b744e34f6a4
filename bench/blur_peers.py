#!/usr/bin/env python3
"""The Gaussian blur of a 4000 x 3000 RGB float image beside the peers, with one thread
and with all of them: ours (bench_blur, three planes), OpenCV's GaussianBlur through
python3-opencv on the interleaved float image with our taps (length max(3, trunc(6 sigma
+ 0.5)) made odd) and reflecting borders, ImageMagick's `convert -gaussian-blur 0xS`
(a two-dimensional kernel: sigma 1 and 3 only, the wider ones take minutes) timed less
its reading of the file, and `gmic -blur` when it is installed (timed by gmic's own tic/toc
around the blur: its reading of the file takes longer than the blur and varies more). Prints
each time and the ratio ours / peer (below 1: ours is faster).

    bench/blur_peers.py BENCH_BLUR [WORK-DIR]
"""
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np

W, H = 4000, 3000
SIGMAS = (1, 3, 10, 32)


def ours(bench):
    # The best of three, as for the peers: the machine may be busy.
    out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=3"],
                         check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        parts = b["run_name"].split("/")
        key = (int(parts[1]), int(parts[2].split(":")[1]))
        times[key] = min(times.get(key, math.inf), b["real_time"])  # milliseconds
    return times


def best(run, repeat=3):
    t = math.inf
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        t = min(t, time.perf_counter() - start)
    return t


def opencv(sigma, threads, image):
    cv2.setNumThreads(threads)
    length = max(3, int(6 * sigma + 0.5))
    length += 1 - length % 2
    return best(lambda: cv2.GaussianBlur(image, (length, length), sigma, sigmaY=sigma,
                                         borderType=cv2.BORDER_REFLECT_101))


def command_time(args, threads, repeat=2):
    env = dict(os.environ)
    env["MAGICK_THREAD_LIMIT"] = str(threads)
    env["OMP_NUM_THREADS"] = str(threads)
    return best(lambda: subprocess.run(args, check=True, env=env, capture_output=True), repeat)


def gmic_time(gmic, pfm, sigma, threads, repeat=2):
    env = dict(os.environ)
    env["OMP_NUM_THREADS"] = str(threads)
    t = math.inf
    for _ in range(repeat):
        out = subprocess.run([gmic, pfm, "tic", "blur", str(sigma), "toc", "rm", "q"], check=True,
                             env=env, capture_output=True, text=True)
        found = re.search(r"Elapsed time: ([0-9.]+) s", out.stdout + out.stderr)
        if not found:
            raise RuntimeError("gmic printed no elapsed time")
        t = min(t, float(found.group(1)))
    return t


def main(bench, work):
    all_threads = os.cpu_count() or 1
    zep = ours(bench)
    rng = np.random.default_rng(5)
    image = (rng.random((H, W, 3), dtype=np.float32) * 255).astype(np.float32)
    miff = os.path.join(work, "in.miff")
    subprocess.run(["convert", "-size", f"{W}x{H}", "xc:", "-seed", "5", "+noise", "Random",
                    "-depth", "32", "-define", "quantum:format=floating-point", miff],
                   check=True)
    gmic = shutil.which("gmic")
    if gmic:
        pfm = os.path.join(work, "in.pfm")
        subprocess.run(["convert", miff, pfm], check=True)
    else:
        print("gmic is not installed: its column is left out")
    load = {t: command_time(["convert", miff, "null:"], t) for t in (1, all_threads)}
    print(f"{'sigma':>5} {'threads':>7} {'ours ms':>9} {'OpenCV ms':>10} {'ratio':>6}"
          f" {'convert ms':>11} {'ratio':>6}" + (f" {'gmic ms':>9} {'ratio':>6}" if gmic else ""))
    for sigma in SIGMAS:
        for threads in (1, all_threads):
            mine = zep[(sigma, threads)]
            cv = opencv(sigma, threads, image) * 1000
            line = f"{sigma:>5} {threads:>7} {mine:>9.1f} {cv:>10.1f} {mine / cv:>6.2f}"
            if sigma <= 3:
                im = (command_time(["convert", miff, "-gaussian-blur", f"0x{sigma}", "null:"],
                                   threads) - load[threads]) * 1000
                line += f" {im:>11.1f} {mine / im:>6.2f}"
            else:
                line += f" {'-':>11} {'-':>6}"
            if gmic:
                g = gmic_time(gmic, pfm, sigma, threads) * 1000
                line += f" {g:>9.1f} {mine / g:>6.2f}"
            print(line, flush=True)


if __name__ == "__main__":
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    main(sys.argv[1], work)
