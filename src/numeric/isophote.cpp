#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// The update of one element from the copy q at (k, j): the mean-curvature flow on the axis
// or the diagonal stencil. Nearly flat elements (squared half-differences summing to 0.01
// or less) are left alone; the threshold is absolute, in value units.
double Curvature(const matrix& q, int k, int j, bool diagonal, double b) {
  const float* up = q.z[j - 1];
  const float* mid = q.z[j];
  const float* down = q.z[j + 1];
  const double c = mid[k], l = mid[k - 1], r = mid[k + 1], u = up[k], d = down[k];
  const double ul = up[k - 1], ur = up[k + 1], dl = down[k - 1], dr = down[k + 1];
  if (!diagonal) {
    const double ux = (r - l) / 2, uy = (d - u) / 2, g = ux * ux + uy * uy;
    if (!(g > 0.01)) return 0.0;
    return b *
           (ux * ux * (d + u - 2 * c) - 2 * ux * uy * (ul + dr - dl - ur) / 4 +
            uy * uy * (r + l - 2 * c)) /
           g;
  }
  // The same flow along the main and the anti-diagonal; the half converts the second
  // differences to unit grid spacing.
  const double up_ = (dr - ul) / 2, uq = (dl - ur) / 2, g = up_ * up_ + uq * uq;
  if (!(g > 0.01)) return 0.0;
  return (b / 2) *
         (up_ * up_ * (dl + ur - 2 * c) - 2 * up_ * uq * (u + d - l - r) +
          uq * uq * (dr + ul - 2 * c)) /
         g;
}

bool Locked(int k, int j, int modulus, int offset) {
  return modulus != 0 && (k - offset) % modulus == 0 && (j - offset) % modulus == 0;
}
}  // namespace

matrix& matrix::isophotesmooth(int iterations, float coefficient, int modulus, int offset, int mode,
                               const bitmask* mask) {
  if (iterations <= 0 || n == 0) return *this;
  // A mask of another size cannot say which pixels to change: nothing is changed.
  if (mask && (!mask->present() || mask->width != nx || mask->height != ny)) return *this;
  matrix q(nx, ny);
  for (int t = 0; t < iterations; ++t) {
    bool diagonal;
    if (mode == 1) {
      diagonal = false;
    } else if (mode == -1) {
      diagonal = true;
    } else if (mode == 0) {
      diagonal = t % 2 == 0;
    } else {
      continue;
    }
    q.copydata(*this);
    // Every element reads the copy alone, so the rows of one iteration are independent.
    ParallelBlocks(ny - 2, BlockFor(16 * int64_t(nx)), [&](int64_t r0, int64_t r1) {
      for (int j = int(r0) + 1; j <= int(r1); ++j) {
        for (int k = 1; k <= nx - 2; ++k) {
          if (mask && !mask->get(k, j)) continue;
          if (Locked(k, j, modulus, offset)) continue;
          z[j][k] = static_cast<float>(z[j][k] + Curvature(q, k, j, diagonal, coefficient));
        }
      }
    });
  }
  return *this;
}
