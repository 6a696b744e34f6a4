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

// Four independent problems solved side by side: lane l of every element belongs to
// problem l, and each lane goes through the operations of the scalar solve in the same
// order, so its result has the scalar result's bits.
using Lanes = double __attribute__((vector_size(32)));
using Mask = long long __attribute__((vector_size(32)));

// ok stays true (lane by lane) where v is a finite number: infinity minus itself is not 0,
// nor is NaN. The masks travel by reference: four lanes returned by value would pass by an
// instruction set's own convention.
template <class T, class M>
[[gnu::always_inline]] inline void AndFinite(M& ok, const T& v) {
  ok = ok & (v - v == T{} - T{});
}
inline void Root(float& v) { v = std::sqrt(v); }
inline void Root(double& v) { v = std::sqrt(v); }
[[gnu::always_inline]] inline void Root(Lanes& v) {
  for (int l = 0; l < 4; ++l) v[l] = std::sqrt(v[l]);
}

// Cholesky factor of the symmetric a (its upper triangle is read) into its lower triangle,
// the diagonal holding the reciprocals of the pivots' square roots, so that the solves
// multiply instead of divide. False (per lane) when a pivot is not positive and finite: no
// finite fit exists (a flat window without a prior, or a value that is not a number), and
// the caller keeps its prior prediction; the factor is then not to be used.
template <class T, int N, class M>
[[gnu::always_inline]] inline void CholeskyFactor(T (&a)[N][N], M& ok) {
  for (int j = 0; j < N; ++j) {
    T d = a[j][j];
    for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
    ok = ok & (d > 0);
    AndFinite(ok, d);
    T root = d;
    Root(root);
    const T r = 1 / root;
    a[j][j] = r;
    for (int i = j + 1; i < N; ++i) {
      T s = a[j][i];
      for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s * r;
    }
  }
}
template <class T, int N>
bool CholeskyFactor(T (&a)[N][N]) {
  bool ok = true;
  CholeskyFactor(a, ok);
  return ok;
}

