// Jensen edge enhancement on a colour image: what it leaves alone, a clean step it
// rebuilds exactly whatever the window, the strips and the mask it leaves behind.
#include <cmath>
#include <utility>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/test_planes.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
// A vertical step: columns below `edge` dark, the others bright, each channel its own
// levels; with noise, some of it added.
fpbuffer Step(int w, int h, int edge, float noise = 0, CSpaceCode code = cspace::kDefault) {
  fpbuffer f(w, h, code);
  const matrix n = Noise(w, h, 11);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        f.plane[c].z[y][x] = (x < edge ? 40.0f + 10 * c : 200.0f - 20 * c) + noise * n.z[y][x];
      }
    }
  }
  return f;
}

std::vector<float> Channel(const fpbuffer& f, int c) {
  return std::vector<float>(f.plane[c].x, f.plane[c].x + f.plane[c].n);
}

struct Jensen {
  float a = 0.6f, b = 0, k = 10;
  int w = 5, dominant = 0;
  bool robust = true;
  int segments = 1;
  bool defringing = false;
  void Run(fpbuffer& f, bitmask* selection = nullptr, bool cond = false) const {
    f.jensenedges(a, b, k, w, dominant, robust, selection, cond, segments, defringing);
  }
};
}  // namespace

using JensenDriverTest = ZepTest;

TEST_F(JensenDriverTest, StripsOfTheRows) {
  using Strips = std::vector<std::pair<int, int>>;
  EXPECT_EQ(JensenStrips(10, 3), (Strips{{0, 3}, {3, 6}, {6, 9}, {9, 10}}));
  EXPECT_EQ(JensenStrips(10, 1), (Strips{{0, 10}}));
  EXPECT_EQ(JensenStrips(10, 5), (Strips{{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 10}}));
  const Strips rows = JensenStrips(10, 40);  // more segments than rows: a row each
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[9], std::make_pair(9, 10));
  EXPECT_TRUE(JensenStrips(0, 3).empty());
}

