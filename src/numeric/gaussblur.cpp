// Gaussian smoothing along one axis. The taps that fall outside the plane are dropped and
// the rest renormalised, so a constant plane stays constant up to its ends.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// exp(-(k/sigma)^2/2) for k = -r .. r, r = ceil(3 sigma).
std::vector<double> GaussTaps(double sigma) {
  const int r = std::max(1, int(std::ceil(3.0 * sigma)));
  std::vector<double> taps(size_t(2 * r + 1));
  for (int k = -r; k <= r; ++k) taps[size_t(k + r)] = std::exp(-0.5 * (k / sigma) * (k / sigma));
  return taps;
}

// Blurs n samples spaced stride apart in place, through the line buffer.
void BlurLine(float* data, int n, std::ptrdiff_t stride, const std::vector<double>& taps,
              std::vector<float>& line) {
  const int r = int(taps.size() / 2);
  for (int i = 0; i < n; ++i) line[size_t(i)] = data[i * stride];
  for (int i = 0; i < n; ++i) {
    double sum = 0, weight = 0;
    for (int k = std::max(-r, -i); k <= r && i + k < n; ++k) {
      const double w = taps[size_t(k + r)];
      sum += w * line[size_t(i + k)];
      weight += w;
    }
    data[i * stride] = float(sum / weight);
  }
}
}  // namespace

matrix& matrix::gaussblurx(double sigma) {
  if (!(sigma > 0) || n == 0) return *this;
  const std::vector<double> taps = GaussTaps(sigma);
  ParallelBlocks(ny, BlockFor(int64_t(nx) * int64_t(taps.size())), [&](int64_t j0, int64_t j1) {
    std::vector<float> line(static_cast<size_t>(nx));
    for (int64_t j = j0; j < j1; ++j) BlurLine(z[j], nx, 1, taps, line);
  });
  return *this;
}

matrix& matrix::gaussblury(double sigma) {
  if (!(sigma > 0) || n == 0) return *this;
  const std::vector<double> taps = GaussTaps(sigma);
  ParallelBlocks(nx, BlockFor(int64_t(ny) * int64_t(taps.size())), [&](int64_t i0, int64_t i1) {
    std::vector<float> line(static_cast<size_t>(ny));
    for (int64_t i = i0; i < i1; ++i) BlurLine(x + i, ny, nx, taps, line);
  });
  return *this;
}
