// Back-projection: the regularizing correction and the refinement of an enlargement
// against the plane it was made from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"

namespace {

matrix Texture(int w, int h) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t k = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
      m.z[y][x] = 100.0f + 60.0f * std::sin(0.7f * x + 0.3f * y) + float(k % 23u);
    }
  }
  return m;
}

// The data-dependent doubling of the input: the estimate the cores hand over.
matrix Doubled(const matrix& y, int passes) {
  matrix x, source = y;
  bytemaps maps;
  x.DdlEnlarge(source, 3, passes, true, true, false, false, maps, true);
  return x;
}

float ReducedRms(const matrix& x, const matrix& y, int mode, bool second) {
  const int ratio = x.nx / y.nx;
  matrix kx, ky, r;
  EXPECT_TRUE(BuildReductionKernel(kx, mode, second, x.nx, ratio));
  EXPECT_TRUE(BuildReductionKernel(ky, mode, second, x.ny, ratio));
  ResampleSeparable(r, x, kx, ky);
  r.sub(y);
  return float(std::sqrt(r.sumsq() / r.n));
}

std::vector<float> Values(const matrix& m) { return {m.x, m.x + m.n}; }

TEST(Dejaggy, SubtractsTheDetailOfInteriorPixelsOnly) {
  matrix estimate(4, 3), correction(4, 3);
  estimate.zero();
  estimate.z[1][1] = 8;
  correction.fill(1);
  correction.dejaggy(0.5f, estimate);
  // (1, 1): 1 - 0.5 (8 - 0); (2, 1): 1 - 0.5 (0 - 8/8); the outer ring stays.
  EXPECT_FLOAT_EQ(correction.z[1][1], -3.0f);
  EXPECT_FLOAT_EQ(correction.z[1][2], 1.5f);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(correction.z[0][x], 1.0f);
  EXPECT_EQ(correction.z[1][0], 1.0f);
  EXPECT_EQ(correction.z[1][3], 1.0f);

  matrix untouched(4, 3), flat(5, 2), flatEstimate(5, 2);
  untouched.fill(1);
  untouched.dejaggy(0, estimate);
  EXPECT_EQ(Values(untouched), std::vector<float>(12, 1.0f));
  flat.fill(1);
  flatEstimate.fill(7);
  flat.dejaggy(1, flatEstimate);
  EXPECT_EQ(Values(flat), std::vector<float>(10, 1.0f));
}

TEST(BackProject, NothingToDoLeavesTheEstimate) {
  const matrix y = Texture(12, 10);
  const matrix x0 = Doubled(y, 1);
  struct Case {
    const char* what;
    matrix estimate;
    int mode1, iterations1, mode2, iterations2;
  };
  matrix wide(25, 20);  // not a power-of-two enlargement of 12 x 10
  wide.fill(3);
  const Case cases[] = {
      {"no iterations", x0, 0, 0, 0, 0},
      {"first mode outside its table", x0, 5, 3, 0, 0},
      {"second mode outside its table", x0, 0, 0, 6, 3},
      {"negative mode", x0, -1, 3, -1, 3},
      {"not 2^p times the input", wide, 0, 3, 0, 3},
  };
  for (const Case& c : cases) {
    matrix x = c.estimate;
    x.BackProject(y, 0, false, c.mode1, 3, c.iterations1, 0, 0, 0, 0, c.mode2, c.iterations2);
    EXPECT_EQ(Values(x), Values(c.estimate)) << c.what;
  }
}

TEST(BackProject, AnExactEstimateStaysAsItIs) {
  // Pixel replication reduces back exactly under the box model.
  const matrix y = Texture(9, 7);
  matrix x(18, 14);
  for (int r = 0; r < 14; ++r) {
    for (int c = 0; c < 18; ++c) x.z[r][c] = y.z[r / 2][c / 2];
  }
  const matrix before = x;
  x.BackProject(y, 0, false, 0, 3, 5, 0, 0, 0, 0, 0, 5);
  EXPECT_EQ(Values(x), Values(before));
  EXPECT_EQ(ReducedRms(x, y, 0, false), 0.0f);
}

