// Jensen enlargement: the window fit, the doubled paint and its counts, the blends, the
// Jensen-DDL passes, and the back-projected cores.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "enlarge_harness.h"
#include "jensen_fixture.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/jensenedge.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "ops/resize/resize.h"
#include "platform/progress.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {

using namespace jensentest;

using JensenTest = ZepTest;

// A vertical step, bright on the left, with the middle column half way.
fpbuffer Step5() {
  matrix m(5, 5);
  for (int y = 0; y < 5; ++y) {
    const float row[5] = {200, 200, 125, 50, 50};
    for (int x = 0; x < 5; ++x) m.z[y][x] = row[x];
  }
  return Rgb(m);
}

TEST_F(JensenTest, AHardEdgeIsPaintedWithTheMeanOnTheLine) {
  fpbuffer J;
  bytemaps counts;
  jensen2x(J, counts, Step5(), 0.45f, 0, 0, 5, 1, true);
  ASSERT_EQ(J.width, 10);
  // One window, anchored at (2, 2): its block is centred on output (4, 4).
  for (int v = -2; v <= 2; ++v) {
    for (int u = -2; u <= 2; ++u) {
      const float side = u < 0 ? 200 : u > 0 ? 50 : 125;
      for (int c = 0; c < 3; ++c) {
        EXPECT_FLOAT_EQ(J.plane[c].z[4 + v][4 + u], (side + 10 * c) / 9) << u << " " << v;
      }
      EXPECT_EQ(counts[4 + v][4 + u], 1);
    }
  }
  EXPECT_EQ(J.plane[0].z[1][1], 0.0f);
  EXPECT_EQ(counts[1][1], 0);
  EXPECT_EQ(counts[9][9], 0);
}

TEST_F(JensenTest, CoverageCountsFollowTheParityOfThePixel) {
  // A ramp: every window holds an edge that an accept ratio of 1 takes.
  matrix ramp(16, 14);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 16; ++x) ramp.z[y][x] = 20.0f + 9.0f * x + 2.0f * y;
  }
  struct Case {
    int L;
    int even, mixed, odd;  // counts at (even, even), (even, odd), (odd, odd)
  };
  for (const Case& c : {Case{5, 9, 6, 4}, Case{3, 1, 2, 4}, Case{4, 4, 2, 1}}) {
    fpbuffer J;
    bytemaps counts;
    jensen2x(J, counts, Rgb(ramp), 1, 0, 10, c.L, 1, false);
    // An interior stretch, clear of the anchors' borders.
    for (int y = 10; y < 16; ++y) {
      for (int x = 10; x < 20; ++x) {
        const int want = (y % 2 == 0 && x % 2 == 0) ? c.even
                         : (y % 2 != 0 && x % 2 != 0) ? c.odd
                                                      : c.mixed;
        ASSERT_EQ(counts[y][x], want) << "L " << c.L << " at " << x << ", " << y;
      }
    }
    EXPECT_LE(float(counts[12][12]), OverlapDivisor(c.L));
  }
}

TEST_F(JensenTest, NoAnchorsAndNoEdgesLeaveThePartnersResult) {
  matrix flat(12, 10), narrow(4, 10);
  flat.fill(90);
  narrow.fill(0);
  for (int y = 0; y < 10; ++y) narrow.z[y][0] = narrow.z[y][1] = 250;
  for (const matrix* m : {&flat, &narrow}) {
    fpbuffer J;
    bytemaps counts;
    jensen2x(J, counts, Rgb(*m), 0.45f, 0.04f, 10, 5, 1, true);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(J.plane[c].sumsq(), 0.0);
    for (int y = 0; y < J.height; ++y) {
      for (int x = 0; x < J.width; ++x) ASSERT_EQ(counts[y][x], 0);
    }
    fpbuffer partner = Rgb(*m), combined = Rgb(*m);
    bytemaps maps;
    ddl(partner, 1, 3, 1, false, false, false, false, maps, true);
    jddl(combined, 1, 1, 3, true, JensenModel{}, false, false);
    ExpectSame(combined, partner, m == &flat ? "flat" : "narrow");
  }
}

