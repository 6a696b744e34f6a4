#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/matrix.h"
#include "test_planes.h"

namespace {
// A picture with structure at every scale, well inside 0-255.
matrix Picture(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      m.z[y][x] = 120.0f + 20.0f * m.z[y][x] + 50.0f * std::sin(0.05f * float(x)) +
                  30.0f * std::cos(0.23f * float(y) + 0.1f * float(x));
    }
  }
  return m;
}

float MaxDifference(const matrix& a, const matrix& b) {
  float worst = 0;
  for (int k = 0; k < a.n; ++k) worst = std::max(worst, std::fabs(a.x[k] - b.x[k]));
  return worst;
}

struct Template {
  matrix levels;
  float mean = 0, rms = 0;
};

Template Of(const matrix& plane, int requested = 0) {
  Template t;
  plane.bctemplate(t.levels, t.mean, t.rms, requested);
  return t;
}
}  // namespace

TEST(BcTemplateTest, LevelCounts) {
  struct Case {
    int w, h, requested, levels;
  };
  const Case cases[] = {
      {640, 480, 0, 6},                    // 480, 240, 120, 60, 30, 15
      {640, 480, 9, 6}, {100, 100, 5, 4},  // 100, 50, 25, 12
      {100, 100, 2, 2}, {100, 100, -1, 4}, {16, 16, 0, 2}, {15, 200, 0, 1}, {1, 1, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.requested);
    const matrix plane = Picture(c.w, c.h, 3);
    const std::vector<float> before = Values(plane);
    const Template t = Of(plane, c.requested);
    EXPECT_EQ(t.levels.n, c.levels);
    EXPECT_EQ(t.levels.ny, 1);
    EXPECT_EQ(Values(plane), before);  // only read
  }
}

TEST(BcTemplateTest, ImposingTheStatistics) {
  const matrix reference = Picture(50, 40, 7);
  const Template own = Of(reference);
  // The reference itself comes back unchanged, and so does its double or its shift.
  for (float gain : {1.0f, 2.0f, 0.5f}) {
    SCOPED_TRACE(gain);
    matrix p(reference);
    p.mulscalar(gain).addscalar(gain == 1.0f ? 0.0f : 17.0f);
    p.bcadjust(own.levels, own.mean, own.rms);
    EXPECT_LT(MaxDifference(p, reference), 2e-3f);
  }
  // A constant template makes any picture constant at its mean.
  matrix flat(12, 9);
  flat.fill(42.5f);
  const Template none = Of(flat);
  EXPECT_EQ(none.rms, 0.0f);
  for (int i = 0; i < none.levels.n; ++i) EXPECT_EQ(none.levels.x[i], 0.0f);
  matrix busy(reference);
  busy.bcadjust(none.levels, none.mean, none.rms);
  for (int k = 0; k < busy.n; ++k) ASSERT_EQ(busy.x[k], 42.5f) << k;
  // A flat picture stays flat: only the mean moves.
  matrix grey(7, 7);
  grey.fill(3.0f);
  grey.bcadjust(own.levels, own.mean, own.rms);
  for (int k = 0; k < grey.n; ++k) ASSERT_FLOAT_EQ(grey.x[k], own.mean) << k;
}

TEST(BcTemplateTest, AWideTemplateOnATinyPlaneAndEmptyPlanes) {
  // Six levels with holes up to 32 apart, imposed on 7 x 5: every read reflects inside.
  const Template wide = Of(Picture(640, 480, 5));
  ASSERT_EQ(wide.levels.n, 6);
  for (auto [w, h] : {std::pair{7, 5}, std::pair{1, 1}, std::pair{1, 9}, std::pair{2, 2}}) {
    matrix tiny = Picture(w, h, 9);
    tiny.bcadjust(wide.levels, wide.mean, wide.rms);
    for (int k = 0; k < tiny.n; ++k) ASSERT_TRUE(std::isfinite(tiny.x[k])) << w << "x" << h;
  }
  matrix empty, levels;
  float mean = -1, rms = -1;
  empty.bctemplate(levels, mean, rms, 0);
  EXPECT_EQ(levels.n, 0);
  empty.bcadjust(wide.levels, wide.mean, wide.rms);
  EXPECT_EQ(empty.n, 0);
}
