// Difference regularizers: fixed finite-difference stencils evaluated where they lie wholly
// inside the plane, and their transposes. Every operator is a list of terms (row offset,
// column offset, coefficient) with a scale; the forward pass and the transpose run the same
// list, the transpose as a gather so that rows are written by one thread each.
#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "numeric/shift.h"
#include "platform/parallel.h"

namespace {
struct Term {
  int a;  // row offset
  int b;  // column offset
  double c;
};

struct Stencil {
  double divisor;  // the weight is divided by it: sqrt(2) per diagonal step
  std::vector<Term> terms;
  int rows() const {
    int e = 0;
    for (const Term& t : terms) e = std::max(e, t.a);
    return e;
  }
  int cols() const {
    int e = 0;
    for (const Term& t : terms) e = std::max(e, t.b);
    return e;
  }
  float scale(float w) const { return static_cast<float>(double(w) / divisor); }
};

const double kRoot2 = std::sqrt(2.0);

const Stencil kSlopeX{1, {{0, 1, 1}, {0, 0, -1}}};
const Stencil kSlopeY{1, {{1, 0, 1}, {0, 0, -1}}};
const Stencil kSlopeDiag{kRoot2, {{1, 1, 1}, {0, 0, -1}}};
const Stencil kSlopeAnti{kRoot2, {{0, 1, 1}, {1, 0, -1}}};
const Stencil kCurvX{1, {{0, 0, 1}, {0, 1, -2}, {0, 2, 1}}};
const Stencil kCurvY{1, {{0, 0, 1}, {1, 0, -2}, {2, 0, 1}}};
const Stencil kCurvDiag{2, {{0, 0, 1}, {1, 1, -2}, {2, 2, 1}}};
const Stencil kCurvAnti{2, {{0, 2, 1}, {1, 1, -2}, {2, 0, 1}}};
const Stencil kOrder3X{1, {{0, 1, 3}, {0, 2, -3}, {0, 3, 1}, {0, 0, -1}}};
const Stencil kOrder3Y{1, {{1, 0, 3}, {2, 0, -3}, {3, 0, 1}, {0, 0, -1}}};
const Stencil kOrder3Diag{2 * kRoot2, {{1, 1, 3}, {2, 2, -3}, {3, 3, 1}, {0, 0, -1}}};
const Stencil kOrder3Anti{2 * kRoot2, {{1, 2, 3}, {2, 1, -3}, {3, 0, 1}, {0, 3, -1}}};
const Stencil kCross{1, {{1, 1, 1}, {0, 0, 1}, {0, 1, -1}, {1, 0, -1}}};
const Stencil kCrossDiag{2, {{1, 0, 1}, {1, 2, 1}, {0, 1, -1}, {2, 1, -1}}};

// out = the stencil's valid region of in, scaled; empty where the stencil does not fit.
matrix& Forward(const Stencil& st, const matrix& input, float w, matrix& out) {
  if (&input == &out) {
    const matrix copy(input);
    return Forward(st, copy, w, out);
  }
  const int rnx = std::max(0, input.nx - st.cols()), rny = std::max(0, input.ny - st.rows());
  out.dim(rnx, rny);
  if (out.n == 0) return out;
  const double s = st.scale(w);
  const int64_t cost = int64_t(rnx) * int64_t(st.terms.size());
  ParallelBlocks(rny, BlockFor(cost), [&](int64_t y0, int64_t y1) {
    Lines lines;
    for (int64_t y = y0; y < y1; ++y) {
      lines.clear();
      for (const Term& t : st.terms) lines.push(input.z[y + t.a] + t.b, s * t.c);
      lines.apply(rnx, {nullptr, out.z[y], false});
    }
  });
  return out;
}

// out += the transpose applied to the residual r: out(y, x) gathers s c r(y - a, x - b)
// over the terms whose residual element exists.
matrix& Adjoint(const Stencil& st, const matrix& r, float w, matrix& out) {
  if (&r == &out) {
    const matrix copy(r);
    return Adjoint(st, copy, w, out);
  }
  if (r.n == 0) return out;
  const int ex = st.cols(), ey = st.rows();
  // A plane of another shape holds no partial sum of this image: it starts from zero.
  if (out.nx != r.nx + ex || out.ny != r.ny + ey) out.dim(r.nx + ex, r.ny + ey).zero();
  const int nx = out.nx;
  const double s = st.scale(w);
  // Columns [lo, hi) read every term's residual column; the others are checked one by one.
  const int lo = std::min(ex, nx), hi = std::max(lo, r.nx);
  const int64_t cost = int64_t(nx) * int64_t(st.terms.size());
  ParallelBlocks(out.ny, BlockFor(cost), [&](int64_t y0, int64_t y1) {
    Lines lines;
    std::vector<Term> live;
    auto edge = [&](float* row, int x) {
      double sum = 0.0;
      for (const Term& t : live) {
        const int rx = x - t.b;
        if (rx >= 0 && rx < r.nx) sum += s * t.c * r.z[int64_t(t.a)][rx];
      }
      row[x] = static_cast<float>(row[x] + sum);
    };
    for (int64_t y = y0; y < y1; ++y) {
      live.clear();
      lines.clear();
      for (const Term& t : st.terms) {
        const int64_t ry = y - t.a;
        if (ry < 0 || ry >= r.ny) continue;
        live.push_back({int(ry), t.b, t.c});  // a now holds the residual row
        lines.push(r.z[ry] + (lo - t.b), s * t.c);
      }
      if (live.empty()) continue;
      float* row = out.z[y];
      for (int x = 0; x < lo; ++x) edge(row, x);
      if (hi > lo) lines.apply(hi - lo, {nullptr, row + lo, true});
      for (int x = hi; x < nx; ++x) edge(row, x);
    }
  });
  return out;
}

// The data-dependent pairs: the stencil a set bit takes, the one a clear bit takes, and the
// offset of the pixel whose bit an output element reads from the element itself (the
// upper-left of a 2 x 2 block, the centre of a 3 x 3 one).
struct Choice {
  const Stencil& set;
  const Stencil& clear;
  int offset;
  int cols() const { return std::max(set.cols(), clear.cols()); }
  int rows() const { return std::max(set.rows(), clear.rows()); }
};

const Stencil kDiagRise{kRoot2, {{1, 0, 1}, {0, 1, -1}}};  // I(i+1, j) - I(i, j+1)

const Choice kDdSlopeMax{kSlopeX, kSlopeY, 0};
const Choice kDdSlopeMin{kSlopeY, kSlopeX, 0};
const Choice kDdSlopeDiagMax{kSlopeDiag, kDiagRise, 0};
const Choice kDdSlopeDiagMin{kDiagRise, kSlopeDiag, 0};
const Stencil kCurvRow{1, {{1, 0, 1}, {1, 1, -2}, {1, 2, 1}}};
const Stencil kCurvCol{1, {{0, 1, 1}, {1, 1, -2}, {2, 1, 1}}};
const Choice kDdCurvMax{kCurvRow, kCurvCol, 1};
const Choice kDdCurvMin{kCurvCol, kCurvRow, 1};
const Choice kDdCurvDiagMax{kCurvDiag, kCurvAnti, 1};
const Choice kDdCurvDiagMin{kCurvAnti, kCurvDiag, 1};

matrix& ForwardChosen(const Choice& ch, const matrix& input, const bitmask& mask, float w,
                      matrix& out) {
  if (&input == &out) {
    const matrix copy(input);
    return ForwardChosen(ch, copy, mask, w, out);
  }
  const int rnx = std::max(0, input.nx - ch.cols()), rny = std::max(0, input.ny - ch.rows());
  out.dim(rnx, rny);
  if (out.n == 0) return out;
  const bool useMask = mask.covers(input.nx, input.ny);
  const double s[2] = {ch.clear.scale(w), ch.set.scale(w)};
  ParallelBlocks(rny, BlockFor(4 * int64_t(rnx)), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      for (int x = 0; x < rnx; ++x) {
        const bool bit = useMask && mask.get(x + ch.offset, int(y) + ch.offset);
        double sum = 0.0;
        for (const Term& t : (bit ? ch.set : ch.clear).terms)
          sum += t.c * input.z[y + t.a][x + t.b];
        out.z[y][x] = static_cast<float>(s[bit] * sum);
      }
    }
  });
  return out;
}