TEST_F(JensenDriverTest, WhatItLeavesAlone) {
  fpbuffer flat(20, 16, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < flat.n; ++k) flat.plane[c].x[k] = 70.0f + c;
  }
  const fpbuffer noisy = Step(20, 16, 9, 30);
  struct Case {
    const char* name;
    const fpbuffer& image;
    Jensen run;
  } cases[] = {
      {"flat, threshold", flat, Jensen{.b = 0.02f}},
      {"flat, every pixel a candidate", flat, Jensen{}},
      {"flat, mean sides", flat, Jensen{.robust = false}},
      {"noise, acceptance 0", noisy, Jensen{.a = 0}},
      {"noise, acceptance 0, mean sides", noisy, Jensen{.a = 0, .robust = false}},
      {"window wider than the picture", noisy, Jensen{.w = 11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fpbuffer f = c.image;
    c.run.Run(f);
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(Channel(f, ch), Channel(c.image, ch)) << ch;
  }
  // The same noisy step with the default acceptance is rebuilt.
  fpbuffer f = noisy;
  Jensen{}.Run(f);
  EXPECT_NE(Channel(f, 1), Channel(noisy, 1));
}

// A clean step fits exactly, so every window whose line falls between the two levels is
// accepted even at acceptance 0, and the pixels come back from the contributions of up to
// w^2 blocks: a count that wrapped would mix in the old value again.
TEST_F(JensenDriverTest, ACleanStepComesBackFromItsModelsAtEveryWindow) {
  for (const int w : {3, 5, 19}) {
    for (const bool robust : {true, false}) {
      SCOPED_TRACE(testing::Message() << "window " << w << (robust ? " robust" : " mean"));
      const int size = 3 * w + 2;
      const fpbuffer step = Step(size, size, size / 2);
      fpbuffer f = step;
      Jensen{.a = 0, .k = 0, .w = w, .robust = robust}.Run(f);
      for (int ch = 0; ch < 3; ++ch) {
        for (int k = 0; k < f.n; ++k) {
          ASSERT_NEAR(f.plane[ch].x[k], step.plane[ch].x[k], 2e-3) << ch << ":" << k;
        }
      }
    }
  }
}

TEST_F(JensenDriverTest, TheSelectionEndsHoldingTheEdgeCandidates) {
  const fpbuffer step = Step(24, 18, 12, 2);
  bitmask selection(24, 18);
  for (int y = 3; y < 15; ++y) {
    for (int x = 2; x < 22; ++x) selection.set(x, y, true);
  }
  fpbuffer f = step;
  Jensen{.b = 0.05f}.Run(f, &selection);
  int count, x, y, w, h;
  selection.bounds(count, x, y, w, h);
  EXPECT_GT(count, 0);
  for (int k = 0; k < selection.n; ++k) {
    const int px = k % 24, py = k / 24;
    if (selection.getbit(k)) {
      EXPECT_TRUE(py >= 3 && py < 15 && (px == 11 || px == 12)) << px << "," << py;
    } else {
      for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(f.plane[ch].x[k], step.plane[ch].x[k]);
    }
  }
  // With strips the selection is not used, and keeps what it had.
  bitmask kept(selection);
  fpbuffer g = step;
  Jensen{.b = 0.05f, .segments = 2}.Run(g, &kept);
  for (int k = 0; k < kept.n; ++k) ASSERT_EQ(kept.getbit(k), selection.getbit(k)) << k;
  EXPECT_NE(Channel(g, 0), Channel(step, 0));
}

TEST_F(JensenDriverTest, CondUsesTheImageMaskAndLeavesTheCandidatesInIt) {
  fpbuffer f = Step(24, 18, 12, 2);
  f.mask.dim(24, 18);
  for (int x = 0; x < 24; ++x) f.mask.set(x, 9, true);  // one row across the step
  const fpbuffer before = f;
  Jensen{.b = 0.05f}.Run(f, nullptr, true);
  for (int k = 0; k < f.n; ++k) {
    const int px = k % 24, py = k / 24;
    EXPECT_EQ(f.mask.getbit(k), py == 9 && (px == 11 || px == 12)) << px << "," << py;
    if (py != 9) {
      EXPECT_EQ(f.plane[0].x[k], before.plane[0].x[k]) << k;
    }
  }
  EXPECT_NE(Channel(f, 0), Channel(before, 0));
}

TEST_F(JensenDriverTest, DefringingRebuildsOnlyTheColourDifferences) {
  const fpbuffer step = Step(20, 16, 9, 3, cspace::kYCbCr | 7);
  fpbuffer f = step;
  Jensen{.defringing = true}.Run(f);
  EXPECT_EQ(Channel(f, 0), Channel(step, 0));
  EXPECT_NE(Channel(f, 1), Channel(step, 1));
  EXPECT_NE(Channel(f, 2), Channel(step, 2));

  fpbuffer rgb = Step(20, 16, 9, 3);
  const fpbuffer rgbBefore = rgb;
  ui.ExpectMessage("Color space must be YCbCr, YCbCr2 or YUV!");
  Jensen{.defringing = true}.Run(rgb);
  ui.VerifyAllAnswered();
  for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(Channel(rgb, ch), Channel(rgbBefore, ch));
}

TEST_F(JensenDriverTest, OneAndEightThreadsGiveTheSameBytes) {
  const fpbuffer input = Step(150, 90, 70, 25);
  for (const bool robust : {true, false}) {
    fpbuffer one = input, eight = input;
    SetParallelThreads(1);
    Jensen{.robust = robust}.Run(one);
    SetParallelThreads(8);
    Jensen{.robust = robust}.Run(eight);
    SetParallelThreads(0);
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(Channel(one, ch), Channel(eight, ch)) << robust;
  }
}
