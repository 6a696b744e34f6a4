#!/usr/bin/env python3
"""Peer estimates for bench_align on raw little-endian float32 planes (loading not timed).

  align_peers.py shift W H TEMPLATE IMAGE     cv2.phaseCorrelate, findTransformECC
                                               (MOTION_TRANSLATION), and align_image_stack
                                               (hugin-tools, when installed: the mean offset of
                                               its control points, 16-bit TIFF copies written
                                               untimed); prints per method "name dx dy seconds
                                               cpu-seconds", the shift that maps the template
                                               onto the image
  align_peers.py rotate W H TEMPLATE IMAGE     findTransformECC (MOTION_EUCLIDEAN); prints
                                               "ecc theta dx dy seconds" (theta in radians,
                                               about the origin) or "ecc failed seconds"
  align_peers.py flow W H TEMPLATE IMAGE OUT   DISOpticalFlow MEDIUM on 8-bit copies; writes
                                               the flow (x plane, then y plane) to OUT and
                                               prints "dis seconds cpu-seconds"
CPU seconds are the process's, over all of OpenCV's threads.
  align_peers.py warp W H IMAGE                warpAffine LANCZOS4 of a turn by 10 degrees;
                                               prints "warp seconds"
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np


def load(name, w, h):
    return np.fromfile(name, dtype="<f4", count=w * h).reshape(h, w)


def shift(w, h, t, i):
    a, b = load(t, w, h), load(i, w, h)
    start, cpu = time.perf_counter(), time.process_time()
    (dx, dy), _ = cv2.phaseCorrelate(a, b)
    print(f"phaseCorrelate {dx:.6f} {dy:.6f} {time.perf_counter() - start:.6f} {time.process_time() - cpu:.6f}")
    warp = np.eye(2, 3, dtype=np.float32)
    start, cpu = time.perf_counter(), time.process_time()
    try:
        _, warp = cv2.findTransformECC(a, b, warp, cv2.MOTION_TRANSLATION,
                                       (cv2.TERM_CRITERIA_EPS | cv2.TERM_CRITERIA_COUNT, 100, 1e-5),
                                       None, 5)
        print(f"eccTranslation {warp[0, 2]:.6f} {warp[1, 2]:.6f} {time.perf_counter() - start:.6f} "
              f"{time.process_time() - cpu:.6f}")
    except cv2.error:
        print(f"eccTranslation failed {time.perf_counter() - start:.6f}")
    align_image_stack(a, b)


def align_image_stack(a, b):
    """The mean offset of the control points align_image_stack matches between 16-bit copies
    of the two planes (one scale for both); nothing when the program is not installed."""
    program = shutil.which("align_image_stack")
    if not program:
        return
    lo, hi = float(a.min()), float(a.max())
    scale = 65535.0 / (hi - lo) if hi > lo else 1.0
    with tempfile.TemporaryDirectory() as work:
        names = []
        for k, plane in enumerate((a, b)):
            name = os.path.join(work, f"{k}.tif")
            cv2.imwrite(name, np.clip((plane - lo) * scale, 0, 65535).astype(np.uint16))
            names.append(name)
        pto = os.path.join(work, "out.pto")
        start, cpu = time.perf_counter(), resource.getrusage(resource.RUSAGE_CHILDREN)
        run = subprocess.run([program, "-p", pto, "--use-given-order", *names],
                             capture_output=True, check=False)
        seconds = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        used = (after.ru_utime - cpu.ru_utime) + (after.ru_stime - cpu.ru_stime)
        offsets = []
        if run.returncode == 0 and os.path.exists(pto):
            with open(pto, encoding="utf-8", errors="replace") as project:
                for line in project:
                    fields = dict((f[0], f[1:]) for f in line.split()[1:] if f[:1] in "xyXY")
                    if line.startswith("c ") and len(fields) == 4:
                        offsets.append((float(fields["X"]) - float(fields["x"]),
                                        float(fields["Y"]) - float(fields["y"])))
        if offsets:
            dx, dy = np.mean(np.array(offsets), axis=0)
            print(f"alignImageStack {dx:.6f} {dy:.6f} {seconds:.6f} {used:.6f}")
        else:
            print(f"alignImageStack failed {seconds:.6f}")


def rotate(w, h, t, i):
    a, b = load(t, w, h), load(i, w, h)
    warp = np.eye(2, 3, dtype=np.float32)
    start = time.perf_counter()
    try:
        _, warp = cv2.findTransformECC(a, b, warp, cv2.MOTION_EUCLIDEAN,
                                       (cv2.TERM_CRITERIA_EPS | cv2.TERM_CRITERIA_COUNT, 200, 1e-6),
                                       None, 5)
        theta = float(np.arctan2(warp[1, 0], warp[0, 0]))
        print(f"ecc {theta:.8f} {warp[0, 2]:.6f} {warp[1, 2]:.6f} {time.perf_counter() - start:.6f}")
    except cv2.error:
        print(f"ecc failed {time.perf_counter() - start:.6f}")


def flow(w, h, t, i, out):
    a = np.clip(load(t, w, h), 0, 255).astype(np.uint8)
    b = np.clip(load(i, w, h), 0, 255).astype(np.uint8)
    dis = cv2.DISOpticalFlow_create(cv2.DISOPTICAL_FLOW_PRESET_MEDIUM)
    start, cpu = time.perf_counter(), time.process_time()
    f = dis.calc(a, b, None)
    seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
    np.ascontiguousarray(np.stack([f[:, :, 0], f[:, :, 1]])).astype("<f4").tofile(out)
    print(f"dis {seconds:.6f} {cpu:.6f}")


def warp(w, h, i):
    a = load(i, w, h)
    m = cv2.getRotationMatrix2D(((w - 1) / 2, (h - 1) / 2), 10, 1)
    start = time.perf_counter()
    cv2.warpAffine(a, m, (w, h), flags=cv2.INTER_LANCZOS4, borderMode=cv2.BORDER_REFLECT)
    print(f"warp {time.perf_counter() - start:.6f}")


if __name__ == "__main__":
    mode, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if mode == "shift":
        shift(w, h, sys.argv[4], sys.argv[5])
    elif mode == "rotate":
        rotate(w, h, sys.argv[4], sys.argv[5])
    elif mode == "flow":
        flow(w, h, sys.argv[4], sys.argv[5], sys.argv[6])
    elif mode == "warp":
        warp(w, h, sys.argv[4])