// out += the transpose, gathered: out(y, x) takes s c r(y - a, x - b) over the terms of the
// stencil that the residual element's bit chose.
matrix& AdjointChosen(const Choice& ch, const matrix& r, const bitmask& mask, float w,
                      matrix& out) {
  if (&r == &out) {
    const matrix copy(r);
    return AdjointChosen(ch, copy, mask, w, out);
  }
  if (r.n == 0) return out;
  const int ex = ch.cols(), ey = ch.rows();
  if (out.nx != r.nx + ex || out.ny != r.ny + ey) out.dim(r.nx + ex, r.ny + ey).zero();
  const bool useMask = mask.covers(out.nx, out.ny);
  const double s[2] = {ch.clear.scale(w), ch.set.scale(w)};
  ParallelBlocks(out.ny, BlockFor(8 * int64_t(out.nx)), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* row = out.z[y];
      for (int x = 0; x < out.nx; ++x) {
        double sum = 0.0;
        for (int pick = 0; pick < 2; ++pick) {
          for (const Term& t : (pick ? ch.set : ch.clear).terms) {
            const int ry = int(y) - t.a, rx = x - t.b;
            if (ry < 0 || ry >= r.ny || rx < 0 || rx >= r.nx) continue;
            const bool bit = useMask && mask.get(rx + ch.offset, ry + ch.offset);
            if (int(bit) == pick) sum += s[pick] * t.c * r.z[ry][rx];
          }
        }
        row[x] = static_cast<float>(row[x] + sum);
      }
    }
  });
  return out;
}

