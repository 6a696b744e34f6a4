#pragma once
// `cvector`: a counted vector of plain values (ints, floats, bytes, pixel records), and
// the counted lists of such vectors `intmaps` and `bytemaps`.
//
// Plain elements are not initialised on allocation; records with default member values
// (the colour triples) start at those values. Re-dimensioning to the current count keeps
// the storage and the values, so vectors can be reused across the passes of a loop.
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <utility>

#include "numeric/matrix.h"
#include "numeric/scan.h"

// Shows the position a scatter along a scan path found outside the planes.
void ReportScanPositionOutside(int column, int row);

// The colour scan filters of cvector (scanfilters.cpp) on n triples of floats.
void ColourHysteresis1d(float* triples, int n, float t);
void ColourBilateral1d(const float* triples, float* out, int n, float s, int r);

template <class T>
class cvector {
 public:
  int32_t n = 0;
  T* x = nullptr;

  cvector() = default;
  explicit cvector(int count) { allocate(count); }
  cvector(const cvector& other) {
    allocate(other.n);
    for (int32_t i = 0; i < n; ++i) x[i] = other.x[i];
  }
  cvector(cvector&& other) noexcept
      : n(std::exchange(other.n, 0)), x(std::exchange(other.x, nullptr)) {}
  cvector& operator=(const cvector& other) {
    if (&other != this) {
      dim(other.n);
      for (int32_t i = 0; i < n; ++i) x[i] = other.x[i];
    }
    return *this;
  }
  cvector& operator=(cvector&& other) noexcept {
    if (&other != this) {
      delete[] x;
      n = std::exchange(other.n, 0);
      x = std::exchange(other.x, nullptr);
    }
    return *this;
  }
  ~cvector() { delete[] x; }

  // Keeps storage and values when count equals n and data exists; otherwise new storage.
  cvector& dim(int count) {
    if (count == n && x) return *this;
    free();
    allocate(count);
    return *this;
  }
  cvector& free() {
    delete[] x;
    x = nullptr;
    n = 0;
    return *this;
  }

  T& operator[](int i) { return x[i]; }
  const T& operator[](int i) const { return x[i]; }

  // The element closest to v, the first of equally close ones; v itself when empty.
  T nearest(T v) const requires std::is_integral_v<T> {
    assert(n > 0);
    if (n <= 0) return v;
    T best = x[0];
    int64_t gap = std::llabs(int64_t(x[0]) - v);
    for (int32_t i = 1; i < n; ++i) {
      const int64_t d = std::llabs(int64_t(x[i]) - v);
      if (d < gap) {
        gap = d;
        best = x[i];
      }
    }
    return best;
  }

  // Colour triples along a scan path: element k is (p0, p1, p2) at the k-th position of
  // three planes of equal size. Any type other than 0 to 3 changes nothing.
  cvector& gatherscan(const matrix& p0, const matrix& p1, const matrix& p2, ScanOrder type) requires
      requires(T p) {
    p.x, p.y, p.z;
  }
  {
    if (!IsScanOrder(type)) return *this;
    assert(p1.nx == p0.nx && p1.ny == p0.ny && p2.nx == p0.nx && p2.ny == p0.ny);
    dim(p0.n);
    ForEachScanPositionInBlocks(p0.nx, p0.ny, type, [&](int c, int r, int64_t k) {
      x[k].x = p0.z[r][c];
      x[k].y = p1.z[r][c];
      x[k].z = p2.z[r][c];
    });
    return *this;
  }

  const cvector& scatterscan(matrix& p0, matrix& p1, matrix& p2, ScanOrder type) const requires
      requires(T p) {
    p.x, p.y, p.z;
  }
  {
    return alongscan(p0, p1, p2, type, [](float& to, float v) { to = v; });
  }

  const cvector& addscan(matrix& p0, matrix& p1, matrix& p2, ScanOrder type) const requires
      requires(T p) {
    p.x, p.y, p.z;
  }
  {
    return alongscan(p0, p1, p2, type, [](float& to, float v) { to += v; });
  }

  // Colour scan filters. hysteresis1d: a centre trailing each triple at distance at most
  // t sqrt(3)/2, run forwards and then backwards, the two centres added (twice their mean).
  // bilateral1d: output = this, positions 2r .. n-2r-1 then the mean of their 4r + 1
  // neighbours weighted by a Gaussian of sigma r and exp(-|c - h|^2 / (6 s^2)).
  cvector& hysteresis1d(float t) requires requires(T p) {
    p.x, p.y, p.z;
  }
  {
    static_assert(sizeof(T) == 3 * sizeof(float) && std::is_standard_layout_v<T>);
    if (n > 0) ColourHysteresis1d(&x[0].x, n, t);
    return *this;
  }
  const cvector& bilateral1d(float s, int r, cvector& output) const requires requires(T p) {
    p.x, p.y, p.z;
  }
  {
    static_assert(sizeof(T) == 3 * sizeof(float) && std::is_standard_layout_v<T>);
    output.dim(n);
    if (n > 0) ColourBilateral1d(&x[0].x, &output.x[0].x, n, s, r);
    return *this;
  }

 private:
  void allocate(int count) {
    if (count <= 0) return;
    x = new T[static_cast<size_t>(count)];
    n = count;
  }

  template <class Store>
  const cvector& alongscan(matrix& p0, matrix& p1, matrix& p2, ScanOrder type, Store store) const {
    ForEachScanPositionInBlocks(p0.nx, p0.ny, type, [&](int c, int r, int64_t k) {
      if (k >= n) return;
      store(p0.z[r][c], x[k].x);
      store(p1.z[r][c], x[k].y);
      store(p2.z[r][c], x[k].z);
    });
    // More triples than positions: the serpentine path would go on past the last row.
    // That position is reported once and nothing is stored outside the planes.
    if (type == kScanRows && n > p0.n && p0.nx > 0) {
      ReportScanPositionOutside(p0.ny % 2 == 0 ? 0 : p0.nx - 1, p0.ny);
    }
    return *this;
  }
};

// A counted list of vectors, each with its own length.
template <class T>
class cvectorlist {
 public:
  int32_t n = 0;
  cvector<T>* row = nullptr;

  cvectorlist() = default;
  explicit cvectorlist(int count) { allocate(count); }
  cvectorlist(int count, int length) {
    allocate(count);
    for (int32_t i = 0; i < n; ++i) row[i].dim(length);
  }
  cvectorlist(const cvectorlist&) = delete;
  cvectorlist& operator=(const cvectorlist&) = delete;
  ~cvectorlist() { delete[] row; }

  // When count equals n and the list exists nothing at all changes, even when the rows
  // have another length; otherwise a new list of count rows of `length` elements.
  cvectorlist& dim(int length, int count) {
    if (count == n && row) return *this;
    free();
    allocate(count);
    for (int32_t i = 0; i < n; ++i) row[i].dim(length);
    return *this;
  }
  cvectorlist& free() {
    delete[] row;
    row = nullptr;
    n = 0;
    return *this;
  }
  cvectorlist& zero() {
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t k = 0; k < row[i].n; ++k) row[i].x[k] = T{};
    }
    return *this;
  }

  cvector<T>& operator[](int i) { return row[i]; }
  const cvector<T>& operator[](int i) const { return row[i]; }

 private:
  void allocate(int count) {
    if (count <= 0) return;
    row = new cvector<T>[static_cast<size_t>(count)];
    n = count;
  }
};

using intmaps = cvectorlist<int32_t>;
using bytemaps = cvectorlist<uint8_t>;
