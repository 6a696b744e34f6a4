// The local window filters of a plane and the order statistics under them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "numeric/test_planes.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
matrix Plane(int w, int h, const std::vector<float>& v) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) m.x[k] = v[size_t(k)];
  return m;
}

// Image-like values 0..255 that differ from pixel to pixel.
matrix Picture(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  for (int k = 0; k < m.n; ++k) m.x[k] = std::round((m.x[k] + 1.0f) * 127.5f * 4.0f) / 4.0f;
  return m;
}

bitmask Checker(int w, int h) {
  bitmask m(w, h);
  for (int k = 0; k < m.n; ++k) m.setbit(k, (k * 7) % 3 != 0);
  return m;
}

double Gauss(float d) { return std::exp(-double(d) * d); }  // WeightGaussian, but not it

using Filter = std::function<void(matrix&, const bitmask*, bool)>;
struct NamedFilter {
  const char* name;
  Filter run;
};

const std::vector<NamedFilter>& Filters() {
  static const matrix weights = [] {
    matrix k, w;
    k.gaussian(1.0f, 3.0f);
    w.outer(k, k);
    return w.mulscalar(float(1.0 / w.sum()));
  }();
  static const std::vector<NamedFilter> filters = {
      {"disc mean r1", [](matrix& m, const bitmask* k, bool in) { m.discmean(1, k, in); }},
      {"disc mean r3", [](matrix& m, const bitmask* k, bool in) { m.discmean(3, k, in); }},
      {"disc median r1", [](matrix& m, const bitmask* k, bool in) { m.discmedian(1, k, in); }},
      {"disc median r2", [](matrix& m, const bitmask* k, bool in) { m.discmedian(2, k, in); }},
      {"disc median r9", [](matrix& m, const bitmask* k, bool in) { m.discmedian(9, k, in); }},
      {"disc wmmr r1", [](matrix& m, const bitmask* k, bool in) { m.discwmmr(1, k, in); }},
      {"disc wmmr r3", [](matrix& m, const bitmask* k, bool in) { m.discwmmr(3, k, in); }},
      {"weighted median 7x7",
       [](matrix& m, const bitmask* k, bool in) { m.weightedmedianfilter(weights, k, in); }},
      {"bilateral 3 Gaussian",
       [](matrix& m, const bitmask* k, bool) { m.bilateral(2.5f, 2, 3, WeightGaussian, k); }},
      {"bilateral 5 Cauchy", [](matrix& m, const bitmask* k,
                                bool) { m.bilateral(1.0f, 1, 5, WeightInverseQuadratic, k); }},
      {"bilateral median 3 Laplace",
       [](matrix& m, const bitmask* k, bool) { m.bilateralmedian(2.5f, 2, 3, WeightExpAbs, k); }},
      {"bilateral median 5 Uniform",
       [](matrix& m, const bitmask* k, bool) { m.bilateralmedian(3.0f, 1, 5, WeightBox, k); }},
      {"smooth3x", [](matrix& m, const bitmask*, bool) { m.smooth3x(m); }},
      {"smooth3y", [](matrix& m, const bitmask*, bool) { m.smooth3y(m); }},
  };
  return filters;
}

}  // namespace

using LocalFiltersTest = ZepTest;