TEST_F(JensenTest, EvenWindowsFitAsTheFormulasSay) {
  // A slanted step with texture, fitted with an even window by brute force.
  matrix m(6, 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      m.z[y][x] = (x - 0.4 * y > 1.3 ? 180.0f : 60.0f) + float((x * 7 + y * 3) % 5);
    }
  }
  const matrix* colours[3] = {&m, &m, nullptr};
  EdgeWindowFit fit(m, colours, 6, 0.45f, false, true);
  EdgeModel got;
  ASSERT_TRUE(fit.Fit(0, 0, got));

  matrix k[4];
  double mom[4] = {0, 0, 0, 0};
  for (int q = 0; q < 4; ++q) {
    k[q].momentkernel(6, q + 1);
    for (int i = 0; i < 36; ++i) mom[q] += double(m.x[i]) * k[q].x[i];
  }
  const double theta = std::atan2(mom[1], mom[0]);
  const double rho = MeanDistanceFromCentre(6);
  const double e = rho * (mom[2] * std::cos(2 * theta) + mom[3] * std::sin(2 * theta)) /
                   (mom[0] * std::cos(theta) + mom[1] * std::sin(theta));
  EXPECT_NEAR(got.r, e, 1e-3);
  EXPECT_NEAR(got.c, std::cos(theta), 1e-5);
  EXPECT_NEAR(got.s, std::sin(theta), 1e-5);
  double sum[2] = {0, 0};
  int count[2] = {0, 0};
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      const double px = x - 2.5, py = y - 2.5;
      const int side = px * std::cos(theta) + py * std::sin(theta) + e >= 0 ? 0 : 1;
      sum[side] += m.z[y][x];
      ++count[side];
    }
  }
  ASSERT_GT(count[0], 0);
  ASSERT_GT(count[1], 0);
  EXPECT_NEAR(got.minus[0], sum[0] / count[0], 1e-3);
  EXPECT_NEAR(got.plus[0], sum[1] / count[1], 1e-3);
  EXPECT_EQ(got.plus[2], 0.0f);
}

TEST_F(JensenTest, JddlThroughTheFileEqualsInMemoryAndInvertsTheMask) {
  const fpbuffer small = enlarge::Grey(enlarge::SlantedEdge(18, 16, 20.0));
  for (int passes : {1, 2}) {
    fpbuffer memory = small, file = small;
    memory.mask.dim(18, 16);
    file.mask.dim(18, 16);
    StartProgress(1e9f);
    jddl(memory, passes, 0, 3, true, JensenModel{}, false, false);
    jddl(file, passes, 0, 3, true, JensenModel{}, true, false);
    ExpectSame(file, memory, "scratch");
    ASSERT_TRUE(memory.mask.present());
    EXPECT_EQ(memory.mask.width, 18 << passes);
    for (int k = 0; k < memory.n; ++k) ASSERT_EQ(file.mask.getbit(k), memory.mask.getbit(k)) << k;
    EXPECT_TRUE(ScratchEmpty());
  }
  // One pass: the mask is the complement of the painted pixels.
  fpbuffer marked = small, J;
  marked.mask.dim(18, 16);
  bytemaps counts;
  jensen2x(J, counts, marked, 0.45f, 0.04f, 10, 5, small.dominantchannel(0), true);
  jddl(marked, 1, 0, 3, true, JensenModel{}, false, false);
  ASSERT_EQ(counts.n, 32);
  const Marks marks = CompareWithPaint(marked.mask, counts);
  EXPECT_EQ(marks.wrong, 0);
  EXPECT_GT(marks.painted, 0);
}

TEST_F(JensenTest, ABlendFileThatDoesNotFitIsReportedAndRemoved) {
  fpbuffer image = Step5(), other(3, 3, cspace::kRGB | 0x7);
  bytemaps counts;
  counts.dim(5, 5);
  ASSERT_FALSE(other.write("temp2.fdib", true));
  ui.ExpectMessage("Problem Opening Temp File");
  const fpbuffer before = image;
  blendjensenfile(image, counts, "temp2.fdib", 5);
  ui.VerifyAllAnswered();
  ExpectSame(image, before, "unchanged");
  EXPECT_FALSE(std::filesystem::exists(FdibPath("temp2.fdib", true)));
}

