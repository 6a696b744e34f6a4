// The channel drivers of the enlargement cores: data-dependent Lanczos, the quarter shift
// and pyramid simulation.
#include <cmath>
#include <filesystem>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/shift.h"
#include "ops/resize/resize.h"
#include "platform/errors.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "support/zep_test.h"

namespace {

// A colour picture whose channels differ, so that an exchanged channel shows.
fpbuffer Picture(int w, int h) {
  fpbuffer image(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        image.plane[c].z[y][x] =
            128.0f + 60.0f * std::sin(0.5f * x + 0.9f * c) * std::cos(0.37f * y - 0.4f * c) +
            float((x * 7 + y * 3 + c * 5) % 11);
      }
    }
  }
  return image;
}

std::vector<float> Values(const matrix& m) { return std::vector<float>(m.x, m.x + m.n); }

class EnlargeDriversTest : public ZepTest {
 protected:
  int ScratchFileCount() {
    int count = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home)) {
      count += e.path().extension() == ".mat";
    }
    return count;
  }
};

}  // namespace

TEST_F(EnlargeDriversTest, DominantChannelDecidesForTheOthers) {
  // Channel 2 dominant: it is enlarged first with maps of its own, and channels 1 and 3
  // follow its maps.
  const fpbuffer source = Picture(9, 8);
  fpbuffer image = source;
  bytemaps maps;
  StartProgress(1000);
  ddl(image, 2, 3, 2, true, true, false, false, maps, false);
  ASSERT_EQ(image.width, 36);
  ASSERT_EQ(image.height, 32);
  ASSERT_EQ(maps.n, 2);

  matrix in = source.plane[1], expected;
  bytemaps own;
  expected.DdlEnlarge(in, 3, 2, true, true, false, false, own, false);
  EXPECT_EQ(Values(image.plane[1]), Values(expected));
  for (int c : {0, 2}) {
    in = source.plane[c];
    expected.DdlEnlarge(in, 3, 2, true, true, false, false, own, false);
    EXPECT_EQ(Values(image.plane[c]), Values(expected)) << c;
    bytemaps separate;
    in = source.plane[c];
    expected.DdlEnlarge(in, 3, 2, true, true, false, false, separate, false);
    EXPECT_NE(Values(image.plane[c]), Values(expected)) << c;
  }
  EXPECT_EQ(image.view[0].x, image.plane[0].x);
}

TEST_F(EnlargeDriversTest, DdlThroughScratchFilesMatchesMemory) {
  const fpbuffer source = Picture(10, 7);
  for (int dominant : {1, 3}) {
    fpbuffer memory = source, disk = source;
    bytemaps m1, m2;
    StartProgress(1000);
    ddl(memory, dominant, -3, 2, true, false, false, false, m1, true);
    ddl(disk, dominant, -3, 2, true, false, true, false, m2, true);
    ASSERT_EQ(disk.width, 40);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Values(memory.plane[c]), Values(disk.plane[c])) << c;
    EXPECT_EQ(m2[0].n, 0);  // dropped after the last channel
    EXPECT_EQ(ScratchFileCount(), 0);
  }
}

TEST_F(EnlargeDriversTest, ACancelOrAFailedReadLeavesNoScratchFile) {
  for (bool scratch : {false, true}) {
    fpbuffer image = Picture(8, 6);
    bytemaps maps;
    platform.CancelAtPoll(1);
    StartProgress(1000);
    EXPECT_THROW(ddl(image, 1, 3, 2, true, true, scratch, false, maps, true), Cancelled);
    EXPECT_EQ(image.n, 0);
    EXPECT_EQ(ScratchFileCount(), 0);
  }
  // A channel file that cannot be read back ends the loop with its message's exception.
  platform.CancelAtPoll(0);
  fpbuffer image = Picture(8, 6);
  const ChannelPlan plan = DominantFirst(1, 3);
  EXPECT_ANY_THROW(ForEachChannel(image, true, plan, [&](matrix&) {
    std::filesystem::resize_file(ScratchPath(plan.files[2]), 3);
    return false;
  }));
  EXPECT_EQ(ScratchFileCount(), 0);
}

TEST_F(EnlargeDriversTest, ChannelPlansPutTheDominantChannelFirst) {
  const struct {
    int dominant;
    std::vector<int> order;
  } cases[] = {{1, {0, 1, 2}}, {2, {1, 0, 2}}, {3, {2, 1, 0}}};
  for (const auto& tc : cases) {
    const ChannelPlan plan = DominantFirst(tc.dominant, 3);
    EXPECT_EQ(plan.order, tc.order);
    EXPECT_EQ(plan.files, (std::vector<std::string>{"temp10.mat", "temp20.mat", "temp30.mat"}));
  }
  EXPECT_EQ(ChannelsInTurn(2).files, (std::vector<std::string>{"temp1.mat", "temp2.mat"}));
}

