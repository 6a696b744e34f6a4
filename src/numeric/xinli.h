#pragma once
// The local least-squares models of the Xin Li enlargements: every new sample of a doubled
// plane is a weighted sum of known neighbours, the weights fitted to how the same pattern
// of neighbours predicts the samples of a training window around it.
//
// Two models share the small dense solver below: the classic one of four neighbours (single
// precision, as the fits have always been made) and the twelve-coefficient one (double
// precision), whose sums may also be built incrementally from target to target.
#include <cmath>
#include <cstdint>

#include "numeric/matrix.h"

namespace xinli {

// The even window the fits use for a window size as given: its absolute value, an odd size
// taken as the even one below, at least 2. An odd window would centre training samples on
// positions not yet written and put a taper weight at distance 0.
int EvenWindow(int window);

// Cholesky factor of the symmetric a (its upper triangle is read) into its lower triangle,
// the diagonal holding the reciprocals of the pivots' square roots, so that the solves
// multiply instead of divide. False when a pivot is not positive and finite: no finite fit
// exists (a flat window without a prior, or a value that is not a number), and the caller
// keeps its prior prediction.
template <class T, int N>
bool CholeskyFactor(T (&a)[N][N]) {
  for (int j = 0; j < N; ++j) {
    T d = a[j][j];
    for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
    if (!(d > 0) || !std::isfinite(d)) return false;
    const T r = 1 / std::sqrt(d);
    a[j][j] = r;
    for (int i = j + 1; i < N; ++i) {
      T s = a[j][i];
      for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s * r;
    }
  }
  return true;
}

// Solves L L^T x = b in place with the factor of CholeskyFactor.
template <class T, int N>
void CholeskySolve(const T (&l)[N][N], T (&b)[N]) {
  for (int i = 0; i < N; ++i) {
    T s = b[i];
    for (int k = 0; k < i; ++k) s -= l[i][k] * b[k];
    b[i] = s * l[i][i];
  }
  for (int i = N - 1; i >= 0; --i) {
    T s = b[i];
    for (int k = i + 1; k < N; ++k) s -= l[k][i] * b[k];
    b[i] = s * l[i][i];
  }
}

// The sum correction: with z solving A z = (1, ..., 1), adds z (1 - sum c)/(sum z + e) to
// the coefficients, e = 0 making them sum to exactly 1 and e = 1/K^2 penalising K^2 (sum - 1)^2.
// False when the correction is not finite; the coefficients are then left alone.
template <class T, int N>
bool SumCorrection(const T (&l)[N][N], T (&c)[N], bool exact, T e) {
  T z[N];
  T sc = 0, sz = 0;
  for (int i = 0; i < N; ++i) z[i] = 1;
  CholeskySolve(l, z);
  for (int i = 0; i < N; ++i) {
    sc += c[i];
    sz += z[i];
  }
  const T mu = (1 - sc) / (sz + (exact ? T(0) : e));
  if (!std::isfinite(mu)) return false;
  T out[N];
  for (int i = 0; i < N; ++i) {
    out[i] = c[i] + mu * z[i];
    if (!std::isfinite(out[i])) return false;
  }
  for (int i = 0; i < N; ++i) c[i] = out[i];
  return true;
}

// A training offset or regressor sample, in (row, column) steps of the doubled grid.
struct Offset {
  int8_t row, column;
};

// A position relative to another, in (row, column) samples of the doubled grid.
struct Position {
  int row, column;
};

// The training centre (d, t), both from 0 to n - 1, of phase 1, 2 or 3 of a classic pass,
// relative to (k, m), twice the input position: phase 1 fills (k+1, m+1) from the known
// samples of the input grid, phases 2 and 3 fill (k+1, m) and (k, m+1) from the samples
// known after phase 1 (the lattice turned by 45 degrees). For an even n these are the
// n x n known samples nearest the new one.
inline Position ClassicCentre(int phase, int d, int t, int n) {
  switch (phase) {
    case 1:
      return {1 - (n - 1) + 2 * d, 1 - (n - 1) + 2 * t};
    case 2:
      return {1 - d + t, -(n - 1) + d + t};
    default:
      return {-(n - 1) + d + t, 1 - d + t};
  }
}

// The twelve regressors of a target at (0, 0): the four near neighbours, then eight pairs,
// each the mean of its two samples (a near neighbour and one a step further out).
struct Regressor {
  Offset a, b;
};
inline constexpr Regressor kDiagonalRegressors[12] = {
    {{-1, -1}, {-1, -1}}, {{-1, +1}, {-1, +1}}, {{+1, -1}, {+1, -1}}, {{+1, +1}, {+1, +1}},
    {{-1, -1}, {-1, -3}}, {{-1, -1}, {-3, -1}}, {{-1, +1}, {-1, +3}}, {{-1, +1}, {-3, +1}},
    {{+1, -1}, {+1, -3}}, {{+1, -1}, {+3, -1}}, {{+1, +1}, {+1, +3}}, {{+1, +1}, {+3, +1}}};
inline constexpr Regressor kAxialRegressors[12] = {
    {{-1, 0}, {-1, 0}},  {{+1, 0}, {+1, 0}},  {{0, -1}, {0, -1}},  {{0, +1}, {0, +1}},
    {{-1, 0}, {-2, -1}}, {{-1, 0}, {-2, +1}}, {{+1, 0}, {+2, +1}}, {{+1, 0}, {+2, -1}},
    {{0, -1}, {-1, -2}}, {{0, -1}, {+1, -2}}, {{0, +1}, {+1, +2}}, {{0, +1}, {-1, +2}}};

// The regressors of the sample at row r, column c of a plane given by its row pointers,
// written out sample by sample (the patterns reach three steps).
inline void DiagonalRegressors(const float* const* z, int r, int c, double* x) {
  const float *m3 = z[r - 3], *m1 = z[r - 1], *p1 = z[r + 1], *p3 = z[r + 3];
  const double nw = m1[c - 1], ne = m1[c + 1], sw = p1[c - 1], se = p1[c + 1];
  x[0] = nw;
  x[1] = ne;
  x[2] = sw;
  x[3] = se;
  x[4] = 0.5 * (nw + m1[c - 3]);
  x[5] = 0.5 * (nw + m3[c - 1]);
  x[6] = 0.5 * (ne + m1[c + 3]);
  x[7] = 0.5 * (ne + m3[c + 1]);
  x[8] = 0.5 * (sw + p1[c - 3]);
  x[9] = 0.5 * (sw + p3[c - 1]);
  x[10] = 0.5 * (se + p1[c + 3]);
  x[11] = 0.5 * (se + p3[c + 1]);
}

inline void AxialRegressors(const float* const* z, int r, int c, double* x) {
  const float *m2 = z[r - 2], *m1 = z[r - 1], *o = z[r], *p1 = z[r + 1], *p2 = z[r + 2];
  const double up = m1[c], down = p1[c], left = o[c - 1], right = o[c + 1];
  x[0] = up;
  x[1] = down;
  x[2] = left;
  x[3] = right;
  x[4] = 0.5 * (up + m2[c - 1]);
  x[5] = 0.5 * (up + m2[c + 1]);
  x[6] = 0.5 * (down + p2[c + 1]);
  x[7] = 0.5 * (down + p2[c - 1]);
  x[8] = 0.5 * (left + m1[c - 2]);
  x[9] = 0.5 * (left + p1[c - 2]);
  x[10] = 0.5 * (right + p1[c + 2]);
  x[11] = 0.5 * (right + m1[c + 2]);
}

// The packed upper triangle of the 13 x 13 products of (x0 .. x11, y): the normal matrix,
// the right-hand side in column 12 and y^2 last.
constexpr int kSums = 13 * 14 / 2;
constexpr int SumIndex(int i, int j) { return i * 13 - i * (i - 1) / 2 + (j - i); }

// s += sign (x, y)(x, y)^T, packed.
inline void AddProducts(double* s, const double* x, double y, double sign) {
  const double u[13] = {x[0], x[1], x[2], x[3],  x[4],  x[5], x[6],
                        x[7], x[8], x[9], x[10], x[11], y};
  for (int i = 0; i < 13; ++i) {
    const double v = sign * u[i];
    double* row = s + SumIndex(i, i);
    for (int j = i; j < 13; ++j) row[j - i] += v * u[j];
  }
}

// One local least-squares problem of the twelve-coefficient model: the ridge prior pulls
// coefficients 1-4 towards `near` and 5-12 towards `far`.
class LocalModel12 {
 public:
  double a[12][12];  // upper triangle; the factor in the lower one after solve
  double b[12];      // right-hand side; the coefficients after solve
  double x[12];      // the current regressors
  double y = 0;      // the current target

