// Texture synthesis by a causal autoregressive model: the fit of one channel's predictor
// and residual list on a sample, and the recursive fill of a plane from them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"

namespace {
// The d = w h - 1 predictors of the block whose bottom-left corner is (x, y), row by row:
// (x + i, y + j) for j ascending, then i ascending, the corner itself (the target) left
// out. The block lies inside the plane.
void ReadPredictors(const matrix& t, int x, int y, int w, int h, float* q) {
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
}  // namespace

const matrix& matrix::texturemodel(matrix& coefficients, matrix& residuals, int w, int h) const {
  if (w < 1 || h < 1 || nx <= w || ny <= h || int64_t(w) * h < 2) {
    coefficients.free();
    residuals.free();
    return *this;
  }
  const int d = w * h - 1;
  // The prior equations 1e-6 c_k = 1e-6/d: the factor starts as 1e-6 times the identity
  // and the right-hand side as 1e-6/d, so a sample without observations gives the mean.
  matrix c(d, 1), r(nx - w, ny - h), f(d, d), q(d, 1);
  c.fill(1e-6f / float(d));
  r.zero();
  f.zero().setdiag(1e-6f);
  for (int y = ny - h - 1; y >= 1; --y) {
    for (int x = nx - w - 1; x >= 1; --x) {
      ReadPredictors(*this, x, y, w, h, q.x);
      f.givens(q, c, z[y][x]);
    }
  }
  c.backsolve(f);
  for (int y = ny - h - 1; y >= 1; --y) {
    for (int x = nx - w - 1; x >= 1; --x) {
      ReadPredictors(*this, x, y, w, h, q.x);
      r.z[y][x] = static_cast<float>(z[y][x] - Predict(c.x, q.x, d));
    }
  }
  coefficients = std::move(c);
  residuals = std::move(r);
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
