// Matching one plane to a reference: gains, least-squares lines, the wavelet match and the
// levels match.
#include "numeric/matching.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/blocksum.h"
#include "numeric/matrixarray.h"
#include "numeric/radixsort.h"
#include "numeric/sort.h"
#include "platform/parallel.h"

namespace {
struct Line {
  double gain = 1.0;
  double offset = 0.0;
};

// The least-squares line y = gain x + offset through the pairs (x(i), y(i)) of i in
// [0, count) for which take(i) holds. With no such pair, or a line that is not finite (a
// NaN or infinity among the values), the identity: the plane is then left as it was.
template <class X, class Y, class Take>
Line FitLine(size_t count, X x, Y y, Take take) {
  const double taken = BlockSum(count, [&](size_t i) { return take(i) ? 1.0 : 0.0; });
  if (taken == 0.0) return {};
  const double scale = 1.0 / taken;
  const double mx = BlockSum(count, [&](size_t i) { return take(i) ? double(x(i)) : 0.0; }) * scale;
  const double my = BlockSum(count, [&](size_t i) { return take(i) ? double(y(i)) : 0.0; }) * scale;
  const double sxy = BlockSum(
      count, [&](size_t i) { return take(i) ? (double(x(i)) - mx) * (double(y(i)) - my) : 0.0; });
  const double sxx = BlockSum(count, [&](size_t i) {
    if (!take(i)) return 0.0;
    const double d = double(x(i)) - mx;
    return d * d;
  });
  Line line;
  line.gain = sxx > 0.0 ? sxy / sxx : 0.0;
  line.offset = my - mx * line.gain;
  if (!std::isfinite(line.gain) || !std::isfinite(line.offset)) return {};
  return line;
}

float Apply(const Line& line, float v) { return float(line.gain * v + line.offset); }

// Whether pixel k's pair enters a fit: the reference value within the inclusion range and,
// with a mask, the pixel's bit set (a pixel past the mask counts as unset).
bool Included(const matrix& reference, int k, float minimum, float maximum, const bitmask* mask) {
  const float y = reference.x[k];
  if (!(minimum <= y && y <= maximum)) return false;
  return mask == nullptr || (k < mask->n && mask->getbit(k));
}

bool Corrected(int k, const bitmask* mask, bool allPixels) {
  return mask == nullptr || allPixels || (k < mask->n && mask->getbit(k));
}

const bitmask* InForce(const bitmask* mask) { return mask && mask->present() ? mask : nullptr; }

// An unsigned key that orders as the float does: NaN after everything, -0 before +0.
uint32_t RankKey(float v) {
  if (v != v) return 0xFFFFFFFFu;
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

// The value of a key (a NaN for the NaN key).
float KeyValue(uint32_t key) {
  const uint32_t b = (key & 0x80000000u) ? (key & 0x7FFFFFFFu) : ~key;
  float v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// The one-parameter matches: the gain of the included pairs by `gain`, applied as lsmatch2
// applies its line.
template <class Gain>
float MatchGain(matrix& plane, const matrix& reference, float minimum, float maximum,
                const bitmask* mask, bool allPixels, Gain gain) {
  mask = InForce(mask);
  const int count = std::min(plane.n, reference.n);
  std::vector<float> xs, ys;
  for (int k = 0; k < count; ++k) {
    if (!Included(reference, k, minimum, maximum, mask)) continue;
    xs.push_back(plane.x[k]);
    ys.push_back(reference.x[k]);
  }
  matrix x(int(xs.size()), 1), y(int(ys.size()), 1);
  if (!xs.empty()) {
    x.copyfrom(xs.data());
    y.copyfrom(ys.data());
  }
  const float g = gain(x, y);
  for (int k = 0; k < plane.n; ++k) {
    if (Corrected(k, mask, allPixels)) plane.x[k] = float(double(g) * plane.x[k]);
  }
  return g;
}
}  // namespace

float LeastSquaresGain(const matrix& x, const matrix& y) {
  const size_t count = y.n > 0 ? size_t(y.n) : 0;
  const double sxy = BlockSum(count, [&](size_t i) { return double(x.x[i]) * y.x[i]; });
  const double sxx = BlockSum(count, [&](size_t i) { return double(x.x[i]) * x.x[i]; });
  if (count == 0 || sxx == 0.0) return 1.0f;
  return float(sxy / sxx);
}

float LeastAbsoluteGain(const matrix& x, const matrix& y) {
  std::vector<float> ratios;
  std::vector<double> weights;
  for (int i = 0; i < y.n; ++i) {
    const float r = y.x[i] / x.x[i];
    // A NaN ratio has no place in the order and would leave the balance without an end.
    if (x.x[i] == 0.0f || std::isnan(r) || !std::isfinite(x.x[i])) continue;
    ratios.push_back(r);
    weights.push_back(std::fabs(double(x.x[i])));
  }
  const int m = int(ratios.size());
  if (m == 0) return 1.0f;
  std::vector<int> order(size_t(m), 0);
  IndexSort(order.data(), ratios.data(), m);
  // Balance the weights from both ends; where they meet lies the weighted median.
  double lower = 0.0, upper = 0.0;
  int lo = -1, hi = m;
  for (int step = 0; step < m; ++step) {
    if (lower < upper) {
      lower += weights[order[++lo]];
    } else {
      upper += weights[order[--hi]];
    }
  }
  return ratios[order[lower < upper || lo < 0 ? hi : lo]];
}

matrix& matrix::lsfit(const matrix& y, double& gain, double& offset, bool apply) {
  const int count = std::min(n, y.n);
  const Line line = FitLine(
      size_t(std::max(count, 0)), [&](size_t i) { return x[i]; }, [&](size_t i) { return y.x[i]; },
      [](size_t) { return true; });
  gain = line.gain;
  offset = line.offset;
  if (apply) {
    for (int k = 0; k < n; ++k) x[k] = Apply(line, x[k]);
  }
  return *this;
}

matrix& matrix::lsmatch2(const matrix& reference, double& gain, double& offset, float minimum,
                         float maximum, const bitmask* mask, bool allPixels, bool apply) {
  mask = InForce(mask);
  const int count = std::min(n, reference.n);
  const Line line = FitLine(
      size_t(std::max(count, 0)), [&](size_t i) { return x[i]; },
      [&](size_t i) { return reference.x[i]; },
      [&](size_t i) { return Included(reference, int(i), minimum, maximum, mask); });
  gain = line.gain;
  offset = line.offset;
  if (apply) {
    for (int k = 0; k < n; ++k) {
      if (Corrected(k, mask, allPixels)) x[k] = Apply(line, x[k]);
    }
  }
  return *this;
}

float matrix::lsmatch1(const matrix& reference, float minimum, float maximum, const bitmask* mask,
                       bool allPixels) {
  return MatchGain(*this, reference, minimum, maximum, mask, allPixels, LeastSquaresGain);
}

float matrix::ladmatch1(const matrix& reference, float minimum, float maximum, const bitmask* mask,
                        bool allPixels) {
  return MatchGain(*this, reference, minimum, maximum, mask, allPixels, LeastAbsoluteGain);
}

matrix& matrix::addall(const matrixarray& levels) {
  if (levels.n == 0 || levels[0].n != n) return *this;
  for (int i = 0; i < levels.n; ++i) {
    if (levels[i].n == n) add(levels[i]);
  }
  return *this;
}

matrix& matrix::waveletmatch(const matrix& reference, int levels, bool lad) {
  if (n == 0 || nx != reference.nx || ny != reference.ny) return *this;
  int automatic = 1;
  for (int w = nx, h = ny; w > 32 && h > 32; w /= 2, h /= 2) ++automatic;
  const int count = levels > 0 && levels <= automatic ? levels : automatic;
  auto gain = lad ? LeastAbsoluteGain : LeastSquaresGain;
  matrix smooth(reference);
  matrixarray mine, theirs;
  mine.atrous(*this, count);
  theirs.atrous(smooth, count);
  mulscalar(gain(*this, smooth));
  for (int i = 0; i < count; ++i) mine[i].mulscalar(gain(mine[i], theirs[i]));
  return addall(mine);
}

matrix& matrix::matchlevels(const matrix& reference, float percentile, float increment) {
  if (n != reference.n || n == 0) return *this;
  // Samples per window and between window starts, at least one each (a step of 0 never
  // advanced, a window of 0 left pixels in none), and a step no longer than a window so
  // that every pixel lies in one.
  auto samples = [this](float share) {
    const float v = float(n) * share * 0.01f + 0.5f;
    return v >= 1.0f ? (v < float(n) ? int(v) : n) : 1;
  };
  const int size = samples(percentile);
  const int step = std::min(samples(increment), size);
  int windows = 1;
  for (int64_t reach = size; reach < n; reach += step) ++windows;

  // The pairs in rank order, so that every window reads and sums a run of neighbours
  // rather than pixels scattered over the plane: the pixels by ascending value, equal
  // values in pixel order (value key above, pixel below), then the pairs' float bits side
  // by side (x below, y above).
  Words ranked(n);
  ParallelBlocks(n, BlockFor(1), [&](int64_t b, int64_t e) {
    for (int64_t i = b; i < e; ++i)
      ranked[size_t(i)] = (uint64_t(RankKey(x[i])) << 32) | uint64_t(i);
  });
  RadixSortUpper(ranked, n);
  Words pairs(n);
  ParallelBlocks(n, BlockFor(4), [&](int64_t b, int64_t e) {
    for (int64_t r = b; r < e; ++r) {
      const uint64_t item = ranked[size_t(r)];
      const float v = KeyValue(uint32_t(item >> 32)), w = reference.x[uint32_t(item)];
      pairs[size_t(r)] =
          uint64_t(std::bit_cast<uint32_t>(v)) | (uint64_t(std::bit_cast<uint32_t>(w)) << 32);
    }
  });
  auto xs = [&pairs](int64_t r) { return std::bit_cast<float>(uint32_t(pairs[size_t(r)])); };
  auto ys = [&pairs](int64_t r) { return std::bit_cast<float>(uint32_t(pairs[size_t(r)] >> 32)); };
  std::vector<Line> lines(static_cast<size_t>(windows));
  for (int t = 0; t < windows; ++t) {
    const int64_t first = int64_t(t) * step;
    const int length = int(std::min<int64_t>(size, n - first));
    lines[size_t(t)] = FitLine(
        size_t(length), [&](size_t i) { return xs(first + int64_t(i)); },
        [&](size_t i) { return ys(first + int64_t(i)); }, [](size_t) { return true; });
  }
  // Rank r lies in the windows t with t step <= r < t step + size; its value is the mean of
  // their lines at it, summed in window order.
  ParallelBlocks(n, BlockFor(8), [&](int64_t r0, int64_t r1) {
    int last = int(std::min<int64_t>(r0 / step, windows - 1));
    int first = r0 >= size ? int((r0 - size) / step + 1) : 0;
    for (int64_t r = r0; r < r1; ++r) {
      if (last + 1 < windows && r == int64_t(last + 1) * step) ++last;
      if (r == size + int64_t(first) * step) ++first;
      const float v = xs(r);
      double sum = 0.0;
      for (int t = first; t <= last; ++t) sum += Apply(lines[size_t(t)], v);
      x[uint32_t(ranked[size_t(r)])] = float(sum / (last - first + 1));
    }
  });
  return *this;
}
