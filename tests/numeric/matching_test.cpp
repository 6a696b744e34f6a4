#include "numeric/matching.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrixarray.h"
#include "test_planes.h"

namespace {
matrix Row(const std::vector<float>& v) {
  matrix m(int(v.size()), 1);
  for (size_t i = 0; i < v.size(); ++i) m.x[i] = v[i];
  return m;
}
}  // namespace

TEST(MatchingTest, Gains) {
  struct Case {
    std::vector<float> x, y;
    float lad, ls;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {{1, 1, 1}, {1, 2, 10}, 2.0f, 13.0f / 3},  // the weighted median ratio
      {{0, 2}, {5, 4}, 2.0f, 2.0f},              // only the second pair counts
      {{0, 0, 0}, {1, 2, 3}, 1.0f, 1.0f},        // nothing to weigh
      {{}, {}, 1.0f, 1.0f},
      {{1, 4, -2}, {3, 4, -4}, 1.0f, 27.0f / 21},  // weights 1, 4, 2 on ratios 3, 1, 2
      {{nan, 2, 2}, {1, 2, 4}, 1.0f, nan},         // a NaN pair has no rank
  };
  for (const Case& c : cases) {
    const matrix x = Row(c.x), y = Row(c.y);
    EXPECT_FLOAT_EQ(LeastAbsoluteGain(x, y), c.lad);
    if (std::isnan(c.ls)) continue;
    EXPECT_FLOAT_EQ(LeastSquaresGain(x, y), c.ls);
  }
}

TEST(MatchingTest, HalfTheReferenceIsMatchedByAGainOfTwo) {
  const matrix reference = Noise(9, 7, 4).addscalar(1.0f).mulscalar(100.0f);
  matrix half(reference);
  half.mulscalar(0.5f);
  matrix a(half), b(half), c(half);
  EXPECT_FLOAT_EQ(a.lsmatch1(reference, 0, 255, nullptr, false), 2.0f);
  EXPECT_FLOAT_EQ(b.ladmatch1(reference, 0, 255, nullptr, false), 2.0f);
  double gain = 0, offset = 0;
  c.lsmatch2(reference, gain, offset, 0, 255, nullptr, false, true);
  EXPECT_NEAR(gain, 2.0, 1e-6);
  EXPECT_NEAR(offset, 0.0, 1e-4);
  for (int k = 0; k < reference.n; ++k) {
    EXPECT_EQ(a.x[k], reference.x[k]);
    EXPECT_EQ(b.x[k], reference.x[k]);
    EXPECT_NEAR(c.x[k], reference.x[k], 1e-4);
  }
}

TEST(MatchingTest, InclusionRangeAndMask) {
  // Reference values outside [0, 255] stay out of the fit but are corrected all the same.
  matrix reference = Row({10, 20, 300, -5, 40, 50});
  matrix current = Row({5, 10, 7, 9, 20, 25});
  matrix a(current);
  EXPECT_FLOAT_EQ(a.lsmatch1(reference, 0, 255, nullptr, false), 2.0f);
  EXPECT_EQ(Values(a), (std::vector<float>{10, 20, 14, 18, 40, 50}));

  // A mask picks the pairs; without allPixels it also limits the correction.
  bitmask mask(6, 1);
  for (int k : {0, 1, 2}) mask.setbit(k, true);
  reference = Row({10, 20, 30, 1, 1, 1});
  matrix masked(current), all(current);
  EXPECT_FLOAT_EQ(masked.ladmatch1(reference, 0, 255, &mask, false), 2.0f);
  EXPECT_EQ(Values(masked), (std::vector<float>{10, 20, 14, 9, 20, 25}));
  EXPECT_FLOAT_EQ(all.ladmatch1(reference, 0, 255, &mask, true), 2.0f);
  EXPECT_EQ(Values(all), (std::vector<float>{10, 20, 14, 18, 40, 50}));
  // An empty mask is no mask.
  matrix open(current);
  bitmask none;
  open.lsmatch1(reference, 0, 255, &none, false);
  EXPECT_NE(Values(open), Values(masked));
}

