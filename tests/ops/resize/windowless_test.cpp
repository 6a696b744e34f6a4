// Windowless Xin Li on the float image: the shortcut, the scratch files, the memory
// refusal, the grid of the result and the progress it reports.
#include <cmath>
#include <string>

#include "numeric/matrixarray.h"
#include "ops/resize/windowless.h"
#include "platform/errors.h"
#include "pseudoinverse_fixture.h"

using WindowlessDriverTest = PseudoInverseFixture;
using namespace enlarge;

namespace {

// The command's defaults but for the iterations: a 0, b 1, c 0, d 20, prior start.
fpbuffer& Windowless(fpbuffer& image, int iterations, int shortcut, int k, bool sixteen,
                     int backProjections, const PostProcessParams& post) {
  return image.windowless(0, 1, 0, 20, iterations, false, shortcut, k, true, sixteen,
                          backProjections, 3, 7, 0, 0, post);
}

}  // namespace

TEST_F(WindowlessDriverTest, AShortcutDoublesTheChromaWithTheLuminanceWeights) {
  const fpbuffer source = Colour(20, 16);
  fpbuffer image;
  image.copy(source);
  StartProgress(1e9f);
  Windowless(image, 12, 1, 2, true, 0, SuperRez(0, 0.1f, 20, 0, 2));
  EXPECT_EQ(image.code, source.code);
  ASSERT_EQ(image.width, 80);
  ASSERT_EQ(image.height, 64);
  EXPECT_EQ(ScratchFiles(), 0);

  fpbuffer expected;
  expected.copy(source);
  expected.convert(cspace::kYCbCr);
  expected.plane[0].windowlessenlarge(0, 1, 0, 20, 12, false, 2, true, true, true);
  matrix alone = expected.plane[1];
  for (int c = 1; c < 3; ++c) expected.plane[c].windowlessreapply(false, 2, true);
  expected.syncviews().convert(source.code);
  for (int c = 0; c < 3; ++c) {
    EXPECT_LT(image.plane[c].diffstats(expected.plane[c]).mae, 1e-3) << c;
  }
  // Not what the chrominance's own fit gives.
  alone.windowlessenlarge(0, 1, 0, 20, 12, false, 2, true, true, true);
  expected.convert(cspace::kYCbCr);
  EXPECT_GT(alone.diffstats(expected.plane[1]).mae, 0.01);
  for (int p = 0; p < 2; ++p) WindowlessWeights(16).remove("hv", p).remove("d", p);
}

TEST_F(WindowlessDriverTest, NoScratchFileOutlivesACallOrACancel) {
  const fpbuffer source = Colour(14, 12);
  for (int shortcut : {0, 2}) {
    for (int bp : {0, 1}) {
      fpbuffer image;
      image.copy(source);
      StartProgress(1e9f);
      Windowless(image, 4, shortcut, 1, bp == 0, bp, SuperRez(bp == 0 ? 2 : 0, 0.1f, 20, 0, 2));
      EXPECT_EQ(image.code, source.code);
      EXPECT_EQ(image.width, 28);
      EXPECT_EQ(image.mask.width, 28);
      EXPECT_TRUE(image.mask.get(7, 5));
      for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(image.plane[c].sum())) << c;
      EXPECT_EQ(ScratchFiles(), 0) << shortcut << bp;
    }
  }
  // A cancel in the second channel's fit, after the first channel's weights were written.
  for (int poll : {1, 9}) {
    fpbuffer image;
    image.copy(source);
    StartProgress(1e9f);
    platform.CancelAtPoll(poll);
    EXPECT_THROW(Windowless(image, 5, 0, 1, true, 1, SuperRez(0, 0.1f, 20, 0, 2)), Cancelled);
    platform.CancelAtPoll(0);
    EXPECT_EQ(ScratchFiles(), 0) << poll;
  }
}

