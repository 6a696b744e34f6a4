#include <algorithm>
#include <cmath>

#include "numeric/matrix.h"

int matrix::histogram(int* bins, float lo, float hi) const {
  std::fill(bins, bins + 256, 0);
  if (lo == hi) return 0;
  const bool bytes = lo == 0.0f && hi == 255.0f;
  const float f = static_cast<float>(255.0 / (double(hi) - double(lo)));
  for (int64_t k = 0; k < int64_t(n); ++k) {
    const float v = x[k];
    // NaN and infinities have no bin; converting them would be undefined.
    if (!std::isfinite(v)) continue;
    const float t = bytes ? v + 0.5f : f * (v - lo) + 0.5f;
    if (!(t >= 0.0f && t < 256.0f)) continue;
    ++bins[static_cast<int>(t)];
  }
  return *std::max_element(bins, bins + 256);
}
