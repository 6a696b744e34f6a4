#include "numeric/matrixarray.h"

#include <algorithm>
#include <utility>

#include "numeric/border.h"
#include "numeric/noiseshrink.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

matrixarray::matrixarray(const matrixarray& other) {
  resize(other.n);
  for (int32_t i = 0; i < n; ++i) {
    if (!other.m[i].empty()) m[i] = other.m[i];
  }
}

matrixarray::matrixarray(matrixarray&& other) noexcept
    : n(std::exchange(other.n, 0)), m(std::exchange(other.m, nullptr)) {}

matrixarray& matrixarray::operator=(matrixarray&& other) noexcept {
  if (&other != this) {
    delete[] m;
    n = std::exchange(other.n, 0);
    m = std::exchange(other.m, nullptr);
  }
  return *this;
}

matrixarray& matrixarray::resize(int count) {
  if (count == n && m) return *this;
  free();
  if (count > 0) {
    m = new matrix[static_cast<size_t>(count)];
    n = count;
  }
  return *this;
}

matrixarray& matrixarray::dim(int count, int nx, int ny) {
  resize(count);
  for (int32_t i = 0; i < n; ++i) m[i].dim(nx, ny);
  return *this;
}

matrixarray& matrixarray::copy(const matrixarray& src) {
  if (&src == this || src.n == 0) return *this;
  resize(src.n);
  for (int32_t i = 0; i < n; ++i) {
    if (!src.m[i].empty()) m[i] = src.m[i];
  }
  return *this;
}

matrixarray& matrixarray::free() {
  delete[] m;
  m = nullptr;
  n = 0;
  return *this;
}

matrixarray& matrixarray::zero() {
  for (int32_t i = 0; i < n; ++i) m[i].zero();
  return *this;
}

matrixarray& matrixarray::mulscalar(float c) {
  for (int32_t i = 0; i < n; ++i) m[i].mulscalar(c);
  return *this;
}

matrixarray& matrixarray::scaleadd(float a, const matrixarray& other) {
  for (int32_t i = 0; i < std::min(n, other.n); ++i) m[i].scaleadd(a, other.m[i]);
  return *this;
}

double matrixarray::energy() const {
  double s = 0.0;
  for (int32_t i = 0; i < n; ++i) s += m[i].sumsq();
  return s;
}

namespace {
// The a-trous smoothing (1, 4, 6, 4, 1) / 16 of five samples. In double the products and
// sums of picture values are exact, so pairing the symmetric taps rounds the result only
// once, to the float the taps summed one by one give.
inline float AtrousTaps(float a, float b, float c, float d, float e) {
  return float(0.0625 * (double(a) + double(e)) + 0.25 * (double(b) + double(d)) +
               0.375 * double(c));
}

// Five lines of samples, the outer, inner and centre taps of each output.
struct TapLines {
  const float* a;
  const float* b;
  const float* c;
  const float* d;
  const float* e;
};

// The lines are only read and the outputs are other planes, which the loops are told: with
// the overlaps to rule out at run time the compiler would not vectorise them.
ZEP_VECTOR_CLONES void AtrousSpan(TapLines t, float* __restrict out, int64_t n) {
  const float *__restrict a = t.a, *__restrict b = t.b, *__restrict c = t.c,
              *__restrict d = t.d, *__restrict e = t.e;
  for (int64_t i = 0; i < n; ++i) out[i] = AtrousTaps(a[i], b[i], c[i], d[i], e[i]);
}

// smooth = the smoothing of the lines; detail = smooth as it was minus the smoothing.
ZEP_VECTOR_CLONES void AtrousSplitSpan(TapLines t, float* __restrict smooth,
                                       float* __restrict detail, int64_t n) {
  const float *__restrict a = t.a, *__restrict b = t.b, *__restrict c = t.c,
              *__restrict d = t.d, *__restrict e = t.e;
  for (int64_t i = 0; i < n; ++i) {
    const float s = AtrousTaps(a[i], b[i], c[i], d[i], e[i]);
    detail[i] = smooth[i] - s;
    smooth[i] = s;
  }
}

// The first level of the shrinkage: plane goes in as the picture and comes out as its
// detail soft-thresholded by th; smooth receives the smoothing.
ZEP_VECTOR_CLONES void AtrousShrinkFirstSpan(TapLines t, float* __restrict plane,
                                             float* __restrict smooth, float th, int64_t n) {
  const float *__restrict a = t.a, *__restrict b = t.b, *__restrict c = t.c,
              *__restrict d = t.d, *__restrict e = t.e;
  for (int64_t i = 0; i < n; ++i) {
    const float s = AtrousTaps(a[i], b[i], c[i], d[i], e[i]);
    plane[i] = SoftShrink(plane[i] - s, th);
    smooth[i] = s;
  }
}

// A further level: smooth is smoothed again and the detail that takes away, soft-thresholded
// by th, is added to sum.
ZEP_VECTOR_CLONES void AtrousShrinkSpan(TapLines t, float* __restrict smooth,
                                        float* __restrict sum, float th, int64_t n) {
  const float *__restrict a = t.a, *__restrict b = t.b, *__restrict c = t.c,
              *__restrict d = t.d, *__restrict e = t.e;
  for (int64_t i = 0; i < n; ++i) {
    const float s = AtrousTaps(a[i], b[i], c[i], d[i], e[i]);
    sum[i] += SoftShrink(smooth[i] - s, th);
    smooth[i] = s;
  }
}

int64_t Holes(int level) { return int64_t{1} << std::clamp(level, 0, 40); }

// rows = every row of in smoothed along the row with holes of 2^level samples, reflected
// about the end samples.
void AtrousRows(const matrix& in, matrix& rows, int level) {
  rows.dim(in.nx, in.ny);
  if (in.n == 0) return;
  const int64_t h = Holes(level), w = in.nx;
  // Outputs [lo, hi) read only samples inside the row.
  const int64_t lo = std::min(2 * h, w), hi = std::max(lo, w - 2 * h);
  ParallelBlocks(in.ny, BlockFor(5 * w), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* r = in.z[y];
      float* o = rows.z[y];
      const auto at = [&](int64_t x) { return r[ReflectWhole(x, int(w))]; };
      const auto edge = [&](int64_t x) {
        o[x] = AtrousTaps(at(x - 2 * h), at(x - h), r[x], at(x + h), at(x + 2 * h));
      };
      for (int64_t x = 0; x < lo; ++x) edge(x);
      if (hi > lo) AtrousSpan({r, r + h, r + 2 * h, r + 3 * h, r + 4 * h}, o + lo, hi - lo);
      for (int64_t x = hi; x < w; ++x) edge(x);
    }
  });
}

