// Jensen-Xin Li and the back-projected Xin Li cores: the partner each variant doubles with,
// the blend through memory and file, the luminance shortcut, the scratch road and the mask,
// and tiny images.
#include <cmath>
#include <vector>

#include "enlarge_harness.h"
#include "jensen_fixture.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "platform/progress.h"
#include "support/zep_test.h"

namespace {

using namespace jensentest;

using JensenXinLiTest = ZepTest;

XinLiModel Model(bool twelve) {
  XinLiModel xl;
  xl.twelve = twelve;
  return xl;
}

// The Xin Li partner alone, as the combination runs it: one doubling a pass, the second
// on the turned image.
void XinLiAlone(fpbuffer& image, int passes, const XinLiModel& xl) {
  image.xinli(xl.bias, xl.window, xl.taper, xl.normalization, image.dominantchannel(0), passes,
              true, xl.antialias, xl.twelve);
}

TEST_F(JensenXinLiTest, WithoutEdgesOrAnchorsTheResultIsXinLis) {
  matrix flat(12, 10), narrow(4, 10);
  flat.fill(90);
  narrow.fill(0);
  for (int y = 0; y < 10; ++y) narrow.z[y][0] = narrow.z[y][1] = 250;
  struct Case {
    const matrix* picture;
    int passes;
  };
  for (const Case& c : {Case{&flat, 2}, Case{&narrow, 1}}) {
    for (bool twelve : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.picture->nx << " " << twelve);
      fpbuffer combined = Rgb(*c.picture), partner = Rgb(*c.picture);
      StartProgress(1e9f);
      jensenxinli(combined, c.passes, 0, Model(twelve), true, JensenModel{}, false);
      XinLiAlone(partner, c.passes, Model(twelve));
      ExpectSame(combined, partner, "partner");
    }
  }
}

TEST_F(JensenXinLiTest, EachVariantBlendsTheEdgeModelIntoItsOwnXinLiDoubling) {
  const fpbuffer small = enlarge::Grey(enlarge::SlantedEdge(18, 16, 20.0));
  const int dominant = small.dominantchannel(0);
  fpbuffer results[2];
  for (bool twelve : {false, true}) {
    fpbuffer J, want = small;
    bytemaps counts;
    jensen2x(J, counts, small, 0.45f, 0.04f, 10, 5, dominant, true);
    StartProgress(1e9f);
    XinLiAlone(want, 1, Model(twelve));
    blendjensen(want, counts, J, 5);
    for (bool scratch : {false, true}) {
      SCOPED_TRACE(testing::Message() << twelve << " " << scratch);
      fpbuffer got = small;
      jensenxinli(got, 1, 0, Model(twelve), true, JensenModel{}, scratch);
      ExpectSame(got, want, "blend");
      EXPECT_TRUE(ScratchEmpty());
    }
    int painted = 0;
    for (int y = 0; y < J.height; ++y) {
      for (int x = 0; x < J.width; ++x) painted += counts[y][x] != 0;
    }
    EXPECT_GT(painted, 0);
    results[twelve] = want;
  }
  // Same size; only the Xin Li step differs.
  ASSERT_EQ(results[0].width, results[1].width);
  ASSERT_EQ(results[0].height, results[1].height);
  EXPECT_NE(Values(results[0].plane[0]), Values(results[1].plane[0]));
}

TEST_F(JensenXinLiTest, TheShortcutDoublesTheChromaByTheLuminanceFits) {
  fpbuffer small(14, 12, cspace::kRGB | 0x7);
  for (int c = 0; c < 3; ++c) small.plane[c] = enlarge::SlantedEdge(14, 12, 15.0 + 20 * c);
  for (bool twelve : {false, true}) {
    fpbuffer got = small;
    StartProgress(1e9f);
    bpxl(got, 0, Refining(4, 5, 0), false, 1, Model(twelve), 2, nullptr);
    EXPECT_EQ(got.code, small.code);
    got.convert(cspace::kYCbCr);

    // Xin Li in YCbCr with the luminance deciding, onto the centred grid, nothing more.
    fpbuffer want = small;
    want.convert(cspace::kYCbCr);
    want.xinli(1, 8, 0, 0, 1, 2, true, 1.5f, twelve);
    shifthalf(want, false);
    ASSERT_EQ(got.width, want.width);
    for (int c : {1, 2}) {
      for (int i = 0; i < want.n; ++i) {
        ASSERT_NEAR(got.plane[c].x[i], want.plane[c].x[i], 0.02f) << twelve << " " << c;
      }
    }
    // The luminance alone is back-projected.
    float moved = 0;
    for (int i = 0; i < want.n; ++i) {
      moved = std::max(moved, std::fabs(got.plane[0].x[i] - want.plane[0].x[i]));
    }
    EXPECT_GT(moved, 0.5f) << twelve;
  }
}

