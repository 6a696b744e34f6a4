#include "numeric/dmatrix.h"

#include <algorithm>
#include <cmath>
#include <vector>

dmatrix& dmatrix::zero() {
  if (n > 0) std::fill(x, x + n, 0.0);
  return *this;
}

int dmatrix::nearest(double v) const {
  int best = 0;
  double gap = 1e32;
  for (int i = 0; i < n; ++i) {
    const double d = std::fabs(x[i] - v);
    if (d < gap) {
      gap = d;
      best = i;
    }
  }
  return best;
}

double dmatrix::mingap() const {
  double gap = 1e16;
  for (int i = 0; i + 1 < n; ++i) gap = std::min(gap, x[i + 1] - x[i]);
  return gap;
}

double dmatrix::lookup(double t) const {
  if (n <= 0) return 0.0;
  const double p = (n - 1) * t;
  // Below the first entry the table holds its first value: truncation toward zero alone
  // would extrapolate just below 0 and then jump back to t[0].
  if (!(p >= 0.0)) return x[0];
  if (p >= n - 1) return x[n - 1];
  const int i = static_cast<int>(p);
  if (i >= n - 1) return x[n - 1];
  const double f = p - i;
  return (1.0 - f) * x[i] + f * x[i + 1];
}

dmatrix& dmatrix::inverse(const dmatrix& t) {
  const int count = t.n;
  dim(count, 1);
  if (count == 1) x[0] = 0.0;
  if (count < 2) return *this;
  const double last = count - 1;
  for (int i = 0; i < count; ++i) {
    const double y = i / last;
    const int c = t.nearest(y);
    if (y >= t.x[c] && c + 1 < count) {
      x[i] = (c + (y - t.x[c]) / (t.x[c + 1] - t.x[c])) / last;
    } else if (y < t.x[c] && c >= 1) {
      x[i] = (c - 1 + (y - t.x[c - 1]) / (t.x[c] - t.x[c - 1])) / last;
    } else {
      x[i] = c / last;
    }
  }
  return *this;
}

dmatrix& dmatrix::smoothfit(const matrix& op, const matrix& samples, double a, double b) {
  const int d = n, c = samples.n, e = op.n;
  if (d < 2 || c < 2 || e < 1 || e > d || (d - 1) % (c - 1) != 0) return *this;
  const int step = (d - 1) / (c - 1);

  // Band of the triangular factor: row 0 the diagonal, row k the k-th superdiagonal.
  dmatrix q(d, e);
  q.zero();
  zero();
  double* rhs = x;
  for (int i = 0; i < c; ++i) {
    q.z[0][i * step] = a;
    rhs[i * step] = a * samples.x[i];
  }
  q.z[0][0] = b;
  rhs[0] = b * samples.x[0];
  q.z[0][d - 1] = b;
  rhs[d - 1] = b * samples.x[c - 1];

  std::vector<double> r(static_cast<size_t>(e));
  for (int i = 0; i + e <= d; ++i) {
    for (int k = 0; k < e; ++k) r[size_t(k)] = op.x[k];
    double v = 0.0;
    for (int j = i; j < d; ++j) {
      if (r[0] == 0.0) continue;
      const double q0 = q.z[0][j];
      const double f = std::sqrt(q0 * q0 + r[0] * r[0]);
      const double cs = q0 / f, sn = r[0] / f;
      q.z[0][j] = f;
      for (int k = 1; k < e; ++k) {
        const double qk = q.z[k][j];
        q.z[k][j] = cs * qk + sn * r[size_t(k)];
        r[size_t(k - 1)] = cs * r[size_t(k)] - sn * qk;
      }
      r[size_t(e - 1)] = 0.0;
      const double old = rhs[j];
      rhs[j] = cs * old + sn * v;
      v = cs * v - sn * old;
    }
  }

  // Banded back-substitution, in place over the right-hand side.
  for (int j = d - 1; j >= 0; --j) {
    double s = rhs[j];
    for (int k = 1; k < e && j + k < d; ++k) s -= q.z[k][j] * x[j + k];
    x[j] = s / q.z[0][j];
  }
  return *this;
}