// Row y of the column smoothing of rows: its five source rows, reflected about the end rows.
TapLines ColumnTaps(const matrix& rows, int64_t y, int level) {
  const int64_t h = Holes(level);
  const auto row = [&](int64_t k) { return rows.z[ReflectWhole(y + k * h, rows.ny)]; };
  return {row(-2), row(-1), row(0), row(1), row(2)};
}

// The column smoothing of rows, row by row through `span` (the row's taps and y).
template <class Span>
void AtrousColumns(const matrix& rows, int level, const Span& span) {
  ParallelBlocks(rows.ny, BlockFor(5 * int64_t(rows.nx)), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) span(ColumnTaps(rows, y, level), y);
  });
}

// One level: smooth = its smoothing, detail = what the smoothing took away. rows is scratch.
void AtrousSplit(matrix& smooth, matrix& detail, matrix& rows, int level) {
  AtrousRows(smooth, rows, level);
  detail.dim(smooth.nx, smooth.ny);
  AtrousColumns(rows, level, [&](TapLines t, int64_t y) {
    AtrousSplitSpan(t, smooth.z[y], detail.z[y], smooth.nx);
  });
}
}  // namespace

matrixarray& matrixarray::atrous(matrix& plane, int levels) {
  dim(std::max(0, levels), plane.nx, plane.ny);
  // The plane (which may be a channel view) is smoothed in place, level by level.
  matrix rows;
  for (int32_t i = 0; i < n; ++i) AtrousSplit(plane, m[i], rows, i);
  return *this;
}

void AtrousShrink(matrix& plane, const matrix& factors, int mode, matrixarray& work) {
  const int levels = factors.n;
  if (levels == 0 || plane.n == 0) return;
  // Elements: the smooth plane, the row smoothing, the detail level (autosharpen only).
  // The plane itself gathers the thresholded details, the smooth residual added last.
  work.resize(3);
  matrix &smooth = work[0], &rows = work[1], &detail = work[2];
  if (mode == 1 || mode == 2) {
    // The gain needs the whole level, so each level is thresholded as a plane.
    smooth = plane;
    for (int i = 0; i < levels; ++i) {
      AtrousSplit(smooth, detail, rows, i);
      ShrinkDetail(detail, factors.x[i], mode, rows);
      if (i == 0) {
        plane.copyfrom(detail.x);
      } else {
        plane.add(detail);
      }
    }
  } else {
    smooth.dim(plane.nx, plane.ny);
    for (int i = 0; i < levels; ++i) {
      const float th = factors.x[i];
      AtrousRows(i == 0 ? plane : smooth, rows, i);
      AtrousColumns(rows, i, [&](TapLines t, int64_t y) {
        if (i == 0) {
          AtrousShrinkFirstSpan(t, plane.z[y], smooth.z[y], th, plane.nx);
        } else {
          AtrousShrinkSpan(t, smooth.z[y], plane.z[y], th, plane.nx);
        }
      });
    }
  }
  plane.add(smooth);
}

matrixarray& matrixarray::atrouspow(matrix& plane, const float p[8]) {
  matrix detail, rows;
  for (int32_t i = 0; i < std::min(n, 8); ++i) {
    AtrousSplit(plane, detail, rows, i);
    // An element that is not yet the plane's size starts from zero, so the first image
    // of an accumulation needs no preparation and nothing is read past an element.
    if (m[i].nx != plane.nx || m[i].ny != plane.ny) m[i].dim(plane.nx, plane.ny).zero();
    m[i].addsignedpower(detail, p[i]);
  }
  return *this;
}

matrixarray& matrixarray::signedpow(const float p[8], float d) {
  for (int32_t i = 0; i < std::min(n, 8); ++i) {
    if (p[i] == -1.0f) continue;
    if (d != 1.0f) m[i].mulscalar(1.0f / d);
    m[i].signedpower(p[i]);
  }
  return *this;
}

matrixarray& matrixarray::write(const std::string& prefix, int number) {
  for (int32_t i = 0; i < n; ++i) m[i].write(ArrayElementName(prefix, number, i));
  return *this;
}

matrixarray& matrixarray::read(const std::string& prefix, int number, bool removeAfter) {
  for (int32_t i = 0; i < n; ++i) m[i].read(ArrayElementName(prefix, number, i), removeAfter);
  return *this;
}

matrixarray& matrixarray::remove(const std::string& prefix, int number) {
  for (int32_t i = 0; i < n; ++i) matrix::remove(ArrayElementName(prefix, number, i));
  return *this;
}
