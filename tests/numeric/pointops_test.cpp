#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/dmatrix.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"
#include "test_planes.h"

namespace {
matrix Row(std::vector<float> v) {
  matrix m(int(v.size()), 1);
  std::copy(v.begin(), v.end(), m.x);
  return m;
}

// Average ranks (1-based) by a plain stable sort, NaN last and tied, -0 equal to +0: the
// reference the radix ranking must agree with.
std::vector<double> AverageRanks(const std::vector<float>& v) {
  std::vector<int> order(v.size());
  std::iota(order.begin(), order.end(), 0);
  auto less = [&](int a, int b) {
    const bool na = std::isnan(v[size_t(a)]), nb = std::isnan(v[size_t(b)]);
    if (na || nb) return !na && nb;
    return v[size_t(a)] < v[size_t(b)];
  };
  std::stable_sort(order.begin(), order.end(), less);
  std::vector<double> rank(v.size());
  for (size_t a = 0; a < order.size();) {
    size_t b = a + 1;
    while (b < order.size() && !less(order[a], order[b]) && !less(order[b], order[a])) ++b;
    for (size_t k = a; k < b; ++k) rank[size_t(order[k])] = (double(a + 1) + double(b)) / 2.0;
    a = b;
  }
  return rank;
}

bool SameBits(const matrix& a, const matrix& b) {
  return a.n == b.n && std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0;
}
}  // namespace

TEST(PointOps, GammaAnchorsAtTheRange) {
  struct Case {
    float v, lo, hi;
    double p;
    float expected;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {127.5f, 0, 255, 2, 63.75f},
      {63.75f, 0, 255, 0.5, 127.5f},
      {-127.5f, 0, 255, 2, -63.75f},
      {-50, -100, 100, 2, -25},
      {0, 0, 255, 2, 0},
      {255, 0, 255, 7, 255},
      {inf, 0, 255, 2, inf},
      {-inf, 0, 255, 2, -inf},
  };
  for (const Case& c : cases) {
    matrix m = Row({c.v});
    m.gamma(c.p, c.lo, c.hi);
    EXPECT_FLOAT_EQ(m.x[0], c.expected) << c.v << " ^ " << c.p;
  }
  matrix nan = Row({std::nanf("")});
  EXPECT_TRUE(std::isnan(nan.gamma(2, 0, 255).x[0]));
}

