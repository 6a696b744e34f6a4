// The sharpeners' drivers on a colour image: the unsharp thresholds follow each channel's
// own range.
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/test_planes.h"
#include "support/zep_test.h"

using SharpenDriverTest = ZepTest;

TEST_F(SharpenDriverTest, UnsharpThresholdsAreFractionsOfEachChannelsRange) {
  // HSV: ranges 360, 1 and 255. With t1 = 0.05 a channel keeps the details above
  // 18, 0.05 and 12.75 and smooths away the rest.
  fpbuffer f(25, 19, cspace::kHSV | 7);
  matrix picture = Noise(25, 19, 7);
  for (int k = 0; k < picture.n; ++k) picture.x[k] = 100 + 40 * picture.x[k];
  for (int c = 0; c < 3; ++c) f.plane[c] = picture;
  f.unsharp(UnsharpSmoother(0), 1, UnsharpResponse, 2, 0.05f, 0, 0, nullptr, false);
  const float thresholds[] = {18, 0.05f, 12.75f};
  for (int c = 0; c < 3; ++c) {
    matrix want(picture);
    want.unsharp(UnsharpSmoother(0), 1, UnsharpResponse, 2, thresholds[c], 0, 0, nullptr);
    EXPECT_EQ(Values(f.plane[c]), Values(want)) << c;
  }
  EXPECT_NE(Values(f.plane[0]), Values(f.plane[2]));
}
