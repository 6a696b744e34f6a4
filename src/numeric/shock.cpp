// The shock filter's steps: an erosion/dilation flow across the edges given by a direction
// field, steepening soft transitions without moving them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/gaussrows.h"
#include "numeric/matrix.h"
#include "numeric/tensorrows.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
constexpr double kTwoOverPi = 0.63661975;

// atan in double precision (within a few units of the last place), written without calls or
// branches so that the row loops below vectorise. The argument is reduced to |z| <= 0.66 by
// atan(x) = pi/2 + atan(-1/x) above tan(3pi/8) and pi/4 + atan((x-1)/(x+1)) above 0.66,
// then a rational approximation of atan(z)/z - 1 in z^2 is added. NaN stays NaN, infinities
// give +-pi/2.
inline double Atan(double x) {
  constexpr double kTan3PiOver8 = 2.41421356237309504880;
  constexpr double kPiOver2 = 1.57079632679489661923;
  constexpr double kPiOver4 = 0.78539816339744830962;
  // The low part of pi/2, added back to the reduced forms.
  constexpr double kMoreBits = 6.123233995736765886130e-17;
  const double a = std::fabs(x);
  const bool far = a > kTan3PiOver8;
  const bool mid = !far && a > 0.66;
  const double num = far ? -1.0 : (mid ? a - 1.0 : a);
  const double den = far ? a : (mid ? a + 1.0 : 1.0);
  const double z = num / den;
  const double zz = z * z;
  const double p = (((-8.750608600031904122785e-1 * zz - 1.615753718733365076637e1) * zz -
                     7.500855792314704667340e1) * zz - 1.228866684490136173410e2) * zz -
                   6.485021904942025371773e1;
  const double q = ((((zz + 2.485846490142306297962e1) * zz + 1.650270098316988542046e2) * zz +
                     4.328810604912902668951e2) * zz + 4.853903996359136964868e2) * zz +
                   1.945506571482613964425e2;
  double y = z * (zz * p / q) + z;
  y += far ? kMoreBits : (mid ? 0.5 * kMoreBits : 0.0);
  y += far ? kPiOver2 : (mid ? kPiOver4 : 0.0);
  return std::copysign(y, x);
}

// The finite differences at one pixel, its neighbours reflected on the edge sample.
struct Derivatives {
  double gx, gy, xx, yy, xy;
  double gradient() const { return std::sqrt(gx * gx + gy * gy); }
  // The second derivative along the field vector (vx, vy), across the edge, and along
  // its perpendicular, the edge.
  double vv(double vx, double vy) const { return vx * vx * xx + 2 * vx * vy * xy + vy * vy * yy; }
  double ww(double vx, double vy) const { return vy * vy * xx - 2 * vx * vy * xy + vx * vx * yy; }
};

// The derivatives at column k of row mid from its left, right, upper and lower neighbours
// (l and r their columns).
inline Derivatives DerivativesAt(const float* up, const float* mid, const float* down, int l, int k,
                                 int r) {
  const double c = mid[k], lv = mid[l], rv = mid[r], u = up[k], d = down[k];
  return {(rv - lv) / 2, (d - u) / 2, lv + rv - 2 * c, u + d - 2 * c,
          (double(up[l]) + down[r] - down[l] - up[r]) / 4};
}

// Row j of the plane with the rows before (up) and after (down) it, reflected.
struct Rows {
  const float* up;
  const float* mid;
  const float* down;
  Rows(const matrix& p, int j)
      : up(p.z[ReflectWhole(int64_t(j) - 1, p.ny)]),
        mid(p.z[j]),
        down(p.z[ReflectWhole(int64_t(j) + 1, p.ny)]) {}

  Derivatives at(int k, int nx) const {
    const int l = k > 0 ? k - 1 : ReflectWhole(-1, nx);
    const int r = k + 1 < nx ? k + 1 : ReflectWhole(int64_t(k) + 1, nx);
    return DerivativesAt(up, mid, down, l, k, r);
  }
};

// The erosion/dilation speed: towards the dark side where the profile bends up, towards
// the bright side where it bends down; with an edge factor the switch is smoothed by atan.
inline double ShockTerm(double ivv, double speed, double edgeFactor, double step) {
  if (edgeFactor > 0) return -step * kTwoOverPi * Atan(edgeFactor * ivv) * speed;
  return ivv > 0 ? -step * speed : (ivv < 0 ? step * speed : 0.0);
}