// The 10-90% rise of the middle row across the edge, in output pixels.
double RiseWidth(const matrix& m) {
  const int y = m.ny / 2;
  float lo = 1e9f, hi = -1e9f;
  for (int x = 0; x < m.nx; ++x) {
    lo = std::min(lo, m.z[y][x]);
    hi = std::max(hi, m.z[y][x]);
  }
  auto crossing = [&](float level) {
    for (int x = m.nx - 1; x > 0; --x) {
      const float a = m.z[y][x - 1], b = m.z[y][x];
      if ((a - level) * (b - level) <= 0 && a != b) return x - 1 + double(level - a) / (b - a);
    }
    return 0.0;
  };
  return std::fabs(crossing(lo + 0.9f * (hi - lo)) - crossing(lo + 0.1f * (hi - lo)));
}

TEST_F(JensenTest, ASlantedStepComesOutSharperThanBicubic) {
  const matrix truth = enlarge::SlantedEdge(64, 64, 5.0);
  const fpbuffer small = enlarge::BoxReduce(enlarge::Grey(truth), 2);
  fpbuffer bicubic = small, jensen = small, partner = small;
  StartProgress(1e9f);
  resizebicubic(bicubic, -0.5f, 2, 2, 0, 0, false, false);
  jddl(jensen, 1, 0, 3, true, JensenModel{}, false, false);
  // The width is measured before the half-pixel shift onto the centred grid, which blurs
  // a little by itself; the comparison with the partner has the shift on both sides.
  EXPECT_LT(RiseWidth(jensen.plane[0]), RiseWidth(bicubic.plane[0]));
  shifthalf(jensen, false);
  bytemaps maps;
  ddl(partner, 0, 3, 1, true, true, false, false, maps, true);
  const std::vector<bool> edges = enlarge::EdgeMask(truth, 4);
  EXPECT_GE(enlarge::Psnr(jensen.plane[0], truth, 4, &edges),
            enlarge::Psnr(partner.plane[0], truth, 4, &edges));
}

TEST_F(JensenTest, SixteenTimesSkipsPresharpening) {
  const fpbuffer small = enlarge::Grey(enlarge::SlantedEdge(12, 10, 10.0));
  fpbuffer plain = small, sharpened = small;
  StartProgress(1e9f);
  bpddl(plain, 0, Refining(0, 0, 0), false, 0, 3, 4, false, nullptr);
  bpddl(sharpened, 0, Refining(0, 0, 1), false, 0, 3, 4, false, nullptr);
  EXPECT_EQ(plain.width, 192);
  ExpectSame(sharpened, plain, "x16");
  EXPECT_FALSE(PresharpenApplies(1, 4));
  EXPECT_TRUE(PresharpenApplies(1, 3));
  EXPECT_FALSE(PresharpenApplies(0, 1));
}

TEST_F(JensenTest, TheShortcutDoublesTheChromaByTheLuminanceDecisions) {
  fpbuffer small(14, 12, cspace::kRGB | 0x7);
  for (int c = 0; c < 3; ++c) {
    small.plane[c] = enlarge::SlantedEdge(14, 12, 15.0 + 20 * c);
  }
  fpbuffer got = small;
  StartProgress(1e9f);
  bpddl(got, 0, Refining(4, 5, 0), false, 1, 3, 2, false, nullptr);
  EXPECT_EQ(got.code, small.code);
  got.convert(cspace::kYCbCr);

  fpbuffer want = small;
  want.convert(cspace::kYCbCr);
  bytemaps maps;
  for (int c : {1, 2}) {
    matrix doubled, source = want.plane[c];
    // The luminance's decisions, made first and kept.
    if (c == 1) {
      matrix luma = want.plane[0], ignored;
      ignored.DdlEnlarge(luma, 3, 2, true, true, false, false, maps, false);
    }
    doubled.DdlEnlarge(source, 3, 2, true, true, false, false, maps, false);
    for (int i = 0; i < doubled.n; ++i) ASSERT_NEAR(got.plane[c].x[i], doubled.x[i], 0.02f) << c;
  }
}

