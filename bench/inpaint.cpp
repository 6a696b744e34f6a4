// Diffusion inpainting of a 64 x 64 hole in a smooth 1024 x 1024 RGB picture beside
// OpenCV's inpainting (Navier-Stokes and Telea, radius 3): the default run (5000 steps)
// with one thread and with all of them, then the PSNR inside the hole after a growing
// number of steps, to show when ours reaches the Navier-Stokes result. Then a 500-step
// seamless clone of a 256 x 256 region of a 512 x 512 picture beside OpenCV's
// seamlessClone (NORMAL_CLONE), one thread and all of them. Last, texture inpainting on one
// thread: the fit of the 15 x 15 model on a 128 x 128 sample and the fill of a 128 x 128
// region with it. The argument "clone" runs only the clone, "inpaint" only the inpainting,
// "texture" only the texture inpainting.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include <malloc.h>

#include "image/fpbuffer.h"
#include "numeric/kernels.h"
#include "platform/parallel.h"

#ifdef ZEP_HAVE_OPENCV_PHOTO
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#endif

namespace {
constexpr int kSize = 1024, kHole0 = 480, kHole = 64;

float Truth(int c, int x, int y) {
  return std::round(128.0f + 60.0f * std::sin(x / 37.0f + c) * std::cos(y / 53.0f) +
                    30.0f * std::sin((x + y) / 71.0f));
}

bool InHole(int x, int y) {
  return x >= kHole0 && x < kHole0 + kHole && y >= kHole0 && y < kHole0 + kHole;
}

fpbuffer Damaged() {
  fpbuffer f(kSize, kSize, 0x17);
  f.clearmask();
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        f.plane[c].z[y][x] = InHole(x, y) ? 0.0f : Truth(c, x, y);
        if (c == 0 && InHole(x, y)) f.mask.set(x, y, true);
      }
    }
  }
  return f;
}

// The PSNR inside the hole of values given per channel and pixel.
double Psnr(const std::function<float(int, int, int)>& value) {
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    for (int y = kHole0; y < kHole0 + kHole; ++y) {
      for (int x = kHole0; x < kHole0 + kHole; ++x) {
        const double d = std::clamp(std::round(value(c, x, y)), 0.0f, 255.0f) - Truth(c, x, y);
        sum += d * d;
      }
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (sum / (3.0 * kHole * kHole)));
}

// The clone's pictures: the destination and the source, a 256 x 256 square in the middle.
constexpr int kClone = 512, kRegion = 256, kRegion0 = 128;
float CloneValue(bool source, int c, int x, int y) {
  return source ? std::round(100.0f + 50.0f * std::sin(x / 11.0f + c) * std::sin(y / 7.0f))
                : std::round(Truth(c, x, y));
}
bool InRegion(int x, int y) {
  return x >= kRegion0 && x < kRegion0 + kRegion && y >= kRegion0 && y < kRegion0 + kRegion;
}

// Milliseconds of CPU time of a clock: the calling thread's or the whole process's.
double CpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// The wall time of a job and its CPU time (the calling thread's at one thread, else the
// whole process's, every worker included), both in ms.
struct Timing {
  double wall = 1e300, cpu = 1e300;
};
template <class Job>
void Time(Timing& best, int threads, Job job) {
  const clockid_t clock = threads == 1 ? CLOCK_THREAD_CPUTIME_ID : CLOCK_PROCESS_CPUTIME_ID;
  const double c0 = CpuMs(clock);
  const auto t0 = std::chrono::steady_clock::now();
  job();
  const double wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  best.wall = std::min(best.wall, wall);
  best.cpu = std::min(best.cpu, CpuMs(clock) - c0);
}

void OurClone(Timing& best, int threads) {
  fpbuffer d(kClone, kClone, 0x17), s(kClone, kClone, 0x17);
  d.clearmask();
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kClone; ++y) {
      for (int x = 0; x < kClone; ++x) {
        d.plane[c].z[y][x] = CloneValue(false, c, x, y);
        s.plane[c].z[y][x] = CloneValue(true, c, x, y);
        if (c == 0 && InRegion(x, y)) d.mask.set(x, y, true);
      }
    }
  }
  Time(best, threads, [&] { SeamlessClone(d, s, 500, 2.0f, 3.0f, 0, nullptr); });
}

