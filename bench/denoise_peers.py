#!/usr/bin/env python3
"""Denoising beside the peers: runs bench_denoise (Fast Noise Removal and the fast bilateral
approximation) and bench_nlmeans (NL Means beside OpenCV in-process) on the same size, then
times the peers on bench_denoise's pictures (noise of sigma 10 and 20, 8-bit values):
OpenCV's `fastNlMeansDenoisingColored` (7 x 7 patches, 21 x 21 search) and `bilateralFilter`
(d 41, sigmaSpace 10: our radius 20 and its Gaussian) through python3-opencv with one thread
and all of them; scikit-image's `denoise_nl_means` (fast_mode, 7 x 7 patches, distance 10),
`denoise_wavelet` (BayesShrink) and `denoise_bilateral`, which run on one thread; and
`gmic -denoise` (Debian package gmic, less its reading of the file) when it is installed.
Each peer runs at its best PSNR on a small parameter grid, chosen on a 400 x 300 crop as our
methods are. Times are wall and CPU milliseconds (gmic's less a run that only reads the file);
scikit-image's filters on pictures above 1 MP are timed on the top 1000 x 1000 crop and their
times scaled by the pixel count. A peer that is missing is named and its lines left out.

    bench/denoise_peers.py BENCH_DIR [WIDTHxHEIGHT] [WORK-DIR]   (default 4000x3000)
"""
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

CROP = (300, 400)
CAP = (1000, 1000)  # rows, columns


def psnr(a, clean):
    d = np.clip(a.astype(np.float64), 0, 255) - clean
    return 10 * math.log10(255.0 ** 2 / np.mean(d ** 2))


def timed(run):
    """The result, wall and CPU milliseconds of a run (CPU of every thread of this process)."""
    start, cpu = time.perf_counter(), time.process_time()
    out = run()
    return out, (time.perf_counter() - start) * 1000, (time.process_time() - cpu) * 1000


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def write_pfm(path, image):
    with open(path, "wb") as f:
        f.write(f"PF\n{image.shape[1]} {image.shape[0]}\n-1.0\n".encode())
        f.write(np.ascontiguousarray(image, dtype="<f4").tobytes())


def read_pfm(path):
    with open(path, "rb") as f:
        f.readline()
        w, h = map(int, f.readline().split())
        scale = float(f.readline())
        data = np.fromfile(f, dtype="<f4" if scale < 0 else ">f4")
    return data.reshape(h, w, 3)


def peers(sigma, all_threads, work):
    """(name, grid, run(image, parameter) -> image, threaded) of every peer present."""
    out = []
    try:
        import cv2

        def nlm(img, h):
            return cv2.fastNlMeansDenoisingColored(img.astype(np.uint8), None, h, h, 7, 21)

        def bil(img, s):
            return cv2.bilateralFilter(img.astype(np.uint8), 41, s, 10)

        out.append(("OpenCV fastNlMeansDenoisingColored", [sigma * f for f in
                    (0.4, 0.6, 0.8, 1.0, 1.25)], nlm, True))
        out.append(("OpenCV bilateralFilter d 41", [sigma * f for f in (1, 2, 3, 4, 6)], bil,
                    True))
    except ImportError:
        print("python3-opencv is not installed: OpenCV's lines are left out")
    try:
        from skimage import restoration

        def sk_nlm(img, h):
            return 255 * restoration.denoise_nl_means(
                img / 255.0, h=h / 255.0, sigma=sigma / 255.0, fast_mode=True, patch_size=7,
                patch_distance=10, channel_axis=-1)

        def sk_wavelet(img, ycbcr):
            return 255 * restoration.denoise_wavelet(
                img / 255.0, method="BayesShrink", mode="soft", rescale_sigma=True,
                convert2ycbcr=bool(ycbcr), channel_axis=-1)

        def sk_bilateral(img, s):
            return 255 * restoration.denoise_bilateral(
                img / 255.0, sigma_color=s / 255.0, sigma_spatial=3, channel_axis=-1)

        out.append(("skimage denoise_nl_means fast", [sigma * f for f in (0.4, 0.6, 0.8, 1.0)],
                    sk_nlm, False))
        out.append(("skimage denoise_wavelet Bayes", [0, 1], sk_wavelet, False))
        out.append(("skimage denoise_bilateral", [sigma * f for f in (1, 2, 3, 4)],
                    sk_bilateral, False))
    except ImportError:
        print("python3-skimage is not installed: its lines are left out")
    gmic = shutil.which("gmic")
    if gmic:
        def gm(img, s):
            src, dst = os.path.join(work, "gmic-in.pfm"), os.path.join(work, "gmic-out.pfm")
            write_pfm(src, img)
            subprocess.run([gmic, "-v", "-", src, "denoise", f"{s},{s}", "o", dst], check=True,
                           capture_output=True)
            return read_pfm(dst)
        out.append(("gmic -denoise", [sigma * f for f in (0.5, 1.0, 1.5, 2.0)], gm, True))
    else:
        print("gmic is not installed (Debian package gmic): its lines are left out")
    return out