TEST(MatchingTest, TwoParameterFitsNeverGoNaN) {
  const matrix current = Row({1, 2, 3, 4});
  double gain = -7, offset = -7;
  // No pair in range: the channel is left alone.
  matrix a(current);
  a.lsmatch2(Row({300, 400, 500, 600}), gain, offset, 0, 255, nullptr, false, true);
  EXPECT_EQ(Values(a), Values(current));
  EXPECT_EQ(gain, 1.0);
  EXPECT_EQ(offset, 0.0);
  // A line exactly.
  matrix b(current);
  b.lsfit(Row({5, 7, 9, 11}), gain, offset, true);
  EXPECT_DOUBLE_EQ(gain, 2.0);
  EXPECT_DOUBLE_EQ(offset, 3.0);
  EXPECT_EQ(Values(b), (std::vector<float>{5, 7, 9, 11}));
  // A constant x: gain 0, offset the mean of y.
  matrix c = Row({2, 2, 2});
  c.lsfit(Row({1, 2, 6}), gain, offset, true);
  EXPECT_EQ(gain, 0.0);
  EXPECT_EQ(offset, 3.0);
  EXPECT_EQ(Values(c), (std::vector<float>{3, 3, 3}));
  // Empty planes and NaN values.
  matrix empty;
  empty.lsfit(matrix(), gain, offset, true);
  EXPECT_EQ(gain, 1.0);
  EXPECT_EQ(offset, 0.0);
  matrix d = Row({1, std::numeric_limits<float>::quiet_NaN(), 3});
  d.lsfit(Row({1, 2, 3}), gain, offset, false);
  EXPECT_FALSE(std::isnan(gain));
  EXPECT_FALSE(std::isnan(offset));
}

TEST(MatchingTest, LevelsMatchWindows) {
  // 100 pixels, percentile 10, increment 5: windows of 10 ranks starting at 0, 5, ..., 90;
  // ranks 0-4 and 95-99 lie in one window, the others in two. The current values are the
  // ranks shuffled, the reference their squares, so every window fits another line.
  const int n = 100;
  matrix current(n, 1), reference(n, 1);
  for (int k = 0; k < n; ++k) {
    const int rank = (k * 37) % n;
    current.x[k] = float(rank);
    reference.x[k] = float(rank * rank);
  }
  matrix matched(current);
  matched.matchlevels(reference, 10.0f, 5.0f);
  // The least-squares line of r^2 over ranks s .. s+9 at rank r.
  auto line = [](int s, int r) {
    double mx = 0, my = 0;
    for (int i = s; i < s + 10; ++i) {
      mx += i / 10.0;
      my += double(i) * i / 10.0;
    }
    double sxy = 0, sxx = 0;
    for (int i = s; i < s + 10; ++i) {
      sxy += (i - mx) * (double(i) * i - my);
      sxx += (i - mx) * (i - mx);
    }
    return sxy / sxx * r + (my - mx * sxy / sxx);
  };
  for (int k = 0; k < n; ++k) {
    const int r = int(current.x[k]);
    double sum = 0;
    int windows = 0;
    for (int s = 0; s <= 90; s += 5) {
      if (r >= s && r < s + 10) {
        sum += line(s, r);
        ++windows;
      }
    }
    EXPECT_EQ(windows, (r < 5 || r >= 95) ? 1 : 2);
    EXPECT_NEAR(matched.x[k], sum / windows, 1e-3) << "rank " << r;
  }

  // 12 pixels at the default percentile and increment 2.5: windows of one sample, one
  // sample apart (0.3 samples rounded to none never advanced); each pixel takes its
  // reference value.
  matrix twelve(12, 1), target(12, 1);
  for (int k = 0; k < 12; ++k) {
    twelve.x[k] = float((k * 5) % 12);
    target.x[k] = float(100 - k * k);
  }
  twelve.matchlevels(target, 5.0f, 2.5f);
  EXPECT_EQ(Values(twelve), Values(target));
  // A percentile that rounds to no sample and an increment above the percentile still
  // cover every pixel; planes of another size are left alone.
  matrix tiny(twelve);
  tiny.matchlevels(target, 1.0f, 50.0f);
  EXPECT_EQ(Values(tiny), Values(target));
  matrix other = Row({1, 2, 3});
  other.matchlevels(target, 5.0f, 2.5f);
  EXPECT_EQ(Values(other), (std::vector<float>{1, 2, 3}));
}

