// Median, weighted median and weighted majority with minimum range (WMMR) of a set of
// values: the statistics of the window filters, and of whole planes for the colour queue.
#include "numeric/orderstats.h"

#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/sort.h"

int SmallestRangeStart(const float* values, int m, int length, bool lastWins) {
  float best = 1e32f;
  int start = 0;
  for (int j = 0; j + length < m; ++j) {
    const float range = values[j + length - 1] - values[j];
    if (range < best || (lastWins && range == best)) {
      best = range;
      start = j;
    }
  }
  return start;
}

float WmmrSorted(const float* values, int m) {
  if (m <= 0) return 0.0f;
  int length = m / 2;
  if (length % 2 == 0) ++length;
  // The window ending at the largest value is never a candidate, and of equal ranges the
  // last window wins: filters and stored results depend on both.
  return values[SmallestRangeStart(values, m, length, true) + length / 2];
}

float ShortHalfMeanSorted(const float* values, int m) {
  if (m <= 0) return 0.0f;
  const int length = (m + 1) / 2;
  return MeanOf(values + SmallestRangeStart(values, m, length, false), length);
}

float ShortestHalfSorted(const float* values, int m) {
  if (m <= 0) return 0.0f;
  const int length = (m + 1) / 2;
  const float* window = values + SmallestRangeStart(values, m, length, false);
  if (length % 2) return window[length / 2];
  return float((double(window[length / 2 - 1]) + window[length / 2]) * 0.5);
}

float MeanOf(const float* values, int m) {
  if (m <= 0) return 0.0f;
  double sum = 0.0;
  for (int k = 0; k < m; ++k) sum += values[k];
  return float(sum / m);
}

float WeightedMedianOf(const float* weights, const float* values, int m, int* index) {
  if (m <= 0) return 0.0f;
  if (m == 1) return values[0];
  if (m == 2) return weights[0] > weights[1] ? values[0] : values[1];
  IndexSort(index, values, m);
  float sum = 0.0f;
  for (int i = 0; i < m; ++i) {
    sum += weights[index[i]];
    if (sum > 0.5f) return values[index[i]];
  }
  return values[index[m - 1]];
}

float WeightedMedian(const matrix& weights, const matrix& values) {
  if (values.n <= 0 || weights.n < values.n) return 0.0f;
  std::vector<int> index(static_cast<size_t>(values.n));
  return WeightedMedianOf(weights.x, values.x, values.n, index.data());
}

float matrix::wmmr() {
  sort();
  return WmmrSorted(x, n);
}

float matrix::shorthmean() {
  sort();
  return ShortHalfMeanSorted(x, n);
}

float matrix::mean() const { return MeanOf(x, n); }

namespace {
// The elements whose bit is set (all without a fitting mask), in a new array.
std::vector<float> Selected(const matrix& m, const bitmask* mask) {
  const bool masked = mask && mask->present() && mask->n == m.n;
  std::vector<float> values;
  values.reserve(masked ? 0 : size_t(m.n));
  for (int k = 0; k < m.n; ++k) {
    if (!masked || mask->getbit(k)) values.push_back(m.x[k]);
  }
  return values;
}
}  // namespace

float matrix::maskedmedian(const bitmask* mask) const {
  std::vector<float> values = Selected(*this, mask);
  return MedianFloats(values.data(), int(values.size()));
}

float matrix::maskedwmmr(const bitmask* mask) const {
  std::vector<float> values = Selected(*this, mask);
  SortFloats(values.data(), int(values.size()));
  return WmmrSorted(values.data(), int(values.size()));
}
