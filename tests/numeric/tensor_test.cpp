// Eigen analysis of 2 x 2 tensors, structure tensors and direction fields.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "numeric/matrix.h"
#include "numeric/shift.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

namespace {
using TensorTest = ZepTest;

struct Eig {
  float smaller, larger;
  float minor[2], major[2];
};

Eig Analyse(float a, float c, float b) {
  matrix t(2, 2);
  t.x[0] = a;
  t.x[1] = c;
  t.x[2] = 12345.0f;  // never read
  t.x[3] = b;
  Eig e;
  t.eig2x2(&e.smaller, &e.larger);
  e.minor[0] = t.x[0];
  e.minor[1] = t.x[1];
  e.major[0] = t.x[2];
  e.major[1] = t.x[3];
  return e;
}

matrix Plane(int w, int h, double (*f)(int k, int j)) {
  matrix m(w, h);
  for (int j = 0; j < h; ++j)
    for (int k = 0; k < w; ++k) m.z[j][k] = static_cast<float>(f(k, j));
  return m;
}

// The largest |A v - lambda v| of the two pairs against the larger |lambda|.
double EigenResidual(double a, double c, double b, const Eig& e) {
  double worst = 0;
  const float* vs[2] = {e.minor, e.major};
  const double ls[2] = {e.smaller, e.larger};
  for (int p = 0; p < 2; ++p) {
    const double x = vs[p][0], y = vs[p][1];
    worst =
        std::max({worst, std::abs(a * x + c * y - ls[p] * x), std::abs(c * x + b * y - ls[p] * y)});
  }
  return worst / std::max(std::abs(ls[0]), std::abs(ls[1]));
}

// Random tensors over many magnitudes, with some nearly diagonal and some nearly isotropic.
std::vector<std::array<float, 3>> RandomTensors(int count) {
  const matrix u = Noise(4, count, 77);
  std::vector<std::array<float, 3>> t;
  for (int i = 0; i < count; ++i) {
    const float* r = u.z[i];
    const double size = std::pow(10.0, 3.0 * r[3]);
    double a = size * r[0], b = size * r[1], c = size * r[2];
    if (i % 4 == 1) c *= 1e-4;
    if (i % 4 == 2) b = a + size * 1e-4 * r[1];
    if (i % 8 == 3) {  // a positive semi-definite product dd^T, as a structure tensor has
      a = size * r[0] * r[0];
      b = size * r[1] * r[1];
      c = size * r[0] * r[1];
    }
    t.push_back({float(a), float(c), float(b)});
  }
  return t;
}
}  // namespace

TEST(Eig2x2, KnownTensors) {
  const double s = 1 / std::sqrt(2.0);
  struct Case {
    float a, c, b;
    float smaller, larger;
    double minor[2], major[2];
  } cases[] = {
      {1, 0, 1, 1, 1, {0, 1}, {1, 0}},
      {0, 0, 0, 0, 0, {0, 1}, {1, 0}},
      {0, 0, 2, 0, 2, {1, 0}, {0, 1}},
      {3, 0, -1, -1, 3, {0, 1}, {1, 0}},  // ordered by value, not magnitude
      {2, 1, 2, 1, 3, {s, -s}, {s, s}},
      {1, -1, 1, 0, 2, {s, s}, {s, -s}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " " << c.c << " " << c.b);
    const Eig e = Analyse(c.a, c.c, c.b);
    EXPECT_FLOAT_EQ(e.smaller, c.smaller);
    EXPECT_FLOAT_EQ(e.larger, c.larger);
    for (int p = 0; p < 2; ++p) {
      EXPECT_NEAR(e.minor[p], c.minor[p], 1e-7);
      EXPECT_NEAR(e.major[p], c.major[p], 1e-7);
    }
  }
}