TEST_F(EnlargeDriversTest, QuarterShiftMovesEveryChannel) {
  const fpbuffer source = Picture(7, 5);
  fpbuffer image = source;
  shiftquarter(image);
  for (int c = 0; c < 3; ++c) {
    matrix expected = source.plane[c];
    ShiftQuarterPixel(expected, true, true);
    EXPECT_EQ(Values(image.plane[c]), Values(expected)) << c;
  }
}

TEST_F(EnlargeDriversTest, PyramidSimulationSteps) {
  // x1.5 with q 1.25: the computed 2 steps are raised to 5 steps of 1.5^(1/5); the
  // sizes after each step show them (12 -> 13 -> 14 -> 15 -> 16 -> 17, then 18).
  fpbuffer image = Picture(12, 12);
  StartProgress(1000);
  EXPECT_FALSE(pyramidsim(image, 1.5, 1.5, 0, 0, false, 1.25, 0, 0));
  EXPECT_EQ(image.width, 18);
  EXPECT_EQ(image.height, 18);
  EXPECT_EQ(image.code, 0x17u);

  fpbuffer steps = Picture(12, 12);
  steps.convert(cspace::kYCbCr);
  const double e = std::pow(1.5, 0.2);
  for (int i = 0; i < 5; ++i) triangulate(steps, 0, 1, e, e, 0, 0, false);
  RepeatEdgesTo(steps, 18, 18);
  steps.convert(0x17);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Values(image.plane[c]), Values(steps.plane[c])) << c;

  // A scale below 1 changes nothing and is no cancel.
  const fpbuffer source = Picture(12, 12);
  fpbuffer same = source;
  EXPECT_FALSE(pyramidsim(same, 2.0, 0.9, 0, 0, false, 1.25, 1, 1));
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Values(same.plane[c]), Values(source.plane[c]));
}

TEST_F(EnlargeDriversTest, PyramidSharpeningKeepsConstantsAndCancelReportsTrue) {
  fpbuffer image(10, 8, 0x17);
  for (int c = 0; c < 3; ++c) image.plane[c].fill(90.0f);
  StartProgress(1000);
  EXPECT_FALSE(pyramidsim(image, 2.0, 2.0, 0.25, 0.25, false, 0.5, 2.0f, 1.0f));
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < image.n; ++k) ASSERT_NEAR(image.plane[c].x[k], 90.0f, 1e-3);
  }
  fpbuffer cancelled = Picture(10, 8);
  platform.CancelAtPoll(1);
  StartProgress(1000);
  EXPECT_TRUE(pyramidsim(cancelled, 2.0, 2.0, 0, 0, true, 1.25, 0, 0));
  EXPECT_EQ(ScratchFileCount(), 0);
}

TEST_F(EnlargeDriversTest, MbsRefusesBadFactorsAndChannelsBeforeTouchingTheMask) {
  const fpbuffer source = Picture(8, 6);
  for (auto [s, dominant] : {std::pair{0, 1}, std::pair{1, 1}, std::pair{4, 1}, std::pair{3, 5}}) {
    fpbuffer image = source;
    image.mask.dim(8, 6);
    mbs(image, dominant, s, false);
    EXPECT_EQ(image.width, 8) << s;
    EXPECT_EQ(image.mask.width, 8) << s;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Values(image.plane[c]), Values(source.plane[c]));
  }
}

TEST_F(EnlargeDriversTest, MbsSharesTheDominantClassesAndScratchMatchesMemory) {
  const fpbuffer source = Picture(9, 7);
  fpbuffer memory = source, disk = source;
  memory.mask.dim(9, 7);
  StartProgress(10000);
  mbs(memory, 3, 5, false);
  mbs(disk, 3, 5, true);
  ASSERT_EQ(memory.width, 45);
  ASSERT_EQ(memory.height, 35);
  EXPECT_EQ(memory.mask.width, 45);
  EXPECT_EQ(ScratchFileCount(), 0);
  cvector<uint8_t> classes;
  source.plane[2].mbsclassify(classes);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(Values(memory.plane[c]), Values(disk.plane[c])) << c;
    matrix coefficients = source.plane[c], expected;
    coefficients.bsplineprefilter();
    expected.mbsfill(coefficients, classes, 5).boxblur(5, 3);
    EXPECT_EQ(Values(memory.plane[c]), Values(expected)) << c;
  }
}
