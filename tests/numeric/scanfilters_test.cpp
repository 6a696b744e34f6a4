// The smoothers along the scan paths: the one-dimensional backlash and bilateral mean, their
// four-path combinations and the multi-scale merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/fastexp.h"
#include "numeric/matrixarray.h"
#include "platform/parallel.h"
#include "test_planes.h"

namespace {
// A colour triple as the image's pixels hold one.
struct Triple {
  float x = 0, y = 0, z = 0;
  Triple() = default;
  Triple(float a, float b, float c) : x(a), y(b), z(c) {}
};

matrix Sequence(const std::vector<float>& v) {
  matrix m(int(v.size()), 1);
  for (size_t i = 0; i < v.size(); ++i) m.x[i] = v[i];
  return m;
}

matrix Constant(int w, int h, float c) {
  matrix m(w, h);
  m.fill(c);
  return m;
}

double Mean(const matrix& m) { return m.sum() / m.n; }

double StdDev(const matrix& m) {
  const double mean = Mean(m);
  double s = 0.0;
  for (int k = 0; k < m.n; ++k) s += (m.x[k] - mean) * (m.x[k] - mean);
  return std::sqrt(s / m.n);
}

// The left half of the columns against the right half.
matrix HalfColumns(const matrix& m, bool right) {
  matrix half(m.nx / 2, m.ny);
  for (int y = 0; y < m.ny; ++y) {
    for (int x = 0; x < half.nx; ++x) half.z[y][x] = m.z[y][x + (right ? m.nx - half.nx : 0)];
  }
  return half;
}

float MaxAbsDifference(const matrix& a, const matrix& b) {
  float d = 0.0f;
  for (int k = 0; k < a.n; ++k) d = std::max(d, std::fabs(a.x[k] - b.x[k]));
  return d;
}
}  // namespace

TEST(ScanFilters, BacklashExamples) {
  struct Case {
    float d;
    std::vector<float> in, out;
  };
  const Case cases[] = {
      // Four times the mean band centres 0, 5, 15, 12.5, 0.
      {10.0f, {0, 5, 20, 15, 0}, {0, 20, 60, 50, 0}},
      // A constant: both bands sit at [v - d, v], so 4 (v - d/2).
      {4.0f, {7, 7, 7}, {20, 20, 20}},
      {4.0f, {9}, {28}},
  };
  for (const Case& c : cases) {
    matrix m = Sequence(c.in);
    m.hysteresis1d(c.d);
    EXPECT_EQ(Values(m), c.out);
  }
  matrix empty;
  EXPECT_EQ(empty.hysteresis1d(3.0f).n, 0);
}

// Oscillations of 3 under a play of 10 become flat; the step of 50 passes where it was.
TEST(ScanFilters, BacklashFlattensSmallOscillationsAndKeepsALargeStep) {
  std::vector<float> v;
  for (int i = 0; i < 40; ++i) v.push_back((i < 20 ? 0.0f : 50.0f) + (i % 2 ? 3.0f : 0.0f));
  matrix m = Sequence(v);
  m.hysteresis1d(10.0f);
  for (int i = 2; i <= 18; ++i) EXPECT_EQ(m.x[i], m.x[1]) << i;
  for (int i = 22; i <= 39; ++i) EXPECT_EQ(m.x[i], m.x[21]) << i;
  EXPECT_EQ(m.x[1], 6.0f);
  EXPECT_EQ(m.x[21], 192.0f);
  EXPECT_GT(m.x[20] - m.x[19], 4 * 40.0f);
  EXPECT_LT(m.x[19] - m.x[1], 4 * 3.0f);
}

TEST(ScanFilters, FourPathBacklashKeepsConstantsAndTheInputsMeanAndEdges) {
  matrix flat = Constant(13, 9, 42.5f);
  matrix input(flat);
  flat.hysteresis4(input, 40.0f);
  EXPECT_EQ(Values(flat), Values(Constant(13, 9, 42.5f)));
  EXPECT_EQ(Values(input), Values(Constant(13, 9, 0.0f)));  // the input loses its mean

  // A step of 100 with a checkerboard of +-2 on it, play 20: the step stays where it was.
  matrix step(40, 30);
  for (int y = 0; y < step.ny; ++y) {
    for (int x = 0; x < step.nx; ++x)
      step.z[y][x] = (x < 20 ? 0.0f : 100.0f) + ((x + y) % 2 ? 2.0f : -2.0f);
  }
  matrix out, copy(step);
  out.hysteresis4(copy, 20.0f);
  EXPECT_NEAR(Mean(out), Mean(step), 1e-3);
  const matrix left = HalfColumns(out, false), right = HalfColumns(out, true);
  float lo = 0, hi = 0;
  left.minmax(lo, hi);
  EXPECT_LT(hi, 50.0f);
  right.minmax(lo, hi);
  EXPECT_GT(lo, 50.0f);

  // Noise whose whole range lies within the play: nearly nothing of it is left.
  matrix noise = Noise(37, 23, 5);
  noise.affine(2.5f, 2.5f);  // [0, 5)
  matrix smooth, noiseCopy(noise);
  smooth.hysteresis4(noiseCopy, 20.0f);
  EXPECT_NEAR(Mean(smooth), Mean(noise), 1e-3);
  EXPECT_LT(StdDev(smooth), 0.3 * StdDev(noise));
}

