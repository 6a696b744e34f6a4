// The difference regularizers: sizes, transposes, what they annihilate and what they
// measure, and the operator lists built from the weight slots.
#include <cmath>
#include <string>
#include <vector>

#include "ops/filters/regularizers.h"
#include "support/adjoint.h"
#include "support/zep_test.h"

namespace {
using Member = matrix& (matrix::*)(const matrix&, float);

struct Regularizer {
  const char* name;
  Member forward;
  Member adjoint;
  int ex;  // the stencil's extent less one, columns and rows
  int ey;
};

const Regularizer kAll[] = {
    {"slopex", &matrix::slopex, &matrix::slopexadj, 1, 0},
    {"slopey", &matrix::slopey, &matrix::slopeyadj, 0, 1},
    {"slopediag", &matrix::slopediag, &matrix::slopediagadj, 1, 1},
    {"slopeanti", &matrix::slopeanti, &matrix::slopeantiadj, 1, 1},
    {"curvx", &matrix::curvx, &matrix::curvxadj, 2, 0},
    {"curvy", &matrix::curvy, &matrix::curvyadj, 0, 2},
    {"curvdiag", &matrix::curvdiag, &matrix::curvdiagadj, 2, 2},
    {"curvanti", &matrix::curvanti, &matrix::curvantiadj, 2, 2},
    {"order3x", &matrix::order3x, &matrix::order3xadj, 3, 0},
    {"order3y", &matrix::order3y, &matrix::order3yadj, 0, 3},
    {"order3diag", &matrix::order3diag, &matrix::order3diagadj, 3, 3},
    {"order3anti", &matrix::order3anti, &matrix::order3antiadj, 3, 3},
    {"crossslope", &matrix::crossslope, &matrix::crossslopeadj, 1, 1},
    {"crossslopediag", &matrix::crossslopediag, &matrix::crossslopediagadj, 2, 2},
};

matrix Filled(int w, int h, double (*f)(int i, int j)) {  // i row, j column
  matrix m(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) m.z[i][j] = float(f(i, j));
  }
  return m;
}

// Every element of the plane equals v.
::testing::AssertionResult AllEqual(const matrix& m, double v, double tolerance) {
  for (int k = 0; k < m.n; ++k) {
    if (std::fabs(m.x[k] - v) > tolerance) {
      return ::testing::AssertionFailure() << "element " << k << " is " << m.x[k] << ", not " << v;
    }
  }
  return ::testing::AssertionSuccess();
}

class RegularizersTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    saved = CurrentRegularizerWeights();
  }
  void TearDown() override {
    CurrentRegularizerWeights() = saved;
    ZepTest::TearDown();
  }
  RegularizerWeights saved;
};
}  // namespace

TEST_F(RegularizersTest, OutputSizesAndTransposesAtAnySize) {
  const std::vector<PlaneSize> sizes = {{31, 29}, {33, 27}, {62, 58}, {1, 1},
                                        {2, 3},   {5, 4},   {1, 9}};
  for (const Regularizer& r : kAll) {
    for (const PlaneSize& s : sizes) {
      // Where the stencil does not fit, the residual is empty and the transpose adds nothing.
      const PlaneSize out{std::max(0, s.first - r.ex), std::max(0, s.second - r.ey)};
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            matrix o;
            (o.*r.forward)(u, 0.7f);
            return PlaneStack{o};
          },
          [&](const PlaneStack& v) {
            matrix o = matrix(s.first, s.second).fill(0.0f);
            (o.*r.adjoint)(v[0], 0.7f);
            return o;
          },
          s, {out}))
          << r.name << " " << s.first << "x" << s.second;
    }
  }
}

TEST_F(RegularizersTest, TheAdjointAddsToWhatTheGradientHolds) {
  const matrix x = Filled(6, 5, [](int i, int j) { return double((i * 5 + j * 3) % 7); });
  matrix residual, alone = matrix(6, 5).fill(0.0f), added = matrix(6, 5).fill(2.0f);
  residual.curvanti(x, 1.0f);
  alone.curvantiadj(residual, 0.5f);
  added.curvantiadj(residual, 0.5f);
  for (int k = 0; k < x.n; ++k) EXPECT_FLOAT_EQ(added.x[k], alone.x[k] + 2.0f);
}

