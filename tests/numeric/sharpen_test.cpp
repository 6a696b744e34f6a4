// Unsharp masking, Xsharpen, the Mexican-hat filter with its zero-crossing edges and the
// Poisson sharpener.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/test_planes.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/zep_test.h"

namespace {
using SharpenTest = ZepTest;

matrix Constant(int w, int h, float v) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) m.x[k] = v;
  return m;
}

// Columns below `edge` at lo, the others at hi.
matrix Step(int w, int h, int edge, float lo, float hi) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) m.z[y][x] = x < edge ? lo : hi;
  }
  return m;
}

matrix Scaled(const matrix& noise, float a, float b) {
  matrix m(noise);
  for (int k = 0; k < m.n; ++k) m.x[k] = a + b * m.x[k];
  return m;
}
}  // namespace

TEST_F(SharpenTest, UnsharpResponseBands) {
  struct Case {
    float d, amount, t1, t2, t3, want;
  };
  const Case cases[] = {
      {10, 1, 0, 0, 255, 10},    // the defaults double a detail below the range
      {-3, 1, 0, 0, 255, -3},    //
      {255, 1, 0, 0, 255, 0},    // the band is open at t3
      {3, 1.5f, 5, 0, 255, -3},  // amount above 1: exactly back to the smoothed value
      {-4, 0.5f, 5, 0, 255, 2},  // otherwise towards it
      {7, 2, 10, 0, 5, -7},      // t1 above t2 and t3 is tested first
      {12, 2, 10, 0, 5, 0},      // and nothing beyond it is sharpened
      {1, 2, 0, 2, 8, 0},        // below t2: nothing
      {2, 2, 0, 2, 8, 4},        // t2 is in the band
      {-8, 2, 0, 2, 8, 0},       // t3 is not
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnsharpResponse(c.d, c.amount, c.t1, c.t2, c.t3), c.want)
        << c.d << " a " << c.amount << " t " << c.t1 << "," << c.t2 << "," << c.t3;
  }
}

TEST_F(SharpenTest, UnsharpOnEveryModeKeepsAConstantAndAmountAboveOneRestoresTheSmoothed) {
  const matrix picture = Scaled(Noise(21, 17, 3), 128, 100);
  for (int mode = 0; mode <= 5; ++mode) {
    SCOPED_TRACE(mode);
    const Smoother smoother = UnsharpSmoother(mode);
    matrix flat = Constant(21, 17, 100);
    flat.unsharp(smoother, 2, UnsharpResponse, 1, 0, 0, 255, nullptr);
    for (int k = 0; k < flat.n; ++k) ASSERT_NEAR(flat.x[k], 100, 1e-3) << k;

    if (mode == 4) continue;  // the LoG response is not a smoothed plane
    matrix smoothed(picture), m(picture);
    smoother(smoothed, 2, nullptr, false);
    m.unsharp(smoother, 2, UnsharpResponse, 1.5f, 1e6f, 0, 255, nullptr);
    for (int k = 0; k < m.n; ++k) ASSERT_NEAR(m.x[k], smoothed.x[k], 1e-4) << k;
  }
  EXPECT_EQ(UnsharpSmoother(5), UnsharpSmoother(0));  // an unknown mode is the Gaussian
  EXPECT_EQ(UnsharpSmoother(-1), UnsharpSmoother(0));
}

// The Gaussian mode uses each blurred row as it is made instead of smoothing a copy of the
// plane: the same bits as the copy, over several row blocks, lines shorter than the kernel,
// a tail of columns beyond the vector blocks and every band of the response.
TEST_F(SharpenTest, GaussianUnsharpEqualsSmoothingACopy) {
  const struct {
    int w, h, radius;
    float amount, t1, t2, t3;
  } cases[] = {
      {300, 200, 1, 1, 0, 0, 255},    {129, 301, 3, 1.5f, 4, 6, 30}, {37, 29, 2, 0.5f, 2, 1, 40},
      {70, 900, 1, 2, 0, 5, 12},      {5, 40, 1, 1, 0, 0, 255},      {40, 6, 2, 1, 0, 0, 255},
      {1, 1, 1, 1, 0, 0, 255},        {64, 64, 0, 1, 0, 0, 255},
  };
  for (const auto& c : cases) {
    const matrix input = Scaled(Noise(c.w, c.h, 41), 128, 60);
    matrix smoothed(input), expected(input), fused(input);
    smoothed.gaussbluri(c.radius, nullptr);
    for (int k = 0; k < expected.n; ++k) {
      expected.x[k] += UnsharpResponse(input.x[k] - smoothed.x[k], c.amount, c.t1, c.t2, c.t3);
    }
    fused.unsharp(UnsharpSmoother(0), c.radius, UnsharpResponse, c.amount, c.t1, c.t2, c.t3,
                  nullptr);
    EXPECT_EQ(Values(fused), Values(expected)) << c.w << "x" << c.h << " r" << c.radius;
  }
}