TEST(ScanFilters, BilateralMeanLeavesShortSequencesRampsAndStepsAlone) {
  // r 20 needs 81 samples for one full window.
  const matrix short80 = Noise(80, 1, 3);
  matrix m(short80);
  EXPECT_EQ(Values(m.bilateral1d(5.0f, 20)), Values(short80));
  const matrix just81 = Noise(81, 1, 4);
  m = just81;
  m.bilateral1d(5.0f, 20);
  for (int i = 0; i < 81; ++i) {
    if (i != 40) {
      EXPECT_EQ(m.x[i], just81.x[i]) << i;
    }
  }
  EXPECT_NE(m.x[40], just81.x[40]);

  // Symmetric weights keep a ramp; a step far beyond the range deviation keeps its edge.
  std::vector<float> ramp, step;
  for (int i = 0; i < 200; ++i) {
    ramp.push_back(0.5f * float(i));
    step.push_back(i < 100 ? 10.0f : 110.0f);
  }
  m = Sequence(ramp);
  m.bilateral1d(3.0f, 5);
  EXPECT_LT(MaxAbsDifference(m, Sequence(ramp)), 1e-4f);
  m = Sequence(step);
  m.bilateral1d(5.0f, 5);
  EXPECT_EQ(Values(m), step);

  // Noise well within the range deviation is smoothed.
  matrix noise = Noise(500, 1, 9);
  const double before = StdDev(noise);
  noise.bilateral1d(20.0f, 4);
  EXPECT_LT(StdDev(noise), 0.5 * before);
}

TEST(ScanFilters, FourPathBilateralKeepsAConstant) {
  const matrix flat = Constant(30, 25, 37.5f);
  matrix out;
  out.bilateral4(flat, 5.0f, 3);
  EXPECT_EQ(Values(out), Values(flat));
  // Tiles: a constant stays one also where a mask cuts one out.
  matrix masked = flat;
  bitmask mask(30, 25);
  mask.set(29, 24, true);
  mask.set(3, 4, true);
  masked.bilateralrepeat(2, 5.0f, 3, &mask);
  EXPECT_EQ(Values(masked), Values(flat));
}

TEST(ScanFilters, ColourFiltersOnConstantsAndSteps) {
  // The colour backlash on a constant: both centres stop at the distance t sqrt(3)/2 from
  // it and stay there.
  cvector<Triple> seq(5);
  for (int i = 0; i < seq.n; ++i) seq[i] = Triple(50, 60, 70);
  seq.hysteresis1d(10.0f);
  for (int i = 0; i < seq.n; ++i) {
    EXPECT_EQ(seq[i].x, seq[0].x);
    EXPECT_EQ(seq[i].z, seq[0].z);
  }
  const double dx = seq[0].x / 2 - 50, dy = seq[0].y / 2 - 60, dz = seq[0].z / 2 - 70;
  EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), 5.0 * std::sqrt(3.0), 1e-3);
  // A colour step far beyond the tolerance passes at its place.
  cvector<Triple> step(30);
  for (int i = 0; i < step.n; ++i) step[i] = i < 15 ? Triple(0, 0, 0) : Triple(100, 90, 80);
  step.hysteresis1d(5.0f);
  EXPECT_LT(step[14].x, 10.0f);
  EXPECT_GT(step[15].x, 180.0f);

  // The colour bilateral mean: a constant stays, a short sequence is copied.
  cvector<Triple> flat(50), out;
  for (int i = 0; i < flat.n; ++i) flat[i] = Triple(1.5f, 2.5f, 3.5f);
  flat.bilateral1d(5.0f, 3, out);
  ASSERT_EQ(out.n, 50);
  for (int i = 0; i < out.n; ++i) EXPECT_EQ(out[i].y, 2.5f);
  flat.bilateral1d(5.0f, 20, out);
  for (int i = 0; i < out.n; ++i) EXPECT_EQ(out[i].z, 3.5f);
}