  void reset(double lambda, double nearPrior, double farPrior) {
    lambda_ = lambda;
    near_ = nearPrior;
    far_ = farPrior;
    for (int i = 0; i < 12; ++i) {
      for (int j = i; j < 12; ++j) a[i][j] = i == j ? lambda : 0.0;
      b[i] = lambda * (i < 4 ? nearPrior : farPrior);
    }
  }
  void weight(double w) {
    for (double& v : x) v *= w;
    y *= w;
  }
  void accumulate() {
    for (int i = 0; i < 12; ++i) {
      for (int j = i; j < 12; ++j) a[i][j] += x[i] * x[j];
      b[i] += y * x[i];
    }
  }
  // Adds training sums packed by AddProducts.
  void add(const double* s) {
    for (int i = 0; i < 12; ++i) {
      for (int j = i; j < 12; ++j) a[i][j] += s[SumIndex(i, j)];
      b[i] += s[SumIndex(i, 12)];
    }
  }
  // False, the coefficients set to the prior, when the factorisation fails.
  bool solve() {
    if (!CholeskyFactor(a)) return toprior();
    CholeskySolve(a, b);
    for (double v : b) {
      if (!std::isfinite(v)) return toprior();
    }
    return true;
  }
  // The sum correction (after a successful solve); e is 1/K^2, ignored when exact.
  bool normalise(bool exact, double e) { return SumCorrection(a, b, exact, e) || toprior(); }
  double predict(const double* regressors) const {
    double s = 0;
    for (int i = 0; i < 12; ++i) s += b[i] * regressors[i];
    return s;
  }
  double predict() const { return predict(x); }

 private:
  bool toprior() {
    for (int i = 0; i < 12; ++i) b[i] = i < 4 ? near_ : far_;
    return false;
  }
  double lambda_ = 0, near_ = 0, far_ = 0;
};

}  // namespace xinli