def gmic_time(image, s, threads, work):
    src = os.path.join(work, "gmic-in.pfm")
    write_pfm(src, image)
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))

    def run(args):
        c0 = children_cpu()
        _, ms, _ = timed(lambda: subprocess.run(["gmic", "-v", "-", src] + args + ["rm"],
                                                check=True, env=env, capture_output=True))
        return ms, (children_cpu() - c0) * 1000

    loads = [run([]) for _ in range(2)]
    ms, cpu = run(["denoise", f"{s},{s}"])
    return ms - min(l[0] for l in loads), cpu - min(l[1] for l in loads)


def main(bench_dir, size, work):
    for bench in ("bench_denoise", "bench_nlmeans"):
        args = [os.path.join(bench_dir, bench), size] + (["--npy", work] if bench ==
                                                         "bench_denoise" else [])
        print(subprocess.run(args, check=True, capture_output=True, text=True).stdout, end="",
              flush=True)
    all_threads = os.cpu_count() or 1
    clean = np.load(os.path.join(work, "clean.npy")).astype(np.float64)
    for sigma in (10, 20):
        noisy = np.load(os.path.join(work, f"noisy-{sigma}.npy"))
        tune_clean, tune_noisy = clean[:CROP[0], :CROP[1]], noisy[:CROP[0], :CROP[1]]
        for name, grid, run, threaded in peers(sigma, all_threads, work):
            best = max(grid, key=lambda g: psnr(run(tune_noisy, g), tune_clean))
            # scikit-image's one-thread filters would take many minutes on a large picture:
            # they are timed on a crop of at most CAP pixels and their times scaled by the
            # pixel count (each is linear in it); the line says so.
            image, reference, scale, note = noisy, clean, 1.0, ""
            if not threaded and noisy.shape[0] * noisy.shape[1] > CAP[0] * CAP[1]:
                image, reference = noisy[:CAP[0], :CAP[1]], clean[:CAP[0], :CAP[1]]
                scale = noisy.shape[0] * noisy.shape[1] / (CAP[0] * CAP[1])
                note = f"  (timed on {CAP[1]}x{CAP[0]}, times x {scale:g}, PSNR of the crop)"
            for threads in ((1, all_threads) if threaded else (1,)):
                if name.startswith("gmic"):
                    ms, cpu = gmic_time(image, best, threads, work)
                    result = run(image, best)
                else:
                    try:
                        import cv2
                        cv2.setNumThreads(threads)
                    except ImportError:
                        pass
                    result, ms, cpu = timed(lambda: run(image, best))
                print(f"sigma {sigma} threads {threads:2d}  {name:<36} {best:<6g}"
                      f" {ms * scale:10.1f} ms (CPU {cpu * scale:10.1f})"
                      f"  PSNR {psnr(result, reference):.2f} dB{note}", flush=True)


if __name__ == "__main__":
    size = sys.argv[2] if len(sys.argv) > 2 else "4000x3000"
    work = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    main(sys.argv[1], size, work)