TEST(ScanFilters, MinAbsKeepsTheSmallestMagnitudeAndTheFirstOnTies) {
  matrix a = Sequence({3, -2, 1, 0, -4});
  a.minabs(Sequence({-3, 1, -0.5f, 5, 4}));
  EXPECT_EQ(Values(a), (std::vector<float>{3, 1, -0.5f, 0, -4}));
  matrix b = Sequence({8, 8, 8, 8});
  b.minabs5(Sequence({7, 9, 9, 9}), Sequence({9, -6, 9, 9}), Sequence({9, 9, 5, 9}),
            Sequence({9, 9, 9, -8}));
  EXPECT_EQ(Values(b), (std::vector<float>{7, -6, 5, 8}));
  // The array forms stop at the level count.
  matrixarray p(2, 2, 1), q(2, 2, 1);
  p[0].fill(4);
  p[1].fill(4);
  q[0].fill(1);
  q[1].fill(1);
  p.minabs(q, 1);
  EXPECT_EQ(p[0].x[0], 1.0f);
  EXPECT_EQ(p[1].x[0], 4.0f);
}

// A constant c goes through the merge as 4 (c - d/2) at every level, so the pass gives
// c - d/2; the reconstruction from the (zero) targets keeps it, on every size.
TEST(ScanFilters, MultiScaleBacklashOnConstantsOfEverySize) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 7}, {2, 2}, {3, 5}, {40, 23}, {64, 64}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const matrix flat = Constant(w, h, 100.0f);
    for (int flag = 0; flag <= 1; ++flag) {
      matrix m(flat);
      m.hysteresissmooth(1, 20.0f, 5, flag);
      EXPECT_LT(MaxAbsDifference(m, Constant(w, h, 90.0f)), 1e-3f) << flag;
    }
  }
}

TEST(ScanFilters, HaloIterationsZeroLeaveTheMergeAlone) {
  const matrix input = Noise(33, 21, 8);
  matrix out[4], merged, pass;
  merged.hysteresismultiscale(input, 0.5f, out);
  pass.hysteresispass(input, 0.5f, 0, 0);
  EXPECT_EQ(Values(pass), Values(merged));
  // With iterations the reconstruction moves it, and ends finite.
  matrix repaired;
  repaired.hysteresispass(input, 0.5f, 10, 0);
  EXPECT_NE(Values(repaired), Values(merged));
  for (int k = 0; k < repaired.n; ++k) ASSERT_TRUE(std::isfinite(repaired.x[k])) << k;
}

