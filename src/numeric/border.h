#pragma once
// The three border rules of the filters and resamplers. Every access past the edge of a
// line goes through one of these, so no index ever leaves its array, whatever the line's
// length (also 1) and however far outside the index lies: the reflections fold again and
// again, which is the same as reflecting once wherever a single reflection is enough.
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

// Dropped taps: the weighted sum of the taps w[0..count) over the samples first+j of a line
// of `length` samples spaced `stride` apart. Taps whose sample lies outside the line are
// dropped; when that happens and the kept weights sum to a positive value, the sum is
// divided by them (the row renormalised); otherwise the plain sum is returned.
template <class Sample>
double SumDroppedTaps(const float* w, int count, int64_t first, const Sample* line,
                      std::ptrdiff_t stride, int length) {
  if (first >= 0 && first + count <= length) {
    // The whole window lies inside: zero taps at either end are skipped.
    int lo = 0, hi = count;
    while (lo < hi && w[lo] == 0.0f) ++lo;
    while (hi > lo && w[hi - 1] == 0.0f) --hi;
    double sum = 0.0;
    const Sample* p = line + (first + lo) * stride;
    for (int j = lo; j < hi; ++j, p += stride) sum += double(w[j]) * double(*p);
    return sum;
  }
  const int64_t lo = first < 0 ? -first : 0;
  const int64_t hi = first + count > length ? length - first : count;
  double sum = 0.0, weight = 0.0;
  for (int64_t j = lo; j < hi; ++j) {
    sum += double(w[j]) * double(line[(first + j) * stride]);
    weight += w[j];
  }
  return weight > 0.0 ? sum / weight : sum;
}