// Solves L L^T x = b in place with the factor of CholeskyFactor.
template <class T, int N>
[[gnu::always_inline]] inline void CholeskySolve(const T (&l)[N][N], T (&b)[N]) {
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
// False (per lane) when the correction is not finite; the coefficients are then left alone.
template <class T, int N, class E, class M>
[[gnu::always_inline]] inline void SumCorrection(const T (&l)[N][N], T (&c)[N], bool exact, E e,
                                                 M& ok) {
  T z[N];
  T sc = T{}, sz = T{};
  for (int i = 0; i < N; ++i) z[i] = T{} + 1;
  CholeskySolve(l, z);
  for (int i = 0; i < N; ++i) {
    sc += c[i];
    sz += z[i];
  }
  const T mu = (1 - sc) / (sz + (exact ? E(0) : e));
  M good = ok;
  AndFinite(good, mu);
  T out[N];
  for (int i = 0; i < N; ++i) {
    out[i] = c[i] + mu * z[i];
    AndFinite(good, out[i]);
  }
  for (int i = 0; i < N; ++i) c[i] = good ? out[i] : c[i];
  ok = good;
}
template <class T, int N, class E>
bool SumCorrection(const T (&l)[N][N], T (&c)[N], bool exact, E e) {
  bool ok = true;
  SumCorrection(l, c, exact, e, ok);
  return ok;
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

// The lower triangle of the 13 x 13 products of u = (x0 .. x11, y): the normal matrix,
// the right-hand side in row 12 and y^2 last. Row i is padded to a multiple of four
// entries (columns past i hold products the solve never reads), so that every row is added
// in whole vectors.
constexpr int kSumRowStart[14] = {0, 4, 8, 12, 16, 24, 32, 40, 48, 60, 72, 84, 96, 112};
constexpr int SumRowStart(int i) { return kSumRowStart[i]; }
constexpr int kSums = SumRowStart(13);
constexpr int SumIndex(int i, int j) { return i < j ? SumIndex(j, i) : SumRowStart(i) + j; }

// Four doubles anywhere in memory.
using LanesAt = double __attribute__((vector_size(32), aligned(8)));

// The products' factors of one sample: (x0 .. x11, y) padded with zeros to 16.
struct Factors {
  Lanes u[4];
  [[gnu::always_inline]] void set(const double* x, double y) {
    u[0] = Lanes{x[0], x[1], x[2], x[3]};
    u[1] = Lanes{x[4], x[5], x[6], x[7]};
    u[2] = Lanes{x[8], x[9], x[10], x[11]};
    u[3] = Lanes{y, 0, 0, 0};
  }
};

// s += sign u u^T for the samples f[0 .. count) in their order, sign 1 or -1. Every entry is
// sign times the product of its two factors, whichever factor the sign goes with, so the
// sums are the same in any layout; each vector of s is read and written once for all the
// samples, each sample added in turn.
[[gnu::always_inline]] inline void AddProducts(double* s, const Factors* f, int count,
                                               double sign) {
#pragma GCC unroll 13
  for (int i = 0; i < 13; ++i) {
    auto* row = reinterpret_cast<LanesAt*>(s + SumRowStart(i));
    const int width = i / 4 + 1;
    Lanes acc[4];
    for (int q = 0; q < width; ++q) acc[q] = row[q];
    for (int k = 0; k < count; ++k) {
      const double v = sign * f[k].u[i / 4][i % 4];
      for (int q = 0; q < width; ++q) acc[q] += v * f[k].u[q];
    }
    for (int q = 0; q < width; ++q) row[q] = acc[q];
  }
}

// s += sign (x, y)(x, y)^T.
[[gnu::always_inline]] inline void AddProducts(double* s, const double* x, double y,
                                               double sign) {
  Factors f;
  f.set(x, y);
  AddProducts(s, &f, 1, sign);
}

// s += t over the whole layout.
[[gnu::always_inline]] inline void AddSums(double* s, const double* t) {
  auto* to = reinterpret_cast<LanesAt*>(s);
  const auto* from = reinterpret_cast<const LanesAt*>(t);
  for (int q = 0; q < kSums / 4; ++q) to[q] += from[q];
}
[[gnu::always_inline]] inline void SubtractSums(double* s, const double* t) {
  auto* to = reinterpret_cast<LanesAt*>(s);
  const auto* from = reinterpret_cast<const LanesAt*>(t);
  for (int q = 0; q < kSums / 4; ++q) to[q] -= from[q];
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
  // Adds training sums laid out by AddProducts.
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

// Four problems of the twelve-coefficient model solved side by side, lane l holding
// problem l; each lane gets LocalModel12's results bit for bit: reset and add, solve, and
// the sum correction when asked, the prior where a step fails.
struct LocalModels12x4 {
  Lanes a[12][12];
  Lanes b[12];

  // Lane l from the sums s[l], as reset(lambda, nearPrior, farPrior) then add(s[l]).
  [[gnu::always_inline]] void set(const double* const (&s)[4], double lambda, double nearPrior,
                                  double farPrior) {
    for (int j = 0; j < 12; ++j) {
      for (int i = 0; i <= j; ++i) {
        for (int l = 0; l < 4; ++l) a[i][j][l] = (i == j ? lambda : 0.0) + s[l][SumRowStart(j) + i];
      }
    }
    for (int i = 0; i < 12; ++i) {
      for (int l = 0; l < 4; ++l) {
        b[i][l] = lambda * (i < 4 ? nearPrior : farPrior) + s[l][SumRowStart(12) + i];
      }
    }
  }
  // The coefficients of lane l into c[l].
  [[gnu::always_inline]] void solve(bool normalise, bool exact, double e, double nearPrior,
                                    double farPrior, double (&c)[4][12]) {
    Mask ok = Mask{} == Mask{};
    CholeskyFactor(a, ok);
    CholeskySolve(a, b);
    for (const Lanes& v : b) AndFinite(ok, v);
    if (normalise) SumCorrection(a, b, exact, e, ok);
    for (int l = 0; l < 4; ++l) {
      for (int i = 0; i < 12; ++i) c[l][i] = ok[l] ? b[i][l] : i < 4 ? nearPrior : farPrior;
    }
  }
};

}  // namespace xinli
