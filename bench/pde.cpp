// The orientation-steered filters on float RGB pictures of 4000 x 3000 and 1000 x 1000:
// Tschumperle Regularization at its defaults (70 iterations, and 10, 20, 35), the Shock Filter at
// its defaults, Isophote Smoothing 8 iterations, each with one thread and with all of them. The
// smoothers run on a smooth picture with Gaussian noise of sigma 20 and print the PSNR against the
// clean picture before and after. With "--pfm DIR" the clean and the noisy pictures of each size
// are also written there as PFM files ("clean-WxH.pfm", "noisy-WxH.pfm"), for bench/pde_peers.py to
// run G'MIC on the same input.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "files.h"
#include "image/fpbuffer.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
fpbuffer Clean(int w, int h) {
  fpbuffer f(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) {
      const int x = k % w, y = k / w;
      // Soft shading with sharp-edged discs: edges for the filters to keep.
      const float dx = float(x % 200 - 100), dy = float(y % 160 - 80);
      const float disc = dx * dx + dy * dy < 2500 ? 70.0f : 0.0f;
      f.plane[c].x[k] = 90.0f + 40.0f * std::sin(0.004f * x + c) * std::cos(0.005f * y) + disc;
    }
  }
  return f;
}

fpbuffer Noisy(const fpbuffer& clean) {
  fpbuffer f(clean);
  std::mt19937 random(20);
  std::normal_distribution<float> noise(0.0f, 20.0f);
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] += noise(random);
  return f;
}

double Psnr(const fpbuffer& a, const fpbuffer& b) {
  double sum = 0;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < a.n; ++k) {
      const double d = double(a.plane[c].x[k]) - b.plane[c].x[k];
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 / (sum / (3.0 * a.n)));
}

double Timed(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void Run(int w, int h, int threads, const char* pfm, std::string_view only) {
  SetParallelThreads(threads);
  const fpbuffer clean = Clean(w, h);
  const fpbuffer noisy = Noisy(clean);
  if (pfm) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h) + ".pfm";
    WritePfm(clean, std::string(pfm) + "/clean-" + size);
    WritePfm(noisy, std::string(pfm) + "/noisy-" + size);
  }
  const double before = Psnr(clean, noisy);
  // The defaults' 70 iterations, and fewer, for the PSNR reached against the time spent.
  const auto runs = [only](std::string_view name) { return only.empty() || only == name; };
  fpbuffer f;
  for (int iterations : {10, 20, 35, 70}) {
    if (!runs("tschumperle")) break;
    f = noisy;
    const double ms = Timed([&] { f.tschumperle(iterations, 5, 0.5f, 0.5f, 1, 1, 1, 1, nullptr); });
    std::printf("%4dx%-4d threads %2d  Tschumperle (%d it.) %10.1f ms  PSNR %5.2f -> %5.2f dB\n", w,
                h, threads, iterations, ms, before, Psnr(clean, f));
  }
  if (runs("isophote")) {
    f = noisy;
    const double ms = Timed([&f] { f.isophote(8, 0.2f, 0, 0, 0, nullptr, false); });
    std::printf("%4dx%-4d threads %2d  Isophote (8 it.)     %10.1f ms  PSNR %5.2f -> %5.2f dB\n", w,
                h, threads, ms, before, Psnr(clean, f));
  }
  if (!runs("shock")) return;
  f = clean;
  const double ms = Timed([&f] { f.shockfilter(5, 1, 0.1f, 0.1f, nullptr, false); });
  std::printf("%4dx%-4d threads %2d  Shock Filter (5 it.) %10.1f ms\n", w, h, threads, ms);
}
}  // namespace

int main(int argc, char** argv) {
  // "--small" runs the 1000 x 1000 picture alone; "--pfm DIR" writes the pictures; "--only
  // tschumperle", "isophote" or "shock" runs that filter alone.
  bool small = false;
  const char* pfm = nullptr;
  std::string_view only;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--small") small = true;
    if (std::string_view(argv[i]) == "--only" && i + 1 < argc) only = argv[++i];
    if (std::string_view(argv[i]) == "--pfm" && i + 1 < argc) pfm = argv[++i];
  }
  const int all = AllThreads();
  for (const auto& [w, h] : {std::pair{1000, 1000}, std::pair{4000, 3000}}) {
    if (small && w > 1000) break;
    for (int threads : {1, all}) Run(w, h, threads, threads == 1 ? pfm : nullptr, only);
  }
  SetParallelThreads(0);
  return 0;
}
