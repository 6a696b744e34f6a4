#pragma once
// Sorting and selection. Every sort of floats uses one total order: numbers ascending,
// every NaN after all numbers. The sorts are not stable.
//
// The quicksort keeps its pending segments on an explicit stack and always continues with
// the smaller part, so the stack never holds more than log2(n) segments; a segment that
// partitions badly again and again is finished by heapsort, so no input is quadratic.
#include <cstdint>
#include <type_traits>
#include <utility>

namespace sortdetail {
// Moves the positions whose key is NaN to the end; returns how many are not NaN.
template <class IsNaN, class Swap>
int NaNToEnd(int n, IsNaN isnan, Swap swap) {
  int i = 0, j = n - 1;
  for (;;) {
    while (i <= j && !isnan(i)) ++i;
    while (j >= i && isnan(j)) --j;
    if (i >= j) return i;
    swap(i, j);
  }
}

// Sorts positions lo..hi by key(i) (ordered by <, no NaN) through swap(i, j).
template <class Key, class Swap>
void HeapSort(int lo, int hi, Key key, Swap swap) {
  const int count = hi - lo + 1;
  auto sift = [&](int root, int end) {
    for (;;) {
      int child = 2 * root + 1;
      if (child >= end) return;
      if (child + 1 < end && key(lo + child) < key(lo + child + 1)) ++child;
      if (!(key(lo + root) < key(lo + child))) return;
      swap(lo + root, lo + child);
      root = child;
    }
  };
  for (int s = count / 2 - 1; s >= 0; --s) sift(s, count);
  for (int end = count - 1; end > 0; --end) {
    swap(lo, lo + end);
    sift(0, end);
  }
}

// Sorts positions 0..n-1. Segments starting at or beyond `limit` are left unsorted: the
// positions below it get what the full sort gives them, as every segment is sorted on its
// own once partitioned.
template <class Key, class Swap>
void QuickSort(int n, Key key, Swap swap, int limit = 0x7fffffff) {
  if (n < 2) return;
  struct Segment {
    int lo, hi, budget;
  };
  int depth = 0;
  for (int m = n; m > 1; m >>= 1) ++depth;
  Segment stack[64];  // the smaller part goes first, so at most log2(n) < 32 are pending
  int top = 0;
  Segment s{0, n - 1, 2 * depth};
  for (;;) {
    if (s.lo >= limit) {
      // Nothing below the limit: left as it is.
    } else if (s.hi - s.lo < 16) {
      for (int i = s.lo + 1; i <= s.hi; ++i) {
        for (int j = i; j > s.lo && key(j) < key(j - 1); --j) swap(j, j - 1);
      }
    } else if (s.budget == 0) {
      HeapSort(s.lo, s.hi, key, swap);
    } else {
      // Median of three: lo <= mid <= hi, then the pivot is parked at hi - 1 and lo and
      // hi - 1 stop the scans.
      const int lo = s.lo, hi = s.hi, mid = lo + (hi - lo) / 2;
      if (key(mid) < key(lo)) swap(mid, lo);
      if (key(hi) < key(mid)) swap(mid, hi);
      if (key(mid) < key(lo)) swap(mid, lo);
      swap(mid, hi - 1);
      const auto pivot = key(hi - 1);
      int i = lo, j = hi - 1;
      for (;;) {
        while (key(++i) < pivot) {
        }
        while (pivot < key(--j)) {
        }
        if (i >= j) break;
        swap(i, j);
      }
      swap(i, hi - 1);
      Segment left{lo, i - 1, s.budget - 1}, right{i + 1, hi, s.budget - 1};
      if (left.hi - left.lo > right.hi - right.lo) std::swap(left, right);
      stack[top++] = right;  // the larger part waits
      s = left;
      continue;
    }
    if (top == 0) return;
    s = stack[--top];
  }
}
}  // namespace sortdetail

// Sorts n floats ascending in place.
void SortFloats(float* values, int n);

// Sorts n float keys ascending and applies every swap to a companion array of 4-byte
// values too.
template <class Companion>
void SortFloatKeys(float* keys, Companion* companions, int n) {
  static_assert(sizeof(Companion) == 4 && std::is_trivially_copyable_v<Companion>);
  auto swap = [&](int i, int j) {
    std::swap(keys[i], keys[j]);
    std::swap(companions[i], companions[j]);
  };
  const int count = sortdetail::NaNToEnd(
      n, [&](int i) { return keys[i] != keys[i]; }, swap);
  sortdetail::QuickSort(
      count, [&](int i) { return keys[i]; }, swap);
}

// The same with int keys and float companions.
void SortIntKeys(int32_t* keys, float* companions, int n);

// The element of rank k (clamped to 0 .. n-1) of n floats, reordering them; 0 when n is 0.
float SelectFloats(float* values, int n, int k);
// The middle element of n floats (the mean of the two middle ones for even n), reordering
// them; 0 when n is 0.
float MedianFloats(float* values, int n);

// Fills index with 0 .. n-1 and orders it so that keys[index[i]] ascend; keys unchanged.
void IndexSort(int* index, const float* keys, int n);
// The same for the first `prefix` positions only, which get exactly what IndexSort gives
// them (the tie order included); the rest hold the other indexes in no useful order.
void IndexSortPrefix(int* index, const float* keys, int n, int prefix);