TEST_F(LocalFiltersTest, StatisticsTable) {
  // Median of a radius-1 disc: nine cells, the middle of 0,0,0,0,9,9,9,9,9.
  matrix block = Plane(3, 3, {9, 0, 9, 0, 9, 0, 9, 0, 9});
  EXPECT_EQ(block.maskedmedian(nullptr), 9.0f);
  block.discmedian(1, nullptr, false);
  EXPECT_EQ(block.at(1, 1), 9.0f);

  struct Wmmr {
    std::vector<float> values;
    float expected;
  } wmmr[] = {
      {{50, 12, 1, 14, 3, 11, 2, 13, 10}, 12},  // ranges 10, 10, 10, 4: the last window
      {{9, 8, 7, 6, 5, 4, 3, 2, 1}, 6},         // four equal ranges: the last, not 5
      {{5}, 5},                                 // m = 1: x0
      {{7, 3}, 3},                              // m = 2: x0, the smaller
      {{9, 1, 4}, 4},                           // m = 3: x1
  };
  for (const Wmmr& c : wmmr) {
    matrix m = Plane(int(c.values.size()), 1, c.values);
    EXPECT_EQ(m.maskedwmmr(nullptr), c.expected);
    EXPECT_EQ(Values(m), c.values);  // on a copy
    EXPECT_EQ(m.wmmr(), c.expected);
    EXPECT_TRUE(std::is_sorted(m.x, m.x + m.n));  // in place
  }
  // The window filter gives the same statistic at the centre of a 3 x 3 block.
  matrix window = Plane(3, 3, wmmr[0].values);
  window.discwmmr(1, nullptr, false);
  EXPECT_EQ(window.at(1, 1), 12.0f);

  EXPECT_EQ(WeightedMedian(Plane(2, 1, {0.5f, 0.5f}), Plane(2, 1, {3, 7})), 7.0f);
  EXPECT_EQ(WeightedMedian(Plane(2, 1, {0.6f, 0.4f}), Plane(2, 1, {3, 7})), 3.0f);
  EXPECT_EQ(WeightedMedian(Plane(3, 1, {0.25f, 0.25f, 0.5f}), Plane(3, 1, {1, 2, 3})), 3.0f);
  EXPECT_EQ(WeightedMedian(Plane(3, 1, {0.5f, 0.3f, 0.2f}), Plane(3, 1, {5, 1, 2})), 5.0f);

  // Masks: only the set elements count; an empty mask gives 0.
  const matrix values = Plane(4, 1, {1, 100, 3, 5});
  bitmask some(4, 1), none(4, 1);
  some.setbit(0, true), some.setbit(2, true), some.setbit(3, true);
  EXPECT_EQ(values.maskedmedian(&some), 3.0f);
  EXPECT_EQ(values.maskedwmmr(&some), 3.0f);  // 1, 3, 5: three values give the middle
  EXPECT_EQ(values.maskedmedian(&none), 0.0f);
  EXPECT_EQ(values.maskedwmmr(&none), 0.0f);
  EXPECT_EQ(values.maskedmedian(nullptr), 4.0f);  // even count: mean of the middle two
}

TEST_F(LocalFiltersTest, EveryFilterKeepsAConstantPlaneConstant) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {37, 23}};
  for (const auto& [w, h] : sizes) {
    for (const NamedFilter& f : Filters()) {
      for (int variant = 0; variant < 3; ++variant) {  // no mask; mask; mask + masked input
        SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" + std::to_string(h) +
                     " variant " + std::to_string(variant));
        matrix m(w, h);
        m.fill(37.25f);
        const bitmask mask = Checker(w, h);
        f.run(m, variant ? &mask : nullptr, variant == 2);
        EXPECT_EQ(Values(m), std::vector<float>(size_t(w * h), 37.25f));
      }
    }
  }
}

TEST_F(LocalFiltersTest, DiscFiltersAgreeWithScipy) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import scipy' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-scipy is not installed";
  }
  const matrix input = Picture(37, 23, 3);
  const std::filesystem::path in = home / "in.txt", out = home / "out.txt";
  {
    std::ofstream f(in);
    f.precision(9);
    f << input.nx << " " << input.ny << "\n";
    for (int k = 0; k < input.n; ++k) f << input.x[k] << "\n";
  }
  for (const char* what : {"mean", "median"}) {
    for (int r = 1; r <= 3; ++r) {
      SCOPED_TRACE(std::string(what) + " r" + std::to_string(r));
      const std::string cmd = std::string(python) + " " + ZEP_SOURCE_DIR +
                              "/tests/numeric/reference/disc_filters.py '" + in.string() + "' '" +
                              out.string() + "' " + what + " " + std::to_string(r);
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      std::ifstream f(out);
      int w = 0, h = 0;
      f >> w >> h;
      std::vector<double> theirs;
      for (double v; f >> v;) theirs.push_back(v);
      ASSERT_EQ(theirs.size(), size_t(input.n));
      matrix mine(input);
      if (std::string(what) == "mean") {
        mine.discmean(r, nullptr, false);
      } else {
        mine.discmedian(r, nullptr, false);
      }
      for (int k = 0; k < mine.n; ++k) EXPECT_NEAR(mine.x[k], theirs[size_t(k)], 1e-4) << k;
    }
  }
}