// Ours with the default settings but the given step count: time in ms and PSNR.
// Texture inpainting of one channel: the fit on a 128 x 128 sample of a noisy pattern and
// the fill of a 128 x 128 region of a 512 x 512 plane, each the best of three, in ms.
void TextureFitAndFill(double& fit, double& fill) {
  matrix sample(128, 128), plane(512, 512);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)
      sample.z[y][x] =
          100.0f + 40.0f * std::sin(0.9f * x + 0.4f * y) + 30.0f * float(RandomUniform());
  for (int k = 0; k < plane.n; ++k) plane.x[k] = sample.x[k % sample.n];
  bitmask region(512, 512);
  for (int y = 192; y < 320; ++y)
    for (int x = 192; x < 320; ++x) region.set(x, y, true);
  matrix coefficients, residuals;
  fit = fill = 1e300;
  for (int r = 0; r < 3; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    sample.texturemodel(coefficients, residuals, 15, 15);
    fit = std::min(
        fit,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    matrix target(plane);
    t0 = std::chrono::steady_clock::now();
    target.texturefill(coefficients, residuals, &region, 15, 15);
    fill = std::min(
        fill,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
}

// Ours with the default settings but the given step count: time in ms and PSNR.
void Ours(int steps, double& ms, double& psnr) {
  fpbuffer f = Damaged();
  const auto t0 = std::chrono::steady_clock::now();
  f.tschumperleinpaint(steps, 5.0f, 0.5f, nullptr, 4, 100, 1, true, 1.0f, 0.001f);
  ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  psnr = Psnr([&](int c, int x, int y) { return f.plane[c].z[y][x]; });
}

void Inpainting(int all) {
  double nsPsnr = 0.0;
#ifdef ZEP_HAVE_OPENCV_PHOTO
  // OpenCV's rows run from the top; the hole is symmetric about the middle rows anyway.
  cv::Mat damaged(kSize, kSize, CV_8UC3), mask(kSize, kSize, CV_8UC1);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      for (int c = 0; c < 3; ++c)
        damaged.at<cv::Vec3b>(y, x)[c] = uint8_t(InHole(x, y) ? 0 : Truth(c, x, y));
      mask.at<uint8_t>(y, x) = InHole(x, y) ? 255 : 0;
    }
  }
  for (int threads : {1, all}) {
    cv::setNumThreads(threads);
    for (int method : {cv::INPAINT_NS, cv::INPAINT_TELEA}) {
      cv::Mat out;
      const auto t0 = std::chrono::steady_clock::now();
      cv::inpaint(damaged, mask, out, 3, method);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      const double p = Psnr([&](int c, int x, int y) { return float(out.at<cv::Vec3b>(y, x)[c]); });
      if (method == cv::INPAINT_NS) nsPsnr = p;
      std::printf("cv::inpaint %-5s threads %2d  %9.1f ms  PSNR %6.2f dB\n",
                  method == cv::INPAINT_NS ? "NS" : "TELEA", threads, ms, p);
    }
  }
#else
  std::printf("cv::inpaint: not built (libopencv-photo-dev missing)\n");
#endif
  for (int threads : {1, all}) {
    SetParallelThreads(threads);
    double ms = 0.0, psnr = 0.0;
    Ours(5000, ms, psnr);
    std::printf("ZEP default (5000 steps) threads %2d  %9.1f ms  PSNR %6.2f dB\n", threads, ms,
                psnr);
  }
  SetParallelThreads(0);
  for (int steps : {0, 50, 100, 200, 500, 1000, 2000, 5000}) {
    double ms = 0.0, psnr = 0.0;
    Ours(steps, ms, psnr);
    std::printf("ZEP %4d steps threads %2d  %9.1f ms  PSNR %6.2f dB%s\n", steps, all, ms, psnr,
                nsPsnr > 0 && psnr >= nsPsnr ? "  (reaches NS)" : "");
  }
}

void Cloning(int all) {
#ifdef ZEP_HAVE_OPENCV_PHOTO
  cv::Mat cdst(kClone, kClone, CV_8UC3), csrc(kClone, kClone, CV_8UC3),
      cmask(kClone, kClone, CV_8UC1);
  for (int y = 0; y < kClone; ++y) {
    for (int x = 0; x < kClone; ++x) {
      for (int c = 0; c < 3; ++c) {
        cdst.at<cv::Vec3b>(y, x)[c] = uint8_t(CloneValue(false, c, x, y));
        csrc.at<cv::Vec3b>(y, x)[c] = uint8_t(CloneValue(true, c, x, y));
      }
      cmask.at<uint8_t>(y, x) = InRegion(x, y) ? 255 : 0;
    }
  }
#endif
  for (int threads : {1, all}) {
    SetParallelThreads(threads);
#ifdef ZEP_HAVE_OPENCV_PHOTO
    cv::setNumThreads(threads);
#endif
    // Ours and OpenCV's in turn, so that both see the same load.
    Timing ours, theirs;
    for (int r = 0; r < 5; ++r) {
      OurClone(ours, threads);
#ifdef ZEP_HAVE_OPENCV_PHOTO
      Time(theirs, threads, [&] {
        cv::Mat out;
        cv::seamlessClone(csrc, cdst, cmask, cv::Point(kClone / 2, kClone / 2), out,
                          cv::NORMAL_CLONE);
      });
#endif
    }
    const bool peer = theirs.wall < 1e300;
    std::printf(
        "clone 256x256, 500 steps threads %2d  ZEP %8.1f ms (cpu %8.1f)  cv::seamlessClone "
        "%8.1f ms (cpu %8.1f)  ratio %5.2f (cpu %5.2f)\n",
        threads, ours.wall, ours.cpu, peer ? theirs.wall : 0.0, peer ? theirs.cpu : 0.0,
        peer ? ours.wall / theirs.wall : 0.0, peer ? ours.cpu / theirs.cpu : 0.0);
  }
  SetParallelThreads(0);
}

void PrintTexture() {
  // Both are serial: the fit folds its observations in order, the fill reads its own output.
  double fit = 0.0, fill = 0.0;
  TextureFitAndFill(fit, fill);
  std::printf("texture fit 15x15 on 128x128 threads  1  %9.1f ms (target 500 ms)\n", fit);
  std::printf("texture fill 128x128 region threads  1  %9.1f ms\n", fill);
}
}  // namespace

int main(int argc, char** argv) {
  // Both sides allocate their working images on every call. Served from the heap rather than
  // fresh mappings, neither pays the first-touch page faults each time, which on a virtual
  // machine cost more than the work (and swing with the load).
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  SetParallelThreads(0);
  const int all = ParallelThreads();
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "inpaint") Inpainting(all);
  if (only.empty() || only == "clone") Cloning(all);
  if (only.empty() || only == "texture") PrintTexture();
  return 0;
}
