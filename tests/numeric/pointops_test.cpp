#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <utility>
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

namespace {
// The power and the curve as the plain formulas give them, one element in double: h f(v/h)
// above 0, s f(v/s) below with s = lo when lo < 0 and -hi otherwise; 0 and NaN stay.
template <class F>
float Plain(float v, float lo, float hi, F f) {
  const double h = hi, s = lo < 0 ? double(lo) : -h;
  if (v > 0) return float(h * f(double(v) / h));
  if (v < 0) return float(s * f(double(v) / s));
  return v;
}

// Floats apart in the order of values (+-0 one value); -1 when only one is NaN.
int64_t UlpsApart(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : -1;
  auto order = [](float v) {
    int32_t i;
    std::memcpy(&i, &v, 4);
    return i < 0 ? -int64_t(i & 0x7FFFFFFF) : int64_t(i);
  };
  const int64_t d = order(a) - order(b);
  return d < 0 ? -d : d;
}

// The floats of [from, to) with every stride-th bit pattern.
std::vector<float> FloatsBetween(float from, float to, int stride) {
  std::vector<float> v;
  int32_t i, end;
  std::memcpy(&i, &from, 4);
  std::memcpy(&end, &to, 4);
  for (; i < end; i += stride) {
    float f;
    std::memcpy(&f, &i, 4);
    v.push_back(f);
  }
  return v;
}

// Applies op to a plane of the values and to each value alone (the loops' vector and
// single-element forms; for long runs every 97th) and checks both against the plain
// formula: the same bits from both forms, and at most `ulps` from the formula. Returns how many elements differ
// from the formula at all.
template <class Op, class F>
int64_t CheckAgainstPlain(const std::vector<float>& values, float lo, float hi, Op op, F f,
                          int64_t ulps) {
  matrix all(int(values.size()), 1);
  std::copy(values.begin(), values.end(), all.x);
  op(all, lo, hi);
  int64_t differ = 0, failures = 0;
  const size_t aloneEvery = values.size() < 1000 ? 1 : 97;
  for (size_t k = 0; k < values.size(); ++k) {
    bool same = true;
    if (k % aloneEvery == 0) {
      matrix one = Row({values[k]});
      op(one, lo, hi);
      same = std::memcmp(&one.x[0], &all.x[k], 4) == 0;
    }
    const float expected = Plain(values[k], lo, hi, f);
    const int64_t apart = UlpsApart(all.x[k], expected);
    if ((apart < 0 || apart > ulps || !same) && ++failures <= 5) {
      ADD_FAILURE() << values[k] << " in [" << lo << ", " << hi << "]: " << all.x[k]
                    << (same ? "" : " (another alone)") << ", formula " << expected;
    }
    if (apart != 0) ++differ;
  }
  return differ;
}
}  // namespace

// The power is computed without std::pow; every result stays within one float step of
// the formula h (v/h)^p, over whole runs of floats and a sparse sweep of all of them.
TEST(PointOps, GammaWithinOneStepOfThePowerFunction) {
  std::vector<float> values = FloatsBetween(1.0f, 1.1f, 1);                  // near 1
  for (float v : FloatsBetween(250.0f, 256.0f, 1)) values.push_back(v);  // near hi
  for (float v : FloatsBetween(1e-45f, 3.4e38f, 1021)) values.push_back(v);
  const size_t positive = values.size();
  for (size_t k = 0; k < positive; k += 3) values.push_back(-values[k]);
  for (const double p : {0.45, 1 / 2.2, 2.0, 2.2, 3.7, -1.5}) {
    for (const auto& range : {std::pair{0.0f, 255.0f}, std::pair{-100.0f, 100.0f}}) {
      SCOPED_TRACE(p);
      const int64_t differ = CheckAgainstPlain(
          values, range.first, range.second,
          [p](matrix& m, float lo, float hi) { m.gamma(p, lo, hi); },
          [p](double t) { return std::pow(t, p); }, 1);
      // The power is far finer than a float step: only results next to a rounding tie
      // may round the other way.
      EXPECT_LT(differ, int64_t(values.size() / 10000)) << "of " << values.size();
    }
  }
}

// Every binade of the floats, denormals and the largest included, through exponents from
// near 0 to the fast form's limit of 1000 either way: results that overflow, underflow to
// denormals or to 0 and those in between stay within one float step of the power function,
// and the plane's wide form gives the one-element bits.
TEST(PointOps, GammaWithinOneStepAcrossExponentsAndBinades) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = FloatsBetween(std::numeric_limits<float>::denorm_min(), inf, 8191);
  const size_t positive = values.size();
  for (size_t k = 0; k < positive; k += 2) values.push_back(-values[k]);
  for (const float v : {inf, -inf, std::nanf(""), 0.0f, -0.0f, 1.0f, 255.0f, -255.0f, 100.0f,
                        std::numeric_limits<float>::max(), std::numeric_limits<float>::min()}) {
    values.push_back(v);
  }
  for (const double p :
       {1e-3, 0.3, 1.0, 1.5, 7.5, 30.0, 100.0, 999.99, 1000.0, -0.5, -30.0, -1000.0}) {
    for (const auto& range : {std::pair{0.0f, 255.0f}, std::pair{-100.0f, 100.0f},
                              std::pair{0.0f, 1e-30f}, std::pair{-3e38f, 3e38f}}) {
      SCOPED_TRACE(testing::Message() << p << " [" << range.first << ", " << range.second << "]");
      const int64_t differ = CheckAgainstPlain(
          values, range.first, range.second,
          [p](matrix& m, float lo, float hi) { m.gamma(p, lo, hi); },
          [p](double t) { return std::pow(t, p); }, 1);
      EXPECT_LT(differ, int64_t(values.size() / 1000)) << "of " << values.size();
    }
  }
}

