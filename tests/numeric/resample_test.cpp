#include "numeric/resample.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "numeric/kernels.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using ResampleTest = ZepTest;

namespace {
using Builder = std::function<matrix&(matrix&, int n, double scale, float shift, bool aa)>;

struct NamedBuilder {
  const char* name;
  Builder build;
};

const std::vector<NamedBuilder>& ForScaleBuilders() {
  static const std::vector<NamedBuilder> builders = {
      {"lanczos3",
       [](matrix& k, int n, double s, float d, bool aa) -> matrix& {
         return BuildLanczosKernelForScale(k, 3, n, s, d, aa);
       }},
      {"lanczos2",
       [](matrix& k, int n, double s, float d, bool aa) -> matrix& {
         return BuildLanczosKernelForScale(k, 2, n, s, d, aa);
       }},
      {"bicubic",
       [](matrix& k, int n, double s, float d, bool aa) -> matrix& {
         return BuildBicubicKernelForScale(k, -0.5, n, s, d, aa);
       }},
      {"bilinear", BuildBilinearKernelForScale},
      {"box", BuildBoxKernelForScale},
  };
  return builders;
}

// The value of output i of kernel k on a line, by the kernel-row rule itself.
double Apply(const matrix& k, int i, const std::vector<float>& line) {
  return ApplyKernelRow(k, i, line.data(), 1, int(line.size()));
}
}  // namespace

TEST_F(ResampleTest, TapCountsAndOutputCountsOfTheBuilders) {
  struct Case {
    std::string name;
    std::function<matrix&(matrix&)> build;
    int taps, outputs;
  } cases[] = {
      // Halving with antialias widens every kernel by ceil(2); without it rows stay narrow.
      {"lanczos3 half aa",
       [](matrix& k) -> matrix& { return BuildLanczosKernelForScale(k, 3, 20, 0.5, 0, true); }, 14,
       10},
      {"lanczos3 half",
       [](matrix& k) -> matrix& { return BuildLanczosKernelForScale(k, 3, 20, 0.5, 0, false); }, 9,
       10},
      {"bicubic half aa",
       [](matrix& k) -> matrix& { return BuildBicubicKernelForScale(k, -0.5, 20, 0.5, 0, true); },
       10, 10},
      {"bicubic half",
       [](matrix& k) -> matrix& { return BuildBicubicKernelForScale(k, -0.5, 20, 0.5, 0, false); },
       7, 10},
      {"bilinear half aa",
       [](matrix& k) -> matrix& { return BuildBilinearKernelForScale(k, 20, 0.5, 0, true); }, 6,
       10},
      {"box half",
       [](matrix& k) -> matrix& { return BuildBoxKernelForScale(k, 20, 0.5, 0, false); }, 5, 10},
      {"lanczos3 third aa",
       [](matrix& k) -> matrix& { return BuildLanczosKernelForScale(k, 3, 30, 0.4, 0, true); }, 20,
       12},
      {"lanczos2 enlarge",
       [](matrix& k) -> matrix& { return BuildLanczosKernelForScale(k, 2, 7, 2.5, 0, true); }, 7,
       18},
      {"scale 0.3 of 105",
       [](matrix& k) -> matrix& { return BuildBilinearKernelForScale(k, 105, 0.3, 0, true); }, 10,
       32},
      {"sizes lanczos 10->4",
       [](matrix& k) -> matrix& { return BuildLanczosKernelForSizes(k, 3, 10, 4, 0); }, 20, 4},
      {"sizes bicubic 4->10",
       [](matrix& k) -> matrix& { return BuildBicubicKernelForSizes(k, -0.5, 4, 10, 0); }, 7, 10},
      {"sizes bilinear 9->3",
       [](matrix& k) -> matrix& { return BuildBilinearKernelForSizes(k, 9, 3, 0); }, 8, 3},
      {"sizes box 3->3", [](matrix& k) -> matrix& { return BuildBoxKernelForSizes(k, 3, 3, 0); }, 5,
       3},
  };
  for (auto& c : cases) {
    matrix k;
    c.build(k);
    EXPECT_EQ(k.nx, c.taps) << c.name;
    EXPECT_EQ(k.ny, c.outputs) << c.name;
    ASSERT_EQ(k.iplength(), c.outputs) << c.name;
    for (int i = 0; i < k.ny; ++i) {
      double sum = 0;
      for (int j = 0; j < k.nx; ++j) sum += k.z[i][j];
      EXPECT_NEAR(sum, 1.0, 1e-6) << c.name << " row " << i;
    }
  }
}

