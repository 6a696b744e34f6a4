#include "numeric/sort.h"

#include <algorithm>
#include <cmath>

#include "numeric/matrix.h"

void SortFloats(float* values, int n) {
  auto swap = [values](int i, int j) { std::swap(values[i], values[j]); };
  const int count = sortdetail::NaNToEnd(
      n, [values](int i) { return std::isnan(values[i]); }, swap);
  sortdetail::QuickSort(
      count, [values](int i) { return values[i]; }, swap);
}

void SortIntKeys(int32_t* keys, float* companions, int n) {
  sortdetail::QuickSort(
      n, [keys](int i) { return keys[i]; },
      [keys, companions](int i, int j) {
        std::swap(keys[i], keys[j]);
        std::swap(companions[i], companions[j]);
      });
}

void IndexSortPrefix(int* index, const float* keys, int n, int prefix) {
  for (int i = 0; i < n; ++i) index[i] = i;
  auto swap = [index](int i, int j) { std::swap(index[i], index[j]); };
  const int count = sortdetail::NaNToEnd(
      n, [&](int i) { return std::isnan(keys[index[i]]); }, swap);
  sortdetail::QuickSort(
      count, [&](int i) { return keys[index[i]]; }, swap, prefix);
}

void IndexSort(int* index, const float* keys, int n) { IndexSortPrefix(index, keys, n, n); }

matrix& matrix::sort() {
  SortFloats(x, n);
  return *this;
}

float SelectFloats(float* values, int n, int k) {
  if (n <= 0) return 0.0f;
  k = std::clamp(k, 0, n - 1);
  // NaN ranks last: once moved to the end, the numbers are selected with plain <.
  const int count = sortdetail::NaNToEnd(
      n, [values](int i) { return std::isnan(values[i]); },
      [values](int i, int j) { std::swap(values[i], values[j]); });
  if (k >= count) return values[k];
  std::nth_element(values, values + k, values + count);
  return values[k];
}

float MedianFloats(float* values, int n) {
  if (n <= 0) return 0.0f;
  const float upper = SelectFloats(values, n, n / 2);
  if (n % 2) return upper;
  // After the selection every element before rank n/2 is no larger, so rank n/2 - 1 is
  // the largest of them.
  const float lower = *std::max_element(values, values + n / 2, [](float a, float b) {
    return a < b || (std::isnan(b) && !std::isnan(a));
  });
  return static_cast<float>((double(lower) + upper) * 0.5);
}

float matrix::select(int k) { return SelectFloats(x, n, k); }

float matrix::median() { return MedianFloats(x, n); }
