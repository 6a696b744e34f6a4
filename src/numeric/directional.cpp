// Regularizers along a direction field, and the gradient tensors the fields come from.
// Each operator is a list of terms (row offset, column offset, coefficient as a polynomial
// in the pixel's unit vector (u, v)) whose coefficients sum to 0, evaluated as the sum of
// coefficient x (neighbour - pixel) over the neighbours: a constant plane gives exact
// zeros. The forward pass reads the mirrored neighbours, the transpose gathers into each
// element what every residual element would scatter there, so each row is written by one
// thread and the sums run in a fixed order.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
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

// Away from the borders, where no neighbour is folded, the passes run a whole row term by
// term: each element's sum takes the terms in the stencil's order with the same operations
// as the pixel-by-pixel form the borders keep, so the compiler can vectorise the rows and
// the bits do not change. Element (i, j) of the field is u[i stride + j]: an absent field
// is one row of (1, 0) read with stride 0.
struct RowField {
  const float* u;
  const float* v;
  int64_t stride;
  int nx;
};

// A term's coefficient leaves out the monomials of coefficient 0 where the field is finite:
// they add only zeros, which change no sum (every sum starts from +0, and x + (-0) is x), so
// the products and sums keep their bits. Where the field is not finite, 0 x inf must give
// its NaN: the whole polynomial.
struct FullForm {
  static double at(const Term& t, double u, double v) { return t.at(u, v); }
};
struct LinearForm {  // pu u + pv v
  static double at(const Term& t, double u, double v) { return t.pu * u + t.pv * v; }
};
struct UuForm {
  static double at(const Term& t, double u, double) { return t.uu * u * u; }
};
struct VvForm {
  static double at(const Term& t, double, double v) { return t.vv * v * v; }
};
struct UvForm {
  static double at(const Term& t, double u, double v) { return t.uv * u * v; }
};

enum class Form { kFull, kLinear, kUu, kVv, kUv };

Form FormOf(const Term& t, bool finite) {
  if (!finite) return Form::kFull;
  if (t.uu == 0 && t.vv == 0 && t.uv == 0) return Form::kLinear;
  if (t.pu != 0 || t.pv != 0) return Form::kFull;
  if (t.vv == 0 && t.uv == 0) return Form::kUu;
  if (t.uu == 0 && t.uv == 0) return Form::kVv;
  if (t.uu == 0 && t.vv == 0) return Form::kUv;
  return Form::kFull;
}

// True when rows [i0, i1] of the field are finite numbers.
inline __attribute__((always_inline)) bool FiniteRows(const RowField& f, int64_t i0, int64_t i1) {
  int bad = 0;
  for (int64_t i = i0; i <= i1; ++i) {
    const float* u = f.u + i * f.stride;
    const float* v = f.v + i * f.stride;
    for (int j = 0; j < f.nx; ++j) {
      bad |= int(!(std::fabs(u[j]) <= FLT_MAX)) | int(!(std::fabs(v[j]) <= FLT_MAX));
    }
  }
  return bad == 0;
}

// acc[j] += c (I(i + di, j + dj) - I(i, j)) for one term, j in [j0, j1).
template <class F>
struct ForwardTerm {
  static inline __attribute__((always_inline)) void run(const Term& term, const matrix& input,
                                                        const RowField& f, int64_t i, int j0,
                                                        int j1, double* __restrict acc) {
    const Term t = term;  // a copy the stores to acc cannot alias, so the loop vectorises
    const float* centre = input.z[i];
    const float* neighbour = input.z[i + t.di] + t.dj;
    const float* u = f.u + i * f.stride;
    const float* v = f.v + i * f.stride;
    for (int j = j0; j < j1; ++j) {
      acc[j] = acc[j] + F::at(t, u[j], v[j]) * (double(neighbour[j]) - double(centre[j]));
    }
  }
};

// acc[q] += c(source) r(source) - c(own) r(own) for one term, q in [q0, q1), where the
// source is (p - di, q - dj), the one element whose neighbour (p, q) is.
template <class F>
struct AdjointTerm {
  static inline __attribute__((always_inline)) void run(const Term& term, const matrix& r,
                                                        const RowField& f, int64_t p, int q0,
                                                        int q1, double* __restrict acc) {
    const Term t = term;  // as in ForwardTerm
    const float* own = r.z[p];
    const float* source = r.z[p - t.di] - t.dj;
    const float* u = f.u + p * f.stride;
    const float* v = f.v + p * f.stride;
    const float* su = f.u + (p - t.di) * f.stride - t.dj;
    const float* sv = f.v + (p - t.di) * f.stride - t.dj;
    for (int q = q0; q < q1; ++q) {
      const double gathered = 0.0 + F::at(t, su[q], sv[q]) * double(source[q]);
      acc[q] = acc[q] + (gathered - F::at(t, u[q], v[q]) * double(own[q]));
    }
  }
};

// acc[j] = the sum of Pass over the stencil's terms, each in its form, j in [j0, j1).
template <template <class> class Pass>
inline __attribute__((always_inline)) void SumTerms(const FieldStencil& st, const matrix& plane,
                                                    const RowField& f, int64_t i, int j0, int j1,
                                                    double* acc, bool finite) {
  for (int j = j0; j < j1; ++j) acc[j] = 0.0;
  for (const Term& t : st.terms) {
    if (t.di == 0 && t.dj == 0) continue;
    switch (FormOf(t, finite)) {
      case Form::kLinear:
        Pass<LinearForm>::run(t, plane, f, i, j0, j1, acc);
        break;
      case Form::kUu:
        Pass<UuForm>::run(t, plane, f, i, j0, j1, acc);
        break;
      case Form::kVv:
        Pass<VvForm>::run(t, plane, f, i, j0, j1, acc);
        break;
      case Form::kUv:
        Pass<UvForm>::run(t, plane, f, i, j0, j1, acc);
        break;
      case Form::kFull:
        Pass<FullForm>::run(t, plane, f, i, j0, j1, acc);
        break;
    }
  }
}