TEST_F(ResampleTest, OutputCentresFollowTheStepOfTheScale) {
  // Scale 0.3 on 105 samples: step 1/0.3, so output 31 is centred at 104.5 (not at 102.86
  // as a step of 105/32 would put it). A bilinear kernel at 104.5 without antialias weighs
  // inputs 104 and 105 by a half each; 105 lies outside, so output 31 equals input 104.
  matrix k;
  BuildBilinearKernelForScale(k, 105, 0.3, 0, false);
  std::vector<float> ramp(105);
  for (int i = 0; i < 105; ++i) ramp[size_t(i)] = float(i);
  EXPECT_NEAR(Apply(k, 0, ramp), 1.0 / 0.3 / 2 - 0.5, 1e-5);
  EXPECT_NEAR(Apply(k, 30, ramp), 30 / 0.3 + 1.0 / 0.3 / 2 - 0.5, 1e-4);
  EXPECT_NEAR(Apply(k, 31, ramp), 104.0, 1e-5);

  // For sizes the step is n/m: 10 -> 4 centres the outputs at 0.75 + 2.5 i, with the
  // triangle stretched to a half-width of 2.5. Output 1 at 3.25 weighs inputs 1 .. 5 by
  // 0.1, 0.5, 0.9, 0.7, 0.3 (sum 2.5), so a ramp gives 8.1/2.5; output 2 at 5.75 weighs
  // 4 .. 8 by 0.3, 0.7, 0.9, 0.5, 0.1, giving 14.4/2.5.
  BuildBilinearKernelForSizes(k, 10, 4, 0);
  std::vector<float> ramp10(ramp.begin(), ramp.begin() + 10);
  EXPECT_NEAR(Apply(k, 1, ramp10), 8.1 / 2.5, 1e-5);
  EXPECT_NEAR(Apply(k, 2, ramp10), 14.4 / 2.5, 1e-5);
}

TEST_F(ResampleTest, LanczosIdentityAndHalfPixelTaps) {
  // Scale 1, shift 0: one tap of weight 1 at the centre of 9.
  matrix k;
  BuildLanczosKernelForScale(k, 3, 12, 1.0, 0.0f, true);
  ASSERT_EQ(k.nx, 9);
  for (int i = 0; i < k.ny; ++i) {
    EXPECT_EQ(k.ip[i], i - 4);
    // sin(pi k) is not exactly 0 in floating point: the other taps are below 1e-16.
    for (int j = 0; j < 9; ++j) EXPECT_NEAR(k.z[i][j], j == 4 ? 1.0 : 0.0, 1e-15) << i << " " << j;
  }
  // Shift -0.5: the value halfway between inputs i-1 and i, weights (9, -50, 225, 225, -50,
  // 9)/368 on inputs i-3 .. i+2.
  BuildLanczosKernelForScale(k, 3, 12, 1.0, -0.5f, true);
  const double want[6] = {9, -50, 225, 225, -50, 9};
  for (int i = 1; i < k.ny; ++i) {
    for (int j = 0; j < k.nx; ++j) {
      const int input = k.ip[i] + j;
      const int t = input - (i - 3);
      const double w = (t >= 0 && t < 6) ? want[t] / 368 : 0.0;
      EXPECT_NEAR(k.z[i][j], w, 2e-7) << "row " << i << " input " << input;
    }
  }
}

