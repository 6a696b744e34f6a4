// The luminance steps of the two tone maps: the local compression of Tone Map 1 and the
// signed rank transform that equalises Tone Map 2's gradient magnitudes.
#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "numeric/blocksum.h"
#include "numeric/matrix.h"
#include "numeric/radixsort.h"
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
  // The magnitudes by size, by a radix sort of their bits (a float without its sign orders
  // as its bits do, every NaN above infinity) with the element below; equal magnitudes all
  // take one rank, so their order among themselves does not matter.
  Words items(n);
  ParallelBlocks(n, BlockFor(1), [&](int64_t b, int64_t e) {
    for (int64_t i = b; i < e; ++i) {
      items[size_t(i)] = (uint64_t(std::bit_cast<uint32_t>(std::fabs(x[i]))) << 32) | uint64_t(i);
    }
  });
  RadixSortUpper(items, n);
  // The sorted magnitudes, then their ranks, in a block of the sort's own kind: a fresh
  // block of this size costs more in page faults than the pass that fills it.
  Words spare((int64_t(n) + 1) / 2);
  float* const keys = reinterpret_cast<float*>(&spare[0]);
  ParallelBlocks(n, BlockFor(1), [&](int64_t b, int64_t e) {
    for (int64_t r = b; r < e; ++r)
      keys[r] = std::bit_cast<float>(uint32_t(items[size_t(r)] >> 32));
  });
  const bool scaled = type >= 1 && type <= 3;
  const double before = scaled ? SortedStatistic(keys, n, type) : 0.0;
  // One value has no spread to rank within: it becomes 1, as the last value would.
  const double last = n > 1 ? double(n - 1) : 1.0;
  for (int64_t a = 0; a < n;) {
    int64_t b = a;
    while (b + 1 < n && keys[b + 1] == keys[a]) ++b;
    const float rank = n == 1 ? 1.0f : float(double((a + b) / 2) / last);
    for (int64_t r = a; r <= b; ++r) keys[r] = rank;
    a = b + 1;
  }
  if (scaled) {
    const double after = SortedStatistic(keys, n, type);
    // Ranks whose statistic is 0 (every value tied at the bottom) cannot be scaled to it.
    if (after != 0.0) {
      const float factor = float(before / after);
      for (int64_t r = 0; r < n; ++r) keys[r] *= factor;
    }
  }
  ParallelBlocks(n, BlockFor(4), [&](int64_t b, int64_t e) {
    for (int64_t r = b; r < e; ++r) {
      const uint32_t i = uint32_t(items[size_t(r)]);
      x[i] = x[i] < 0.0f ? -keys[r] : keys[r];
    }
  });
  return *this;
}