TEST(Eig2x2, RandomTensorsGiveOrthonormalEigenpairs) {
  for (const auto& t : RandomTensors(4000)) {
    const double a = t[0], c = t[1], b = t[2];
    SCOPED_TRACE(testing::Message() << a << " " << c << " " << b);
    const Eig e = Analyse(t[0], t[1], t[2]);
    const double scale = std::max(std::abs(double(e.smaller)), std::abs(double(e.larger)));
    EXPECT_LE(e.smaller, e.larger);
    EXPECT_LE(EigenResidual(a, c, b, e), 1e-5);
    EXPECT_NEAR(double(e.smaller) + e.larger, a + b, 1e-6 * scale);
    EXPECT_NEAR(double(e.smaller) * e.larger, a * b - c * c, 1e-6 * scale * scale);
    EXPECT_NEAR(std::hypot(e.minor[0], e.minor[1]), 1, 1e-6);
    EXPECT_NEAR(std::hypot(e.major[0], e.major[1]), 1, 1e-6);
    EXPECT_NEAR(e.minor[0] * e.major[0] + e.minor[1] * e.major[1], 0, 1e-6);
    if (c != 0) {
      EXPECT_GT(e.minor[0], 0);
      EXPECT_GT(e.major[0], 0);
    }
  }
}

TEST(Eig2x2, NearlyDiagonalTensorKeepsItsDirection) {
  // The larger eigenvalue rounds to a float one step above a: a slope taken from it would
  // be 4.5e-4 instead of 2.6e-4.
  const float a = 1, b = 0, c = 2.6e-4f;
  const Eig e = Analyse(a, c, b);
  EXPECT_NEAR(e.major[1] / e.major[0], c, 1e-9);
  EXPECT_NEAR(e.minor[0] / e.minor[1], -c, 1e-9);
  EXPECT_LE(EigenResidual(a, c, b, e), 1e-7);
}

TEST(Eig2x2, NonFiniteTensorsDoNotCrash) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Eig diagonal = Analyse(nan, 0, 1);  // c = 0: the axis vectors whatever a and b are
  EXPECT_EQ(diagonal.major[0], 1);
  EXPECT_EQ(diagonal.minor[1], 1);
  for (const auto& t : {std::array<float, 3>{nan, 1, 1},
                        {1, nan, 1},
                        {inf, 1, 0},
                        {inf, inf, inf},
                        {-inf, 1, inf}}) {
    Analyse(t[0], t[1], t[2]);
  }
}

TEST_F(TensorTest, Eig2x2AgreesWithNumpyEigh) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import numpy' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-numpy is not installed";
  }
  const auto tensors = RandomTensors(500);
  const std::string in = (home / "tensors.txt").string(), out = (home / "eigh.txt").string();
  {
    std::ofstream f(in);
    f.precision(9);
    for (const auto& t : tensors) f << t[0] << " " << t[1] << " " << t[2] << "\n";
  }
  const std::string cmd = std::string(python) + " " + ZEP_SOURCE_DIR +
                          "/tests/numeric/reference/eigh.py '" + in + "' '" + out + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(out);
  for (const auto& t : tensors) {
    SCOPED_TRACE(testing::Message() << t[0] << " " << t[1] << " " << t[2]);
    double w0, w1, v[4];
    ASSERT_TRUE(f >> w0 >> w1 >> v[0] >> v[1] >> v[2] >> v[3]);
    const Eig e = Analyse(t[0], t[1], t[2]);
    const double scale = std::max(std::abs(w0), std::abs(w1));
    EXPECT_NEAR(e.smaller, w0, 1e-6 * scale);
    EXPECT_NEAR(e.larger, w1, 1e-6 * scale);
    // Vectors agree up to sign, where the eigenvalues are well apart.
    if (w1 - w0 > 1e-3 * scale) {
      EXPECT_NEAR(std::abs(e.minor[0] * v[0] + e.minor[1] * v[1]), 1, 1e-5);
      EXPECT_NEAR(std::abs(e.major[0] * v[2] + e.major[1] * v[3]), 1, 1e-5);
    }
  }
}

