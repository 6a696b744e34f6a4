// Luminance and colour ratios of the tone maps.
#include <cmath>

#include "numeric/matrix.h"
#include "platform/parallel.h"

// Both run element by element on the parallel helper: each element is its own, so the
// bytes are the same on any number of threads.

matrix& matrix::SplitLuminance(matrix& r, matrix& g, matrix& b, float eps) {
  dim(r.nx, r.ny);
  ParallelBlocks(n, BlockFor(8), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const float l = float(double(eps) + 0.299 * r.x[k] + 0.587 * g.x[k] + 0.114 * b.x[k]);
      x[k] = l;
      r.x[k] /= l;
      g.x[k] /= l;
      b.x[k] /= l;
    }
  });
  return *this;
}

const matrix& matrix::MergeLuminance(matrix& r, matrix& g, matrix& b, double gamma) const {
  ParallelBlocks(n, BlockFor(64), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      r.x[k] = float(x[k] * std::pow(double(r.x[k]), gamma));
      g.x[k] = float(x[k] * std::pow(double(g.x[k]), gamma));
      b.x[k] = float(x[k] * std::pow(double(b.x[k]), gamma));
    }
  });
  return *this;
}
