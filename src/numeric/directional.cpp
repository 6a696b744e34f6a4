// Regularizers along a direction field, and the gradient tensors the fields come from.
// Each operator is a list of terms (row offset, column offset, coefficient as a polynomial
// in the pixel's unit vector (u, v)) whose coefficients sum to 0, evaluated as the sum of
// coefficient x (neighbour - pixel) over the neighbours: a constant plane gives exact
// zeros. The forward pass reads the mirrored neighbours, the transpose gathers into each
// element what every residual element would scatter there, so each row is written by one
// thread and the sums run in a fixed order.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "numeric/border.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "numeric/shift.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// coefficient = pu u + pv v + uu u^2 + vv v^2 + uv u v
struct Term {
  int di, dj;
  double pu, pv, uu, vv, uv;
  double at(double u, double v) const {
    return pu * u + pv * v + uu * u * u + vv * v * v + uv * u * v;
  }
};

// The (0, 0) terms below are written out for reading; the passes use the differences to
// the pixel itself, which carry them.
struct FieldStencil {
  double divisor;  // the weight is divided by it
  std::vector<Term> terms;
};

const double kRoot2 = std::sqrt(2.0);

// Slopes on the cell whose upper-left pixel is (i, j).
const FieldStencil kDirSlopeMin{
    kRoot2,
    {{1, 1, 0, 1, 0, 0, 0}, {0, 0, 0, -1, 0, 0, 0}, {1, 0, -1, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 0, 0}}};
const FieldStencil kDirSlopeMax{
    kRoot2,
    {{1, 1, 1, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0}, {1, 0, 0, 1, 0, 0, 0}, {0, 1, 0, -1, 0, 0, 0}}};
// (dx_i + dx_rN) v - (dy_j + dy_cN) u and (dx_i + dx_rN) u + (dy_j + dy_cN) v.
const FieldStencil kDirSlope2Min{2,
                                 {{0, 0, 1, -1, 0, 0, 0},
                                  {0, 1, 1, 1, 0, 0, 0},
                                  {1, 0, -1, -1, 0, 0, 0},
                                  {1, 1, -1, 1, 0, 0, 0}}};
const FieldStencil kDirSlope2Max{2,
                                 {{0, 0, -1, -1, 0, 0, 0},
                                  {0, 1, 1, -1, 0, 0, 0},
                                  {1, 0, -1, 1, 0, 0, 0},
                                  {1, 1, 1, 1, 0, 0, 0}}};
// Curvatures centred on (i, j): v^2 D11 - 2uv X + u^2 D22 and its Max form.
const FieldStencil kDirCurvMin{2,
                               {{-1, -1, 0, 0, 0, 1, 0},
                                {1, 1, 0, 0, 0, 1, 0},
                                {-1, 1, 0, 0, 1, 0, 0},
                                {1, -1, 0, 0, 1, 0, 0},
                                {0, 0, 0, 0, -2, -2, 0},
                                {-1, 0, 0, 0, 0, 0, -2},
                                {1, 0, 0, 0, 0, 0, -2},
                                {0, -1, 0, 0, 0, 0, 2},
                                {0, 1, 0, 0, 0, 0, 2}}};
const FieldStencil kDirCurvMax{2,
                               {{-1, -1, 0, 0, 1, 0, 0},
                                {1, 1, 0, 0, 1, 0, 0},
                                {-1, 1, 0, 0, 0, 1, 0},
                                {1, -1, 0, 0, 0, 1, 0},
                                {0, 0, 0, 0, -2, -2, 0},
                                {-1, 0, 0, 0, 0, 0, 2},
                                {1, 0, 0, 0, 0, 0, 2},
                                {0, -1, 0, 0, 0, 0, -2},
                                {0, 1, 0, 0, 0, 0, -2}}};
// v^2 Dxx - uv M/2 + u^2 Dyy and its Max form.
const FieldStencil kDirCurv2Min{1,
                                {{0, -1, 0, 0, 0, 1, 0},
                                 {0, 1, 0, 0, 0, 1, 0},
                                 {-1, 0, 0, 0, 1, 0, 0},
                                 {1, 0, 0, 0, 1, 0, 0},
                                 {0, 0, 0, 0, -2, -2, 0},
                                 {-1, -1, 0, 0, 0, 0, -0.5},
                                 {1, 1, 0, 0, 0, 0, -0.5},
                                 {1, -1, 0, 0, 0, 0, 0.5},
                                 {-1, 1, 0, 0, 0, 0, 0.5}}};
const FieldStencil kDirCurv2Max{1,
                                {{0, -1, 0, 0, 1, 0, 0},
                                 {0, 1, 0, 0, 1, 0, 0},
                                 {-1, 0, 0, 0, 0, 1, 0},
                                 {1, 0, 0, 0, 0, 1, 0},
                                 {0, 0, 0, 0, -2, -2, 0},
                                 {-1, -1, 0, 0, 0, 0, 0.5},
                                 {1, 1, 0, 0, 0, 0, 0.5},
                                 {1, -1, 0, 0, 0, 0, -0.5},
                                 {-1, 1, 0, 0, 0, 0, -0.5}}};