TEST_F(WindowlessDriverTest, AFitBeyondTheMemoryIsRefusedBeforeAnythingChanges) {
  const fpbuffer source = Colour(200, 150);
  fpbuffer image;
  image.copy(source);
  platform.memory.availPhys = 10'000'000;
  ASSERT_GT(WindowlessFitBytes(200, 150, 1, true), 10'000'000u);
  ui.ExpectMessageStartingWith("Out of memory!");
  EXPECT_THROW(Windowless(image, 3, 1, 1, true, 0, SuperRez(0, 0.1f, 20, 0, 2)), std::bad_alloc);
  EXPECT_EQ(Bytes(image), Bytes(source));
  EXPECT_FALSE(WindowlessFits(1 << 14, 1 << 14, 2, false));
  EXPECT_TRUE(WindowlessFits(8, 8, 2, false));
  EXPECT_EQ(ScratchFiles(), 0);
}

TEST_F(WindowlessDriverTest, ResultLiesHalfAnOutputSampleOffUnlessRefined) {
  // Back-projection and "Super Rez" bring the reduction back onto the source, which
  // centres the result; without them it keeps the doublings' grid.
  struct Case {
    int bp, superRez;
    bool centred;
  } cases[] = {{0, 0, false}, {0, 20, true}, {2, 0, true}};
  const double cx = 13.3, cy = 10.6;
  const fpbuffer source = Grey(Blobs(28, 22, {{cx, cy}}, 2.5));
  for (int k : {1, 2}) {
    const int f = 1 << k;
    for (const Case& t : cases) {
      fpbuffer image;
      image.copy(source);
      StartProgress(1e9f);
      Windowless(image, 12, 0, k, true, t.bp, SuperRez(t.superRez, 0.1f, 20, 0, 2));
      const auto [x, y] = Centroid(image.plane[1]);
      const double off = t.centred ? 0 : -0.5 / f;
      EXPECT_NEAR((x - (f - 1) / 2.0) / f, cx + off, 0.05) << k << " " << t.bp << "/" << t.superRez;
      EXPECT_NEAR((y - (f - 1) / 2.0) / f, cy + off, 0.05) << k << " " << t.bp << "/" << t.superRez;
    }
  }
  // Through a shortcut the chrominance, which only takes the luminance's weights, lands on
  // the luminance's grid: a red blob stays where it was in every channel.
  fpbuffer red = Grey(Blobs(28, 22, {{cx, cy}}, 2.5));
  red.plane[1].fill(0.0f);
  red.plane[2].fill(0.0f);
  for (const Case& t : cases) {
    fpbuffer image;
    image.copy(red);
    StartProgress(1e9f);
    Windowless(image, 12, 1, 1, true, t.bp, SuperRez(t.superRez, 0.1f, 20, 0, 2));
    const auto [x, y] = Centroid(image.plane[0]);
    const double off = t.centred ? 0 : -0.25;
    EXPECT_NEAR((x - 0.5) / 2, cx + off, 0.05) << t.bp << "/" << t.superRez;
    EXPECT_NEAR((y - 0.5) / 2, cy + off, 0.05) << t.bp << "/" << t.superRez;
  }
}

TEST_F(WindowlessDriverTest, TheTickCountIsKnownBeforehand) {
  const fpbuffer source = Colour(16, 12);
  for (int shortcut : {0, 1}) {
    for (int superRez : {0, 3}) {
      fpbuffer image;
      image.copy(source);
      StartProgress(1e9f);
      Windowless(image, 7, shortcut, 2, false, 0, SuperRez(superRez, 0.1f, 20, 0, 2));
      EXPECT_EQ(Progress().count, WindowlessTicks(16, 12, 3, 7, shortcut, 2, superRez))
          << shortcut << " " << superRez;
    }
  }
  // Planes too small to fit are doubled without ticks.
  EXPECT_EQ(WindowlessTicks(2, 9, 3, 10, 0, 2, 0), 3 * 18);
}