TEST_F(SharpenTest, UnsharpLoGAddsTheResponseAndAMaskLimitsThePixels) {
  const matrix picture = Scaled(Noise(19, 15, 5), 128, 100);
  matrix response;
  response.mexicanhat(2, picture, 1, true);
  matrix m(picture);
  m.unsharp(UnsharpSmoother(4), 2, UnsharpResponse, 1, 0, 0, 1e9f, nullptr);
  for (int k = 0; k < m.n; ++k) ASSERT_EQ(m.x[k], picture.x[k] + response.x[k]) << k;

  bitmask mask(19, 15);
  for (int k = 0; k < mask.n; k += 3) mask.setbit(k, true);
  matrix masked(picture), whole(picture);
  masked.unsharp(UnsharpSmoother(3), 1, UnsharpResponse, 1, 0, 0, 255, &mask);
  whole.unsharp(UnsharpSmoother(3), 1, UnsharpResponse, 1, 0, 0, 255, nullptr);
  for (int k = 0; k < m.n; ++k) {
    ASSERT_EQ(masked.x[k], mask.getbit(k) ? whole.x[k] : picture.x[k]) << k;
  }
}

TEST_F(SharpenTest, MexicanHatLengths) {
  const std::pair<float, int> lengths[] = {{0.4f, 3}, {1, 7}, {0.1f, 3}, {1.5f, 9}, {2, 13}};
  for (const auto& [sigma, n] : lengths) {
    matrix g, h, k;
    MexicanHatKernels(sigma, g, h, true, k);
    EXPECT_EQ(g.n, n) << sigma;
    EXPECT_EQ(h.n, n) << sigma;
  }
}

TEST_F(SharpenTest, MexicanHatKernelsAreNormalised) {
  for (const float sigma : {0.4f, 1.0f, 2.5f}) {
    for (const bool zeroMean : {false, true}) {
      SCOPED_TRACE(testing::Message() << sigma << (zeroMean ? " zero mean" : ""));
      matrix g, h, k;
      MexicanHatKernels(sigma, g, h, zeroMean, k);
      EXPECT_NEAR(g.sum(), 1, 1e-6);
      double sum = 0, l1 = 0;
      for (int j = 0; j < g.n; ++j) {
        for (int i = 0; i < g.n; ++i) {
          const double v = double(g.x[i]) * h.x[j] + double(h.x[i]) * g.x[j];
          sum += v;
          l1 += std::fabs(v);
        }
      }
      EXPECT_NEAR(l1, 1, 1e-5);
      if (zeroMean) {
        EXPECT_NEAR(sum, 0, 1e-6);
      }
      EXPECT_GT(h.x[g.n / 2], 0);  // positive at the centre: a bright spot responds
    }
  }
}

TEST_F(SharpenTest, MexicanHatMatchesTheDirectTwoDimensionalCorrelation) {
  const matrix input = Noise(17, 15, 11);
  matrix g, h, k, response;
  MexicanHatKernels(1, g, h, true, k);
  response.mexicanhat(1, input, 1, true);
  const int d = g.n / 2;
  for (int y = d; y < input.ny - d; ++y) {
    for (int x = d; x < input.nx - d; ++x) {
      double want = 0;
      for (int j = 0; j < g.n; ++j) {
        for (int i = 0; i < g.n; ++i) {
          want +=
              (double(g.x[i]) * h.x[j] + double(h.x[i]) * g.x[j]) * input.z[y + j - d][x + i - d];
        }
      }
      ASSERT_NEAR(response.z[y][x], want, 1e-5) << x << "," << y;
    }
  }
  // A constant has no response, also on planes smaller than the kernel.
  for (const auto& [w, hgt] : {std::pair{9, 7}, std::pair{2, 2}, std::pair{1, 5}}) {
    matrix r;
    r.mexicanhat(2, Constant(w, hgt, 200), 1, true);
    for (int i = 0; i < r.n; ++i) ASSERT_NEAR(r.x[i], 0, 1e-3) << w << "x" << hgt;
  }
  // No width, no response.
  matrix none;
  none.mexicanhat(0, input, 1, true);
  for (int i = 0; i < none.n; ++i) ASSERT_EQ(none.x[i], 0);
}