// The mirrored index of i + d, d in -1 .. 1, for every i of a line, and its inverse: the
// (at most two) i whose mirrored i + d is p.
struct Folds {
  std::array<std::vector<int>, 3> to;
  struct Sources {
    int count = 0;
    int i[2] = {0, 0};
  };
  std::array<std::vector<Sources>, 3> from;
  explicit Folds(int size) {
    for (int d = -1; d <= 1; ++d) {
      to[d + 1].resize(size);
      from[d + 1].resize(size);
      for (int i = 0; i < size; ++i) {
        const int p = ReflectWhole(int64_t(i) + d, size);
        to[d + 1][i] = p;
        Folds::Sources& s = from[d + 1][p];
        s.i[s.count++] = i;
      }
    }
  }
};

// (u, v) of pixel k, (1, 0) when the field does not cover the plane.
struct FieldReader {
  const float* u = nullptr;
  const float* v = nullptr;
  FieldReader(const matrix& field, int n) {
    if (n > 0 && field.n > 0 && field.nx == n && field.ny >= 2) {
      u = field.x;
      v = field.x + n;
    }
  }
  double uAt(int64_t k) const { return u ? u[k] : 1.0; }
  double vAt(int64_t k) const { return v ? v[k] : 0.0; }
};

matrix& ForwardField(const FieldStencil& st, const matrix& input, const matrix& field, float w,
                     matrix& out) {
  if (&input == &out || &field == &out) {
    const matrix copy(input), fieldCopy(field);
    return ForwardField(st, copy, fieldCopy, w, out);
  }
  const int nx = input.nx, ny = input.ny;
  out.dim(nx, ny);
  if (out.n == 0) return out;
  const Folds rows(ny), cols(nx);
  const FieldReader f(field, out.n);
  const double s = static_cast<float>(double(w) / st.divisor);
  ParallelBlocks(ny, BlockFor(4 * int64_t(nx) * int64_t(st.terms.size())),
                 [&](int64_t i0, int64_t i1) {
                   for (int64_t i = i0; i < i1; ++i) {
                     for (int j = 0; j < nx; ++j) {
                       const int64_t k = i * nx + j;
                       const double u = f.uAt(k), v = f.vAt(k);
                       const double centre = input.z[i][j];
                       double sum = 0.0;
                       for (const Term& t : st.terms) {
                         if (t.di == 0 && t.dj == 0) continue;
                         const double value = input.z[rows.to[t.di + 1][i]][cols.to[t.dj + 1][j]];
                         sum += t.at(u, v) * (value - centre);
                       }
                       out.z[i][j] = static_cast<float>(s * sum);
                     }
                   }
                 });
  return out;
}

matrix& AdjointField(const FieldStencil& st, const matrix& r, const matrix& field, float w,
                     matrix& out) {
  if (&r == &out || &field == &out) {
    const matrix copy(r), fieldCopy(field);
    return AdjointField(st, copy, fieldCopy, w, out);
  }
  if (r.n == 0) return out;
  const int nx = r.nx, ny = r.ny;
  // A plane of another shape holds no partial sum of this image: it starts from zero.
  if (out.nx != nx || out.ny != ny) out.dim(nx, ny).zero();
  const Folds rows(ny), cols(nx);
  const FieldReader f(field, r.n);
  const double s = static_cast<float>(double(w) / st.divisor);
  ParallelBlocks(ny, BlockFor(8 * int64_t(nx) * int64_t(st.terms.size())),
                 [&](int64_t p0, int64_t p1) {
                   for (int64_t p = p0; p < p1; ++p) {
                     float* row = out.z[p];
                     for (int q = 0; q < nx; ++q) {
                       // Each neighbour term scatters +c r to the neighbour and -c r to
                       // the pixel; a neighbour folded onto the pixel itself cancels exactly.
                       const int64_t own = p * nx + q;
                       const double u = f.uAt(own), v = f.vAt(own);
                       double sum = 0.0;
                       for (const Term& t : st.terms) {
                         if (t.di == 0 && t.dj == 0) continue;
                         const Folds::Sources& si = rows.from[t.di + 1][p];
                         const Folds::Sources& sj = cols.from[t.dj + 1][q];
                         double gathered = 0.0;
                         for (int a = 0; a < si.count; ++a) {
                           for (int b = 0; b < sj.count; ++b) {
                             const int64_t k = int64_t(si.i[a]) * nx + sj.i[b];
                             gathered += t.at(f.uAt(k), f.vAt(k)) * r.x[k];
                           }
                         }
                         sum += gathered - t.at(u, v) * r.x[own];
                       }
                       row[q] = static_cast<float>(row[q] + s * sum);
                     }
                   }
                 });
  return out;
}