TEST_F(LocalFiltersTest, MaskedInputCountsOnlyMaskedNeighboursInsideThePlane) {
  // Centre 0 and its right neighbour 6 are masked; the rest holds 100.
  const matrix input = Plane(3, 3, {100, 100, 100, 100, 0, 6, 100, 100, 100});
  bitmask mask(3, 3);
  mask.set(1, 1, true), mask.set(2, 1, true);
  struct Case {
    const char* name;
    bool maskedInput;
    float centre, right;
  };
  // The whole disc reads the padded copy, which repeats the right column.
  const Case cases[] = {
      {"mean, masked input", true, 3.0f, 3.0f},
      {"mean, whole disc", false, (700 + 6) / 9.0f, (600 + 0 + 6 + 6) / 9.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    matrix m(input);
    m.discmean(1, &mask, c.maskedInput);
    EXPECT_FLOAT_EQ(m.at(1, 1), c.centre);
    EXPECT_FLOAT_EQ(m.at(2, 1), c.right);
    for (int k : {0, 1, 2, 3, 6, 7, 8}) EXPECT_EQ(m.x[k], input.x[k]);  // unmasked: untouched
  }
  // The median of {0, 6} is their mean, the WMMR of two values the smaller.
  matrix med(input), wm(input);
  med.discmedian(1, &mask, true);
  wm.discwmmr(1, &mask, true);
  EXPECT_EQ(med.at(1, 1), 3.0f);
  EXPECT_EQ(wm.at(2, 1), 0.0f);
  // A corner pixel of a 1 x 1 mask keeps its value: its window is itself alone.
  matrix corner(input);
  bitmask one(3, 3);
  one.set(0, 0, true);
  corner.discmedian(2, &one, true);
  EXPECT_EQ(Values(corner), Values(input));
}

TEST_F(LocalFiltersTest, SmallDiscMediansMatchTheGeneralPathWithNaNAndTies) {
  // Masked input with every bit set gathers the cells one by one; away from the border
  // it sees the same cells as the network of the unmasked radius-1 median and the
  // selection across eight samples of radii 2-5 (a NaN in some groups of eight, none in
  // others, and rows whose length leaves a few samples over). The wide
  // plane's rows go out in chunks of 512: NaN in one chunk, at a chunk's edge (columns
  // 510-513 are read by two chunks) and in the last column, none in the others.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Shape {
    int w, h;
    std::vector<int> nanAt;  // empty: every seventh sample
  } shapes[] = {
      {13, 11, {}},
      {1300, 5, {2 * 1300 + 700, 2 * 1300 + 703, 3 * 1300 + 511, 1 * 1300 + 1299, 3 * 1300 + 1299}},
      {203, 13, {6 * 203 + 40, 5 * 203 + 41, 7 * 203 + 199}}};
  for (const Shape& s : shapes) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    matrix input = Picture(s.w, s.h, 9);
    for (int k = 3; k < input.n; k += 5) input.x[k] = 10.0f;
    for (int k = 1; k < input.n; k += 11) input.x[k] = -inf;
    for (int k = 4; k < input.n; k += 13) input.x[k] = inf;
    for (int k = 2; k < input.n; k += 17) input.x[k] = -0.0f;
    if (s.nanAt.empty()) {
      for (int k = 0; k < input.n; k += 7) input.x[k] = nan;
    }
    for (int k : s.nanAt) input.x[k] = nan;
    bitmask all(s.w, s.h);
    for (int k = 0; k < all.n; ++k) all.setbit(k, true);
    for (int r = 1; r <= 5; ++r) {
      if (s.h <= 2 * r) continue;
      SCOPED_TRACE("r" + std::to_string(r));
      matrix fast(input), general(input);
      fast.discmedian(r, nullptr, false);
      general.discmedian(r, &all, true);
      for (int y = r; y < s.h - r; ++y) {
        for (int x = r; x < s.w - r; ++x) {
          const float a = fast.at(x, y), b = general.at(x, y);
          ASSERT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << x << "," << y;
        }
      }
    }
  }
}