TEST(PointOps, GammaSpecialValuesAsThePowerFunctionGivesThem) {
  const float inf = std::numeric_limits<float>::infinity();
  const float big = std::numeric_limits<float>::max();
  const float tiny = std::numeric_limits<float>::denorm_min();
  const std::vector<float> values = {0.0f, -0.0f, inf,  -inf,  std::nanf(""), tiny, -tiny,
                                     big,  -big,  1.0f, 255.0f, -255.0f, 100.0f, 1e-30f};
  // p = 1 and p = 0 exactly, huge powers that overflow and underflow, a power beyond the
  // fast form's reach, and ranges that put the mirror at lo or at -hi.
  for (const double p : {1.0, 0.0, 2.0, -1.5, 30.0, -30.0, 999.0, 5000.0}) {
    for (const auto& range : {std::pair{0.0f, 255.0f}, std::pair{-100.0f, 100.0f},
                              std::pair{0.0f, 1e-30f}, std::pair{-inf, inf}}) {
      SCOPED_TRACE(testing::Message() << p << " [" << range.first << ", " << range.second << "]");
      CheckAgainstPlain(
          values, range.first, range.second,
          [p](matrix& m, float lo, float hi) { m.gamma(p, lo, hi); },
          [p](double t) { return std::pow(t, p); }, p == 1.0 || p == 0.0 ? 0 : 1);
    }
  }
}

// The table lookup reads the position as |v| (m - 1)/S instead of (m - 1)(v/S): the same
// values to within a float step, mirrored below zero, the last entry from the end on.
TEST(PointOps, CurveTableAsTheLookupGivesIt) {
  dmatrix square(601, 1), wave(9, 1);
  for (int i = 0; i < square.n; ++i) square.x[i] = (i / 600.0) * (i / 600.0);
  for (int i = 0; i < wave.n; ++i) wave.x[i] = 0.2 + 0.7 * std::sin(i * 0.9);
  const dmatrix two = [] {
    dmatrix t(2, 1);
    t.x[0] = 0.25;
    t.x[1] = 0.75;
    return t;
  }();
  std::vector<float> values = FloatsBetween(0.0f, 300.0f, 4093);
  const size_t positive = values.size();
  for (size_t k = 0; k < positive; k += 2) values.push_back(-values[k]);
  const float inf = std::numeric_limits<float>::infinity();
  for (const float v : {inf, -inf, std::nanf(""), -0.0f, 255.0f, 3.4e38f}) values.push_back(v);
  for (const dmatrix* table : {&std::as_const(square), &std::as_const(wave), &two}) {
    for (const auto& range : {std::pair{0.0f, 255.0f}, std::pair{-128.0f, 127.0f}}) {
      SCOPED_TRACE(testing::Message() << table->n << " [" << range.first << ", " << range.second << "]");
      CheckAgainstPlain(
          values, range.first, range.second,
          [table](matrix& m, float lo, float hi) { m.applycurve(*table, lo, hi); },
          [table](double t) { return table->lookup(t); }, 1);
    }
  }
}

// The wide loop reads each element's pair of table entries itself: on every element of a
// plane (runs of eight and a tail) it gives the bits of the one-element loop, also on the
// table's nodes, at its ends and beyond, for tables from 2 to 4097 entries.
TEST(PointOps, CurveWideLoopGivesTheOneElementBits) {
  std::mt19937 random(23);
  std::uniform_real_distribution<float> spread(-400.0f, 400.0f);
  for (const int entries : {2, 9, 601, 4097}) {
    dmatrix table(entries, 1);
    for (int i = 0; i < entries; ++i) table.x[i] = std::sqrt(i / double(entries - 1)) - 0.1;
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {0.0f, -0.0f, inf, -inf, std::nanf(""), 255.0f, -128.0f,
                                 -255.0f, 1e-45f, -1e-45f, 3.4e38f, -3.4e38f};
    for (int i = 0; i < entries && values.size() < 400; i += std::max(1, entries / 97)) {
      values.push_back(255.0f * float(i) / float(entries - 1));   // on a node
      values.push_back(-128.0f * float(i) / float(entries - 1));  // mirrored
    }
    while (values.size() < 997) values.push_back(spread(random));
    for (const auto& range : {std::pair{0.0f, 255.0f}, std::pair{-128.0f, 127.0f}}) {
      SCOPED_TRACE(testing::Message() << entries << " [" << range.first << ", " << range.second << "]");
      CheckAgainstPlain(
          values, range.first, range.second,
          [&table](matrix& m, float lo, float hi) { m.applycurve(table, lo, hi); },
          [&table](double t) { return table.lookup(t); }, 1);
    }
  }
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
    dmatrix table(601, 1);
    for (int i = 0; i < table.n; ++i) table.x[i] = std::sqrt(i / 600.0);
    std::vector<matrix> out(7, base);
    out[0].gamma(2.2, -1, 1, &mask);
    out[1].equalize(0, 255);
    out[2].affine(0.75f, 3, nullptr);
    out[3].gradient(0, 10, 20, 255, 900, 400, nullptr);
    out[4].gamma(0.45, -1, 1, nullptr);
    out[5].applycurve(table, 0, 1, nullptr);
    out[6].applycurve(table, -1, 1, &mask);
    const matrix::DiffStats d = base.diffstats(out[2]);
    out.push_back(Row({float(d.aae), float(d.rmse), float(d.mae), base.maskedmean(&mask)}));
    return out;
  };
  const std::vector<matrix> one = all(1);
  const std::vector<matrix> eight = all(8);
  SetParallelThreads(0);
  for (size_t i = 0; i < one.size(); ++i) EXPECT_TRUE(SameBits(one[i], eight[i])) << i;
}