TEST_F(TensorTest, LinearRampGivesItsGradientProductsAndZeroLastRowAndColumn) {
  const matrix ramp = Plane(13, 11, [](int k, int j) { return 3.0 * k + 2.0 * j; });
  matrix xx, xy, yy;
  ramp.structuretensor(xx, xy, yy, 0, 1, 0);
  ASSERT_EQ(xx.nx, 13);
  ASSERT_EQ(xx.ny, 11);
  for (const matrix* p : {&xx, &xy, &yy}) {
    ASSERT_EQ(p->nx, 13);
    ASSERT_EQ(p->ny, 11);
    for (int k = 0; k < 13; ++k) EXPECT_EQ(p->z[10][k], 0.0f) << k;
    for (int j = 0; j < 11; ++j) EXPECT_EQ(p->z[j][12], 0.0f) << j;
  }
  // Away from the mirrored ends the half-pixel shift keeps a ramp a ramp.
  for (int j = 3; j < 7; ++j) {
    for (int k = 3; k < 9; ++k) {
      EXPECT_NEAR(xx.z[j][k], 9, 1e-4);
      EXPECT_NEAR(xy.z[j][k], 6, 1e-4);
      EXPECT_NEAR(yy.z[j][k], 4, 1e-4);
    }
  }
}