TEST_F(ResampleTest, ConstantPlaneStaysConstantUnderEveryKernelAndScale) {
  const double scales[] = {0.13, 0.5, 0.77, 1.0, 1.5, 2.0, 3.7};
  matrix plane(23, 9);
  plane.fill(87.25f);
  for (const NamedBuilder& b : ForScaleBuilders()) {
    for (double sx : scales) {
      for (bool aa : {true, false}) {
        matrix kx, ky, out;
        b.build(kx, plane.nx, sx, 0.0f, aa);
        b.build(ky, plane.ny, 1.0 / sx, 0.0f, aa);
        ResampleSeparable(out, plane, kx, ky);
        ASSERT_EQ(out.nx, kx.ny);
        ASSERT_EQ(out.ny, ky.ny);
        float lo, hi;
        out.minmax(lo, hi);
        EXPECT_NEAR(lo, 87.25f, 2e-4) << b.name << " scale " << sx << " aa " << aa;
        EXPECT_NEAR(hi, 87.25f, 2e-4) << b.name << " scale " << sx << " aa " << aa;
      }
    }
  }
}

TEST_F(ResampleTest, BoxKernelsAverageAndPick) {
  // Halving with antialias: the box averages inputs 2i and 2i+1; without antialias it picks
  // one input per output; bilinear halving without antialias averages the two.
  const std::vector<float> line = {1, 3, 10, 20, 5, 7, 100, 0};
  matrix k;
  BuildBoxKernelForScale(k, 8, 0.5, 0, true);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(Apply(k, i, line), (line[2 * i] + line[2 * i + 1]) / 2.0, 1e-5) << i;
  }
  BuildBilinearKernelForScale(k, 8, 0.5, 0, false);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(Apply(k, i, line), (line[2 * i] + line[2 * i + 1]) / 2.0, 1e-5) << i;
  }
  BuildBoxKernelForScale(k, 8, 0.5, 0, false);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(Apply(k, i, line), line[2 * i], 1e-5) << i;

  // A box shifted by -0.5 at scale 1 samples input i-1: the first output has no input in
  // range, and its value is 0.
  BuildBoxKernelForScale(k, 8, 1.0, -0.5f, true);
  EXPECT_EQ(Apply(k, 0, line), 0.0);
  for (int i = 1; i < 8; ++i) EXPECT_NEAR(Apply(k, i, line), line[size_t(i - 1)], 1e-6);
}

TEST_F(ResampleTest, BoxUpThenDownReturnsThePlane) {
  const matrix plane = Noise(13, 7, 5);
  matrix kx, ky, up, down;
  BuildBoxKernelForScale(kx, plane.nx, 2.0, 0, true);
  BuildBoxKernelForScale(ky, plane.ny, 2.0, 0, true);
  ResampleSeparable(up, plane, kx, ky);
  ASSERT_EQ(up.nx, 26);
  ASSERT_EQ(up.ny, 14);
  BuildBoxKernelForScale(kx, up.nx, 0.5, 0, true);
  BuildBoxKernelForScale(ky, up.ny, 0.5, 0, true);
  ResampleSeparable(down, up, kx, ky);
  ASSERT_EQ(down.nx, 13);
  ASSERT_EQ(down.ny, 7);
  for (int k = 0; k < plane.n; ++k) EXPECT_NEAR(down.x[k], plane.x[k], 1e-6) << k;
}

TEST_F(ResampleTest, SeparableEqualsTheKernelRowRuleAlongEachAxis) {
  // Every output equals the row rule applied to the column of the x-resampled plane, which
  // in turn is the row rule along the rows: border renormalisation included.
  const matrix plane = Noise(11, 8, 17);
  matrix kx, ky, out;
  BuildLanczosKernelForScale(kx, 3, plane.nx, 1.7, 0.25f, true);
  BuildBicubicKernelForScale(ky, -0.75, plane.ny, 0.45, -0.1f, true);
  ResampleSeparable(out, plane, kx, ky);
  matrix mid(kx.ny, plane.ny);
  for (int r = 0; r < plane.ny; ++r) {
    for (int c = 0; c < kx.ny; ++c) {
      mid.z[r][c] = float(ApplyKernelRow(kx, c, plane.z[r], 1, plane.nx));
    }
  }
  for (int r = 0; r < ky.ny; ++r) {
    for (int c = 0; c < kx.ny; ++c) {
      EXPECT_EQ(out.z[r][c], float(ApplyKernelRow(ky, r, mid.x + c, mid.nx, mid.ny)))
          << c << " " << r;
    }
  }
}

