// The shock filter's steps: an erosion/dilation flow across the edges given by a direction
// field, steepening soft transitions without moving them.
#include <cmath>
#include <cstdint>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
constexpr double kTwoOverPi = 0.63661975;

// The finite differences at one pixel, its neighbours reflected on the edge sample.
struct Derivatives {
  double gx, gy, xx, yy, xy;
  double gradient() const { return std::sqrt(gx * gx + gy * gy); }
  // The second derivative along the field vector (vx, vy), across the edge, and along
  // its perpendicular, the edge.
  double vv(double vx, double vy) const { return vx * vx * xx + 2 * vx * vy * xy + vy * vy * yy; }
  double ww(double vx, double vy) const { return vy * vy * xx - 2 * vx * vy * xy + vx * vx * yy; }
};

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
    const double c = mid[k], lv = mid[l], rv = mid[r], u = up[k], d = down[k];
    return {(rv - lv) / 2, (d - u) / 2, lv + rv - 2 * c, u + d - 2 * c,
            (double(up[l]) + down[r] - down[l] - up[r]) / 4};
  }
};

// The erosion/dilation speed: towards the dark side where the profile bends up, towards
// the bright side where it bends down; with an edge factor the switch is smoothed by atan.
double ShockTerm(double ivv, double speed, double edgeFactor, double step) {
  if (edgeFactor > 0) return -step * kTwoOverPi * std::atan(edgeFactor * ivv) * speed;
  if (ivv > 0) return -step * speed;
  if (ivv < 0) return step * speed;
  return 0.0;
}

bool FieldFits(const matrix& field, const matrix& plane) {
  return field.nx == plane.n && field.ny >= 2;
}

// Calls visit(i, derivatives of the input at i, vx, vy) for every pixel i (those of the
// mask alone, when given), rows in parallel: each pixel reads the input alone.
template <class Visit>
void EachPixel(const matrix& input, const matrix& field, const bitmask* mask, const Visit& visit) {
  const int nx = input.nx;
  const float* fx = field.x;
  const float* fy = field.x + input.n;
  ParallelBlocks(input.ny, BlockFor(48 * int64_t(nx)), [&](int64_t j0, int64_t j1) {
    for (int j = int(j0); j < int(j1); ++j) {
      const Rows rows(input, j);
      for (int k = 0; k < nx; ++k) {
        const int64_t i = int64_t(j) * nx + k;
        if (mask && !mask->getbit(int(i))) continue;
        visit(i, rows.at(k, nx), double(fx[i]), double(fy[i]));
      }
    }
  });
}
}  // namespace

matrix& matrix::shockupdate(const matrix& copy, const matrix& field, float edgeFactor, float step,
                            const bitmask* mask) {
  if (!(step > 0) || n == 0) return *this;
  // Planes that do not match cannot say where or how to move: nothing changes.
  if (copy.nx != nx || copy.ny != ny || !FieldFits(field, *this)) return *this;
  if (mask && !mask->covers(nx, ny)) return *this;
  EachPixel(copy, field, mask, [&](int64_t i, const Derivatives& d, double vx, double vy) {
    // A selection moves by the whole gradient, the full image by its part along v.
    const double speed = mask ? d.gradient() : std::fabs(d.gx * vx + d.gy * vy);
    x[i] = static_cast<float>(x[i] + ShockTerm(d.vv(vx, vy), speed, edgeFactor, step));
  });
  return *this;
}

matrix& matrix::shockstep(const matrix& input, const matrix& field, float edgeFactor, float gain,
                          float alongWeight, float acrossWeight) {
  dim(input.nx, input.ny);
  zero();
  if (n == 0 || !FieldFits(field, input)) return *this;
  EachPixel(input, field, nullptr, [&](int64_t i, const Derivatives& d, double vx, double vy) {
    const double ivv = d.vv(vx, vy);
    double s = 0;
    if (gain > 0) s = ShockTerm(ivv, d.gradient(), edgeFactor, gain);
    if (alongWeight > 0) s += alongWeight * d.ww(vx, vy);  // diffusion along the edge
    if (acrossWeight > 0) s += acrossWeight * ivv;         // diffusion across it
    x[i] = static_cast<float>(s);
  });
  return *this;
}