// The three products of one 2 x 2 cell with corners a = I(i, j), b = I(i, j + 1),
// c = I(i + 1, j), d = I(i + 1, j + 1).
struct CellProducts {
  double first, cross, second;
};
using CellTensor = CellProducts (*)(double a, double b, double c, double d);

CellProducts DiagonalCell(double a, double b, double c, double d) {
  const double d1 = d - a, d2 = c - b;
  return {d1 * d1, d1 * d2, d2 * d2};
}

CellProducts RowColumnCell(double a, double b, double c, double d) {
  const double rx = b - a, rx2 = d - c, cy = c - a, cy2 = d - b;
  return {(rx * rx + rx2 * rx2) / 2, ((rx + rx2) / 2) * ((cy + cy2) / 2),
          (cy * cy + cy2 * cy2) / 2};
}

void CellTensors(const matrix& input, matrix& a, matrix& c, matrix& b, float sigma, float scale,
                 int mode, CellTensor cell) {
  ProgressCountingScope quiet(false);
  if (&input == &a || &input == &c || &input == &b) {
    const matrix copy(input);
    CellTensors(copy, a, c, b, sigma, scale, mode, cell);
    return;
  }
  const int nx = input.nx, ny = input.ny;
  for (matrix* plane : {&a, &c, &b}) plane->dim(nx, ny).zero();
  if (a.n == 0) return;
  ParallelBlocks(ny - 1, BlockFor(8 * int64_t(nx)), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const float* top = input.z[i];
      const float* bottom = input.z[i + 1];
      for (int j = 0; j + 1 < nx; ++j) {
        const CellProducts p = cell(top[j], top[j + 1], bottom[j], bottom[j + 1]);
        a.z[i][j] = static_cast<float>(p.first);
        c.z[i][j] = static_cast<float>(p.cross);
        b.z[i][j] = static_cast<float>(p.second);
      }
    }
  });
  if (mode == 1) {
    for (matrix* plane : {&a, &c, &b}) ShiftHalfPixelNoCancel(*plane, true, true);
  }
  if (scale > 1) {
    matrix kx, ky;
    const float shift = mode == 1 ? 0.0f : 0.5f;
    BuildLanczosKernelForScale(kx, 3, nx, scale, shift, true);
    BuildLanczosKernelForScale(ky, 3, ny, scale, shift, true);
    for (matrix* plane : {&a, &c, &b}) ResampleSeparable(*plane, *plane, kx, ky);
    sigma *= scale;
  }
  for (matrix* plane : {&a, &c, &b}) {
    plane->gaussblury(sigma, 0);
    plane->gaussblurx(sigma, 0);
  }
}
}  // namespace

#define ZEP_FIELD_REGULARIZER(name, stencil)                                 \
  matrix& matrix::name(const matrix& in, const matrix& field, float w) {     \
    return ForwardField(stencil, in, field, w, *this);                       \
  }                                                                          \
  matrix& matrix::name##adj(const matrix& r, const matrix& field, float w) { \
    return AdjointField(stencil, r, field, w, *this);                        \
  }

ZEP_FIELD_REGULARIZER(dirslopemin, kDirSlopeMin)
ZEP_FIELD_REGULARIZER(dirslopemax, kDirSlopeMax)
ZEP_FIELD_REGULARIZER(dirslope2min, kDirSlope2Min)
ZEP_FIELD_REGULARIZER(dirslope2max, kDirSlope2Max)
ZEP_FIELD_REGULARIZER(dircurvmin, kDirCurvMin)
ZEP_FIELD_REGULARIZER(dircurvmax, kDirCurvMax)
ZEP_FIELD_REGULARIZER(dircurv2min, kDirCurv2Min)
ZEP_FIELD_REGULARIZER(dircurv2max, kDirCurv2Max)

const matrix& matrix::diagtensor(matrix& a, matrix& c, matrix& b, float sigma, float scale,
                                 int mode) const {
  CellTensors(*this, a, c, b, sigma, scale, mode, DiagonalCell);
  return *this;
}

const matrix& matrix::hvtensor(matrix& a, matrix& c, matrix& b, float sigma, float scale,
                               int mode) const {
  CellTensors(*this, a, c, b, sigma, scale, mode, RowColumnCell);
  return *this;
}

matrix& matrix::majoreigenfield(matrix& a, matrix& c, matrix& b) {
  return eigenfield(a, c, b, 1, false);
}

matrix& matrix::diagfield(const matrix& input, float scale, float sigma, int mode) {
  matrix a, c, b;
  input.diagtensor(a, c, b, sigma, scale, mode);
  return majoreigenfield(a, c, b);
}

matrix& matrix::hvfield(const matrix& input, float scale, float sigma, int mode) {
  matrix a, c, b;
  input.hvtensor(a, c, b, sigma, scale, mode);
  return majoreigenfield(a, c, b);
}
