#include <cmath>
#include <random>

#include "numeric/dmatrix.h"
#include "numeric/matrix.h"
#include "platform/errors.h"
#include "support/zep_test.h"

using LinalgTest = ZepTest;

namespace {
matrix Rows(int w, int h, std::initializer_list<float> values) {
  matrix m(w, h);
  int k = 0;
  for (float v : values) m.x[k++] = v;
  return m;
}
}  // namespace

TEST_F(LinalgTest, SolvesSmallSystemsRowWise) {
  struct Case {
    matrix a, b;
    float x0, x1;
  };
  Case cases[] = {
      {Rows(2, 2, {2, 0, 0, 4}), Rows(2, 1, {2, 8}), 1, 2},
      {Rows(2, 2, {1, 2, 3, 4}), Rows(2, 1, {7, 10}), 1, 2},  // (1, 2) A = (7, 10)
  };
  for (Case& c : cases) {
    const matrix a(c.a), b(c.b);
    matrix x;
    SolveLinear(x, c.b, c.a);
    ASSERT_EQ(x.nx, 2);
    EXPECT_NEAR(x.x[0], c.x0, 1e-6);
    EXPECT_NEAR(x.x[1], c.x1, 1e-6);
    EXPECT_EQ(std::memcmp(a.x, c.a.x, 16), 0);  // inputs untouched
    EXPECT_EQ(std::memcmp(b.x, c.b.x, 8), 0);
  }
}

TEST_F(LinalgTest, RandomSystemsSatisfyXATimesEqualsB) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int size : {1, 3, 8, 20}) {
    matrix a(size, size), b(size, 3);
    for (int k = 0; k < a.n; ++k) a.x[k] = u(rng);
    for (int k = 0; k < size; ++k) a.z[k][k] += 4.0f;  // well conditioned
    for (int k = 0; k < b.n; ++k) b.x[k] = u(rng);
    matrix x;
    SolveLinear(x, b, a);
    for (int r = 0; r < 3; ++r) {
      for (int j = 0; j < size; ++j) {
        double s = 0;
        for (int k = 0; k < size; ++k) s += double(x.z[r][k]) * a.z[k][j];
        EXPECT_NEAR(s, b.z[r][j], 1e-4) << size;
      }
    }
  }
}

TEST_F(LinalgTest, SingularSystemsThrow) {
  matrix zero(3, 3);
  zero.zero();
  matrix b(3, 1);
  b.fill(1.0f);
  matrix x;
  try {
    SolveLinear(x, b, zero);
    FAIL() << "no exception";
  } catch (const TextException& e) {
    EXPECT_STREQ(e.what(), "Singular Matrix");
  }
  matrix rankOne = Rows(2, 2, {1, 2, 2, 4});
  EXPECT_THROW(SolveLinear(x, Rows(2, 1, {1, 1}), rankOne), TextException);
  matrix flagged = Rows(2, 2, {1, 2, 2, 4});
  flagged.lu();
  EXPECT_EQ(flagged.ip[2], 0);
}

TEST_F(LinalgTest, GivensAccumulationGivesTheLeastSquaresLine) {
  // Fit v = p0 + p1 t to points off a line; compare with the normal equations.
  const float ts[] = {0, 1, 2, 3, 4, 5};
  const float vs[] = {1.1f, 2.9f, 5.2f, 7.1f, 8.8f, 11.2f};
  matrix r(2, 2), rhs(2, 1);
  r.zero();
  rhs.zero();
  for (int k = 0; k < 6; ++k) {
    matrix row = Rows(2, 1, {1.0f, ts[k]});
    r.givens(row, rhs, vs[k]);
  }
  rhs.backsolve(r);
  double st = 0, sv = 0, stt = 0, stv = 0;
  for (int k = 0; k < 6; ++k) {
    st += ts[k];
    sv += vs[k];
    stt += double(ts[k]) * ts[k];
    stv += double(ts[k]) * vs[k];
  }
  const double slope = (6 * stv - st * sv) / (6 * stt - st * st);
  const double intercept = (sv - slope * st) / 6;
  EXPECT_NEAR(rhs.x[0], intercept, 1e-5);
  EXPECT_NEAR(rhs.x[1], slope, 1e-5);
}

TEST_F(LinalgTest, DoubleTables) {
  dmatrix t(2, 1);
  t.x[0] = 0;
  t.x[1] = 10;
  EXPECT_DOUBLE_EQ(t.lookup(0.25), 2.5);
  EXPECT_DOUBLE_EQ(t.lookup(1.5), 10);
  EXPECT_DOUBLE_EQ(t.lookup(-3), 0);
  EXPECT_DOUBLE_EQ(t.lookup(-0.1), 0);  // no extrapolation just below the table
  EXPECT_DOUBLE_EQ(t.lookup(1.0), 10);

  dmatrix g(3, 1);
  g.x[0] = 0;
  g.x[1] = 0.5;
  g.x[2] = 0.6;
  EXPECT_NEAR(g.mingap(), 0.1, 1e-12);
  EXPECT_EQ(dmatrix(1, 1).mingap(), 1e16);
  EXPECT_EQ(g.nearest(100), 2);
  EXPECT_EQ(dmatrix().nearest(3), 0);

  dmatrix id(3, 1);
  id.x[0] = 0;
  id.x[1] = 0.5;
  id.x[2] = 1;
  dmatrix inv;
  inv.inverse(id);
  ASSERT_EQ(inv.n, 3);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(inv.x[i], id.x[i], 1e-12);
  EXPECT_EQ(id.nearest(0.25), 0);  // an exact tie goes to the first
  EXPECT_EQ(id.nearest(0.26), 1);

  // The inverse of a square-law table composes with it to the identity.
  dmatrix sq(101, 1);
  for (int i = 0; i <= 100; ++i) sq.x[i] = (i / 100.0) * (i / 100.0);
  inv.inverse(sq);
  for (double y : {0.1, 0.3, 0.7, 0.95}) EXPECT_NEAR(sq.lookup(inv.lookup(y)), y, 2e-3) << y;

  matrix widened = Rows(2, 1, {1.5f, -2.0f});
  dmatrix wide(widened);
  EXPECT_EQ(wide.nx, 2);
  EXPECT_EQ(wide.x[1], -2.0);
}

TEST_F(LinalgTest, SmoothFit) {
  matrix op = Rows(3, 1, {1, -2, 1});  // second difference
  matrix samples = Rows(3, 1, {0, 1, 5});

  dmatrix odd(6, 1);  // 5 gaps do not split into 2
  odd.zero();
  odd.x[3] = 42;
  odd.smoothfit(op, samples, 1, 1);
  EXPECT_EQ(odd.x[3], 42);

  // Samples on a line: the line has no second difference, so the fit is the line.
  matrix line = Rows(3, 1, {2, 4, 6});
  dmatrix fit(9, 1);
  fit.smoothfit(op, line, 1, 1);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(fit.x[i], 2 + i * 0.5, 1e-9) << i;

  // Heavy sample weights pin the curve to the samples; between them it stays smooth.
  dmatrix pinned(9, 1);
  pinned.smoothfit(op, samples, 1e4, 1e4);
  EXPECT_NEAR(pinned.x[0], 0, 1e-3);
  EXPECT_NEAR(pinned.x[4], 1, 1e-3);
  EXPECT_NEAR(pinned.x[8], 5, 1e-3);
  EXPECT_GT(pinned.x[6], 1.0);
  EXPECT_LT(pinned.x[6], 5.0);
}
