// Structure tensors of a plane and the eigenvectors of 2 x 2 symmetric tensors.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/eigen2.h"
#include "numeric/matrix.h"
#include "numeric/shift.h"
#include "numeric/tensorrows.h"
#include "numeric/triangulate.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"
#include "platform/progress.h"

matrix& matrix::eig2x2(float* smaller, float* larger) {
  const Eigen2 e = EigenOf(x[0], x[1], x[3]);
  *smaller = e.smaller;
  *larger = e.larger;
  x[0] = e.minor[0];
  x[1] = e.minor[1];
  x[2] = e.major[0];
  x[3] = e.major[1];
  return *this;
}

void StructureTensorProducts(const matrix& in, matrix& xx, matrix& xy, matrix& yy) {
  const int nx = in.nx, ny = in.ny;
  ShiftHalfPixelInto(xx, in, true);
  ShiftHalfPixelInto(yy, in, false);
  xy.dim(nx, ny);
  if (in.n == 0) return;

  // Row j reads row j + 1 of yy, which the block below overwrites: the first row of every
  // block is kept before any block runs, so the rows are computed exactly as in one pass.
  const int64_t block = BlockFor(4 * int64_t(nx));
  const int64_t blocks = (int64_t(ny) + block - 1) / block;
  std::vector<float> heads(size_t(blocks) * size_t(nx));
  for (int64_t b = 1; b < blocks; ++b) {
    std::copy(yy.z[b * block], yy.z[b * block] + nx, heads.begin() + b * nx);
  }
  ParallelBlocks(ny, block, [&](int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) {
      float* rx = xx.z[j];
      float* rxy = xy.z[j];
      float* ry = yy.z[j];
      if (j == ny - 1) {
        std::fill(rx, rx + nx, 0.0f);
        std::fill(rxy, rxy + nx, 0.0f);
        std::fill(ry, ry + nx, 0.0f);
        continue;
      }
      const float* below = j + 1 == j1 ? heads.data() + j1 / block * nx : yy.z[j + 1];
      for (int k = 0; k < nx - 1; ++k) {
        const double dx = double(rx[k + 1]) - double(rx[k]);
        const double dy = double(below[k]) - double(ry[k]);
        rx[k] = static_cast<float>(dx * dx);
        rxy[k] = static_cast<float>(dx * dy);
        ry[k] = static_cast<float>(dy * dy);
      }
      rx[nx - 1] = rxy[nx - 1] = ry[nx - 1] = 0.0f;
    }
  });
}

const matrix& matrix::structuretensor(matrix& xx, matrix& xy, matrix& yy, float sigma, float scale,
                                      float shift) const {
  ProgressCountingScope quiet(false);
  if (this == &xx || this == &xy || this == &yy) {
    const matrix input = *this;
    input.structuretensor(xx, xy, yy, sigma, scale, shift);
    return *this;
  }
  StructureTensorProducts(*this, xx, xy, yy);
  if (n == 0) return *this;

  for (matrix* plane : {&xx, &xy, &yy}) {
    plane->gaussblury(sigma, 0);
    plane->gaussblurx(sigma, 0);
  }
  if (scale > 1) {
    for (matrix* plane : {&xx, &xy, &yy}) {
      bitmask diagonals;
      ChooseTriangleDiagonals(diagonals, *plane);
      const matrix source = *plane;
      ResampleTriangulation(*plane, source, diagonals, scale, scale, shift, shift, false);
    }
  }
  return *this;
}

ZEP_VECTOR_CLONES void OneEigenvector(const float* xx, const float* xy, const float* yy,
                                      float* __restrict vx, float* __restrict vy, int64_t count,
                                      bool major) {
  if (major) {
    for (int64_t i = 0; i < count; ++i) {
      const Eigen2 e = EigenOf(xx[i], xy[i], yy[i]);
      vx[i] = e.major[0];
      vy[i] = e.major[1];
    }
  } else {
    for (int64_t i = 0; i < count; ++i) {
      const Eigen2 e = EigenOf(xx[i], xy[i], yy[i]);
      vx[i] = e.minor[0];
      vy[i] = e.minor[1];
    }
  }
}

matrix& matrix::eigenfield(matrix& xx, matrix& xy, matrix& yy, int mode, bool release) {
  if (mode == 1 || mode == 2) {
    assert(xy.n == xx.n && yy.n == xx.n);
    const int count = std::min({xx.n, xy.n, yy.n});
    dim(count, 2);
    float* out = x;
    ParallelBlocks(count, BlockFor(40), [&](int64_t i0, int64_t i1) {
      OneEigenvector(xx.x + i0, xy.x + i0, yy.x + i0, out + i0, out + count + i0, i1 - i0,
                     mode == 1);
    });
  } else if (mode == 0) {
    assert(xy.n == xx.n && yy.n == xx.n);
    const int count = std::min({xx.n, xy.n, yy.n});
    dim(count, mode == 0 ? 4 : 2);
    float* out = x;
    const int64_t stride = count;
    ParallelBlocks(count, BlockFor(40), [&](int64_t i0, int64_t i1) {
      for (int64_t i = i0; i < i1; ++i) {
        const Eigen2 e = EigenOf(xx.x[i], xy.x[i], yy.x[i]);
        const float* first = mode == 2 ? e.minor : e.major;
        out[i] = first[0];
        out[stride + i] = first[1];
        if (mode == 0) {
          out[2 * stride + i] = e.minor[0];
          out[3 * stride + i] = e.minor[1];
        }
      }
    });
  }
  if (release) {
    xx.free();
    xy.free();
    yy.free();
  }
  return *this;
}

matrix& matrix::tensordirections(const matrix& input, float scale, float sigma) {
  matrix xx, xy, yy;
  input.structuretensor(xx, xy, yy, sigma, scale, 0);
  return eigenfield(xx, xy, yy, 1, true);
}