TEST_F(TensorTest, AxisStructuresGiveAxisDirections) {
  struct Case {
    const char* name;
    double (*f)(int, int);
    float major[2];
    float sigma;
  } cases[] = {
      {"constant", [](int, int) { return 7.0; }, {1, 0}, 1.5f},
      {"constant unsmoothed", [](int, int) { return 7.0; }, {1, 0}, 0},
      {"I = k", [](int k, int) { return std::sin(0.7 * k); }, {1, 0}, 1.5f},
      {"I = j", [](int, int j) { return double(j * j); }, {0, 1}, 1.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const matrix input = Plane(17, 12, c.f);
    matrix xx, xy, yy;
    input.structuretensor(xx, xy, yy, c.sigma, 1, 0);
    for (int i = 0; i < xy.n; ++i) ASSERT_EQ(xy.x[i], 0.0f) << i;
    if (c.f(0, 0) == 7.0) {
      for (int i = 0; i < xx.n; ++i) ASSERT_EQ(xx.x[i] + yy.x[i], 0.0f) << i;
    }
    matrix field;
    field.tensordirections(input, 1, c.sigma);
    ASSERT_EQ(field.nx, 17 * 12);
    ASSERT_EQ(field.ny, 2);
    for (int i = 0; i < field.nx; ++i) {
      ASSERT_EQ(field.z[0][i], c.major[0]) << i;
      ASSERT_EQ(field.z[1][i], c.major[1]) << i;
    }
  }
}

TEST_F(TensorTest, StraightEdgeFieldPointsAcrossTheEdge) {
  for (double angle : {0.3, 1.1, 2.0, 2.8}) {
    SCOPED_TRACE(angle);
    const double cx = std::cos(angle), cy = std::sin(angle);
    matrix input(40, 36);
    for (int j = 0; j < input.ny; ++j)
      for (int k = 0; k < input.nx; ++k)
        input.z[j][k] = float(100 * std::tanh(((k - 20) * cx + (j - 18) * cy) / 1.5));
    matrix field;
    field.tensordirections(input, 1, 1.5f);
    int near = 0;
    for (int j = 6; j < 30; ++j) {
      for (int k = 6; k < 34; ++k) {
        if (std::abs((k - 20) * cx + (j - 18) * cy) > 2) continue;
        const int i = j * input.nx + k;
        EXPECT_GT(std::abs(field.z[0][i] * cx + field.z[1][i] * cy), 0.999) << k << "," << j;
        ++near;
      }
    }
    EXPECT_GT(near, 50);
  }
}

TEST_F(TensorTest, EnlargedTensorAndFieldSizes) {
  const matrix input = Noise(7, 5, 3);
  matrix xx, xy, yy;
  input.structuretensor(xx, xy, yy, 1, 2, 0);
  for (const matrix* p : {&xx, &xy, &yy}) {
    EXPECT_EQ(p->nx, 14);
    EXPECT_EQ(p->ny, 10);
  }
  matrix field;
  field.tensordirections(input, 2, 1);
  ASSERT_EQ(field.nx, 4 * 7 * 5);
  ASSERT_EQ(field.ny, 2);
  for (int i = 0; i < field.nx; ++i) EXPECT_NEAR(std::hypot(field.z[0][i], field.z[1][i]), 1, 1e-6);

  // The enlargement neither ticks nor gives in to a cancel.
  StartProgress(10);
  platform.CancelAtPoll(1);
  matrix bx, bxy, by;
  input.structuretensor(bx, bxy, by, 1, 2, 0);
  EXPECT_EQ(Values(bx), Values(xx));
  EXPECT_EQ(Values(by), Values(yy));
  EXPECT_EQ(Progress().count, 0);
  EXPECT_FALSE(Progress().suspended);
}

TEST_F(TensorTest, EigenfieldModesAndRelease) {
  const matrix input = Noise(9, 6, 5);
  matrix xx, xy, yy;
  input.structuretensor(xx, xy, yy, 1, 1, 0);
  matrix both, major, minor;
  {
    matrix a = xx, b = xy, c = yy;
    both.eigenfield(a, b, c, 0, false);
    EXPECT_EQ(a.n, xx.n);
    major.eigenfield(a, b, c, 1, false);
    minor.eigenfield(a, b, c, 2, true);
    EXPECT_TRUE(a.empty() && b.empty() && c.empty());
  }
  ASSERT_EQ(both.nx, 54);
  ASSERT_EQ(both.ny, 4);
  for (int i = 0; i < 54; ++i) {
    EXPECT_EQ(both.z[0][i], major.z[0][i]);
    EXPECT_EQ(both.z[1][i], major.z[1][i]);
    EXPECT_EQ(both.z[2][i], minor.z[0][i]);
    EXPECT_EQ(both.z[3][i], minor.z[1][i]);
    EXPECT_NEAR(major.z[0][i] * minor.z[0][i] + major.z[1][i] * minor.z[1][i], 0, 1e-6);
  }

  matrix kept = Noise(3, 2, 9);
  const std::vector<float> before = Values(kept);
  matrix a = xx, b = xy, c = yy;
  kept.eigenfield(a, b, c, 3, true);
  EXPECT_EQ(Values(kept), before);
  EXPECT_TRUE(a.empty() && b.empty() && c.empty());
}

TEST_F(TensorTest, OneEigenvectorAgreesWithBothOnEveryKindOfTensor) {
  // Tensors (a, c, b) on each branch of the slope's forms: c = 0 with a below, equal to and
  // above b, the zero tensor, c of both signs small and large beside a - b, NaN and
  // infinities; repeated past a vector's width so that whole vectors and the tail both run.
  const float inf = INFINITY, nan = NAN;
  const std::vector<std::array<float, 3>> kinds = {
      {1, 0, 2},     {2, 0, 1},      {3, 0, 3},    {0, 0, 0},     {5, 1e-6f, 1}, {1, -1e-6f, 5},
      {1, 3, 1},     {2, -7, 0.5f},  {0, 1, 0},    {nan, 0, 1},   {1, nan, 1},   {1, 0, nan},
      {inf, 1, 0},   {1, 2, inf},    {-1, 0.5f, 2}, {1e30f, 1e-30f, 0}};
  const int n = 3 * int(kinds.size()) + 1;
  matrix xx(n, 1), xy(n, 1), yy(n, 1);
  for (int i = 0; i < n; ++i) {
    const auto& t = kinds[size_t(i) % kinds.size()];
    xx.x[i] = t[0];
    xy.x[i] = t[1];
    yy.x[i] = t[2];
  }
  matrix both, major, minor;
  both.eigenfield(xx, xy, yy, 0, false);
  major.eigenfield(xx, xy, yy, 1, false);
  minor.eigenfield(xx, xy, yy, 2, false);
  const auto same = [](float u, float v) { return std::isnan(u) ? std::isnan(v) : u == v; };
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(same(both.z[0][i], major.z[0][i])) << both.z[0][i] << " " << major.z[0][i];
    EXPECT_TRUE(same(both.z[1][i], major.z[1][i])) << both.z[1][i] << " " << major.z[1][i];
    EXPECT_TRUE(same(both.z[2][i], minor.z[0][i])) << both.z[2][i] << " " << minor.z[0][i];
    EXPECT_TRUE(same(both.z[3][i], minor.z[1][i])) << both.z[3][i] << " " << minor.z[1][i];
  }
  // The axes of a diagonal tensor: the larger of a and b is the major one, a on a tie.
  EXPECT_EQ(major.z[0][0], 0.0f);
  EXPECT_EQ(major.z[1][0], 1.0f);
  EXPECT_EQ(major.z[0][2], 1.0f);
  EXPECT_EQ(minor.z[1][2], 1.0f);
}

