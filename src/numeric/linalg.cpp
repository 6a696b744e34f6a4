// Small dense systems on float planes, rows as vectors: X A = B.
#include <cassert>
#include <cmath>

#include "numeric/matrix.h"
#include "platform/errors.h"

matrix& matrix::lu() {
  const int size = nx;
  makeip(size + 1);
  if (size == 0) return *this;
  assert(ny == nx);
  if (ny != nx) {
    ip[size] = 0;  // not a square system: reported as singular
    return *this;
  }
  ip[size - 1] = 0;
  ip[size] = size;
  for (int i = 0; i + 1 < size; ++i) {
    int best = i;
    float largest = std::fabs(z[i][i]);
    for (int k = i + 1; k < size; ++k) {
      if (std::fabs(z[i][k]) > largest) {
        largest = std::fabs(z[i][k]);
        best = k;
      }
    }
    ip[i] = best;
    if (!(largest > 0.0f)) {
      ip[size] = 0;  // singular; the step is skipped
      continue;
    }
    swapcols(i, best);
    const double d = z[i][i];
    for (int k = i + 1; k < size; ++k) {
      const float e = static_cast<float>(z[i][k] / d);
      z[i][k] = e;
      if (e == 0.0f) continue;
      for (int l = i + 1; l < size; ++l)
        z[l][k] = static_cast<float>(z[l][k] - double(e) * z[l][i]);
    }
  }
  if (z[size - 1][size - 1] == 0.0f) ip[size] = 0;
  return *this;
}

matrix& matrix::lusolve(const matrix& a) {
  const int size = a.nx;
  if (!a.ip || a.iplength() < size + 1 || a.ip[size] == 0) throw TextException("Singular Matrix");
  for (int i = 0; i + 1 < size; ++i) swapcols(i, a.ip[i]);
  for (int row = 0; row < ny; ++row) {
    float* s = z[row];
    for (int j = 1; j < size; ++j) {
      double v = s[j];
      for (int k = 0; k < j; ++k) v -= double(s[k]) * a.z[k][j];
      s[j] = static_cast<float>(v);
    }
  }
  return backsolve(a);
}

matrix& matrix::backsolve(const matrix& l) {
  const int size = nx;
  for (int row = 0; row < ny; ++row) {
    float* s = z[row];
    for (int j = size - 1; j >= 0; --j) {
      double v = s[j];
      for (int k = j + 1; k < size; ++k) v -= double(s[k]) * l.z[k][j];
      s[j] = static_cast<float>(v / l.z[j][j]);
    }
  }
  return *this;
}

matrix& matrix::givens(matrix& r, matrix& rhs, float c) {
  const int size = nx;
  double value = c;
  for (int i = 0; i < size; ++i) {
    if (r.x[i] == 0.0f) continue;
    const double rii = z[i][i], ri = r.x[i];
    const double f = std::sqrt(rii * rii + ri * ri);
    const double cs = rii / f, sn = ri / f;
    z[i][i] = static_cast<float>(f);
    for (int j = i + 1; j < size; ++j) {
      const double rj = z[j][i], oj = r.x[j];
      z[j][i] = static_cast<float>(cs * rj + sn * oj);
      r.x[j] = static_cast<float>(cs * oj - sn * rj);
    }
    const double old = rhs.x[i];
    rhs.x[i] = static_cast<float>(cs * old + sn * value);
    value = cs * value - sn * old;
  }
  return *this;
}

void SolveLinear(matrix& result, const matrix& b, const matrix& a) {
  matrix factored(a);
  matrix solution(b);
  factored.lu();
  solution.lusolve(factored);
  result = solution;
}
