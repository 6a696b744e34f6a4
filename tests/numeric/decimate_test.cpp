// The reduction by kernel matrices along polyphase lines against the general separable
// engine: the same bits for every kernel, whatever its step.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "support/zep_test.h"
#include "test_planes.h"

using ReduceByKernelsTest = ZepTest;

namespace {
// Bytes, so that signed zeros and NaN count too.
bool SameBits(const matrix& a, const matrix& b) {
  return a.nx == b.nx && a.ny == b.ny && a.n == b.n &&
         (a.n == 0 || std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0);
}

matrix Plane(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  m.mulscalar(120.0f);
  if (m.n > 3) m.x[m.n / 3] = -0.0f;
  return m;
}

using Build = std::function<bool(matrix& k, int n)>;
struct Kernel {
  std::string name;
  Build build;
};

std::vector<Kernel> Kernels() {
  std::vector<Kernel> out;
  for (int ratio : {2, 3, 4, 8}) {
    for (int mode = 0; mode < 5; ++mode) {
      out.push_back({"first pass " + std::to_string(mode) + " /" + std::to_string(ratio),
                     [=](matrix& k, int n) { return BuildReductionKernel(k, mode, false, n, ratio); }});
    }
    for (int mode : {2, 4, 5}) {
      out.push_back({"second pass " + std::to_string(mode) + " /" + std::to_string(ratio),
                     [=](matrix& k, int n) { return BuildReductionKernel(k, mode, true, n, ratio); }});
    }
  }
  // Kernels the polyphase lines do not fit: an enlargement, a step that is not whole.
  out.push_back({"lanczos3 x2", [](matrix& k, int n) {
                   BuildLanczosKernelForScale(k, 3, n, 2.0, 0, true);
                   return true;
                 }});
  out.push_back({"bicubic to 3/7", [](matrix& k, int n) {
                   BuildBicubicKernelForSizes(k, -0.5, n, std::max(1, n * 3 / 7), 0.25f);
                   return true;
                 }});
  return out;
}
}  // namespace

TEST_F(ReduceByKernelsTest, GivesTheBitsOfTheSeparableEngine) {
  struct Size {
    int w, h;
  };
  // Whole multiples of the ratios, lengths that leave a remainder, and lines shorter than a
  // kernel.
  const Size sizes[] = {{1, 1}, {2, 9}, {13, 5}, {48, 40}, {97, 61}, {160, 24}};
  uint32_t seed = 7;
  for (const Kernel& kernel : Kernels()) {
    for (const Size s : sizes) {
      SCOPED_TRACE(kernel.name + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
      matrix kx, ky;
      ASSERT_TRUE(kernel.build(kx, s.w));
      ASSERT_TRUE(kernel.build(ky, s.h));
      const matrix in = Plane(s.w, s.h, ++seed);
      matrix expected, reduced;
      ResampleSeparable(expected, in, kx, ky);
      ReduceByKernels(reduced, in, kx, ky);
      EXPECT_TRUE(SameBits(reduced, expected));
    }
  }
}

TEST_F(ReduceByKernelsTest, NonFiniteSamplesSpreadAsInTheSeparableEngine) {
  matrix kx, ky;
  ASSERT_TRUE(BuildReductionKernel(kx, 4, false, 64, 4));
  ASSERT_TRUE(BuildReductionKernel(ky, 4, false, 40, 4));
  matrix in = Plane(64, 40, 3);
  in.z[20][30] = std::numeric_limits<float>::infinity();
  in.z[2][1] = std::numeric_limits<float>::quiet_NaN();
  matrix expected, reduced;
  ResampleSeparable(expected, in, kx, ky);
  ReduceByKernels(reduced, in, kx, ky);
  ASSERT_EQ(reduced.n, expected.n);
  for (int k = 0; k < expected.n; ++k) {
    if (std::isnan(expected.x[k])) {
      EXPECT_TRUE(std::isnan(reduced.x[k])) << k;
    } else {
      EXPECT_EQ(reduced.x[k], expected.x[k]) << k;
    }
  }
}

TEST_F(ReduceByKernelsTest, ThePlaneMayBeItsOwnInput) {
  matrix kx, ky;
  ASSERT_TRUE(BuildReductionKernel(kx, 0, false, 24, 4));
  ASSERT_TRUE(BuildReductionKernel(ky, 0, false, 16, 4));
  matrix plane = Plane(24, 16, 11), expected;
  ResampleSeparable(expected, plane, kx, ky);
  ReduceByKernels(plane, plane, kx, ky);
  EXPECT_TRUE(SameBits(plane, expected));
}