TEST(ScanFilters, SameResultOnOneThreadAndOnEight) {
  const matrix input = Noise(300, 170, 11);
  std::vector<float> results[2][3];
  for (int run = 0; run < 2; ++run) {
    SetParallelThreads(run == 0 ? 1 : 8);
    matrix a, copy(input);
    a.hysteresis4(copy, 0.3f);
    matrix b;
    b.bilateral4(input, 0.4f, 5);
    cvector<Triple> seq, out;
    seq.gatherscan(input, input, input, 0).bilateral1d(0.4f, 5, out);
    matrix c(input);
    out.scatterscan(c, c, c, 0);
    results[run][0] = Values(a);
    results[run][1] = Values(b);
    results[run][2] = Values(c);
  }
  SetParallelThreads(0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(results[0][i], results[1][i]) << i;
}

namespace {
// The bilateral means in double with std::exp, the plain weighted mean of the samples: the
// definition the single-precision chunks must stay close to.
float ReferenceBilateral(const float* h, const float* c, int channels, int r, double scale, int q) {
  double num = 0.0, den = 0.0;
  for (int j = 0; j <= 4 * r; ++j) {
    const double t = double(j - 2 * r) / r;
    double dist = 0.0;
    for (int k = 0; k < channels; ++k) {
      const double d = double(c[k]) - h[channels * j + k];
      dist += d * d;
    }
    const float weight = float(std::exp(-t * t / 2.0) * std::exp(-dist * scale));
    num += double(weight) * h[channels * j + q];
    den += weight;
  }
  return float(num / den);
}
}  // namespace

TEST(ScanFilters, BilateralMeansStayWithinATenThousandthOfTheDoubleDefinition) {
  for (const int r : {1, 3, 20}) {
    for (const float s : {0.4f, 5.0f, 20.0f, 60.0f}) {
      SCOPED_TRACE(testing::Message() << "r " << r << " s " << s);
      // Noise on a few levels and steps, on the 0-255 scale.
      matrix a = Noise(600, 1, 21), b = Noise(600, 1, 22), c = Noise(600, 1, 23);
      for (int k = 0; k < a.n; ++k) {
        const float step = (k / 50) % 2 == 0 ? 40.0f : 160.0f;
        a.x[k] = step + 20.0f * a.x[k];
        b.x[k] = 0.5f * step + 10.0f * b.x[k];
        c.x[k] = 255.0f - step + 5.0f * c.x[k];
      }
      const int taps = 4 * r + 1;
      matrix grey(a);
      grey.bilateral1d(s, r);
      cvector<Triple> seq, out;
      seq.gatherscan(a, b, c, 0).bilateral1d(s, r, out);
      std::vector<float> triples;
      for (int k = 0; k < a.n; ++k) triples.insert(triples.end(), {a.x[k], b.x[k], c.x[k]});
      for (int p = 0; p + taps <= a.n; ++p) {
        const int centre = p + 2 * r;
        const float want = ReferenceBilateral(a.x + p, a.x + centre, 1, r, 1.0 / (2.0 * s * s), 0);
        ASSERT_NEAR(grey.x[centre], want, 1e-4 * std::max(1.0f, std::fabs(want))) << p;
        const float got[3] = {out[centre].x, out[centre].y, out[centre].z};
        for (int q = 0; q < 3; ++q) {
          const float colour = ReferenceBilateral(
              triples.data() + 3 * p, triples.data() + 3 * centre, 3, r, 1.0 / (6.0 * s * s), q);
          ASSERT_NEAR(got[q], colour, 1e-4 * std::max(1.0f, std::fabs(colour))) << p << " " << q;
        }
      }
    }
  }
}

namespace {
// The bilateral means with each tap's range factor computed in place, in the filter's own
// single-precision operations: the filter shares one factor between the two taps that weigh
// the same pair of samples, which must give these bits exactly.
// Equal bits, or NaN both.
bool SameFloat(float a, float b) {
  return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

void TapByTap(const std::vector<const float*>& v, int n, int r, float scale, float* out) {
  const int channels = int(v.size()), taps = 4 * r + 1;
  std::vector<float> w(size_t(taps), 0.0f);
  for (int j = 0; j < taps; ++j) {
    const double t = double(j - 2 * r) / r;
    w[size_t(j)] = float(std::exp(-t * t / 2.0));
  }
  for (int i = 2 * r; i + 2 * r < n; ++i) {
    float num[3] = {0, 0, 0}, den = 0.0f;
    for (int j = 0; j < taps; ++j) {
      float d[3], dist = 0.0f;
      for (int q = 0; q < channels; ++q) {
        d[q] = v[size_t(q)][i - 2 * r + j] - v[size_t(q)][i];
        dist = q == 0 ? d[q] * d[q] : dist + d[q] * d[q];
      }
      const float weight = w[size_t(j)] * ExpNegative(std::max(-dist * scale, -60.0f));
      for (int q = 0; q < channels; ++q) num[q] += weight * d[q];
      den += weight;
    }
    for (int q = 0; q < channels; ++q) out[channels * i + q] = v[size_t(q)][i] + num[q] / den;
  }
}
}  // namespace

TEST(ScanFilters, BilateralMeansGiveTheBitsOfTapByTapWeights) {
  // Several chunks of outputs, radii on both sides of the table's limit, samples that are
  // not finite, and ranges from none to huge.
  const int n = 1400;
  matrix a = Noise(n, 1, 31), b = Noise(n, 1, 32), c = Noise(n, 1, 33);
  for (int k = 0; k < n; ++k) {
    const float step = (k / 90) % 2 == 0 ? 30.0f : 150.0f;
    a.x[k] = step + 15.0f * a.x[k];
    b.x[k] = 0.5f * step + 8.0f * b.x[k];
    c.x[k] = 200.0f - step + 4.0f * c.x[k];
  }
  a.x[700] = NAN;
  b.x[333] = INFINITY;
  for (const int r : {1, 2, 20, 64, 65, 100}) {
    for (const float s : {0.0f, 0.5f, 12.0f, 1e20f}) {
      SCOPED_TRACE(testing::Message() << "r " << r << " s " << s);
      matrix grey(a);
      grey.bilateral1d(s, r);
      std::vector<float> want(a.x, a.x + n);
      TapByTap({a.x}, n, r, float(1.0 / (2.0 * double(s) * s)), want.data());
      for (int k = 0; k < n; ++k) {
        ASSERT_TRUE(SameFloat(grey.x[k], want[size_t(k)])) << k << ": " << grey.x[k] << " " << want[size_t(k)];
      }
      cvector<Triple> seq, out;
      seq.gatherscan(a, b, c, 0).bilateral1d(s, r, out);
      std::vector<float> colour(3 * size_t(n));
      for (int k = 0; k < n; ++k) {
        colour[3 * size_t(k)] = a.x[k];
        colour[3 * size_t(k) + 1] = b.x[k];
        colour[3 * size_t(k) + 2] = c.x[k];
      }
      TapByTap({a.x, b.x, c.x}, n, r, float(1.0 / (6.0 * double(s) * s)), colour.data());
      for (int k = 0; k < n; ++k) {
        const float got[3] = {out[k].x, out[k].y, out[k].z};
        for (int q = 0; q < 3; ++q) {
          ASSERT_TRUE(SameFloat(got[q], colour[3 * size_t(k) + q])) << k << " " << q;
        }
      }
    }
  }
}