// The row kernels: one row's inner columns 1 .. nx-2, whose neighbours need no reflection,
// in loops the compiler vectorises; the two end columns go through Rows::at. The edge-factor
// test is taken out of the loops so that each loop has one form.
ZEP_VECTOR_CLONES void UpdateRow(const float* up, const float* mid, const float* down,
                                 const float* fx, const float* fy, float* __restrict out, int nx,
                                 double edgeFactor, double step) {
  if (edgeFactor > 0) {
    for (int k = 1; k < nx - 1; ++k) {
      const Derivatives d = DerivativesAt(up, mid, down, k - 1, k, k + 1);
      const double vx = fx[k], vy = fy[k];
      const double speed = std::fabs(d.gx * vx + d.gy * vy);
      out[k] = static_cast<float>(out[k] + -step * kTwoOverPi * Atan(edgeFactor * d.vv(vx, vy)) *
                                               speed);
    }
  } else {
    for (int k = 1; k < nx - 1; ++k) {
      const Derivatives d = DerivativesAt(up, mid, down, k - 1, k, k + 1);
      const double vx = fx[k], vy = fy[k];
      const double speed = std::fabs(d.gx * vx + d.gy * vy);
      out[k] = static_cast<float>(out[k] + ShockTerm(d.vv(vx, vy), speed, 0.0, step));
    }
  }
}

// One form of shockstep's row: the shock term (0 none, 1 smoothed by atan, 2 by the sign)
// and the diffusion terms chosen at compile time, so that each loop has no selects on them.
template <int kShock, bool kAlong, bool kAcross>
[[gnu::always_inline]] inline void StepLoop(const float* up, const float* mid, const float* down,
                                            const float* fx, const float* fy,
                                            float* __restrict out, int nx, double edgeFactor,
                                            double gain, double along, double across) {
  for (int k = 1; k < nx - 1; ++k) {
    const Derivatives d = DerivativesAt(up, mid, down, k - 1, k, k + 1);
    const double vx = fx[k], vy = fy[k];
    const double ivv = d.vv(vx, vy);
    double s = 0;
    if constexpr (kShock == 1) s = -gain * kTwoOverPi * Atan(edgeFactor * ivv) * d.gradient();
    if constexpr (kShock == 2) s = ShockTerm(ivv, d.gradient(), 0.0, gain);
    if constexpr (kAlong) s += along * d.ww(vx, vy);  // diffusion along the edge
    if constexpr (kAcross) s += across * ivv;         // diffusion across it
    out[k] = static_cast<float>(s);
  }
}

template <int kShock>
[[gnu::always_inline]] inline void StepLoops(const float* up, const float* mid, const float* down,
                                             const float* fx, const float* fy,
                                             float* __restrict out, int nx, double edgeFactor,
                                             double gain, double along, double across) {
  if (along > 0 && across > 0) {
    StepLoop<kShock, true, true>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  } else if (along > 0) {
    StepLoop<kShock, true, false>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  } else if (across > 0) {
    StepLoop<kShock, false, true>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  } else {
    StepLoop<kShock, false, false>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along,
                                   across);
  }
}

ZEP_VECTOR_CLONES void StepRow(const float* up, const float* mid, const float* down,
                               const float* fx, const float* fy, float* __restrict out, int nx,
                               double edgeFactor, double gain, double along, double across) {
  if (!(gain > 0)) {
    StepLoops<0>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  } else if (edgeFactor > 0) {
    StepLoops<1>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  } else {
    StepLoops<2>(up, mid, down, fx, fy, out, nx, edgeFactor, gain, along, across);
  }
}

bool FieldFits(const matrix& field, const matrix& plane) {
  return field.nx == plane.n && field.ny >= 2;
}

// Calls row(j, rows of the input around j) for every row, in parallel: each row reads the
// input alone.
template <class Row>
void EachRow(const matrix& input, int64_t costPerPixel, const Row& row) {
  ParallelBlocks(input.ny, BlockFor(costPerPixel * input.nx), [&](int64_t j0, int64_t j1) {
    for (int j = int(j0); j < int(j1); ++j) row(j, Rows(input, j));
  });
}
// shockupdate's pixel k of a row without a mask, from the generic formulas: the speed is
// the part of the gradient along v.
inline void UpdatePixel(const Rows& rows, const float* fx, const float* fy, float* out, int k,
                        int nx, double edgeFactor, double step) {
  const Derivatives d = rows.at(k, nx);
  const double vx = fx[k], vy = fy[k];
  const double speed = std::fabs(d.gx * vx + d.gy * vy);
  out[k] = static_cast<float>(out[k] + ShockTerm(d.vv(vx, vy), speed, edgeFactor, step));
}