// The ranks follow the values across signs and binary exponents (and a NaN ranks last):
// the same windows as above, each fitting the rank against the value.
TEST(MatchingTest, LevelsMatchRanksSignedValuesOfEveryScale) {
  const int n = 100;
  auto value = [](int rank) { return std::ldexp(double(rank - 50), std::abs(rank - 50) / 8); };
  matrix current(n, 1), reference(n, 1);
  for (int k = 0; k < n; ++k) {
    const int rank = (k * 37) % n;
    current.x[k] = float(value(rank));
    reference.x[k] = float(rank);
  }
  matrix matched(current);
  matched.matchlevels(reference, 10.0f, 5.0f);
  auto line = [&](int s, int r) {
    double mx = 0, my = 0;
    for (int i = s; i < s + 10; ++i) {
      mx += value(i) / 10.0;
      my += i / 10.0;
    }
    double sxy = 0, sxx = 0;
    for (int i = s; i < s + 10; ++i) {
      sxy += (value(i) - mx) * (i - my);
      sxx += (value(i) - mx) * (value(i) - mx);
    }
    return sxy / sxx * value(r) + (my - mx * sxy / sxx);
  };
  for (int k = 0; k < n; ++k) {
    const int r = (k * 37) % n;
    double sum = 0;
    int windows = 0;
    for (int t = 0; t <= 90; t += 5) {
      if (r >= t && r < t + 10) {
        sum += line(t, r);
        ++windows;
      }
    }
    EXPECT_NEAR(matched.x[k], sum / windows, 1e-3 * (1 + std::fabs(sum / windows))) << r;
  }
  // A NaN pixel ranks after every number: the others keep their order among themselves.
  matrix withNan = Row({3, std::numeric_limits<float>::quiet_NaN(), -1, 2});
  withNan.matchlevels(Row({30, 99, -10, 20}), 25.0f, 25.0f);
  EXPECT_EQ(withNan.x[0], 30.0f);
  EXPECT_EQ(withNan.x[2], -10.0f);
  EXPECT_EQ(withNan.x[3], 20.0f);
}

TEST(MatchingTest, WaveletMatchLevelCounts) {
  const matrix reference = Noise(256, 256, 2);
  matrix current = Noise(256, 256, 3);
  current.add(reference);
  auto match = [&](int levels, bool lad) {
    matrix m(current);
    m.waveletmatch(reference, levels, lad);
    return Values(m);
  };
  for (bool lad : {false, true}) {
    const std::vector<float> automatic = match(0, lad);  // 256, 128, 64, 32: 4 levels
    EXPECT_EQ(match(4, lad), automatic);
    EXPECT_EQ(match(9, lad), automatic);
    EXPECT_NE(match(2, lad), automatic);
    EXPECT_NE(match(3, lad), automatic);
    EXPECT_NE(match(2, lad), match(3, lad));
  }
  // A plane twice the reference is halved at every level.
  matrix twice(reference);
  twice.mulscalar(2.0f);
  twice.waveletmatch(reference, 0, false);
  for (int k = 0; k < twice.n; ++k) ASSERT_NEAR(twice.x[k], reference.x[k], 1e-5f);
  matrix narrow = Noise(255, 256, 1);
  const std::vector<float> before = Values(narrow);
  narrow.waveletmatch(reference, 0, true);
  EXPECT_EQ(Values(narrow), before);
}

TEST(MatchingTest, AddAll) {
  matrix plane = Row({1, 2, 3});
  matrixarray levels(2, 3, 1);
  levels[0].fill(1.0f);
  levels[1].fill(10.0f);
  plane.addall(levels);
  EXPECT_EQ(Values(plane), (std::vector<float>{12, 13, 14}));
  plane.addall(matrixarray());
  matrixarray wrong(1, 2, 1);
  wrong[0].fill(5.0f);
  plane.addall(wrong);
  EXPECT_EQ(Values(plane), (std::vector<float>{12, 13, 14}));
}