TEST_F(JensenTest, EveryCoreLeavesNoFileAndReturnsTheEntrySpace) {
  const fpbuffer small = enlarge::Grey(enlarge::SlantedEdge(16, 14, 12.0));
  XinLiModel twelve;
  twelve.twelve = true;
  for (int core = 0; core < 7; ++core) {
    for (bool scratch : {false, true}) {
      for (int shortcut : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message() << core << " " << scratch << " " << shortcut);
        fpbuffer image = small;
        StartProgress(1e9f);
        const BackProjection bp = Refining(4, 2, 1);
        if (core == 0) jddl(image, 2, 0, 3, true, JensenModel{}, scratch, false);
        if (core == 1) bpddl(image, 0, bp, scratch, shortcut, 3, 2, false, nullptr);
        if (core == 2) bpjddl(image, 0, JensenModel{}, bp, scratch, shortcut, 3, 2, false, nullptr);
        if (core == 3) jensenxinli(image, 2, 0, XinLiModel{}, true, JensenModel{}, scratch);
        if (core == 4) jensenxinli(image, 2, 0, twelve, true, JensenModel{}, scratch);
        if (core == 5) bpxl(image, 0, bp, scratch, shortcut, twelve, 2, nullptr);
        if (core == 6) bpjxl(image, 0, JensenModel{}, bp, scratch, shortcut, XinLiModel{}, 2, nullptr);
        EXPECT_EQ(image.code, small.code);
        EXPECT_EQ(image.width, 64);
        EXPECT_EQ(image.height, 56);
        EXPECT_TRUE(ScratchEmpty());
      }
    }
  }
}

TEST_F(JensenTest, BackProjectedCoresAreCentred) {
  const std::vector<std::pair<double, double>> centres = {{9.3, 12.6}, {22.8, 17.1}};
  for (int core = 0; core < 3; ++core) {
    for (int f : {2, 4}) {
      const matrix small = enlarge::Blobs(32, 28, centres, 1.6);
      fpbuffer image = enlarge::Grey(small);
      StartProgress(1e9f);
      const int passes = f == 2 ? 1 : 2;
      const BackProjection bp = Refining(4, 5, 1);
      if (core == 0) bpddl(image, 0, bp, false, 0, 3, passes, false, nullptr);
      if (core == 1) bpxl(image, 0, bp, false, 0, XinLiModel{}, passes, nullptr);
      if (core == 2) bpjxl(image, 0, JensenModel{}, bp, false, 0, XinLiModel{}, passes, nullptr);
      const auto [sx, sy] = enlarge::Centroid(small);
      const auto [bx, by] = enlarge::Centroid(image.plane[0]);
      // Source pixel x covers f x .. f x + f - 1 of the enlargement.
      EXPECT_NEAR((bx - (f - 1) / 2.0) / f, sx, 0.05) << core << " " << f;
      EXPECT_NEAR((by - (f - 1) / 2.0) / f, sy, 0.05) << core << " " << f;
    }
  }
}

TEST_F(JensenTest, AMissingKernelFileIsShownOnceAndTheCoreGoesOn) {
  const fpbuffer small = enlarge::Grey(enlarge::SlantedEdge(12, 10, 10.0));
  {
    std::ofstream bad(home / "Kernels", std::ios::binary);
    bad << "not a table";
  }
  fpbuffer got = small, plain = small;
  StartProgress(1e9f);
  ui.ExpectMessage("File, \"Kernels\" (included in zep.zip), is damaged.");
  bpjddl(got, 0, JensenModel{}, Refining(4, 2, 1), false, 0, 3, 2, false, nullptr);
  ui.VerifyAllAnswered();
  bpjddl(plain, 0, JensenModel{}, Refining(4, 2, 0), false, 0, 3, 2, false, nullptr);
  ExpectSame(got, plain, "without presharpening");
}

}  // namespace
