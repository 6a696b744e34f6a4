// Texture synthesis by a causal autoregressive model: the fit of one channel's predictor
// and residual list on a sample, and the recursive fill of a plane from them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/dmatrix.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "numeric/vectorclones.h"

namespace {
// The d = w h - 1 predictors of the block whose bottom-left corner is (x, y), row by row:
// (x + i, y + j) for j ascending, then i ascending, the corner itself (the target) left
// out. The block lies inside the plane.
template <class T>
void ReadPredictors(const matrix& t, int x, int y, int w, int h, T* q) {
  for (int j = 0; j < h; ++j) {
    const float* row = t.z[y + j] + x;
    for (int i = j == 0 ? 1 : 0; i < w; ++i) *q++ = row[i];
  }
}

double Predict(const float* c, const float* q, int d) {
  double sum = 0.0;
  for (int k = 0; k < d; ++k) sum += double(c[k]) * q[k];
  return sum;
}

// Observations are taken in blocks of this many rows: a block and the factor stay in the
// caches while the block is folded in.
constexpr int kBlockRows = 64;

// Folds the m observation rows of b (m x d, values t) into the upper-triangular factor r
// (d x d) and its right-hand side: column by column, one Householder reflection zeroes the
// column of the block against the factor's diagonal element. The solution is the one of
// rotating the rows in one at a time, the work going into long contiguous loops.
ZEP_VECTOR_CLONES
void Absorb(dmatrix& r, dmatrix& rhs, dmatrix& b, dmatrix& t, int m, dmatrix& v, dmatrix& w) {
  const int d = r.nx;
  for (int i = 0; i < d; ++i) {
    double sigma = 0.0;
    for (int k = 0; k < m; ++k) sigma += b.z[k][i] * b.z[k][i];
    if (sigma == 0.0) continue;
    double* ri = r.z[i];
    const double alpha = ri[i];
    const double norm = std::sqrt(alpha * alpha + sigma);
    // The sign that keeps alpha - beta away from cancellation.
    const double beta = alpha > 0.0 ? -norm : norm;
    const double scale = 1.0 / (alpha - beta), tau = (beta - alpha) / beta;
    double wz = rhs.x[i];
    for (int k = 0; k < m; ++k) {
      v.x[k] = b.z[k][i] * scale;
      wz += v.x[k] * t.x[k];
    }
    const int n = d - i - 1;
    double* wr = w.x + i + 1;
    double* rr = ri + i + 1;
    for (int j = 0; j < n; ++j) wr[j] = rr[j];
    for (int k = 0; k < m; ++k) {
      const double vk = v.x[k];
      const double* bk = b.z[k] + i + 1;
      for (int j = 0; j < n; ++j) wr[j] += vk * bk[j];
    }
    for (int j = 0; j < n; ++j) rr[j] -= tau * wr[j];
    for (int k = 0; k < m; ++k) {
      const double f = tau * v.x[k];
      double* bk = b.z[k] + i + 1;
      for (int j = 0; j < n; ++j) bk[j] -= f * wr[j];
      t.x[k] -= f * wz;
    }
    rhs.x[i] -= tau * wz;
    ri[i] = beta;
  }
}
}  // namespace

const matrix& matrix::texturemodel(matrix& coefficients, matrix& residuals, int w, int h) const {
  if (w < 1 || h < 1 || nx <= w || ny <= h || int64_t(w) * h < 2) {
    coefficients.free();
    residuals.free();
    return *this;
  }
  const int d = w * h - 1;
  matrix c(d, 1), res(nx - w, ny - h);
  res.zero();
  // The prior equations 1e-6 c_k = 1e-6/d come first: the factor starts as 1e-6 times the
  // identity and the right-hand side as 1e-6/d, so a sample without observations gives
  // the mean. Double precision: the factor of a 15 x 15 neighbourhood sums some 10^4
  // observations of 224 predictors each.
  dmatrix r(d, d), rhs(d, 1), b(d, kBlockRows), t(kBlockRows, 1), v(kBlockRows, 1), work(d, 1);
  r.zero();
  for (int i = 0; i < d; ++i) {
    r.z[i][i] = 1e-6;
    rhs.x[i] = 1e-6 / d;
  }
  int m = 0;
  for (int y = ny - h - 1; y >= 1; --y) {
    for (int x = nx - w - 1; x >= 1; --x) {
      ReadPredictors(*this, x, y, w, h, b.z[m]);
      t.x[m] = z[y][x];
      if (++m == kBlockRows) {
        Absorb(r, rhs, b, t, m, v, work);
        m = 0;
      }
    }
  }
  if (m > 0) Absorb(r, rhs, b, t, m, v, work);
  // Back-substitution with the upper factor.
  for (int j = d - 1; j >= 0; --j) {
    double sum = rhs.x[j];
    for (int k = j + 1; k < d; ++k) sum -= r.z[j][k] * rhs.x[k];
    rhs.x[j] = sum / r.z[j][j];
    c.x[j] = static_cast<float>(rhs.x[j]);
  }
  matrix q(d, 1);
  for (int y = ny - h - 1; y >= 1; --y) {
    for (int x = nx - w - 1; x >= 1; --x) {
      ReadPredictors(*this, x, y, w, h, q.x);
      res.z[y][x] = static_cast<float>(z[y][x] - Predict(c.x, q.x, d));
    }
  }
  coefficients = std::move(c);
  residuals = std::move(res);
  return *this;
}

matrix& matrix::texturefill(const matrix& coefficients, const matrix& residuals,
                            const bitmask* region, int w, int h) {
  const int64_t d = int64_t(w) * h - 1;
  if (w < 1 || h < 1 || d < 1 || coefficients.n != d || residuals.n < 1 || n == 0) return *this;
  if (region && !region->covers(nx, ny)) return *this;
  // Reads past the right and top edges fold back without repeating the edge pixel.
  std::vector<int> columns(size_t(nx) + size_t(w)), rows(size_t(ny) + size_t(h));
  for (size_t i = 0; i < columns.size(); ++i) columns[i] = ReflectWhole(int64_t(i), nx);
  for (size_t j = 0; j < rows.size(); ++j) rows[j] = ReflectWhole(int64_t(j), ny);
  const float* c = coefficients.x;
  const int last = residuals.n - 1;
  for (int y = ny - 1; y >= 1; --y) {
    for (int x = nx - 1; x >= 1; --x) {
      if (region && !region->get(x, y)) continue;
      double sum = 0.0;
      const float* ck = c;
      for (int j = 0; j < h; ++j) {
        const float* row = z[rows[size_t(y + j)]];
        for (int i = j == 0 ? 1 : 0; i < w; ++i) sum += double(*ck++) * row[columns[size_t(x + i)]];
      }
      // k runs over 0 .. n - 2: the last residual is never drawn.
      const int k = static_cast<int>(RandomUniform() * last);
      z[y][x] = static_cast<float>(sum + residuals.x[k]);
    }
  }
  return *this;
}