TEST_F(LocalFiltersTest, DiscMeanAddsInDoubleOverMixedMagnitudes) {
  // Cells of 1e8 and -1e8 cancel beside small ones: a float sum would lose the small ones
  // whole (a float step at 1e8 is 8). These sums are exact in double.
  const float cells[] = {1e8f, -1e8f, 3e7f, -3e7f, 0.25f, 7.5f, 100.0f / 64, -3.0f, 255.0f};
  const int w = 37, h = 23;
  matrix input(w, h);
  for (int k = 0; k < input.n; ++k) input.x[k] = cells[(k * 5 + k / 7) % 9];
  auto half = [](int i, int n) { return i < 0 ? -1 - i : i >= n ? 2 * n - 1 - i : i; };
  for (const int r : {1, 2}) {
    SCOPED_TRACE("r" + std::to_string(r));
    matrix mine(input);
    mine.discmean(r, nullptr, false);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        double sum = 0;
        int count = 0;
        for (int dy = -r; dy <= r; ++dy) {
          for (int dx = -r; dx <= r; ++dx) {
            if (std::sqrt(float(dx * dx + dy * dy)) > r + 0.5f) continue;
            sum += input.at(half(x + dx, w), half(y + dy, h));
            ++count;
          }
        }
        const double expected = sum / count;
        ASSERT_NEAR(mine.at(x, y), expected, 1e-6 * std::max(1.0, std::fabs(expected)))
            << x << "," << y;
      }
    }
  }
}

TEST_F(LocalFiltersTest, WeightedMedianFilterAgreesWithABruteForceReference) {
  // Radius 1 gives a 7 x 7 window of exp(-(i/sigma)^2/2), normalised.
  matrix k;
  k.gaussian(1.0f, 3.0f);
  ASSERT_EQ(k.n, 7);
  std::vector<double> taps(7);
  double total = 0;
  for (int i = 0; i < 7; ++i) total += taps[size_t(i)] = std::exp(-0.5 * (i - 3) * (i - 3));
  matrix weights(7, 7);
  double sum = 0;
  for (int j = 0; j < 7; ++j) {
    for (int i = 0; i < 7; ++i) sum += weights.at(i, j) = float(taps[i] * taps[j] / total / total);
  }
  weights.mulscalar(float(1.0 / sum));

  const matrix input = Picture(9, 8, 4);
  const bitmask mask = Checker(9, 8);
  for (const bool maskedInput : {false, true}) {
    SCOPED_TRACE(maskedInput ? "masked input" : "padded copy");
    matrix mine(input);
    mine.weightedmedianfilter(weights, &mask, maskedInput);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 9; ++x) {
        if (!mask.get(x, y)) {
          EXPECT_EQ(mine.at(x, y), input.at(x, y));
          continue;
        }
        // Value-weight pairs: the padded copy repeats the edge sample; masked input drops
        // what lies outside and scales the rest to sum 1.
        std::vector<std::pair<float, double>> pairs;
        double kept = 0;
        for (int j = 0; j < 7; ++j) {
          for (int i = 0; i < 7; ++i) {
            const int sx = x + i - 3, sy = y + j - 3;
            const bool inside = sx >= 0 && sx < 9 && sy >= 0 && sy < 8;
            if (maskedInput && !inside) continue;
            const int cx = sx < 0 ? -1 - sx : sx >= 9 ? 17 - sx : sx;
            const int cy = sy < 0 ? -1 - sy : sy >= 8 ? 15 - sy : sy;
            pairs.emplace_back(input.at(cx, cy), weights.at(i, j));
            kept += weights.at(i, j);
          }
        }
        std::sort(pairs.begin(), pairs.end());
        double running = 0;
        float expected = pairs.back().first;
        for (const auto& [v, w] : pairs) {
          running += w / kept;
          if (running > 0.5) {
            expected = v;
            break;
          }
        }
        EXPECT_EQ(mine.at(x, y), expected) << x << "," << y;
      }
    }
  }
}

