// Regularized deconvolution, PSNR against time: a textured grey picture blurred by the
// Gaussian (sigma 1.5, the command's Gaussian model) with Gaussian noise of sigma 1 and 2,
// restored by least squares (CGLS with the default slopes, their weight chosen on a small
// grid at 1 MP) for a range of iteration counts, with one thread and with all of them;
// least absolute deviations on 1 MP. PSNR against the clean picture leaves out a border
// of 16 pixels (the peers' zero-padded or periodic borders are not what is compared).
// With "--npy DIR" the clean and degraded pictures and the blur's taps are written there
// as .npy files for bench/deconv_peers.py, which runs scikit-image's restorations on them.
//   bench_deconv [--npy DIR] [--large]   (--large adds 4000 x 3000)
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "numeric/cvector.h"
#include "ops/filters/degradation.h"
#include "ops/filters/regularizers.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
constexpr int kBorder = 16;
constexpr float kSigma = 1.5f;

// Shading, hard-edged blocks and discs, and fine stripes the blur nearly removes.
matrix Clean(int w, int h) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Between 5 and 225: positive, as Richardson-Lucy needs.
      float v = 120.0f + 40.0f * std::sin(0.011f * x) * std::cos(0.017f * y);
      if (((x / 61) + (y / 47)) % 2 == 0) v += 40.0f;
      const float dx = float(x % 150 - 75), dy = float(y % 130 - 65);
      if (dx * dx + dy * dy < 900.0f) v -= 50.0f;
      v += 15.0f * std::sin(0.9f * x + 0.4f * y) + 10.0f * std::sin(0.5f * y);
      m.z[y][x] = v;
    }
  }
  return m;
}

matrix Degraded(const matrix& clean, float noise) {
  matrix b(clean.nx, clean.ny);
  PsfGaussian(b, clean);
  std::mt19937 gen(7);
  std::normal_distribution<float> n(0.0f, noise);
  for (int k = 0; k < b.n; ++k) b.x[k] += n(gen);
  return b;
}

double Psnr(const matrix& a, const matrix& b) {
  double se = 0.0;
  int64_t count = 0;
  for (int y = kBorder; y < a.ny - kBorder; ++y) {
    for (int x = kBorder; x < a.nx - kBorder; ++x) {
      const double d = double(a.z[y][x]) - b.z[y][x];
      se += d * d;
      ++count;
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (se / double(count)));
}

double Ms(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

struct Solver {
  LinearOpList forwards, adjoints;
  explicit Solver(float weight) {
    CurrentRegularizerWeights() = RegularizerWeights();
    CurrentRegularizerWeights().slopes = weight;
    CurrentRegularizerWeights().slopesDiagonal = weight;
    AppendDifferenceRegularizers(forwards, adjoints);
  }
  matrix Ls(const matrix& b, int iterations) const {
    matrix x(b.nx, b.ny);
    intmaps sizes;
    x.cgls(b, PsfGaussianAdj, PsfGaussian, adjoints, forwards, sizes, iterations, 0.0f, iterations);
    return x;
  }
  matrix Lad(const matrix& b, int lsIterations, int ladIterations) const {
    matrix x(b.nx, b.ny);
    float l1 = 0;
    x.lad(b, PsfGaussianAdj, PsfGaussian, adjoints, forwards, &l1, lsIterations, 0.0f, 0.0f,
          ladIterations, lsIterations, false);
    return x;
  }
};

// The slopes' weight of best PSNR after 40 iterations, from a few.
float BestWeight(const matrix& clean, const matrix& b) {
  float best = 0.01f;
  double bestPsnr = -1.0;
  for (float weight : {0.003f, 0.01f, 0.03f, 0.05f, 0.1f, 0.2f, 0.4f}) {
    const double p = Psnr(Solver(weight).Ls(b, 40), clean);
    std::printf("  weight %-6g 40 it.: PSNR %.2f dB\n", double(weight), p);
    if (p > bestPsnr) bestPsnr = p, best = weight;
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  const char* npy = nullptr;
  bool large = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--npy" && i + 1 < argc) npy = argv[++i];
    if (std::string_view(argv[i]) == "--large") large = true;
  }
  SetGaussianSigmas(kSigma, kSigma);
  const int all = AllThreads();
  if (npy) WriteNpy(GaussianPsfKernel(kSigma), std::string(npy) + "/taps.npy", true);
  std::vector<std::pair<int, int>> sizes = {{1000, 1000}};
  if (large) sizes.push_back({4000, 3000});
  float weights[2] = {0, 0};
  for (const auto& [w, h] : sizes) {
    const matrix clean = Clean(w, h);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    if (npy) WriteNpy(clean, std::string(npy) + "/clean-" + size + ".npy");
    for (int s = 0; s < 2; ++s) {
      const float noise = float(s + 1);
      const matrix b = Degraded(clean, noise);
      if (npy) {
        WriteNpy(b, std::string(npy) + "/blurred-" + size + "-" + std::to_string(s + 1) + ".npy");
      }
      std::printf("%s noise %.0f: degraded PSNR %.2f dB\n", size.c_str(), double(noise),
                  Psnr(b, clean));
      if (weights[s] == 0) weights[s] = BestWeight(clean, b);
      const Solver solver(weights[s]);
      for (int threads : {1, all}) {
        SetParallelThreads(threads);
        for (int iterations : {5, 10, 20, 40, 80}) {
          matrix x;
          const double ms = Ms([&] { x = solver.Ls(b, iterations); });
          std::printf("%s noise %.0f threads %2d  LS weight %g %3d it. %10.1f ms  PSNR %.2f dB\n",
                      size.c_str(), double(noise), threads, double(weights[s]), iterations, ms,
                      Psnr(x, clean));
        }
        if (w * h <= 1000000) {
          for (int lad : {3, 10}) {
            matrix x;
            const double ms = Ms([&] { x = solver.Lad(b, 20, lad); });
            std::printf(
                "%s noise %.0f threads %2d  LAD weight %g 20 x %d it. %10.1f ms  PSNR %.2f dB\n",
                size.c_str(), double(noise), threads, double(weights[s]), lad, ms, Psnr(x, clean));
          }
        }
        std::fflush(stdout);
      }
      SetParallelThreads(0);
    }
  }
  return 0;
}