// The forward row reads the field on its own row, the transpose on the rows beside it too.
inline __attribute__((always_inline)) void ForwardRow(const FieldStencil& st, const matrix& input,
                                                      const RowField& f, int64_t i, int j0, int j1,
                                                      double* acc) {
  SumTerms<ForwardTerm>(st, input, f, i, j0, j1, acc, FiniteRows(f, i, i));
}

inline __attribute__((always_inline)) void AdjointRow(const FieldStencil& st, const matrix& r,
                                                      const RowField& f, int64_t p, int q0, int q1,
                                                      double* acc) {
  SumTerms<AdjointTerm>(st, r, f, p, q0, q1, acc, FiniteRows(f, p - 1, p + 1));
}

using RowPass = void (*)(const FieldStencil&, const matrix&, const RowField&, int64_t, int, int,
                         double*);

// Each row pass compiled for the baseline and for AVX2: multiplications and additions only
// (no fused multiply-add), so every build gives the same bits.
void ForwardRowPlain(const FieldStencil& st, const matrix& in, const RowField& f, int64_t i, int j0,
                     int j1, double* acc) {
  ForwardRow(st, in, f, i, j0, j1, acc);
}
void AdjointRowPlain(const FieldStencil& st, const matrix& r, const RowField& f, int64_t p, int q0,
                     int q1, double* acc) {
  AdjointRow(st, r, f, p, q0, q1, acc);
}
__attribute__((target("avx2"))) void ForwardRowAvx2(const FieldStencil& st, const matrix& in,
                                                    const RowField& f, int64_t i, int j0, int j1,
                                                    double* acc) {
  ForwardRow(st, in, f, i, j0, j1, acc);
}
__attribute__((target("avx2"))) void AdjointRowAvx2(const FieldStencil& st, const matrix& r,
                                                    const RowField& f, int64_t p, int q0, int q1,
                                                    double* acc) {
  AdjointRow(st, r, f, p, q0, q1, acc);
}

bool HasAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

// The field as the row passes read it; ones and zeros hold the row of an absent field.
RowField RowsOf(const FieldReader& f, int nx, std::vector<float>& ones, std::vector<float>& zeros) {
  if (f.u) return {f.u, f.v, nx, nx};
  ones.assign(size_t(nx), 1.0f);
  zeros.assign(size_t(nx), 0.0f);
  return {ones.data(), zeros.data(), 0, nx};
}

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
  const RowPass row = HasAvx2() ? ForwardRowAvx2 : ForwardRowPlain;
  std::vector<float> ones, zeros;
  const RowField rowField = RowsOf(f, nx, ones, zeros);
  // Every neighbour of the rows and columns [1, n - 1) lies on the plane.
  const int j0 = std::min(1, nx), j1 = std::max(j0, nx - 1);
  ParallelBlocks(ny, BlockFor(4 * int64_t(nx) * int64_t(st.terms.size())),
                 [&](int64_t i0, int64_t i1) {
                   std::vector<double> acc(size_t(nx), 0.0);
                   const auto pixel = [&](int64_t i, int j) {
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
                   };
                   for (int64_t i = i0; i < i1; ++i) {
                     if (i < 1 || i >= ny - 1) {
                       for (int j = 0; j < nx; ++j) pixel(i, j);
                       continue;
                     }
                     row(st, input, rowField, i, j0, j1, acc.data());
                     float* o = out.z[i];
                     for (int j = j0; j < j1; ++j) o[j] = static_cast<float>(s * acc[size_t(j)]);
                     for (int j = 0; j < j0; ++j) pixel(i, j);
                     for (int j = j1; j < nx; ++j) pixel(i, j);
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
  const RowPass row = HasAvx2() ? AdjointRowAvx2 : AdjointRowPlain;
  std::vector<float> ones, zeros;
  const RowField rowField = RowsOf(f, nx, ones, zeros);
  // An element of the rows and columns [2, n - 2) is the neighbour of exactly one element
  // for each offset: nearer the edge a folded neighbour can land on it too.
  const int q0 = std::min(2, nx), q1 = std::max(q0, nx - 2);
  ParallelBlocks(ny, BlockFor(8 * int64_t(nx) * int64_t(st.terms.size())),
                 [&](int64_t p0, int64_t p1) {
                   std::vector<double> acc(size_t(nx), 0.0);
                   const auto pixel = [&](int64_t p, int q) {
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
                     out.z[p][q] = static_cast<float>(out.z[p][q] + s * sum);
                   };
                   for (int64_t p = p0; p < p1; ++p) {
                     if (p < 2 || p >= ny - 2) {
                       for (int q = 0; q < nx; ++q) pixel(p, q);
                       continue;
                     }
                     row(st, r, rowField, p, q0, q1, acc.data());
                     float* o = out.z[p];
                     for (int q = q0; q < q1; ++q) {
                       o[q] = static_cast<float>(o[q] + s * acc[size_t(q)]);
                     }
                     for (int q = 0; q < q0; ++q) pixel(p, q);
                     for (int q = q1; q < nx; ++q) pixel(p, q);
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
