// The pseudo-inverse enlargement of the float image and the test reduction.
#include <cmath>

#include "numeric/downscale_measures.h"
#include "platform/errors.h"
#include "pseudoinverse_fixture.h"

using PseudoInverseTest = PseudoInverseFixture;
using namespace enlarge;

TEST_F(PseudoInverseTest, EveryChannelReducesBackAndTheMaskAndSpaceComeBack) {
  const fpbuffer source = Colour(72, 64);
  for (int shortcut : {0, 1}) {
    for (int a : {2, 3}) {
      fpbuffer image;
      image.copy(source);
      StartProgress(1e9f);
      // Without Super Rez, whose smoothing the last re-projection only mostly undoes.
      image.pseudoinverseenlarge(a, 3, 5, shortcut, 0, 0, SuperRez(0, 0.2f, 20, 0.1f, 2));
      ASSERT_EQ(image.width, 72 * a);
      ASSERT_EQ(image.height, 64 * a);
      EXPECT_EQ(image.code, source.code);
      EXPECT_EQ(image.mask.width, 72 * a);
      EXPECT_EQ(image.mask.height, 64 * a);
      // The set block (columns 3-5, rows 2-3) lands on its own place, shift 0.
      EXPECT_TRUE(image.mask.get(4 * a + (a - 1) / 2, (6 * a - 1) / 2)) << a;
      EXPECT_FALSE(image.mask.get(a, a)) << a;
      EXPECT_EQ(ScratchFiles(), 0);
      if (shortcut == 0) {
        for (int c = 0; c < 3; ++c) {
          EXPECT_LT(ReductionRms(image.plane[c], source.plane[c], a, 3, 4), 0.5) << a << " " << c;
        }
      }
    }
  }
}

TEST_F(PseudoInverseTest, ShortcutRefinesTheLuminanceAlone) {
  const fpbuffer source = Colour(24, 20);
  fpbuffer refined, plain;
  refined.copy(source);
  plain.copy(source);
  StartProgress(1e9f);
  refined.pseudoinverseenlarge(2, 3, 5, 1, 0, 0, SuperRez(4, 0.2f, 20, 0.1f, 2));
  plain.pseudoinverseenlarge(2, 3, 5, 1, 0, 0, SuperRez(0, 0.2f, 20, 0.1f, 2));
  refined.convert(cspace::kYCbCr);
  plain.convert(cspace::kYCbCr);
  EXPECT_GT(refined.plane[0].diffstats(plain.plane[0]).mae, 0.1);
  for (int c = 1; c < 3; ++c) EXPECT_LT(refined.plane[c].diffstats(plain.plane[c]).mae, 1e-3) << c;
}

TEST_F(PseudoInverseTest, BadArgumentsAreRefusedBeforeAnythingChanges) {
  struct Case {
    int a, reduction, base;
    const char* message;
  };
  const Case cases[] = {
      {2, 7, 5, kUnknownReductionMessage}, {2, -6, 5, kUnknownReductionMessage},
      {2, 3, -4, kUnknownBaseMessage},     {2, 3, -5, kUnknownBaseMessage},
      {2, 3, 6, kUnknownBaseMessage},      {0, 3, 5, kFactorMessage},
  };
  const fpbuffer source = Colour(12, 10);
  for (const Case& c : cases) {
    fpbuffer image;
    image.copy(source);
    try {
      image.pseudoinverseenlarge(c.a, c.reduction, c.base, 0, 0, 0, SuperRez(1, 0.2f, 20, 0, 2));
      ADD_FAILURE() << c.a << " " << c.reduction << " " << c.base;
    } catch (const TextException& e) {
      EXPECT_EQ(e.text(), c.message);
    }
    EXPECT_TRUE(Bytes(image) == Bytes(source));
    EXPECT_EQ(ScratchFiles(), 0);
  }
}

TEST_F(PseudoInverseTest, ACancelLeavesNoScratchFile) {
  fpbuffer image = Colour(12, 10);
  platform.CancelAtPoll(2);
  StartProgress(1000);
  EXPECT_THROW(image.pseudoinverseenlarge(2, 3, 5, 0, 0, 0, SuperRez(2, 0.2f, 20, 0, 2)),
               Cancelled);
  platform.CancelAtPoll(0);
  EXPECT_EQ(ScratchFiles(), 0);
}

TEST_F(PseudoInverseTest, TestReductionNeedsADividingFactor) {
  fpbuffer image = Colour(101, 100);
  const std::string before = Bytes(image);
  ui.ExpectMessage(
      "The dimensions of the test image must be exactly divisible by the scale factor");
  image.reducetest(2, 0, 0, 0);
  EXPECT_TRUE(Bytes(image) == before);

  fpbuffer even = Colour(100, 60);
  even.reducetest(2, 0, 0, 0);
  ASSERT_EQ(even.width, 50);
  ASSERT_EQ(even.height, 30);
  EXPECT_EQ(even.mask.width, 50);
  EXPECT_EQ(even.mask.height, 30);
  const fpbuffer source = Colour(100, 60);
  // The box reduction is the mean of each 2 x 2 block.
  for (int c = 0; c < 3; ++c) {
    const matrix mean = BoxReduce(source.plane[c], 2);
    EXPECT_LT(even.plane[c].diffstats(mean).mae, 1e-3) << c;
  }

  fpbuffer refused = Colour(100, 60);
  EXPECT_THROW(refused.reducetest(2, 9, 0, 0), TextException);
  EXPECT_THROW(refused.reducetest(0, 0, 0, 0), TextException);
  EXPECT_TRUE(Bytes(refused) == Bytes(source));
}
