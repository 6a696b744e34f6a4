// The wavelet shrinkage members: the soft threshold, the window RMS and the thresholding of
// detail levels.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numeric/matrixarray.h"
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
