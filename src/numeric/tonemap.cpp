// The luminance steps of the two tone maps: the local compression of Tone Map 1 and the
// signed rank transform that equalises Tone Map 2's gradient magnitudes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/blocksum.h"
#include "numeric/matrix.h"
#include "numeric/sort.h"
#include "platform/parallel.h"

matrix& matrix::compressluminance(const matrix& s, float k, float sharpener) {
  const int64_t count = std::min(n, s.n);
  const double a = sharpener;
  if (k == 0.0f) {
    ParallelBlocks(count, BlockFor(8), [&](int64_t i0, int64_t i1) {
      for (int64_t i = i0; i < i1; ++i) {
        const double l = x[i], t = s.x[i];
        x[i] = float(l - a * t * std::log(t / l));
      }
    });
    return *this;
  }
  const double km = double(k) * mean();
  ParallelBlocks(count, BlockFor(8), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const double l = x[i], t = s.x[i];
      // S ln(S/L) is never below -L/e, so up to a sharpener of e the denominator stays at
      // least k m; beyond it the limit keeps it there rather than crossing zero.
      const double detail = std::max(a * t * std::log(t / l), -l);
      x[i] = float(l / (detail + l + km));
    }
  });
  float largest = -1.0f;
  for (int64_t i = 0; i < count; ++i) largest = std::max(largest, x[i]);
  return largest != 0.0f ? mulscalar(255.0f / largest) : *this;
}

namespace {
// The statistic of sorted magnitudes: 1 the largest, 2 the median, 3 the sum.
double SortedStatistic(const float* v, int n, int type) {
  if (n == 0) return 0.0;
  if (type == 1) return v[n - 1];
  if (type == 2) return n % 2 ? v[n / 2] : 0.5 * (double(v[n / 2 - 1]) + v[n / 2]);
  return BlockSum(size_t(n), [v](size_t i) { return double(v[i]); });
}
}  // namespace

matrix& matrix::rankequalize(int type) {
  if (n == 0) return *this;
  std::vector<float> keys(static_cast<size_t>(n));
  std::vector<int32_t> where(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    keys[size_t(i)] = std::fabs(x[i]);
    where[size_t(i)] = i;
  }
  SortFloatKeys(keys.data(), where.data(), n);
  const bool scaled = type >= 1 && type <= 3;
  const double before = scaled ? SortedStatistic(keys.data(), n, type) : 0.0;
  // One value has no spread to rank within: it becomes 1, as the last value would.
  const double last = n > 1 ? double(n - 1) : 1.0;
  for (int a = 0; a < n;) {
    int b = a;
    while (b + 1 < n && keys[size_t(b + 1)] == keys[size_t(a)]) ++b;
    const float rank = n == 1 ? 1.0f : float(double((a + b) / 2) / last);
    for (int r = a; r <= b; ++r) keys[size_t(r)] = rank;
    a = b + 1;
  }
  if (scaled) {
    const double after = SortedStatistic(keys.data(), n, type);
    // Ranks whose statistic is 0 (every value tied at the bottom) cannot be scaled to it.
    if (after != 0.0) {
      const float factor = float(before / after);
      for (float& v : keys) v *= factor;
    }
  }
  for (int r = 0; r < n; ++r) {
    const int i = where[size_t(r)];
    x[i] = x[i] < 0.0f ? -keys[size_t(r)] : keys[size_t(r)];
  }
  return *this;
}
