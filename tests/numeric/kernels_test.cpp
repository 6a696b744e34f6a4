#include "numeric/kernels.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/zep_test.h"

using KernelsTest = ZepTest;

TEST_F(KernelsTest, GeneratorRepeatsItsFixedSequence) {
  randgen g;
  EXPECT_EQ(g.s0, 971u);
  EXPECT_EQ(g.s1, 11113u);
  EXPECT_EQ(g.s2, 104322u);
  EXPECT_EQ(g.s3, 4181u);
  const uint32_t first[] = {8029, 7945, 3194, 1715, 3125, 5120};
  for (uint32_t v : first) EXPECT_EQ(g.next(), v);

  // The global instance is the same generator: whatever it has drawn so far, a copy of
  // its state predicts its next value.
  randgen copy = GlobalRandom();
  EXPECT_EQ(RandomUniform(), copy.uniform());
}

TEST_F(KernelsTest, UniformStaysInsideTheOpenInterval) {
  randgen g;
  double lo = 1.0, hi = 0.0;
  for (int i = 0; i < 200000; ++i) {
    const uint32_t a = g.next();
    ASSERT_LT(a, 10000u);
    const double u = g.uniform();
    lo = std::min(lo, u);
    hi = std::max(hi, u);
  }
  EXPECT_GT(lo, 0.0);
  EXPECT_LT(hi, 1.0);
}

TEST_F(KernelsTest, KernelValues) {
  const double pi = 3.141592653589793;
  struct Case {
    const char* name;
    double got, want;
  } cases[] = {
      {"sinc 0", Sinc(0), 1},
      {"sinc 0.5", Sinc(0.5), 2 / pi},
      {"sinc 1", Sinc(1), 0},
      {"lanczos at a", KernelLanczos(3, 3), 0},
      {"lanczos past a", KernelLanczos(-3.5, 3), 0},
      {"lanczos 0", KernelLanczos(0, 3), 1},
      {"lanczos 0.5", KernelLanczos(0.5, 3), (2 / pi) * std::sin(pi / 6) / (pi / 6)},
      {"triangle 0", KernelTriangle(0, 1), 1},
      {"triangle -0.5", KernelTriangle(-0.5, 1), 0.5},
      {"triangle 1", KernelTriangle(1, 1), 0},
      {"triangle -1", KernelTriangle(-1, 1), 0},
      {"triangle wide", KernelTriangle(1, 2), 0.5},
      {"box -0.5", KernelBox(-0.5, 1), 1},
      {"box 0.5", KernelBox(0.5, 1), 0},
      {"box wide", KernelBox(0.9, 2), 1},
      {"cubic 0", KernelCubic(0, -0.5), 1},
      {"cubic 1", KernelCubic(1, -0.5), 0},
      {"cubic 1 other a", KernelCubic(-1, -0.75), 0},
      {"cubic 0.5", KernelCubic(0.5, -0.5), 0.5625},
      {"cubic 1.5", KernelCubic(-1.5, -0.5), -0.0625},
      {"cubic 2", KernelCubic(2, -0.5), 0},
      {"gaussian 0", KernelGaussian(0, 2), 1},
      {"gaussian s", KernelGaussian(2, 2), std::exp(-0.5)},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.got, c.want, 1e-12) << c.name;
}

TEST_F(KernelsTest, WeightValues) {
  const double e = std::exp(1.0);
  struct Case {
    const char* name;
    double got, want;
  } cases[] = {
      {"inverse quadratic", WeightInverseQuadratic(2), 0.2},
      {"exp abs", WeightExpAbs(-1), 1 / e},
      {"gaussian", WeightGaussian(-1), 1 / e},
      {"box at 1", WeightBox(-1), 1},
      {"box past 1", WeightBox(1.01f), 0},
      {"inverse root", WeightInverseRoot(std::sqrt(3.0f)), 0.5},
      {"inverse power", WeightInversePower(1), std::pow(2.0, -0.4)},
      {"inverse linear", WeightInverseLinear(1), 0.5},
      {"exp sqrt", WeightExpSqrt(4), 1 / (e * e)},
      {"exp", WeightExp(2), 1 / (e * e)},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.got, c.want, 1e-6) << c.name;
}