TEST_F(TensorTest, TinyPlanes) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 3}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const matrix input = Noise(w, h, 1);
    matrix field;
    field.tensordirections(input, 1, 1);
    ASSERT_EQ(field.nx, w * h);
    // Differences need two samples both ways: these planes have none.
    if (w == 1 || h == 1) {
      for (int i = 0; i < field.nx; ++i) EXPECT_EQ(field.z[0][i], 1.0f);
    }
    field.tensordirections(input, 3, 1);
    EXPECT_EQ(field.nx, 9 * w * h);
  }
  matrix empty, xx, xy, yy, field;
  empty.structuretensor(xx, xy, yy, 1, 2, 0);
  field.eigenfield(xx, xy, yy, 0, true);
  EXPECT_EQ(field.n, 0);
}

TEST_F(TensorTest, TallPlaneProductsAndSameBytesOnOneAndEightThreads) {
  // Tall enough for the rows to split into several blocks.
  const matrix input = Noise(301, 517, 21);
  {
    matrix sx = input, sy = input, xx, xy, yy;
    ShiftHalfPixelSigned(sx, 1, 0);
    ShiftHalfPixelSigned(sy, 0, 1);
    input.structuretensor(xx, xy, yy, 0, 1, 0);
    for (int j = 0; j + 1 < input.ny; ++j) {
      for (int k = 0; k + 1 < input.nx; ++k) {
        const double dx = double(sx.z[j][k + 1]) - sx.z[j][k];
        const double dy = double(sy.z[j + 1][k]) - sy.z[j][k];
        ASSERT_EQ(xx.z[j][k], float(dx * dx)) << k << "," << j;
        ASSERT_EQ(xy.z[j][k], float(dx * dy)) << k << "," << j;
        ASSERT_EQ(yy.z[j][k], float(dy * dy)) << k << "," << j;
      }
    }
  }
  std::vector<float> runs[2][4];
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : 8);
    matrix xx, xy, yy, field;
    input.structuretensor(xx, xy, yy, 1.5f, 1, 0);
    runs[t][0] = Values(xx);
    runs[t][1] = Values(xy);
    field.eigenfield(xx, xy, yy, 0, false);
    runs[t][2] = Values(field);
    field.tensordirections(input, 2, 1);
    runs[t][3] = Values(field);
  }
  SetParallelThreads(0);
  for (int r = 0; r < 4; ++r) EXPECT_EQ(runs[0][r], runs[1][r]) << r;
}
