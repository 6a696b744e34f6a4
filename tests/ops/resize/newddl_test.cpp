// New DDL on planes and on the float image.
#include <cmath>

#include "numeric/cvector.h"
#include "numeric/downscale_measures.h"
#include "platform/errors.h"
#include "pseudoinverse_fixture.h"

using NewDdlTest = PseudoInverseFixture;
using namespace enlarge;

TEST_F(NewDdlTest, ShortcutWithoutRefinementDoublesTheChromaWithTheLuminanceMaps) {
  const fpbuffer source = Colour(20, 16);
  fpbuffer image;
  image.copy(source);
  StartProgress(1e9f);
  image.newddl(2, 3, 5, 3, 1, 0, 0, 0, SuperRez(20, 0.2f, 20, 0, 2), false);
  EXPECT_EQ(image.code, source.code);
  EXPECT_EQ(ScratchFiles(), 0);

  fpbuffer expected;
  expected.copy(source);
  expected.convert(cspace::kYCbCr);
  bytemaps maps;
  for (int c = 0; c < 3; ++c) {
    matrix low = expected.plane[c];
    // The first call decides the maps on the luminance, the other two reuse them.
    expected.plane[c].DdlEnlarge(low, 3, 2, true, true, false, false, maps, false);
  }
  expected.syncviews().convert(source.code);
  ASSERT_EQ(image.width, 80);
  for (int c = 0; c < 3; ++c) {
    EXPECT_LT(image.plane[c].diffstats(expected.plane[c]).mae, 1e-4) << c;
  }
  // Not what each channel's own maps give.
  fpbuffer own;
  own.copy(source);
  own.convert(cspace::kYCbCr);
  matrix cb = own.plane[1], alone;
  bytemaps fresh;
  alone.DdlEnlarge(cb, 3, 2, true, true, false, false, fresh, false);
  expected.convert(cspace::kYCbCr);
  EXPECT_GT(alone.diffstats(expected.plane[1]).mae, 0.01);
}

TEST_F(NewDdlTest, BackProjectionRoundsBringTheReductionCloser) {
  const matrix truth = SlantedEdge(64, 64, 17.0);
  for (int k : {1, 2}) {
    const int f = 1 << k;
    matrix low = BoxReduce(truth, f);
    double previous = 1e9;
    for (int rounds : {0, 1, 3}) {
      matrix big;
      StartProgress(1e9f);
      big.NewDdlChannel(low, k, 0, 5, 3, 0, 0, rounds, 0.2f, 20, 0, 0, 2, false);
      ASSERT_EQ(big.nx, 64);
      const double rms = ReductionRms(big, low, f, 0, 0);
      EXPECT_LT(rms, previous) << k << " " << rounds;
      previous = rms;
    }
    EXPECT_LT(previous, 1.0) << k;
  }
}

TEST_F(NewDdlTest, SpaceMaskAndFilesComeBack) {
  const fpbuffer source = Colour(18, 14);
  for (int shortcut : {0, 2}) {
    for (bool presharpen : {false, true}) {
      fpbuffer image;
      image.copy(source);
      StartProgress(1e9f);
      image.newddl(1, 3, 5, 3, shortcut, 0, 0, 1, SuperRez(2, 0.2f, 20, 0.1f, 2), presharpen);
      EXPECT_EQ(image.code, source.code);
      EXPECT_EQ(image.width, 36);
      EXPECT_EQ(image.mask.width, 36);
      EXPECT_EQ(image.mask.height, 28);
      EXPECT_TRUE(image.mask.get(9, 5)) << shortcut;
      EXPECT_EQ(ScratchFiles(), 0);
      for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(image.plane[c].sum())) << c;
    }
  }
  // No doubling leaves the image as it was: no half-pixel shift.
  fpbuffer same;
  same.copy(source);
  same.newddl(0, 3, 5, 3, 1, 0, 0, 0, SuperRez(0, 0.2f, 20, 0, 2), false);
  for (int c = 0; c < 3; ++c) EXPECT_LT(same.plane[c].diffstats(source.plane[c]).mae, 1e-3) << c;
  EXPECT_EQ(same.mask.width, 18);
}

TEST_F(NewDdlTest, BadArgumentsAreRefusedBeforeAnythingChanges) {
  struct Case {
    int k, reduction, base, order;
    const char* message;
  };
  const Case cases[] = {
      {2, 9, 5, 3, kUnknownReductionMessage},
      {2, 3, -4, 3, kUnknownBaseMessage},
      {2, 3, 16, 3, kUnknownBaseMessage},
      {-1, 3, 5, 3, kDoublingsMessage},
      {2, 3, 5, 6, kOrderMessage},
      {2, 3, 5, -2, kOrderMessage},
  };
  const fpbuffer source = Colour(12, 10);
  for (const Case& c : cases) {
    fpbuffer image;
    image.copy(source);
    try {
      image.newddl(c.k, c.reduction, c.base, c.order, 1, 0, 0, 0, SuperRez(0, 0.2f, 20, 0, 2),
                   true);
      ADD_FAILURE() << c.k << " " << c.reduction << " " << c.base << " " << c.order;
    } catch (const TextException& e) {
      EXPECT_EQ(e.text(), c.message);
    }
    EXPECT_TRUE(Bytes(image) == Bytes(source));
  }
}
