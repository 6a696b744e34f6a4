// Regularized deconvolution, PSNR against time: a textured grey picture blurred by the
// Gaussian (sigma 1.5, the command's Gaussian model) with Gaussian noise of sigma 1 and 2,
// restored by least squares (CGLS with the default regularizers, the slopes, and with
// curvatures added, then slopes or curvatures along or across the direction fields, the
// weights of best PSNR after 40 iterations chosen on a small grid at 1 MP, as the peers'
// settings are, and the best without direction fields when the first uses them) for a range of
// iteration counts, with one thread and with all of them; least absolute deviations on 1 MP. PSNR
// against the clean picture leaves out a border of 16 pixels (the peers' zero-padded or periodic
// borders are not what is compared). With "--npy DIR" the clean and degraded pictures and the
// blur's taps are written there as .npy files for bench/deconv_peers.py, which runs scikit-image's
// restorations on them.
//   bench_deconv [--npy DIR] [--large]   (--large adds 4000 x 3000)
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
#include "peerline.h"
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

// The regularizers' weights: slopes (horizontal, vertical and diagonal), curvatures, and
// the slopes and curvatures along the direction fields of the degraded picture (Min) or
// across them (Max).
struct Setting {
  float slopes = 0.0f, curvatures = 0.0f, alongField = 0.0f, acrossField = 0.0f;
  float curvesAlongField = 0.0f, curvesAcrossField = 0.0f;
  bool fields() const {
    return alongField > 0 || acrossField > 0 || curvesAlongField > 0 || curvesAcrossField > 0;
  }
};

struct Solver {
  LinearOpList forwards, adjoints;
  matrix diagField, hvField, diagCurvatureField, hvCurvatureField;
  Solver(Setting s, const matrix& b) {
    RegularizerWeights& w = CurrentRegularizerWeights();
    w = RegularizerWeights();
    w.slopes = w.slopesDiagonal = s.slopes;
    w.curvatures = w.curvaturesDiagonal = s.curvatures;
    w.dirSlopesMin = w.dirSlopes2Min = s.alongField;
    w.dirSlopesMax = w.dirSlopes2Max = s.acrossField;
    w.dirCurvesMin = w.dirCurves2Min = s.curvesAlongField;
    w.dirCurvesMax = w.dirCurves2Max = s.curvesAcrossField;
    AppendDifferenceRegularizers(forwards, adjoints);
    // As the command builds them, with its default tensor blur of 1.
    RegularizerMaps& maps = CurrentRegularizerMaps();
    if (s.alongField > 0 || s.acrossField > 0) {
      diagField.diagfield(b, 1.0f, 1.0f, 0);
      hvField.hvfield(b, 1.0f, 1.0f, 0);
      maps.diagSlopeField = &diagField;
      maps.hvSlopeField = &hvField;
    }
    if (s.curvesAlongField > 0 || s.curvesAcrossField > 0) {
      diagCurvatureField.diagfield(b, 1.0f, 1.0f, 1);
      hvCurvatureField.hvfield(b, 1.0f, 1.0f, 1);
      maps.diagCurvatureField = &diagCurvatureField;
      maps.hvCurvatureField = &hvCurvatureField;
    }
    if (s.fields()) AppendDirectionFieldRegularizers(forwards, adjoints);
  }
  ~Solver() { CurrentRegularizerMaps() = RegularizerMaps(); }
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;
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

// The weights of best PSNR after 40 iterations, from a small grid; then, when those use the
// direction fields, the best without them, whose iterations cost far less: PSNR against time
// is the better of the two at each time.
std::vector<Setting> BestSettings(const matrix& clean, const matrix& b) {
  Setting best;
  double bestPsnr = -1.0;
  const auto tryOne = [&](Setting s) {
    const double p = Psnr(Solver(s, b).Ls(b, 40), clean);
    std::printf(
        "  slopes %-6g curvatures %-6g along %-6g across %-6g curves along %-6g across %-6g"
        " 40 it.: PSNR %.2f dB\n",
        double(s.slopes), double(s.curvatures), double(s.alongField), double(s.acrossField),
        double(s.curvesAlongField), double(s.curvesAcrossField), p);
    if (p > bestPsnr) bestPsnr = p, best = s;
  };
  for (float w : {0.003f, 0.01f, 0.03f, 0.05f, 0.07f, 0.1f, 0.14f, 0.2f, 0.4f}) tryOne({w, 0.0f});
  const float slopes = best.slopes;
  for (float c : {0.01f, 0.03f, 0.1f, 0.3f}) {
    for (float f : {0.5f, 1.0f}) tryOne({f * slopes, c});
  }
  const Setting plain = best;
  for (float d : {0.03f, 0.1f, 0.3f}) {
    for (float f : {0.25f, 0.5f}) {
      tryOne({f * plain.slopes, plain.curvatures, d, 0.0f});
      tryOne({f * plain.slopes, plain.curvatures, 0.0f, d});
      tryOne({f * plain.slopes, plain.curvatures, 0.0f, 0.0f, d, 0.0f});
      tryOne({f * plain.slopes, plain.curvatures, 0.0f, 0.0f, 0.0f, d});
    }
  }
  if (!best.fields()) return {best};
  return {best, plain};
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
  std::vector<Setting> settings[2];
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
      if (settings[s].empty()) settings[s] = BestSettings(clean, b);
      for (size_t which = 0; which < settings[s].size(); ++which) {
        const Setting best = settings[s][which];
        const Solver solver(best, b);
        for (int threads : {1, all}) {
          SetParallelThreads(threads);
          for (int iterations : {2, 3, 5, 10, 20, 40, 80}) {
            matrix x;
            const Times t = Timed([&] { x = solver.Ls(b, iterations); });
            std::printf(
                "%s noise %.0f threads %2d  LS weight %g/%g/%g/%g/%g/%g %3d it. %10.1f ms"
                " (CPU %10.1f)  PSNR %.2f dB\n",
                size.c_str(), double(noise), threads, double(best.slopes), double(best.curvatures),
                double(best.alongField), double(best.acrossField), double(best.curvesAlongField),
                double(best.curvesAcrossField), iterations, t.wall, t.cpu, Psnr(x, clean));
          }
          if (which == 0 && w * h <= 1000000) {
            for (int lad : {3, 10}) {
              matrix x;
              const Times t = Timed([&] { x = solver.Lad(b, 20, lad); });
              std::printf(
                  "%s noise %.0f threads %2d  LAD weight %g/%g 20 x %d it. %10.1f ms (CPU %10.1f)"
                  "  PSNR %.2f dB\n",
                  size.c_str(), double(noise), threads, double(best.slopes),
                  double(best.curvatures), lad, t.wall, t.cpu, Psnr(x, clean));
            }
          }
          std::fflush(stdout);
        }
        SetParallelThreads(0);
      }
    }
  }
  return 0;
}