TEST_F(JensenXinLiTest, TheScratchRoadGivesTheSameImageAndTheMaskFollows) {
  fpbuffer small(16, 14, cspace::kRGB | 0x7);
  small.plane[0] = enlarge::SlantedEdge(16, 14, 12.0);
  small.plane[1] = enlarge::Checkerboard(16, 5);
  small.plane[1].crop(0, 0, 16, 14);
  small.plane[2] = enlarge::Blobs(16, 14, {{5.3, 8.6}}, 2.0);
  small.syncviews();
  small.mask.dim(16, 14);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 8; ++x) small.mask.set(x, y, true);
  }
  const BackProjection bp = Refining(0, 3, 1);
  for (int core = 0; core < 2; ++core) {
    for (int shortcut : {0, 2}) {
      SCOPED_TRACE(testing::Message() << core << " " << shortcut);
      fpbuffer memory, file;
      memory = small;  // assignment keeps the mask
      file = small;
      ASSERT_TRUE(file.mask.present());
      StartProgress(1e9f);
      for (fpbuffer* image : {&memory, &file}) {
        const bool scratch = image == &file;
        if (core == 0) bpxl(*image, 0, bp, scratch, shortcut, XinLiModel{}, 1, nullptr);
        if (core == 1) bpjxl(*image, 0, JensenModel{}, bp, scratch, shortcut, XinLiModel{}, 1, nullptr);
      }
      ExpectSame(file, memory, "scratch");
      EXPECT_TRUE(ScratchEmpty());
      ASSERT_EQ(memory.mask.width, 32);
      ASSERT_EQ(memory.mask.height, 28);
      for (int k = 0; k < memory.n; ++k) ASSERT_EQ(file.mask.getbit(k), memory.mask.getbit(k));
      if (core == 0) {
        // The left half of the source is the left half of the enlargement.
        for (int y = 0; y < 28; ++y) {
          for (int x = 0; x < 32; ++x) ASSERT_EQ(memory.mask.get(x, y), x < 16) << x << ", " << y;
        }
      } else if (shortcut == 0) {
        // The complement of what the edge model of the shifted image painted.
        fpbuffer shifted, J;
        shifted = small;
        shiftquarter(shifted);
        bytemaps counts;
        jensen2x(J, counts, shifted, 0.45f, 0.04f, 10, 5, small.dominantchannel(0), true);
        ASSERT_EQ(counts.n, 28);
        const Marks marks = CompareWithPaint(memory.mask, counts);
        EXPECT_EQ(marks.wrong, 0);
        EXPECT_GT(marks.painted, 0);
      }
    }
  }
}

TEST_F(JensenXinLiTest, TinyImagesDoubleWithoutLeavingTheirPlanes) {
  const BackProjection bp = Refining(4, 2, 1);
  for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {2, 2}, {3, 2}, {6, 1}}) {
    for (int core = 0; core < 4; ++core) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " core " << core);
      matrix m(w, h);
      for (int k = 0; k < m.n; ++k) m.x[k] = float(40 + 37 * k % 200);
      fpbuffer image = Rgb(m);
      StartProgress(1e9f);
      if (core == 0) jensenxinli(image, 2, 0, Model(false), true, JensenModel{}, false);
      if (core == 1) jensenxinli(image, 2, 0, Model(true), true, JensenModel{}, false);
      if (core == 2) bpxl(image, 0, bp, false, 1, Model(true), 2, nullptr);
      if (core == 3) bpjxl(image, 0, JensenModel{}, bp, false, 0, Model(false), 2, nullptr);
      ASSERT_EQ(image.width, 4 * w);
      ASSERT_EQ(image.height, 4 * h);
      for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < image.n; ++k) ASSERT_TRUE(std::isfinite(image.plane[c].x[k])) << k;
      }
    }
  }
}

TEST_F(JensenXinLiTest, NoPassesChangeNothing) {
  fpbuffer small(10, 8, cspace::kRGB | 0x7);
  for (int c = 0; c < 3; ++c) small.plane[c] = enlarge::SlantedEdge(10, 8, 10.0 + 15 * c);
  small.mask.dim(10, 8);
  small.mask.set(3, 4, true);
  for (int core = 0; core < 4; ++core) {
    fpbuffer image;
    image = small;
    StartProgress(1e9f);
    if (core == 0) jensenxinli(image, 0, 0, XinLiModel{}, true, JensenModel{}, false);
    if (core == 1) jddl(image, 0, 0, 3, true, JensenModel{}, false, false);
    if (core == 2) bpxl(image, 0, Refining(4, 2, 1), false, 1, XinLiModel{}, 0, nullptr);
    if (core == 3) bpjxl(image, 0, JensenModel{}, Refining(4, 2, 1), false, 1, XinLiModel{}, 0, nullptr);
    ExpectSame(image, small, "no passes");
    ASSERT_TRUE(image.mask.present()) << core;
    for (int k = 0; k < small.n; ++k) ASSERT_EQ(image.mask.getbit(k), small.mask.getbit(k)) << core;
  }
}

}  // namespace