TEST(BackProject, EveryModeBringsTheReductionCloser) {
  const matrix y = Texture(16, 12);
  for (int passes : {1, 2}) {
    const matrix x0 = Doubled(y, passes);
    for (bool second : {false, true}) {
      for (int mode = 0; mode < (second ? 6 : 5); ++mode) {
        matrix x = x0;
        const float before = ReducedRms(x, y, mode, second);
        if (second) {
          x.BackProject(y, 0, false, 0, 3, 0, 0, 0, 0, 0, mode, 4);
        } else {
          x.BackProject(y, 0, false, mode, 3, 4, 0, 0, 0, 0, 0, 0);
        }
        const float after = ReducedRms(x, y, mode, second);
        EXPECT_LT(after, before) << passes << " " << second << " " << mode;
        // Each accepted step lowers the residual: one more iteration never raises it.
        matrix more = x0;
        if (second) {
          more.BackProject(y, 0, false, 0, 3, 0, 0, 0, 0, 0, mode, 5);
        } else {
          more.BackProject(y, 0, false, mode, 3, 5, 0, 0, 0, 0, 0, 0);
        }
        EXPECT_LE(ReducedRms(more, y, mode, second), after) << passes << " " << mode;
      }
    }
  }
}

TEST(BackProject, TheToleranceEndsThePassEarly) {
  const matrix y = Texture(16, 12);
  const matrix x0 = Doubled(y, 1);
  matrix once = x0, tolerant = x0, strict = x0;
  once.BackProject(y, 0, false, 4, 3, 1, 0, 0, 0, 0, 0, 0);
  tolerant.BackProject(y, 1e6f, false, 4, 3, 10, 0, 0, 0, 0, 0, 0);
  strict.BackProject(y, 0, false, 4, 3, 10, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Values(tolerant), Values(once));
  EXPECT_NE(Values(strict), Values(once));
}

TEST(BackProject, TheSecondPassStartsFromWhatTheEstimateLeaves) {
  // Enough iterations that the first pass ends on a rejected step; the second pass must
  // then go on exactly as a separate run on the first pass's result.
  const matrix y = Texture(16, 12);
  const matrix x0 = Doubled(y, 1);
  matrix together = x0, apart = x0;
  together.BackProject(y, -1, false, 1, 3, 200, 0, 0, 0, 0, 1, 3);
  apart.BackProject(y, -1, false, 1, 3, 200, 0, 0, 0, 0, 0, 0);
  apart.BackProject(y, -1, false, 0, 3, 0, 0, 0, 0, 0, 1, 3);
  for (int i = 0; i < apart.n; ++i) ASSERT_NEAR(together.x[i], apart.x[i], 1e-3f) << i;
}

TEST(BackProject, RegularizationAndSharpeningKeepTheReductionClose) {
  const matrix y = Texture(16, 12);
  const matrix x0 = Doubled(y, 1);
  matrix x = x0;
  const float before = ReducedRms(x, y, 3, true);
  x.BackProject(y, 0, false, 4, 3, 4, 0.2f, 2, 0.1f, 0, 3, 4);
  for (int i = 0; i < x.n; ++i) ASSERT_TRUE(std::isfinite(x.x[i]));
  EXPECT_NE(Values(x), Values(x0));
  EXPECT_LT(ReducedRms(x, y, 3, true), before);
}

}  // namespace

TEST(BackProject, EachModeReducesByTheKernelItsRowNames) {
  using Builder = std::function<void(matrix&, int n, double scale)>;
  const auto lanczos = [](int order) -> Builder {
    return [order](matrix& k, int n, double s) { BuildLanczosKernelForScale(k, order, n, s, 0, true); };
  };
  struct Case {
    int mode;
    bool second;
    Builder expected;
  };
  const Case cases[] = {
      {0, false, [](matrix& k, int n, double s) { BuildBoxKernelForScale(k, n, s, 0, true); }},
      {1, false, [](matrix& k, int n, double s) { BuildBilinearKernelForScale(k, n, s, 0, true); }},
      {2, false,
       [](matrix& k, int n, double s) { BuildBicubicKernelForScale(k, 0.5, n, s, 0, true); }},
      {3, false, lanczos(2)},
      {4, false, lanczos(3)},
      {0, true, [](matrix& k, int n, double s) { BuildBoxKernelForScale(k, n, s, 0, true); }},
      {2, true, lanczos(2)},
      {3, true, lanczos(3)},
      {4, true, lanczos(5)},
      {5, true, lanczos(15)},
  };
  for (const Case& c : cases) {
    for (int ratio : {2, 4}) {
      SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.second ? " second" : " first")
                                      << " ratio " << ratio);
      matrix got, want;
      ASSERT_TRUE(BuildReductionKernel(got, c.mode, c.second, 40 * ratio, ratio));
      c.expected(want, 40 * ratio, 1.0 / ratio);
      ASSERT_EQ(got.nx, want.nx);
      ASSERT_EQ(got.ny, want.ny);
      EXPECT_EQ(Values(got), Values(want));
    }
  }
  // Equal kernels share their id across the two tables.
  EXPECT_EQ(ReductionKernelId(3, false), ReductionKernelId(2, true));
  EXPECT_EQ(ReductionKernelId(4, false), ReductionKernelId(3, true));
}
