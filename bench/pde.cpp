// The orientation-steered filters on float RGB pictures of 4000 x 3000 and 1000 x 1000:
// Tschumperle Regularization at its defaults (70 iterations, sigma 5; on the smaller picture with
// one thread also a grid of iteration counts and sigmas), the Shock Filter at its defaults and
// with one iteration, Isophote Smoothing 8 iterations, each with one thread and with all of
// them, wall and process CPU time. The smoothers run on a smooth picture with Gaussian noise of
// sigma 20 and print the PSNR against the clean picture before and after. With "--pfm DIR" the
// clean and the noisy pictures of each size are also written there as PFM files
// ("clean-WxH.pfm", "noisy-WxH.pfm"), for bench/pde_peers.py to run G'MIC on the same input.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "peerline.h"
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

// A Tschumperle setting: the defaults but for the iteration count and the tensor's sigma.
struct Setting {
  int iterations;
  float sigma;
};

void Tschumperle(int w, int h, int threads, const fpbuffer& clean, const fpbuffer& noisy,
                 double before, Setting s) {
  fpbuffer f = noisy;
  const Times t = Timed([&] {
    f.tschumperle(s.iterations, s.sigma, 0.5f, 0.5f, 1, 1, 1, 1, nullptr);
  });
  std::printf("%4dx%-4d threads %2d  Tschumperle (%d it., sigma %g) %10.1f ms  cpu %10.1f ms  "
              "PSNR %5.2f -> %5.2f dB\n",
              w, h, threads, s.iterations, double(s.sigma), t.wall, t.cpu, before,
              Psnr(clean, f));
}

void Run(int w, int h, int threads, const char* pfm, std::string_view only, bool grid) {
  SetParallelThreads(threads);
  const fpbuffer clean = Clean(w, h);
  const fpbuffer noisy = Noisy(clean);
  if (pfm) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h) + ".pfm";
    WritePfm(clean, std::string(pfm) + "/clean-" + size);
    WritePfm(noisy, std::string(pfm) + "/noisy-" + size);
  }
  const double before = Psnr(clean, noisy);
  const auto runs = [only](std::string_view name) { return only.empty() || only == name; };
  if (runs("tschumperle")) {
    // The defaults (70 iterations, sigma 5); with the grid also fewer iterations and a
    // smaller sigma, for the best PSNR reached and the time it takes.
    Tschumperle(w, h, threads, clean, noisy, before, {70, 5});
    if (grid) {
      for (float sigma : {5.0f, 3.0f})
        for (int iterations : {10, 20, 35, 40, 45, 50, 55, 60, 70})
          if (sigma != 5 || iterations != 70)
            Tschumperle(w, h, threads, clean, noisy, before, {iterations, sigma});
    }
  }
  if (runs("isophote")) {
    fpbuffer f = noisy;
    const Times t = Timed([&f] { f.isophote(8, 0.2f, 0, 0, 0, nullptr, false); });
    std::printf("%4dx%-4d threads %2d  Isophote (8 it.)     %10.1f ms  cpu %10.1f ms  "
                "PSNR %5.2f -> %5.2f dB\n",
                w, h, threads, t.wall, t.cpu, before, Psnr(clean, f));
  }
  if (runs("shock")) {
    // The defaults (5 iterations), and one iteration: the nearer match in work to G'MIC's
    // shock-filter call, which is one explicit step.
    for (int iterations : {5, 1}) {
      fpbuffer f = clean;
      const Times t = Timed([&f, iterations] {
        f.shockfilter(iterations, 1, 0.1f, 0.1f, nullptr, false);
      });
      std::printf("%4dx%-4d threads %2d  Shock Filter (%d it.) %10.1f ms  cpu %10.1f ms\n", w, h,
                  threads, iterations, t.wall, t.cpu);
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  // "--small" runs the 1000 x 1000 picture alone; "--pfm DIR" writes the pictures; "--only
  // tschumperle", "isophote" or "shock" runs that filter alone. The Tschumperle grid runs on
  // the 1000 x 1000 picture with one thread.
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
    for (int threads : {1, all}) Run(w, h, threads, threads == 1 ? pfm : nullptr, only, w == 1000 && threads == 1);
  }
  SetParallelThreads(0);
  return 0;
}
