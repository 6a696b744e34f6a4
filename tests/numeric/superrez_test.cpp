#include <cmath>

#include "downscale_measures.h"
#include "numeric/matrix.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using SuperRezTest = ZepTest;

namespace {
constexpr int kReduction = 3, kBase = 5;

matrix Reduced(const matrix& big, int a) {
  matrix k, small(big.nx / a, big.ny / a);
  k.DownscaleKernel(a, kReduction, 0, 0);
  return small.decimate(big, k, a);
}

// A hard edge with some noise on it, 0-255.
matrix Edgy(int w, int h, float noise) {
  matrix m = Noise(w, h, 5);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      m.z[y][x] = (x + 0.6f * y > w * 0.6f ? 200.0f : 40.0f) + noise * m.z[y][x];
    }
  }
  return m;
}
}  // namespace

TEST_F(SuperRezTest, WithoutSmoothingItOnlyReprojects) {
  // An estimate whose reduction is the input stays as it is.
  const matrix consistent = Edgy(64, 56, 20);
  const matrix y = Reduced(consistent, 2);
  matrix x = consistent, cache;
  StartProgress(1e9f);
  x.superrez(y, cache, 2, kReduction, kBase, 0.0f, 20.0f, 0.0f, 3, 0, 0, 0);
  EXPECT_LT(x.diffstats(consistent).mae, 1e-3);

  // Any other is moved onto the images that reduce to the input, and one iteration is the
  // plain re-projection X - P(reduce(X) - Y).
  matrix start = Edgy(64, 56, 20);
  start.affine(0.5f, 60.0f);
  matrix once = start, expected = start, residual = Reduced(start, 2), cache2;
  residual.sub(y);
  cache.free();
  expected.pseudoinverseenlarge(residual, 2, kReduction, kBase, cache, true, 0, 0, false);
  once.superrez(y, cache2, 2, kReduction, kBase, 0.0f, 20.0f, 0.0f, 1, 3, 0, 0);
  EXPECT_LT(once.diffstats(expected).mae, 1e-3);
  // The re-projection is the pseudo-inverse's, close but not exact: each round removes
  // most of what is left.
  matrix thrice = start;
  thrice.superrez(y, cache2, 2, kReduction, kBase, 0.0f, 20.0f, 0.0f, 3, 3, 0, 0);
  const double before = ReductionRms(start, y, 2, kReduction, 10);
  const double after1 = ReductionRms(once, y, 2, kReduction, 10);
  const double after3 = ReductionRms(thrice, y, 2, kReduction, 10);
  EXPECT_GT(before, 10.0);
  EXPECT_LT(after1, 0.05 * before);
  EXPECT_LT(after3, 0.25 * after1);
}

TEST_F(SuperRezTest, SmoothingStepsKeepTheReductionAndConstants) {
  const matrix truth = Edgy(90, 90, 2);
  for (int a : {2, 3}) {
    const matrix y = Reduced(truth, a);
    matrix x, cache;
    StartProgress(1e9f);
    x.pseudoinverseenlarge(y, a, kReduction, kBase, cache, false, 0, 0, false);
    const matrix plain = x;
    for (int type : {1, 2, 3, 4}) {
      matrix refined = plain;
      refined.superrez(y, cache, a, kReduction, kBase, 0.2f, 20.0f, 0.1f, 4, type, 0, 0);
      EXPECT_GT(refined.diffstats(plain).mae, 0.5) << a << " " << type;
      EXPECT_LT(ReductionRms(refined, y, a, kReduction, 10), 0.5) << a << " " << type;
    }
  }

  matrix flat(30, 24), low(15, 12), cache;
  flat.fill(77.0f);
  low.fill(77.0f);
  // A gradient scale of 0 must not turn flat areas into NaN.
  for (float scale : {20.0f, 0.0f}) {
    matrix x = flat;
    x.superrez(low, cache, 2, kReduction, kBase, 0.2f, scale, 0.1f, 3, 2, 0, 0);
    EXPECT_LT(x.diffstats(flat).mae, 1e-3) << scale;
  }
}