TEST_F(KernelsTest, LanczosHalfPixelTaps) {
  // Scale 1, shift -0.5: every output sits half-way between two inputs.
  matrix k(9, 8);
  k.kernelmatrix(KernelLanczos, 3, 1.0, -0.5, true);
  ASSERT_NE(k.ip, nullptr);
  ASSERT_EQ(k.iplength(), 8);
  const double taps[6] = {9, -50, 225, 225, -50, 9};
  for (int i = 0; i < 8; ++i) {
    // The first centre, -0.5, truncates toward zero to 0 like the second (0.5), so its
    // window starts one input later relative to the centre.
    const int first = i == 0 ? 1 : 2;
    EXPECT_EQ(k.ip[i], i == 0 ? -4 : i - 5) << i;
    for (int j = 0; j < 9; ++j) {
      const int t = j - first;
      const double want = (t >= 0 && t < 6) ? taps[t] / 368 : 0.0;
      EXPECT_NEAR(k.z[i][j], want, 2e-7) << i << "," << j;
    }
  }
}

TEST_F(KernelsTest, KernelMatrixNormalisationAndAntialias) {
  // A row whose raw weights sum to 0 stays as computed.
  matrix odd(3, 2);
  odd.kernelmatrix([](double x, double) { return x; }, 0, 1.0, 0.0, false);
  EXPECT_FLOAT_EQ(odd.z[0][0], -1.0f);
  EXPECT_FLOAT_EQ(odd.z[0][1], 0.0f);
  EXPECT_FLOAT_EQ(odd.z[0][2], 1.0f);

  // Reducing by 2 with antialiasing stretches the triangle over twice the inputs.
  auto nonzero = [](const matrix& k, int row) {
    int count = 0;
    double sum = 0;
    for (int j = 0; j < k.nx; ++j) {
      count += k.z[row][j] != 0.0f;
      sum += k.z[row][j];
    }
    EXPECT_NEAR(sum, 1.0, 1e-6);
    return count;
  };
  matrix sharp(6, 4), smooth(6, 4);
  sharp.kernelmatrix(KernelTriangle, 1, 2.0, 0.5, false);
  smooth.kernelmatrix(KernelTriangle, 1, 2.0, 0.5, true);
  EXPECT_EQ(nonzero(sharp, 1), 2);
  EXPECT_EQ(nonzero(smooth, 1), 4);
  EXPECT_EQ(sharp.ip[1], 0);  // centre 2.5: first index 2 - (6-1)/2
}

TEST_F(KernelsTest, AppliedRowsKeepAConstantAtEveryBorder) {
  // Outputs near the borders drop the taps outside the input and renormalise, so a
  // constant line stays constant everywhere, also when the line is shorter than a window.
  for (int length : {1, 2, 5, 11}) {
    const int outputs = 2 * length;
    matrix k(9, outputs);
    k.kernelmatrix(KernelLanczos, 3, 0.5, -0.25, true);
    std::vector<float> line(size_t(length), 7.0f);
    std::vector<uint8_t> bytes(size_t(2 * length), 200);  // every other byte, stride 2
    for (int i = 0; i < outputs; ++i) {
      EXPECT_NEAR(ApplyKernelRow(k, i, line.data(), 1, length), 7.0, 1e-5) << length << " " << i;
      EXPECT_NEAR(ApplyKernelRow(k, i, bytes.data(), 2, length), 200.0, 1e-4);
    }
  }
  // An inside window is the plain weighted sum.
  matrix k(9, 8);
  k.kernelmatrix(KernelLanczos, 3, 1.0, -0.5, true);
  std::vector<float> ramp(20);
  for (int i = 0; i < 20; ++i) ramp[size_t(i)] = float(i * i);
  double plain = 0;
  for (int j = 0; j < 9; ++j) plain += double(k.z[5][j]) * ramp[size_t(k.ip[5] + j)];
  EXPECT_NEAR(ApplyKernelRow(k, 5, ramp.data(), 1, 20), plain, 1e-9);
}

TEST_F(KernelsTest, DroppedTapsWithoutPositiveWeightKeepThePlainSum) {
  const float w[3] = {-1.0f, 0.5f, 0.25f};
  const float line[2] = {4.0f, 8.0f};
  // Taps at -1, 0, 1: the first is dropped, the kept weights sum to 0.75 > 0.
  EXPECT_NEAR(SumDroppedTaps(w, 3, -1, line, 1, 2), (0.5 * 4 + 0.25 * 8) / 0.75, 1e-12);
  const float negative[2] = {-1.0f, -1.0f};
  EXPECT_NEAR(SumDroppedTaps(negative, 2, 1, line, 1, 2), -8.0, 1e-12);
}