// |first stencil| - |second stencil| at every pixel where both fit, the stencils given as
// terms relative to the pixel (row, column, coefficient); 0 elsewhere. Then the 3 x 3 box
// and, at another scale, the enlargement.
matrix& Preference(matrix& map, const matrix& input, float scale, bool curvature,
                   const std::vector<Term>& first, const std::vector<Term>& second) {
  if (&map == &input) {
    const matrix copy(input);
    return Preference(map, copy, scale, curvature, first, second);
  }
  const int nx = input.nx, ny = input.ny;
  map.dim(nx, ny).zero();
  if (map.n == 0) return map;
  const int lo = curvature ? 1 : 0, hiX = nx - 1, hiY = ny - 1;
  ParallelBlocks(ny, BlockFor(8 * int64_t(nx)), [&](int64_t y0, int64_t y1) {
    for (int64_t i = std::max<int64_t>(y0, lo); i < std::min<int64_t>(y1, hiY); ++i) {
      for (int j = lo; j < hiX; ++j) {
        double a = 0.0, b = 0.0;
        for (const Term& t : first) a += t.c * input.z[i + t.a][j + t.b];
        for (const Term& t : second) b += t.c * input.z[i + t.a][j + t.b];
        map.z[i][j] = static_cast<float>(std::abs(a) - std::abs(b));
      }
    }
  });
  matrix rows;
  rows.smooth3y(map);
  map.smooth3x(rows);
  if (scale == 1 || !(scale > 0)) return map;
  if (!curvature) ShiftHalfPixelReverseNoCancel(map, true, true);
  matrix kx, ky;
  BuildBilinearKernelForScale(kx, nx, scale, 0, true);
  BuildBilinearKernelForScale(ky, ny, scale, 0, true);
  ResampleSeparable(map, map, kx, ky);
  if (!curvature) ShiftHalfPixelNoCancel(map, true, true);
  return map;
}
}  // namespace

#define ZEP_REGULARIZER(name, stencil)                                                       \
  matrix& matrix::name(const matrix& in, float w) { return Forward(stencil, in, w, *this); } \
  matrix& matrix::name##adj(const matrix& r, float w) { return Adjoint(stencil, r, w, *this); }

ZEP_REGULARIZER(slopex, kSlopeX)
ZEP_REGULARIZER(slopey, kSlopeY)
ZEP_REGULARIZER(slopediag, kSlopeDiag)
ZEP_REGULARIZER(slopeanti, kSlopeAnti)
ZEP_REGULARIZER(curvx, kCurvX)
ZEP_REGULARIZER(curvy, kCurvY)
ZEP_REGULARIZER(curvdiag, kCurvDiag)
ZEP_REGULARIZER(curvanti, kCurvAnti)
ZEP_REGULARIZER(order3x, kOrder3X)
ZEP_REGULARIZER(order3y, kOrder3Y)
ZEP_REGULARIZER(order3diag, kOrder3Diag)
ZEP_REGULARIZER(order3anti, kOrder3Anti)
ZEP_REGULARIZER(crossslope, kCross)
ZEP_REGULARIZER(crossslopediag, kCrossDiag)

#define ZEP_DD_REGULARIZER(name, choice)                                     \
  matrix& matrix::name(const matrix& in, const bitmask& mask, float w) {     \
    return ForwardChosen(choice, in, mask, w, *this);                        \
  }                                                                          \
  matrix& matrix::name##adj(const matrix& r, const bitmask& mask, float w) { \
    return AdjointChosen(choice, r, mask, w, *this);                         \
  }

ZEP_DD_REGULARIZER(ddslopemax, kDdSlopeMax)
ZEP_DD_REGULARIZER(ddslopemin, kDdSlopeMin)
ZEP_DD_REGULARIZER(ddslopediagmax, kDdSlopeDiagMax)
ZEP_DD_REGULARIZER(ddslopediagmin, kDdSlopeDiagMin)
ZEP_DD_REGULARIZER(ddcurvmax, kDdCurvMax)
ZEP_DD_REGULARIZER(ddcurvmin, kDdCurvMin)
ZEP_DD_REGULARIZER(ddcurvdiagmax, kDdCurvDiagMax)
ZEP_DD_REGULARIZER(ddcurvdiagmin, kDdCurvDiagMin)

// Terms relative to the pixel (i, j) itself.
matrix& matrix::hvpreference(const matrix& input, float scale, int mode) {
  if (mode == 1) {
    return Preference(*this, input, scale, true, {{0, -1, 1}, {0, 0, -2}, {0, 1, 1}},
                      {{-1, 0, 1}, {0, 0, -2}, {1, 0, 1}});
  }
  return Preference(*this, input, scale, false, {{0, 0, 1}, {0, 1, -1}}, {{0, 0, 1}, {1, 0, -1}});
}

matrix& matrix::diagpreference(const matrix& input, float scale, int mode) {
  if (mode == 1) {
    return Preference(*this, input, scale, true, {{-1, -1, 1}, {0, 0, -2}, {1, 1, 1}},
                      {{1, -1, 1}, {0, 0, -2}, {-1, 1, 1}});
  }
  return Preference(*this, input, scale, false, {{0, 0, 1}, {1, 1, -1}}, {{0, 1, 1}, {1, 0, -1}});
}
