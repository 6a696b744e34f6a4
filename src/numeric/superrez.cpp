// "Super Rez": edge-stopping diffusion and a curvature step on an enlargement, each round
// followed by the exact re-projection onto the images that reduce to the input.
#include <cmath>
#include <cstdint>

#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
using EdgeStop = double (*)(float);

EdgeStop EdgeStopOf(int type) {
  switch (type) {
    case 1:
      return WeightInversePower;
    case 2:
      return WeightInverseQuadratic;
    case 3:
      return WeightGaussian;
    case 4:
      return WeightInverseRoot;
    default:
      return nullptr;
  }
}

// The eight neighbours of an interior sample and the sample itself. Row 0 is the bottom, so
// "up" is the next row.
struct Stencil {
  float c, u, d, l, r, ul, ur, dl, dr;
  Stencil(const matrix& m, int x, int y) {
    const float* up = m.z[y + 1];
    const float* mid = m.z[y];
    const float* dn = m.z[y - 1];
    c = mid[x];
    u = up[x];
    d = dn[x];
    l = mid[x - 1];
    r = mid[x + 1];
    ul = up[x - 1];
    ur = up[x + 1];
    dl = dn[x - 1];
    dr = dn[x + 1];
  }
};

// Runs body(y) for the interior rows 1 .. ny-2 in row blocks.
template <class F>
void InteriorRows(const matrix& m, F body) {
  if (m.nx < 3 || m.ny < 3) return;
  ParallelBlocks(m.ny - 2, BlockFor(int64_t(m.nx) * 12), [&](int64_t b0, int64_t b1) {
    for (int64_t y = b0 + 1; y < b1 + 1; ++y) body(int(y));
  });
}
}  // namespace

matrix& matrix::superrez(const matrix& low, matrix& cache, int a, int reductionType, int baseType,
                         float step, float gradientScale, float jaggy, int iterations,
                         int weightType, float radius, float amount) {
  if (iterations <= 0 || low.empty()) return *this;
  // The loop keeps this plane's shape only when it is the enlargement of low.
  if (nx != SaturatedProduct(a, low.nx) || ny != SaturatedProduct(a, low.ny)) return *this;
  matrix s;
  s.DownscaleKernel(a, reductionType, radius, amount);
  const EdgeStop stop = EdgeStopOf(weightType);
  const bool diffuse = step != 0.0f && stop;
  matrix w(nx, ny), old, k;
  w.zero();
  for (int it = 0; it < iterations; ++it) {
    StepProgressOrThrow();
    old = *this;
    if (diffuse || jaggy != 0.0f) {
      InteriorRows(old, [&](int y) {
        for (int x = 1; x < nx - 1; ++x) {
          const Stencil p(old, x, y);
          if (diffuse) {
            const float diag = (p.ur - p.c) * (p.ur - p.c) + (p.c - p.dl) * (p.c - p.dl) +
                               (p.c - p.ul) * (p.c - p.ul) + (p.dr - p.c) * (p.dr - p.c);
            const float axial = (p.c - p.u) * (p.c - p.u) + (p.d - p.c) * (p.d - p.c) +
                                (p.c - p.l) * (p.c - p.l) + (p.r - p.c) * (p.r - p.c);
            const float g = std::sqrt(0.5f * diag + axial);
            // Tested before the division, so that a scale of 0 gives weight 0, never NaN.
            w.z[y][x] = g == 0.0f ? 1.0f : static_cast<float>(stop(g / gradientScale));
          }
          if (jaggy != 0.0f) {
            // A curvature step in the frame of the diagonals.
            const float v = (p.c - p.ul) * (p.c - p.ul) + (p.dr - p.c) * (p.dr - p.c);
            const float q = (p.c - p.ur) * (p.c - p.ur) + (p.dl - p.c) * (p.dl - p.c);
            const float den = 2.0f * (v + q);
            if (den > 0.0001f) {
              const float num =
                  v * (p.ur + p.dl - 2.0f * p.c) -
                  (p.dr - p.ul) / 2.0f * (p.dl - p.ur) / 2.0f * (p.u + p.d - p.l - p.r) +
                  q * (p.dr + p.ul - 2.0f * p.c);
              z[y][x] += jaggy * num / den;
            }
          }
        }
      });
    }
    if (diffuse) {
      // The border keeps weight 0: it is never written.
      InteriorRows(old, [&](int y) {
        for (int x = 1; x < nx - 1; ++x) {
          const float c = old.z[y][x];
          float sum = 0.0f;
          for (int dy = -1; dy <= 1; ++dy) {
            const float* o = old.z[y + dy];
            const float* wr = w.z[y + dy];
            for (int dx = -1; dx <= 1; ++dx) {
              if (dx != 0 || dy != 0) sum += wr[x + dx] * (o[x + dx] - c);
            }
          }
          z[y][x] += step * sum;
        }
      });
    }
    k.dim(low.nx, low.ny).decimate(*this, s, a);
    k.sub(low);
    pseudoinverseenlarge(k, a, reductionType, baseType, cache, true, radius, amount, false);
  }
  return *this;
}