// shockupdate's row without a mask: fx, fy and out are the row's field and output.
void UpdateWholeRow(const Rows& rows, const float* fx, const float* fy, float* out, int nx,
                    double edgeFactor, double step) {
  UpdateRow(rows.up, rows.mid, rows.down, fx, fy, out, nx, edgeFactor, step);
  UpdatePixel(rows, fx, fy, out, 0, nx, edgeFactor, step);
  if (nx > 1) UpdatePixel(rows, fx, fy, out, nx - 1, nx, edgeFactor, step);
}
}  // namespace

matrix& matrix::shockupdate(const matrix& copy, const matrix& field, float edgeFactor, float step,
                            const bitmask* mask) {
  if (!(step > 0) || n == 0) return *this;
  // Planes that do not match cannot say where or how to move: nothing changes.
  if (copy.nx != nx || copy.ny != ny || !FieldFits(field, *this)) return *this;
  if (mask && !mask->covers(nx, ny)) return *this;
  // The rows write this plane while reading the copy: a plane given as its own copy is
  // read from a copy of its own.
  if (&copy == this) return shockupdate(matrix(copy), field, edgeFactor, step, mask);
  const float* fx = field.x;
  const float* fy = field.x + n;
  EachRow(copy, mask ? 48 : 24, [&](int j, const Rows& rows) {
    const int64_t row = int64_t(j) * nx;
    if (!mask) return UpdateWholeRow(rows, fx + row, fy + row, x + row, nx, edgeFactor, step);
    // A selection moves by the whole gradient.
    for (int k = 0; k < nx; ++k) {
      if (!mask->getbit(int(row + k))) continue;
      const Derivatives d = rows.at(k, nx);
      const int64_t i = row + k;
      const double ivv = d.vv(fx[i], fy[i]);
      x[i] = static_cast<float>(x[i] + ShockTerm(ivv, d.gradient(), edgeFactor, step));
    }
  });
  return *this;
}

void ShockIteration(matrix& plane, float sigma, float edgeFactor, float step,
                    const ShockScratch& scratch) {
  if (!(step > 0) || plane.n == 0) return;
  ProgressCountingScope quiet(false);
  matrix &xx = *scratch.xx, &xy = *scratch.xy, &yy = *scratch.yy, &copy = *scratch.copy;
  StructureTensorProducts(plane, xx, xy, yy);
  copy.assign(plane);
  const int nx = plane.nx;
  for (matrix* p : {&xx, &xy})
    GaussianBlurRows(*p, sigma,
                     [p, nx](int64_t y, const float* row) { std::copy(row, row + nx, p->z[y]); });
  GaussianBlurRows(yy, sigma, [&](int64_t y, const float* row) {
    thread_local std::vector<float> field;
    field.resize(2 * size_t(nx));
    float* fx = field.data();
    float* fy = fx + nx;
    OneEigenvector(xx.z[y], xy.z[y], row, fx, fy, nx, true);
    UpdateWholeRow(Rows(copy, int(y)), fx, fy, plane.z[y], nx, edgeFactor, step);
  });
}

matrix& matrix::shockstep(const matrix& input, const matrix& field, float edgeFactor, float gain,
                          float alongWeight, float acrossWeight) {
  // Clearing this plane first would clear an input that is this plane.
  if (&input == this) return shockstep(matrix(input), field, edgeFactor, gain, alongWeight,
                                       acrossWeight);
  dim(input.nx, input.ny);
  zero();
  if (n == 0 || !FieldFits(field, input)) return *this;
  const float* fx = field.x;
  const float* fy = field.x + n;
  const auto pixel = [&](const Rows& rows, int64_t i, int k) {
    const Derivatives d = rows.at(k, nx);
    const double vx = fx[i], vy = fy[i];
    const double ivv = d.vv(vx, vy);
    double s = 0;
    if (gain > 0) s = ShockTerm(ivv, d.gradient(), edgeFactor, gain);
    if (alongWeight > 0) s += alongWeight * d.ww(vx, vy);
    if (acrossWeight > 0) s += acrossWeight * ivv;
    x[i] = static_cast<float>(s);
  };
  EachRow(input, 24, [&](int j, const Rows& rows) {
    const int64_t row = int64_t(j) * nx;
    StepRow(rows.up, rows.mid, rows.down, fx + row, fy + row, x + row, nx, edgeFactor, gain,
            alongWeight, acrossWeight);
    pixel(rows, row, 0);
    if (nx > 1) pixel(rows, row + nx - 1, nx - 1);
  });
  return *this;
}