TEST_F(SharpenTest, MaskedLogFilterEqualsTheUnmaskedOneUnderTheMask) {
  const matrix input = Scaled(Noise(30, 24, 17), 100, 50);
  matrix whole(input);
  whole.logfilter(1.5f, nullptr);
  bitmask mask(30, 24);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 5; ++x) mask.set(x, y, true);  // at the corner: borders fold
  }
  for (int y = 10; y < 20; ++y) mask.set(15 + y % 4, y, true);
  matrix masked(input);
  masked.logfilter(1.5f, &mask);
  for (int k = 0; k < input.n; ++k) {
    if (mask.getbit(k)) {
      ASSERT_NEAR(masked.x[k], whole.x[k], 1e-4) << k;
    } else {
      ASSERT_EQ(masked.x[k], input.x[k]) << k;
    }
  }
  matrix empty(input);
  const bitmask none(30, 24);
  empty.logfilter(1.5f, &none);
  EXPECT_EQ(Values(empty), Values(input));
}

TEST_F(SharpenTest, ZeroCrossingsPairsAndThreshold) {
  // Centre (1, 1) of a 3 x 3 response; rows listed from the bottom.
  struct Case {
    std::vector<float> v;
    float threshold;
    bool set;
  };
  const Case cases[] = {
      {{0, 0, 0, -1, 5, 2, 0, 0, 0}, 2.9f, true},    // left and right: 3
      {{0, 0, 0, -1, 5, 2, 0, 0, 0}, 3.0f, false},   // strictly above the threshold
      {{0, 2, 0, 0, 5, 0, 0, -1, 0}, 2.9f, true},    // bottom and top
      {{0, 0, 1, 0, 5, 0, -1, 0, 0}, 1.414f, true},  // a diagonal: 2 x 0.7071...
      {{0, 0, 1, 0, 5, 0, -1, 0, 0}, 1.4143f, false},
      {{1, 0, 0, 0, 5, 0, 0, 0, -1}, 1.414f, true},  // the other diagonal
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 0, false},       // no sign change
      {{0, 0, 0, 0, 5, 4, 0, 0, 0}, 0, false},       // a zero is no change of sign
  };
  for (const Case& c : cases) {
    matrix r(3, 3);
    for (int k = 0; k < 9; ++k) r.x[k] = c.v[size_t(k)];
    bitmask mask(3, 3);
    r.zerocrossings(mask, c.threshold);
    for (int k = 0; k < 9; ++k)
      EXPECT_EQ(mask.getbit(k), k == 4 && c.set) << c.threshold << " " << k;
  }
}

TEST_F(SharpenTest, EdgeMaskMarksAStepOnlyAddsBitsAndLeavesThePlane) {
  const matrix step = Step(14, 9, 7, 0, 100);
  matrix plane(step);
  bitmask mask(14, 9);
  mask.set(0, 0, true);  // a bit already set stays set
  plane.edgemask(1, 1, &mask, true);
  EXPECT_EQ(Values(plane), Values(step));
  EXPECT_TRUE(mask.get(0, 0));
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 14; ++x) {
      if (x == 0 && y == 0) continue;
      const bool onEdge = (x == 6 || x == 7) && y >= 1 && y <= 7;
      EXPECT_EQ(mask.get(x, y), onEdge) << x << "," << y;
    }
  }
  plane.edgemask(1, 1, nullptr, true);  // nothing to mark
  bitmask high(14, 9);
  plane.edgemask(1, 1e6f, &high, true);
  int count = 0, bx = 0, by = 0, bw = 0, bh = 0;
  high.bounds(count, bx, by, bw, bh);
  EXPECT_EQ(count, 0);
}

