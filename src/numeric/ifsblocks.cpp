// The plane operations of the fractal codec: block isometries, cell-mean reductions, the
// smoothing of the domain search and the block statistics.
#include "numeric/ifsblocks.h"

#include <algorithm>
#include <cmath>

#include "numeric/matrix.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

matrix& matrix::scaleoffset(float a, float b) {
  for (int32_t k = 0; k < n; ++k) x[k] = a * x[k] + b;
  return *this;
}

float matrix::maxneighbourdiff() const { return n ? MaxNeighbourDiff(z, 0, 0, nx, ny) : 0.0f; }

matrix& matrix::smooth3wx(const matrix& src, float a, float b, float c) {
  assign(src);
  const double sum = double(a) + b + c;
  for (int j = 0; j < ny; ++j) {
    for (int i = 1; i + 1 < nx; ++i) {
      z[j][i] = float(
          (a * double(src.z[j][i - 1]) + b * double(src.z[j][i]) + c * double(src.z[j][i + 1])) /
          sum);
    }
  }
  return *this;
}

matrix& matrix::smooth3wy(const matrix& src, float a, float b, float c) {
  assign(src);
  const double sum = double(a) + b + c;
  for (int j = 1; j + 1 < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      z[j][i] = float(
          (a * double(src.z[j - 1][i]) + b * double(src.z[j][i]) + c * double(src.z[j + 1][i])) /
          sum);
    }
  }
  return *this;
}

matrix& matrix::isometry(const matrix& src, int code) {
  int sx, sy;
  if (!IsometrySource(code, 0, 0, 1, 1, sx, sy)) return zero();
  const bool turns = code == 3 || code == 5 || code == 6 || code == 7;
  dim(turns ? src.ny : src.nx, turns ? src.nx : src.ny);
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      IsometrySource(code, i, j, src.nx, src.ny, sx, sy);
      z[j][i] = src.z[sy][sx];
    }
  }
  return *this;
}

namespace {
// this = src with every q x q cell replaced by its mean; a partial cell at the end is left
// out.
matrix& Reduce(matrix& out, const matrix& src, int q) {
  out.dim(src.nx / q, src.ny / q);
  for (int j = 0; j < out.ny; ++j)
    for (int i = 0; i < out.nx; ++i) out.z[j][i] = CellMean(src.z, q * i, q * j, q);
  return out;
}
}  // namespace

matrix& matrix::reduce2(const matrix& src) { return Reduce(*this, src, 2); }
matrix& matrix::reduce3(const matrix& src) { return Reduce(*this, src, 3); }

namespace {
ZEP_VECTOR_CLONES void CellRow2(const float* __restrict a, const float* __restrict b, int n,
                                float* __restrict out) {
  for (int i = 0; i < n; ++i)
    out[i] = float((double(a[i]) + double(a[i + 1]) + double(b[i]) + double(b[i + 1])) * 0.25);
}

ZEP_VECTOR_CLONES void CellRow3(const float* __restrict a, const float* __restrict b,
                                const float* __restrict c, int n, float* __restrict out) {
  for (int i = 0; i < n; ++i) {
    double s = 0;
    s += double(a[i]) + double(a[i + 1]) + double(a[i + 2]);
    s += double(b[i]) + double(b[i + 1]) + double(b[i + 2]);
    s += double(c[i]) + double(c[i + 1]) + double(c[i + 2]);
    out[i] = float(s * (1.0 / 9.0));
  }
}
}  // namespace

void CellMeanRow(const float* const* z, int x, int y, int q, int n, float* out) {
  if (q == 3) {
    CellRow3(z[y] + x, z[y + 1] + x, z[y + 2] + x, n, out);
  } else {
    CellRow2(z[y] + x, z[y + 1] + x, n, out);
  }
}

matrix& matrix::cellmeans(const matrix& src, int q) {
  if (q != 3) q = 2;
  if (src.nx < q || src.ny < q) return free();
  dim(src.nx - q + 1, src.ny - q + 1);
  // The fractal decoder takes the cell means of small planes many times over: blocks of a
  // sixteenth of the usual work let such a plane spread over the threads.
  const int64_t block = std::max<int64_t>(1, BlockFor(int64_t(nx) * q * q) / 16);
  ParallelBlocks(ny, block, [&](int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) CellMeanRow(src.z, 0, int(j), q, nx, z[j]);
  });
  return *this;
}