TEST(PointOps, CurvesActOverTheRangeAndMirrorBelowZero) {
  // The table samples x^2 at 0, 0.5 and 1: between samples it is linear.
  dmatrix table(3, 1);
  table.x[0] = 0;
  table.x[1] = 0.25;
  table.x[2] = 1;
  const auto square = [](double x) { return x * x; };
  struct Case {
    float v, lo, hi;
    double tabled, toned;  // through the table, through x^2
  };
  const Case cases[] = {
      {127.5f, 0, 255, 255 * 0.25, 63.75},
      {191.25f, 0, 255, 255 * 0.625, 255 * square(0.75)},
      {-10, 0, 255, -255 * (10 / 127.5 * 0.25), -255 * square(10 / 255.0)},
      {-32, -128, 127, -128 * (0.25 * 0.5), -128 * square(0.25)},
      {300, 0, 255, 255, 255 * square(300 / 255.0)},  // beyond the table: its last value
      {0, 0, 255, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    matrix a = Row({c.v}), b = Row({c.v});
    a.applycurve(table, c.lo, c.hi);
    b.applytonecurve(ToneCurve(2, false), 2, c.lo, c.hi);
    EXPECT_NEAR(a.x[0], c.tabled, 1e-4);
    EXPECT_NEAR(b.x[0], c.toned, 1e-4);
  }
  // Without a curve nothing changes; NaN stays.
  matrix m = Row({127.5f, std::nanf("")});
  m.applycurve(dmatrix(), 0, 255).applytonecurve(nullptr, 2, 0, 255);
  EXPECT_EQ(m.x[0], 127.5f);
  m.applytonecurve(ToneCurve(2, false), 2, 0, 255);
  EXPECT_TRUE(std::isnan(m.x[1]));
}

TEST(PointOps, MaskedPathsChangeOnlySetBits) {
  bitmask mask(3, 1);
  mask.setbit(1, true);
  const float one[] = {1, 5, 9};
  auto run = [&](auto op) {
    matrix m = Row({one[0], one[1], one[2]});
    op(m);
    return Values(m);
  };
  EXPECT_EQ(run([&](matrix& m) { m.affine(2, 1, &mask); }), (std::vector<float>{1, 11, 9}));
  EXPECT_EQ(run([&](matrix& m) { m.fill(7, &mask); }), (std::vector<float>{1, 7, 9}));
  EXPECT_EQ(run([&](matrix& m) { m.reflect(255, &mask); }), (std::vector<float>{1, 250, 9}));
  EXPECT_EQ(run([&](matrix& m) { m.gradient(0, 0, 0, 10, 10, 0, &mask); }),
            (std::vector<float>{1, 1, 9}));
  // A mask smaller than the plane speaks for its own pixels only.
  bitmask small(1, 1);
  small.setbit(0, true);
  EXPECT_EQ(run([&](matrix& m) { m.fill(0, &small); }), (std::vector<float>{0, 5, 9}));
}

TEST(PointOps, GradientRampAndDegeneratePoints) {
  matrix m(21, 3);
  m.fill(-1.0f);
  m.gradient(0, 0, 0, 255, 10, 0);
  for (int y = 0; y < 3; ++y) {
    EXPECT_FLOAT_EQ(m.z[y][5], 127.5f);
    EXPECT_FLOAT_EQ(m.z[y][20], 510.0f);
    EXPECT_FLOAT_EQ(m.z[y][0], 0.0f);
  }
  matrix same = Row({3, 4});
  same.gradient(0, 1, 1, 255, 1, 1);
  EXPECT_EQ(Values(same), (std::vector<float>{3, 4}));
}

TEST(PointOps, EqualizeSharesTheMedianOfTies) {
  matrix m = Row({10, 20, 20, 30});
  m.equalize(0, 255);
  EXPECT_EQ(Values(m), (std::vector<float>{31.875f, 127.5f, 127.5f, 223.125f}));
  matrix one = Row({42});
  EXPECT_EQ(one.equalize(0, 255).x[0], 127.5f);
  matrix flat = Row({3, 3, 3});
  EXPECT_EQ(Values(flat.equalize(0, 1)), (std::vector<float>{0.5f, 0.5f, 0.5f}));
}

// The radix ranking against a plain sort: ties, -0 and +0, infinities and NaNs included,
// and the result strictly inside the range.
TEST(PointOps, RankTransformMatchesAverageRanks) {
  const float inf = std::numeric_limits<float>::infinity();
  matrix m = Noise(173, 59, 11);
  for (int k = 0; k < m.n; ++k) m.x[k] = std::round(m.x[k] * 40.0f) / 8.0f;  // many ties
  m.x[3] = -0.0f;
  m.x[4] = 0.0f;
  m.x[5] = std::nanf("");
  m.x[6] = -std::nanf("");
  m.x[7] = inf;
  m.x[8] = -inf;
  const std::vector<float> input = Values(m);
  const std::vector<double> rank = AverageRanks(input);
  matrix r;
  r.ranktransform(m);
  for (int k = 0; k < m.n; ++k) {
    ASSERT_NEAR(r.x[k], (rank[size_t(k)] - 0.5) / m.n, 1e-6) << k;
    ASSERT_GT(r.x[k], 0.0f);
    ASSERT_LT(r.x[k], 1.0f);
  }
  EXPECT_EQ(r.x[3], r.x[4]);
  EXPECT_EQ(r.x[5], r.x[6]);
  EXPECT_EQ(0, std::memcmp(m.x, input.data(), sizeof(float) * input.size()))
      << "the source stays as it was";
}

// Runs far longer than the blocks the ranks are written in: every element of a run gets
// its median order value, wherever the blocks cut the run.
TEST(PointOps, LongRunsAcrossBlocks) {
  const int n = 700 * 400, values = 5, run = n / values;
  matrix m(700, 400);
  for (int k = 0; k < n; ++k) m.x[k] = float(values - 1 - k % values);
  m.equalize(0, 1);
  for (int k = 0; k < n; ++k) {
    const int a = (values - 1 - k % values) * run;
    ASSERT_FLOAT_EQ(m.x[k], float(double(2 * a + run) / (2.0 * n))) << k;
  }
}

TEST(PointOps, DiffStatsAndMaskedMean) {
  matrix a = Row({1, 2, 3, 4});
  matrix b = Row({1, 4, 0, 4});
  const matrix::DiffStats d = a.diffstats(b);
  EXPECT_DOUBLE_EQ(d.aae, 5.0 / 4);
  EXPECT_DOUBLE_EQ(d.rmse, std::sqrt(13.0 / 4));
  EXPECT_DOUBLE_EQ(d.mae, 3);
  const matrix::DiffStats same = a.diffstats(a);
  EXPECT_EQ(same.rmse, 0);
  EXPECT_EQ(same.mae, 0);

  bitmask mask(4, 1);
  EXPECT_EQ(a.maskedmean(&mask), 0.0f) << "no pixel selected";
  mask.setbit(1, true);
  mask.setbit(3, true);
  EXPECT_EQ(a.maskedmean(&mask), 3.0f);
  EXPECT_EQ(a.maskedmean(nullptr), 2.5f);
  EXPECT_EQ(matrix().maskedmean(nullptr), 0.0f);
}

// The heavy loops give the same bytes on one thread and on eight.
TEST(PointOps, SameBytesOnOneAndEightThreads) {
  auto all = [](int threads) {
    SetParallelThreads(threads);
    matrix base = Noise(1500, 700, 5);
    for (int k = 0; k < base.n; k += 7) base.x[k] = std::round(base.x[k] * 100.0f);
    bitmask mask(1500, 700);
    for (int k = 0; k < base.n; k += 3) mask.setbit(k, true);
    std::vector<matrix> out(4, base);
    out[0].gamma(2.2, -1, 1, &mask);
    out[1].equalize(0, 255);
    out[2].affine(0.75f, 3, nullptr);
    out[3].gradient(0, 10, 20, 255, 900, 400, nullptr);
    const matrix::DiffStats d = base.diffstats(out[2]);
    out.push_back(Row({float(d.aae), float(d.rmse), float(d.mae), base.maskedmean(&mask)}));
    return out;
  };
  const std::vector<matrix> one = all(1);
  const std::vector<matrix> eight = all(8);
  SetParallelThreads(0);
  for (size_t i = 0; i < one.size(); ++i) EXPECT_TRUE(SameBits(one[i], eight[i])) << i;
}