TEST_F(RegularizersTest, WhatEachOperatorMeasures) {
  // Integer planes keep every difference exact. Each row: the plane, the operator and the
  // constant it gives with weight w = 0.5.
  struct Case {
    const char* name;
    double (*plane)(int, int);
    int op;
    double value;
  };
  auto constant = [](int, int) { return 42.0; };
  auto linear = [](int i, int j) { return 3.0 * i - 5.0 * j + 7.0; };
  auto quadratic = [](int i, int j) { return double(i * i + 2 * j * j - i * j); };
  auto cubicJ = [](int, int j) { return double(j * j * j); };
  auto cubicI = [](int i, int) { return double(i * i * i); };
  auto cubicDiag = [](int i, int j) { return double((i + j) * (i + j) * (i + j)); };
  auto cubicAnti = [](int i, int j) { return double((j - i) * (j - i) * (j - i)); };
  auto product = [](int i, int j) { return double(i * j); };
  const double r2 = std::sqrt(2.0);
  std::vector<Case> cases;
  for (int op = 0; op < 14; ++op) cases.push_back({"constant", constant, op, 0.0});
  for (int op = 4; op < 14; ++op) cases.push_back({"linear", linear, op, 0.0});
  for (int op = 8; op < 12; ++op) cases.push_back({"quadratic", quadratic, op, 0.0});
  const std::vector<Case> measured = {
      {"linear", linear, 0, 0.5 * -5},
      {"linear", linear, 1, 0.5 * 3},
      {"linear", linear, 2, 0.5 / r2 * -2},
      {"linear", linear, 3, 0.5 / r2 * -8},
      {"quadratic", quadratic, 4, 0.5 * 4},
      {"quadratic", quadratic, 5, 0.5 * 2},
      {"quadratic", quadratic, 6, 0.25 * 4},
      {"quadratic", quadratic, 7, 0.25 * 8},
      {"cubicJ", cubicJ, 8, 0.5 * 6},
      {"cubicI", cubicI, 9, 0.5 * 6},
      {"cubicDiag", cubicDiag, 10, 0.5 / (2 * r2) * 48},
      {"cubicAnti", cubicAnti, 11, 0.5 / (2 * r2) * -48},
      {"product", product, 12, 0.5},
      {"quadratic", quadratic, 13, 0.25 * (4 - 2)},
  };
  cases.insert(cases.end(), measured.begin(), measured.end());
  for (const Case& c : cases) {
    const Regularizer& r = kAll[c.op];
    const matrix x = Filled(9, 8, c.plane);
    matrix out;
    (out.*r.forward)(x, 0.5f);
    EXPECT_EQ(out.nx, 9 - r.ex) << r.name;
    EXPECT_EQ(out.ny, 8 - r.ey) << r.name;
    EXPECT_TRUE(AllEqual(out, c.value, 1e-5 * (1 + std::fabs(c.value))))
        << r.name << " of the " << c.name << " plane";
  }
}

TEST_F(RegularizersTest, OneRowGivesSlopeyAnEmptyResidual) {
  const matrix x = Filled(7, 1, [](int, int j) { return double(j); });
  matrix out;
  out.slopey(x, 1.0f);
  EXPECT_EQ(out.n, 0);
  EXPECT_EQ(out.nx, 7);
  EXPECT_EQ(out.ny, 0);
  matrix gradient = matrix(7, 1).fill(3.0f);
  gradient.slopeyadj(out, 1.0f);
  EXPECT_TRUE(AllEqual(gradient, 3.0, 0.0));
}

TEST_F(RegularizersTest, ListsHoldTheRowsWhoseWeightIsAboveZero) {
  const matrix x = Filled(8, 6, [](int i, int j) { return double((i * 13 + j * j * 5) % 11); });
  auto same = [&](LinearOp entry, Member op, float w) {
    matrix a, b;
    entry(a, x);
    (b.*op)(x, w);
    return a.nx == b.nx && a.ny == b.ny && std::equal(a.x, a.x + a.n, b.x);
  };
  {
    SCOPED_TRACE("defaults: the four slopes");
    CurrentRegularizerWeights() = RegularizerWeights();
    LinearOpList f, a;
    AppendDifferenceRegularizers(f, a);
    AppendAxisOnlyRegularizers(f, a);
    ASSERT_EQ(f.size(), 4u);
    ASSERT_EQ(a.size(), 4u);
    const Member ops[] = {&matrix::slopex, &matrix::slopey, &matrix::slopediag, &matrix::slopeanti};
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(same(f[size_t(k)], ops[k], 0.01f)) << k;
  }
  {
    SCOPED_TRACE("a weight of 0 leaves its row out; an axis-only row adds its operator again");
    RegularizerWeights& w = CurrentRegularizerWeights();
    w = RegularizerWeights();
    w.slopesDiagonal = 0.0f;
    w.crossSlopes = 0.25f;
    SetHorizontalOnlyWeights(0.5f, 0.0f, 0.0f);
    SetVerticalOnlyWeights(0.0f, 0.0f, 0.125f);
    LinearOpList f, a;
    AppendDifferenceRegularizers(f, a);
    AppendAxisOnlyRegularizers(f, a);
    ASSERT_EQ(f.size(), 5u);
    EXPECT_TRUE(same(f[0], &matrix::slopex, 0.01f));
    EXPECT_TRUE(same(f[1], &matrix::slopey, 0.01f));
    EXPECT_TRUE(same(f[2], &matrix::crossslope, 0.25f));
    EXPECT_TRUE(same(f[3], &matrix::slopex, 0.5f));
    EXPECT_TRUE(same(f[4], &matrix::order3y, 0.125f));
    // Entry k of the adjoint list transposes entry k of the forward list.
    for (size_t k = 0; k < f.size(); ++k) {
      EXPECT_TRUE(CheckEntryAdjoint(f[k], a[k], {8, 6})) << k;
    }
  }
}