TEST_F(SharpenTest, XsharpenCases) {
  struct Case {
    const char* name;
    std::vector<float> columns;  // every row alike
    float threshold, amount;
    float want;  // the pixel at column 1 of row 1 afterwards
  };
  const Case cases[] = {
      {"a step below the threshold", {10, 10, 13, 13, 13}, 5, 1, 10},
      {"halfway up a ramp: a tie goes to max", {0, 10, 20, 20, 20}, 5, 1, 20},
      {"nearer to the minimum", {0, 8, 20, 20, 20}, 5, 1, 0},
      {"part of the way", {0, 8, 20, 20, 20}, 5, 0.5f, 4},
      {"too close to the minimum", {0, 4, 20, 20, 20}, 5, 1, 4},
  };
  for (const Case& c : cases) {
    matrix m(5, 5);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 5; ++x) m.z[y][x] = c.columns[size_t(x)];
    }
    m.xsharpen(3, c.threshold, c.amount, nullptr);
    EXPECT_EQ(m.z[1][1], c.want) << c.name;
  }
}

TEST_F(SharpenTest, XsharpenLeavesTheBorderAndOneMoreRowAndColumn) {
  const matrix input = Scaled(Noise(12, 10, 23), 128, 100);
  bitmask mask(12, 10);
  for (int k = 0; k < mask.n; k += 2) mask.setbit(k, true);
  for (const bool masked : {false, true}) {
    matrix m(input);
    m.xsharpen(5, 1e-3f, 1, masked ? &mask : nullptr);
    int changed = 0;
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 12; ++x) {
        const bool visited =
            x >= 2 && x <= 12 - 3 - 1 && y >= 2 && y <= 10 - 3 - 1 && (!masked || mask.get(x, y));
        if (!visited) {
          EXPECT_EQ(m.z[y][x], input.z[y][x]) << x << "," << y;
        }
        changed += m.z[y][x] != input.z[y][x];
      }
    }
    EXPECT_GT(changed, 0);
  }
  // Windows as wide as the plane, or of no width, visit nothing.
  for (const int w : {12, 10, 0, -3}) {
    matrix m(input);
    m.xsharpen(w, 1e-3f, 1, nullptr);
    EXPECT_EQ(Values(m), Values(input)) << w;
  }
}

namespace {
// Xsharpen as a plain scan of every window: the extremes are the first found in reading
// order, starting from -+1e10, so NaN never wins and of two zeros the earlier counts.
matrix ScannedXsharpen(const matrix& in, int w, float threshold, float amount,
                       const bitmask* mask) {
  matrix out(in);
  const int half = w / 2;
  for (int i = 0; i + w < in.ny; ++i) {
    for (int j = 0; j + w < in.nx; ++j) {
      const int cx = j + half, cy = i + half;
      if (mask != nullptr && !mask->get(cx, cy)) continue;
      float hi = -1e10f, lo = 1e10f;
      for (int r = 0; r < w; ++r) {
        for (int c = 0; c < w; ++c) {
          hi = std::max(hi, in.z[i + r][j + c]);
          lo = std::min(lo, in.z[i + r][j + c]);
        }
      }
      const float v = in.z[cy][cx];
      if (hi - v >= threshold && v - lo >= threshold) {
        out.z[cy][cx] = v * (1.0f - amount) + amount * (hi - v > v - lo ? lo : hi);
      }
    }
  }
  return out;
}

std::vector<uint32_t> Bits(const matrix& m) {
  std::vector<uint32_t> bits(size_t(m.n));
  std::memcpy(bits.data(), m.x, bits.size() * sizeof(float));
  return bits;
}
}  // namespace

TEST_F(SharpenTest, XsharpenEqualsAScanOfEveryWindow) {
  // Few levels, so ties are everywhere, with both zeros, NaN, infinities and values past
  // the scan's starting extremes; the wide plane is cut into several strips.
  const float specials[] = {0.0f, -0.0f, NAN, INFINITY, -INFINITY, 3e10f, -3e10f, -2.0f};
  for (const auto& [nx, ny] : {std::pair{7, 5}, {10, 11}, {33, 21}, {2049, 141}}) {
    matrix input = Noise(nx, ny, uint32_t(nx * ny));
    for (int k = 0; k < input.n; ++k) {
      const float v = std::round(input.x[k] * 3.0f);
      input.x[k] = k % 7 == 3 ? specials[(k / 7) % 8] : v;
    }
    bitmask mask(nx, ny);
    for (int k = 0; k < mask.n; k += 3) mask.setbit(k, true);
    for (const int w : {1, 3, 5, 7, 9}) {
      for (const bool masked : {false, true}) {
        for (const float amount : {1.0f, 0.5f}) {
          const bitmask* m = masked ? &mask : nullptr;
          matrix ours(input);
          ours.xsharpen(w, 0.5f, amount, m);
          EXPECT_EQ(Bits(ours), Bits(ScannedXsharpen(input, w, 0.5f, amount, m)))
              << nx << "x" << ny << " w " << w << " masked " << masked << " amount " << amount;
        }
      }
    }
  }
}

