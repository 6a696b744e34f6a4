#pragma once
// The three border rules of the filters and resamplers. Every access past the edge of a
// line goes through one of these, so no index ever leaves its array, whatever the line's
// length (also 1) and however far outside the index lies: the reflections fold again and
// again, which is the same as reflecting once wherever a single reflection is enough.
#include <algorithm>
#include <cstddef>
#include <cstdint>

// Whole-sample reflection: index -k reads k, index size-1+k reads size-1-k; the edge
// sample is not repeated. A line of one sample reads that sample everywhere.
inline int ReflectWhole(int64_t i, int size) {
  if (size <= 1) return 0;
  if (i >= 0 && i < size) return static_cast<int>(i);
  const int64_t period = 2 * int64_t(size) - 2;
  i %= period;
  if (i < 0) i += period;
  return static_cast<int>(i < size ? i : period - i);
}

// Half-sample reflection: index -1-k reads k, index size+k reads size-1-k; the edge sample
// is repeated.
inline int ReflectHalf(int64_t i, int size) {
  if (size <= 1) return 0;
  if (i >= 0 && i < size) return static_cast<int>(i);
  const int64_t period = 2 * int64_t(size);
  i %= period;
  if (i < 0) i += period;
  return static_cast<int>(i < size ? i : period - 1 - i);
}

// One reflection about the edge sample, as the warps read their stencils: index -k reads
// k and index size-1+k reads size-1-k; an index still outside after that one reflection
// reads the far edge sample (size-1 below the line, 0 above it). Callers limit far
// positions first, so the index arithmetic cannot overflow.
inline int ReflectOnce(int64_t i, int size) {
  if (i >= 0 && i < size) return static_cast<int>(i);
  if (i < 0) {
    i = -i;
    return static_cast<int>(i < size ? i : size - 1);
  }
  i = 2 * int64_t(size) - 2 - i;
  return static_cast<int>(i >= 0 ? i : 0);
}

// The taps of a window that take part under the dropped-taps rule: taps w[lo..hi) of a
// window of `count` taps over the samples first+j of a line of `length` samples, and the
// divisor of their weighted sum (1 when nothing is dropped or the kept weights do not sum
// to a positive value). A window wholly inside the line skips its zero taps at either end.
struct TapWindow {
  int lo = 0;
  int hi = 0;
  double divisor = 1.0;
};

inline TapWindow DroppedTapWindow(const float* w, int count, int64_t first, int length) {
  TapWindow t;
  if (first >= 0 && first + count <= length) {
    t.lo = 0;
    t.hi = count;
    while (t.lo < t.hi && w[t.lo] == 0.0f) ++t.lo;
    while (t.hi > t.lo && w[t.hi - 1] == 0.0f) --t.hi;
    return t;
  }
  t.lo = static_cast<int>(first < 0 ? std::min<int64_t>(-first, count) : 0);
  t.hi = static_cast<int>(first + count > length ? std::max<int64_t>(length - first, t.lo) : count);
  double weight = 0.0;
  for (int j = t.lo; j < t.hi; ++j) weight += w[j];
  if (weight > 0.0) t.divisor = weight;
  return t;
}

// The weighted sum of the taps of a window found by DroppedTapWindow, divided by its
// divisor; sums are accumulated in double.
template <class Sample>
double SumTapWindow(const TapWindow& t, const float* w, int64_t first, const Sample* line,
                    std::ptrdiff_t stride) {
  double sum = 0.0;
  for (int j = t.lo; j < t.hi; ++j) sum += double(w[j]) * double(line[(first + j) * stride]);
  return t.divisor == 1.0 ? sum : sum / t.divisor;
}

// Dropped taps: the weighted sum of the taps w[0..count) over the samples first+j of a line
// of `length` samples spaced `stride` apart. Taps whose sample lies outside the line are
// dropped; when that happens and the kept weights sum to a positive value, the sum is
// divided by them (the row renormalised); otherwise the plain sum is returned.
template <class Sample>
double SumDroppedTaps(const float* w, int count, int64_t first, const Sample* line,
                      std::ptrdiff_t stride, int length) {
  return SumTapWindow(DroppedTapWindow(w, count, first, length), w, first, line, stride);
}