TEST_F(ResampleTest, SubtractAndAliasing) {
  // Identity operators: subtracting the result from a copy of the plane leaves 0.
  const matrix plane = Noise(9, 6, 3);
  matrix kx, ky;
  BuildLanczosKernelForScale(kx, 3, plane.nx, 1.0, 0, true);
  BuildLanczosKernelForScale(ky, 3, plane.ny, 1.0, 0, true);
  matrix target(plane);
  ResampleSeparable(target, plane, kx, ky, true);
  for (int k = 0; k < target.n; ++k) EXPECT_EQ(target.x[k], 0.0f);

  // A subtracting target of another size starts from 0: it ends as minus the result.
  matrix other(2, 2);
  other.fill(1e30f);
  ResampleSeparable(other, plane, kx, ky, true);
  ASSERT_EQ(other.nx, plane.nx);
  for (int k = 0; k < other.n; ++k) EXPECT_EQ(other.x[k], -plane.x[k]);

  // The output may be the input.
  matrix self(plane);
  BuildLanczosKernelForScale(kx, 3, plane.nx, 2.0, 0, true);
  matrix fresh;
  ResampleSeparable(fresh, plane, kx, ky);
  ResampleSeparable(self, self, kx, ky);
  EXPECT_EQ(Values(self), Values(fresh));
}

TEST_F(ResampleTest, TinyPlanesResizeWithinTheirBounds) {
  // 1 x 1, 1 x N and 2 x 2 planes through every kernel, up and down: under the sanitizer a
  // read outside would fail; a constant stays constant.
  const int sizes[][2] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}};
  for (const NamedBuilder& b : ForScaleBuilders()) {
    for (auto& s : sizes) {
      for (double scale : {0.3, 0.5, 1.0, 2.0, 7.0}) {
        matrix plane(s[0], s[1]);
        plane.fill(3.0f);
        matrix kx, ky;
        b.build(kx, plane.nx, scale, 0.0f, true);
        b.build(ky, plane.ny, scale, 0.0f, true);
        ResampleSeparableInPlace(plane, kx, ky);
        ASSERT_EQ(plane.nx, kx.ny);
        ASSERT_EQ(plane.ny, ky.ny);
        for (int k = 0; k < plane.n; ++k) {
          EXPECT_NEAR(plane.x[k], 3.0f, 1e-5)
              << b.name << " " << s[0] << "x" << s[1] << " " << scale;
        }
      }
    }
  }
}

TEST_F(ResampleTest, InPlaceTicksAndCancels) {
  const matrix original = Noise(40, 30, 9);
  matrix kx, ky;
  BuildLanczosKernelForScale(kx, 3, original.nx, 1.5, 0, true);
  BuildLanczosKernelForScale(ky, 3, original.ny, 0.5, 0, true);
  matrix expected;
  ResampleSeparable(expected, original, kx, ky);

  // Finishing: kx.ny + ky.ny ticks and the same result as the separate-target engine.
  matrix plane(original);
  StartProgress(float(kx.ny + ky.ny));
  EXPECT_FALSE(ResampleSeparableInPlace(plane, kx, ky));
  EXPECT_EQ(Progress().count, kx.ny + ky.ny);
  EXPECT_EQ(Values(plane), Values(expected));

  // Cancelled in the first pass: the plane is unchanged bit for bit.
  plane.assign(original);
  StartProgress(float(kx.ny + ky.ny));
  platform.CancelAtPoll(kx.ny / 2);
  EXPECT_TRUE(ResampleSeparableInPlace(plane, kx, ky));
  EXPECT_EQ(plane.nx, original.nx);
  EXPECT_EQ(Values(plane), Values(original));

  // Cancelled in the second pass: the new size, holding only the blocks of rows that ran
  // (the caller discards it).
  plane.assign(original);
  StartProgress(float(kx.ny + ky.ny));
  platform.CancelAtPoll(kx.ny + 4);
  EXPECT_TRUE(ResampleSeparableInPlace(plane, kx, ky));
  EXPECT_EQ(plane.nx, kx.ny);
  EXPECT_EQ(plane.ny, ky.ny);
}
