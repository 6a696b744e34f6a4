// The wavelet shrinkage members: the soft threshold, the window RMS and the thresholding of
// detail levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "numeric/matrixarray.h"
#include "numeric/noiseshrink.h"
#include "test_planes.h"

TEST(NoiseShrink, SoftThresholdAndWindowRms) {
  matrix m(5, 1);
  const float in[] = {-3, -1, 0, 0.5f, 4};
  for (int k = 0; k < 5; ++k) m.x[k] = in[k];
  m.softthreshold(1.0f);
  EXPECT_EQ(Values(m), (std::vector<float>{-2, 0, 0, 0, 3}));
  m.softthreshold(0.0f);  // nothing
  EXPECT_EQ(Values(m), (std::vector<float>{-2, 0, 0, 0, 3}));

  matrix flat(8, 6);
  flat.fill(-3.0f);
  EXPECT_FLOAT_EQ(flat.windowrms(1, 1, 4, 3), 3.0f);
  EXPECT_FLOAT_EQ(flat.windowrms(6, 4, 10, 10), 3.0f);  // the part inside the plane
  EXPECT_EQ(flat.windowrms(8, 0, 2, 2), 0.0f);          // none of it inside
}

// A factor of 0 keeps its level, a huge one removes it; the least-squares autosharpen
// scales a thresholded level back towards the level.
TEST(NoiseShrink, ThresholdingDetailLevels) {
  matrix plane = Noise(32, 24, 7);
  matrixarray levels;
  levels.atrous(plane, 3);
  const matrixarray before(levels);
  matrix factors(3, 1);
  factors.x[0] = 0.0f;
  factors.x[1] = 1e30f;
  factors.x[2] = 0.05f;
  levels.noisethreshold(factors, 0);
  EXPECT_EQ(Values(levels[0]), Values(before[0]));
  for (int k = 0; k < levels[1].n; ++k) ASSERT_EQ(levels[1].x[k], 0.0f) << k;
  EXPECT_NE(Values(levels[2]), Values(before[2]));

  matrixarray sharpened(before);
  sharpened.noisethreshold(factors, 1);
  // The gain of level 2 is above 1: the thresholded values shrank towards 0.
  int larger = 0;
  for (int k = 0; k < levels[2].n; ++k)
    larger += std::abs(sharpened[2].x[k]) > std::abs(levels[2].x[k]);
  EXPECT_GT(larger, 0);
}

namespace {
// Picture-like values: 0 .. 255 with the noise's fine fractions.
matrix PicturePlane(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  for (int k = 0; k < m.n; ++k) m.x[k] = 127.5f + 127.5f * m.x[k];
  return m;
}

constexpr std::pair<int, int> kShapes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 3}, {5, 3}, {37, 29},
                                           {70, 9}};
}  // namespace

// The decomposition smooths each level with the kernel of matrix::atrous and takes the
// same float differences: every level and the residual equal, bit for bit, the plane
// smoothed level by level with matrix::atrous, also where the holes outgrow the plane.
TEST(NoiseShrink, AtrousLevelsEqualTheSmoothingLevelByLevel) {
  for (auto [w, h] : kShapes) {
    matrix plane = PicturePlane(w, h, uint32_t(w * 31 + h));
    matrix smooth(plane), next;
    matrixarray levels;
    levels.atrous(plane, 6);
    for (int i = 0; i < 6; ++i) {
      next.atrous(smooth, i);
      matrix detail(smooth);
      detail.sub(next);
      ASSERT_EQ(Values(levels[i]), Values(detail)) << w << "x" << h << " level " << i;
      smooth = next;
    }
    EXPECT_EQ(Values(plane), Values(smooth)) << w << "x" << h;
  }
}

// The shrinkage without kept levels gives the decomposition, thresholding and sum it
// replaces, but for the order of the final additions, in every mode; a thresholded level
// may not even change (factor 0) or vanish whole (a huge factor). One work array serves
// planes of every shape in turn.
TEST(NoiseShrink, ShrinkageWithoutKeptLevelsMatchesTheLevelsThresholded) {
  matrixarray work;
  const std::vector<std::vector<float>> factorSets = {
      {0, 0, 0}, {12, 4, 1.5f, 0.5f, 0.2f}, {0, 1e30f, 3}, {-1, 2}, {40}};
  for (auto [w, h] : kShapes) {
    for (const auto& f : factorSets) {
      for (int mode : {0, 1, 2, 5}) {
        const matrix picture = PicturePlane(w, h, uint32_t(7 * w + h + mode));
        matrix factors(int(f.size()), 1);
        factors.copyfrom(f.data());
        matrix before(picture);
        matrixarray levels;
        levels.atrous(before, factors.n);
        levels.noisethreshold(factors, mode);
        before.addall(levels);

        matrix after(picture);
        AtrousShrink(after, factors, mode, work);
        for (int k = 0; k < after.n; ++k) {
          ASSERT_NEAR(after.x[k], before.x[k], 1e-4 * std::max(1.0f, std::fabs(before.x[k])))
              << w << "x" << h << " mode " << mode << " levels " << f.size() << " at " << k;
        }
        if (f == factorSets[0]) {
          for (int k = 0; k < after.n; ++k) ASSERT_NEAR(after.x[k], picture.x[k], 1e-4);
        }
      }
    }
  }
}