TEST_F(SharpenTest, OneAndEightThreadsGiveTheSameBytes) {
  const matrix input = Scaled(Noise(301, 157, 29), 128, 100);
  bitmask mask(301, 157);
  for (int k = 0; k < mask.n; k += 3) mask.setbit(k, true);
  const std::function<void(matrix&)> runs[] = {
      [](matrix& m) { m.xsharpen(7, 2, 0.5f, nullptr); },
      [&](matrix& m) { m.xsharpen(3, 2, 0.5f, &mask); },
      [](matrix& m) { m.unsharp(UnsharpSmoother(0), 3, UnsharpResponse, 1, 0, 0, 255, nullptr); },
      [&](matrix& m) { m.unsharp(UnsharpSmoother(4), 2, UnsharpResponse, 1, 0, 0, 255, &mask); },
      [](matrix& m) { m.logfilter(2.5f, nullptr); },
      [](matrix& m) { m.poissonsharpen(4, 2, 0.25f); },
  };
  for (size_t i = 0; i < std::size(runs); ++i) {
    matrix one(input), eight(input);
    SetParallelThreads(1);
    runs[i](one);
    SetParallelThreads(8);
    runs[i](eight);
    SetParallelThreads(0);
    EXPECT_EQ(Values(one), Values(eight)) << i;
  }
}

TEST_F(SharpenTest, PoissonLevelGains) {
  const struct {
    float amount, scale;
    std::vector<float> gains;
  } cases[] = {
      {2, 0.5f, {2, 2, 2, 2}},                  // 2 x 0.5 + 1 = 2 at every level
      {2, 0.25f, {2, 1.5f, 1.375f, 1.34375f}},  // towards 1 / (1 - 0.25)
      {3, 0, {3, 1, 1}},                        // no scale: only the finest level
      {3, -1, {3, 1, 1}},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < int(c.gains.size()); ++i) {
      EXPECT_EQ(PoissonLevelGain(c.amount, c.scale, i), c.gains[i]) << c.amount << " " << c.scale;
    }
  }
}

TEST_F(SharpenTest, PoissonWithoutGainOrOnAConstantChangesNothing) {
  const matrix noise = Scaled(Noise(23, 18, 3), 120, 60);
  const std::pair<matrix, float> cases[] = {{noise, 1.0f}, {Constant(23, 18, 77), 3.0f}};
  for (const auto& [input, amount] : cases) {
    matrix m(input);
    StartProgress(10);
    m.poissonsharpen(10, amount, 0);
    EXPECT_EQ(Values(m), Values(input)) << amount;
  }
}

// Sum of the squared differences of horizontal and vertical neighbours.
static double GradientEnergy(const matrix& m) {
  double e = 0;
  for (int y = 0; y < m.ny; ++y) {
    for (int x = 0; x < m.nx; ++x) {
      if (x + 1 < m.nx) e += std::pow(double(m.z[y][x + 1]) - m.z[y][x], 2);
      if (y + 1 < m.ny) e += std::pow(double(m.z[y + 1][x]) - m.z[y][x], 2);
    }
  }
  return e;
}

TEST_F(SharpenTest, PoissonSteepensASoftEdgeMoreForALargerAmountAndACancelKeepsThePlane) {
  matrix soft = Step(32, 24, 16, 60, 180);
  soft.gaussbluri(2, nullptr);
  const double before = GradientEnergy(soft);
  double last = before;
  for (const float amount : {1.5f, 2.0f, 3.0f}) {
    matrix m(soft);
    StartProgress(30);
    m.poissonsharpen(30, amount, 0.25f);
    const double energy = GradientEnergy(m);
    EXPECT_GT(energy, last * 1.05) << amount;
    last = energy;
  }

  matrix cancelled(soft);
  StartProgress(30);
  platform.CancelAtPoll(3);
  EXPECT_THROW(cancelled.poissonsharpen(30, 2, 0.25f), Cancelled);
  EXPECT_EQ(Values(cancelled), Values(soft));
}
