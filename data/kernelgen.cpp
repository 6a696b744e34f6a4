// Writes the "Kernels" file: for each reduction model that back-projection assumes and
// each scale S of the table, the 21 x 21 kernel g g^T, where g is the 21-tap filter
// (summing to 1) that best undoes "Lanczos-3 enlargement by S, then the model's reduction
// by S" on a 99-sample line, with a small ridge term that keeps its gain bounded where
// the round trip loses almost everything.
#include <cmath>
#include <cstdio>
#include <vector>

#include "numeric/kernelfile.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"

namespace {
constexpr int kTaps = 21, kHalf = 10, kLine = 99, kCentre = 49;
constexpr double kRidge = 1e-3;

// The round trip of a line with one 1 at position j.
std::vector<double> RoundTrip(int model, int scale, int j) {
  matrix line(kLine, 1), up, down, ex, ey, rx, ry;
  line.zero();
  line.x[j] = 1;
  BuildLanczosKernelForScale(ex, 3, kLine, scale, 0, true);
  BuildBoxKernelForScale(ey, 1, 1.0, 0, false);
  ResampleSeparable(up, line, ex, ey);
  BuildReductionKernel(rx, model, false, up.nx, scale);
  ResampleSeparable(down, up, rx, ey);
  return std::vector<double>(down.x, down.x + down.n);
}

// Solves a g = b (kTaps x kTaps, symmetric positive definite) by Gaussian elimination.
std::vector<double> Solve(std::vector<double> a, std::vector<double> b) {
  const int n = kTaps;
  for (int k = 0; k < n; ++k) {
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i * n + k] / a[k * n + k];
      for (int j = k; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
      b[i] -= f * b[k];
    }
  }
  std::vector<double> g(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= a[i * n + j] * g[j];
    g[i] = s / a[i * n + i];
  }
  return g;
}

std::vector<double> Inverse(int model, int scale) {
  // Column t: the round trip of a 1 at kCentre + t - kHalf; the taps weigh these columns
  // so that their sum comes closest to a 1 at kCentre.
  std::vector<std::vector<double>> columns;
  for (int t = 0; t < kTaps; ++t) columns.push_back(RoundTrip(model, scale, kCentre + t - kHalf));
  std::vector<double> normal(kTaps * kTaps), right(kTaps);
  for (int s = 0; s < kTaps; ++s) {
    for (int t = 0; t < kTaps; ++t) {
      double sum = 0;
      for (int i = 0; i < kLine; ++i) sum += columns[s][i] * columns[t][i];
      normal[s * kTaps + t] = sum + (s == t ? kRidge : 0.0);
    }
    right[s] = columns[s][kCentre];
  }
  std::vector<double> g = Solve(normal, right);
  // Symmetric by construction up to rounding; made exactly so, then normalised.
  double sum = 0;
  for (int t = 0; t < kHalf; ++t) g[t] = g[kTaps - 1 - t] = 0.5 * (g[t] + g[kTaps - 1 - t]);
  for (double v : g) sum += v;
  for (double& v : g) v /= sum;
  return g;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kernelgen <output file>\n");
    return 2;
  }
  matrix table(kTaps * kTaps, kKernelRows);
  for (int model = 0; model < 5; ++model) {
    for (int k = 0; k < 6; ++k) {
      const std::vector<double> g = Inverse(model, kKernelScales[k]);
      float* row = table.z[6 * model + k];
      for (int i = 0; i < kTaps; ++i) {
        for (int j = 0; j < kTaps; ++j) row[i * kTaps + j] = float(g[i] * g[j]);
      }
    }
  }
  try {
    table.writefile(argv[1]);
  } catch (...) {
    std::fprintf(stderr, "kernelgen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
