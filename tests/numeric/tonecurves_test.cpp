#include "numeric/tonecurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numeric/matrix.h"
#include "test_planes.h"

TEST(ToneCurvesTest, TableAndNumbers) {
  EXPECT_EQ(ToneCurve(0, false), nullptr);
  EXPECT_EQ(ToneCurve(0, true), nullptr);
  EXPECT_EQ(ToneCurve(10, false), nullptr);
  EXPECT_EQ(ToneCurve(10, true), nullptr);
  EXPECT_EQ(ToneCurve(1, true), &CurveLinear);
  const ToneCurveFn rows[9] = {CurveLinear,          CurvePower,           CurveRoot,
                               CurveComplementRoot,  CurveComplementPower, CurveRational,
                               CurveRationalInverse, CurveSigmoid,         CurveInverseSigmoid};
  const int partner[9] = {1, 3, 2, 5, 4, 7, 6, 9, 8};
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(ToneCurve(i, false), rows[i - 1]) << i;
    EXPECT_EQ(ToneCurve(i, true), rows[partner[i - 1] - 1]) << i;
  }

  struct Case {
    ToneCurveFn f;
    double x, c, y;
  };
  const Case cases[] = {
      {CurvePower, 0.5, 2, 0.25},
      {CurveRoot, 0.25, 2, 0.5},
      {CurveRational, 0.5, 2, 0.6},
      {CurveRationalInverse, 0.6, 2, 0.5},
      {CurveComplementRoot, 0.75, 0.5, 1 - 0.0625},
      {CurveComplementPower, 0.75, 0.5, 0.5},
      {CurvePower, 0.0, 0.3, 0.0},
      {CurvePower, 4.0, 0.5, 2.0},  // above 1 as written
      {CurveRational, 1.5, 2, 1.5},
      {CurveRationalInverse, 3.0, 2, 3.0},  // was a pole
      {CurveComplementRoot, 2.0, 0.5, 2.0},
      {CurveComplementPower, 2.0, 0.5, 2.0},
      {CurveInverseSigmoid, 1.25, 0.5, 1.25},
  };
  for (const Case& k : cases) EXPECT_NEAR(k.f(k.x, k.c), k.y, 1e-15) << k.x << " " << k.c;
}

TEST(ToneCurvesTest, SigmoidFixesItsEndsAndMiddleForEveryC) {
  for (double c : {1e-6, 0.001, 0.01, 0.014, 0.125, 0.5, 2.0, 1e3, 1e12}) {
    EXPECT_NEAR(CurveSigmoid(0.0, c), 0.0, 1e-15) << c;
    EXPECT_NEAR(CurveSigmoid(0.5, c), 0.5, 1e-15) << c;
    EXPECT_NEAR(CurveSigmoid(1.0, c), 1.0, 1e-15) << c;
    EXPECT_NEAR(CurveInverseSigmoid(0.0, c), 0.0, 1e-12) << c;
    EXPECT_NEAR(CurveInverseSigmoid(0.5, c), 0.5, 1e-15) << c;
    EXPECT_NEAR(CurveInverseSigmoid(1.0, c), 1.0, 1e-15) << c;
    for (double x = 0.0; x <= 1.0; x += 1.0 / 64) {
      EXPECT_TRUE(std::isfinite(CurveSigmoid(x, c))) << x << " " << c;
      EXPECT_TRUE(std::isfinite(CurveInverseSigmoid(x, c))) << x << " " << c;
    }
  }
}

TEST(ToneCurvesTest, SigmoidsEqualTheirFormulasWhereThoseAreSound) {
  auto logistic = [](double z) { return 1.0 / (1.0 + std::exp(-z)); };
  for (double c : {0.05, 0.2, 1.0, 3.0}) {
    const double lo = logistic(-0.5 / c), hi = logistic(0.5 / c);
    for (double x = 0.0; x <= 1.0; x += 1.0 / 32) {
      EXPECT_NEAR(CurveSigmoid(x, c), (logistic((x - 0.5) / c) - lo) / (hi - lo), 1e-12);
      const double y = lo + x * (hi - lo);
      if (x > 0.0 && x < 1.0) {
        EXPECT_NEAR(CurveInverseSigmoid(x, c), 0.5 + c * std::log(y / (1 - y)), 1e-12);
      }
    }
  }
}

TEST(ToneCurvesTest, PartnersUndoEachOtherFromZeroToTwo) {
  for (int number = 1; number <= 9; ++number) {
    const ToneCurveFn f = ToneCurve(number, false), g = ToneCurve(number, true);
    std::vector<double> cs = {0.125, 0.5, 2.0};
    if (number >= 8) cs.push_back(0.01);
    for (double c : cs) {
      for (double x = 0.0; x <= 2.0; x += 1.0 / 128) {
        const double y = f(x, c), back = g(y, c);
        ASSERT_FALSE(std::isnan(y)) << number << " " << x << " " << c;
        ASSERT_FALSE(std::isnan(back)) << number << " " << x << " " << c;
        // Where f flattens (4 at small C, the sigmoid at C = 0.01 near its ends) y itself
        // cannot hold x to 1e-12; the bound then grows to what moving y by four rounding
        // steps either way moves g by.
        double tolerance = 1e-12;
        for (double dir : {3.0, -1.0}) {
          double near = y;
          for (int k = 0; k < 4; ++k) near = std::nextafter(near, dir);
          tolerance = std::max(tolerance, 1e-12 + std::fabs(g(near, c) - back));
        }
        EXPECT_NEAR(back, x, tolerance) << number << " " << x << " " << c;
      }
    }
  }
}

TEST(LuminanceTest, SplitThenMergeWithGammaOneIsTheIdentity) {
  matrix r = Noise(7, 5, 1), g = Noise(7, 5, 2), b = Noise(7, 5, 3);
  for (matrix* m : {&r, &g, &b}) m->addscalar(1.0f).mulscalar(127.5f);  // 0 .. 255
  r.x[0] = g.x[0] = b.x[0] = 0.0f;  // black: only eps keeps the luminance off zero
  const matrix r0(r), g0(g), b0(b);
  matrix l;
  l.SplitLuminance(r, g, b, 0.0001f);
  ASSERT_EQ(l.nx, 7);
  ASSERT_EQ(l.ny, 5);
  EXPECT_FLOAT_EQ(l.x[0], 0.0001f);
  EXPECT_FLOAT_EQ(l.x[3], float(0.0001 + 0.299 * r0.x[3] + 0.587 * g0.x[3] + 0.114 * b0.x[3]));
  l.MergeLuminance(r, g, b, 1.0);
  for (int k = 0; k < l.n; ++k) {
    EXPECT_NEAR(r.x[k], r0.x[k], 1e-4f);
    EXPECT_NEAR(g.x[k], g0.x[k], 1e-4f);
    EXPECT_NEAR(b.x[k], b0.x[k], 1e-4f);
  }
}