TEST_F(LocalFiltersTest, BilateralLeavesItsBorderAndFollowsTheRangeWeights) {
  const matrix input = Picture(20, 20, 6);
  for (const bool median : {false, true}) {
    SCOPED_TRACE(median ? "median" : "mean");
    matrix m(input);
    if (median) {
      m.bilateralmedian(50.0f, 1, 5, WeightGaussian, nullptr);
    } else {
      m.bilateral(50.0f, 1, 5, WeightGaussian, nullptr);
    }
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 20; ++x) {
        const bool border = x < 2 || x > 16 || y < 2 || y > 16;
        if (border) {
          EXPECT_EQ(m.at(x, y), input.at(x, y)) << x << "," << y;
        }
      }
    }
    // The first and last filtered pixels: a weighted median may keep a centre that
    // outweighs its neighbours, the mean does not.
    if (!median) {
      EXPECT_NE(m.at(2, 2), input.at(2, 2));
      EXPECT_NE(m.at(16, 16), input.at(16, 16));
    }
    EXPECT_NE(Values(m), Values(input));
  }

  // The mean against a plain double-precision evaluation, and the single-precision
  // exponential of the Gaussian weight against std::exp.
  matrix fast(input), exact(input);
  fast.bilateral(20.0f, 1, 5, WeightGaussian, nullptr);
  exact.bilateral(20.0f, 1, 5, Gauss, nullptr);
  double worst = 0;
  for (int y = 2; y <= 16; ++y) {
    for (int x = 2; x <= 16; ++x) {
      double s = 0, z = 0;
      for (int j = -2; j <= 2; ++j) {
        for (int i = -2; i <= 2; ++i) {
          const double v = input.at(x + i, y + j), d = (input.at(x, y) - v) / 20.0;
          s += std::exp(-d * d) * v;
          z += std::exp(-d * d);
        }
      }
      EXPECT_NEAR(exact.at(x, y), s / z, 1e-3);
      worst = std::max(worst, double(std::fabs(fast.at(x, y) - exact.at(x, y))));
    }
  }
  EXPECT_LE(worst, 1e-4);
}

TEST_F(LocalFiltersTest, SmoothingAlongOneAxisKeepsTheEndSamples) {
  const matrix input = Plane(4, 3, {0, 3, 6, 9, 1, 1, 1, 1, 2, 5, 2, 5});
  matrix x, y;
  x.smooth3x(input);
  y.smooth3y(input);
  EXPECT_EQ(Values(x), (std::vector<float>{0, 3, 6, 9, 1, 1, 1, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Values(y), (std::vector<float>{0, 3, 6, 9, 1, 3, 3, 5, 2, 5, 2, 5}));
}

TEST_F(LocalFiltersTest, OneAndEightThreadsGiveTheSameBytes) {
  const matrix input = Picture(311, 131, 8);
  const bitmask mask = Checker(311, 131);
  for (const NamedFilter& f : Filters()) {
    for (const bool masked : {false, true}) {
      SCOPED_TRACE(f.name);
      matrix one(input), eight(input);
      SetParallelThreads(1);
      f.run(one, masked ? &mask : nullptr, masked);
      SetParallelThreads(8);
      f.run(eight, masked ? &mask : nullptr, masked);
      SetParallelThreads(0);
      EXPECT_EQ(Values(one), Values(eight));
    }
  }
}

TEST_F(LocalFiltersTest, DiscFiltersAcrossManyRowBlocksMatchAPlainEvaluation) {
  // Wide enough that the rows go out in several blocks, each sliding its own window.
  const int w = 2000, h = 41;
  const matrix input = Picture(w, h, 12);
  auto half = [](int i, int n) { return i < 0 ? -1 - i : i >= n ? 2 * n - 1 - i : i; };
  // The mean also at radii 4 and 5, whose widest rows (9 and 11 cells) take other loops.
  for (const int r : {1, 2, 3, 4, 5}) {
    for (const int stat : {0, 1, 2}) {
      if (r > 3 && stat != 0) continue;
      SCOPED_TRACE("r" + std::to_string(r) + " statistic " + std::to_string(stat));
      matrix mine(input);
      if (stat == 0) mine.discmean(r, nullptr, false);
      if (stat == 1) mine.discmedian(r, nullptr, false);
      if (stat == 2) mine.discwmmr(r, nullptr, false);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          std::vector<float> cells;
          double sum = 0;
          for (int dy = -r; dy <= r; ++dy) {
            for (int dx = -r; dx <= r; ++dx) {
              if (std::sqrt(float(dx * dx + dy * dy)) > r + 0.5f) continue;
              cells.push_back(input.at(half(x + dx, w), half(y + dy, h)));
              sum += cells.back();
            }
          }
          std::sort(cells.begin(), cells.end());
          const float median = cells[cells.size() / 2];
          matrix sorted = Plane(int(cells.size()), 1, cells);
          const float expected = stat == 0   ? float(sum / double(cells.size()))
                                 : stat == 1 ? median
                                             : sorted.wmmr();
          ASSERT_EQ(mine.at(x, y), expected) << x << "," << y;
        }
      }
    }
  }
}
