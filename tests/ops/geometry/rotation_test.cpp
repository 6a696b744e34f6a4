// The weight table, the warps, rotation and the two- and four-point registrations.
#include <cmath>
#include <limits>
#include <numeric>

#include "geometry_fixture.h"
#include "image/colorspace.h"
#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/warp.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/dialog_scripts.h"

namespace {
float Smooth(int c, int x, int y) {
  return 128.0f + 50.0f * std::sin(0.19f * x + 0.5f * c) * std::cos(0.13f * y - 0.2f * c);
}

void Fill(fpbuffer& f, int w, int h, float (*pic)(int, int, int)) {
  f.dim(w, h, 0x17);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = pic(c, x, y);
}

// The largest difference of two images over the pixels at least margin from every edge.
float InteriorMaxDiff(const fpbuffer& a, const fpbuffer& b, int margin) {
  float worst = 0;
  for (int c = 0; c < 3; ++c)
    for (int y = margin; y < a.height - margin; ++y)
      for (int x = margin; x < a.width - margin; ++x)
        worst = std::max(worst, std::fabs(a.plane[c].z[y][x] - b.plane[c].z[y][x]));
  return worst;
}

double Rms(const fpbuffer& a, const fpbuffer& b, int margin) {
  double sum = 0;
  int count = 0;
  for (int c = 0; c < 3; ++c)
    for (int y = margin; y < a.height - margin; ++y)
      for (int x = margin; x < a.width - margin; ++x) {
        const double d = a.plane[c].z[y][x] - b.plane[c].z[y][x];
        sum += d * d;
        ++count;
      }
  return std::sqrt(sum / count);
}

class RotationTest : public GeometryTest {
 protected:
  GeometryParams& G() { return LiveSettings().geometry; }
  void Rotation(float angle, float dx, float dy, int iterations) {
    G().rotationAngle = angle;
    G().rotationHorizontalOffset = dx;
    G().rotationVerticalOffset = dy;
    G().rotationAccuracyIterations = iterations;
  }
  void Clicks(std::initializer_list<Point> newestFirst) {
    for (auto it = std::rbegin(newestFirst); it != std::rend(newestFirst); ++it) {
      v.PushClickHistory(*it);
    }
  }
  void Queue(std::initializer_list<Point> newestFirst) {
    for (auto it = std::rbegin(newestFirst); it != std::rend(newestFirst); ++it) {
      v.PushColorQueue(it->x, it->y, 0, 0, 0, 0);
    }
  }
};
}  // namespace

TEST(WeightTable, EntriesAreNormalisedLanczosWeightsFromOffsetZeroToOne) {
  weighttable6 t;
  t.lanczos3(1000);
  ASSERT_EQ(t.count, 1000);
  const float first[6] = {0, 0, 1, 0, 0, 0};
  for (int j = 0; j < 6; ++j) EXPECT_NEAR(t.taps[0].w[j], first[j], 1e-7) << j;
  EXPECT_NEAR(t.taps[999].w[3], 1.0f, 1e-6);
  for (int k = 0; k < 1000; ++k) {
    const float* w = t.taps[size_t(k)].w;
    ASSERT_NEAR(std::accumulate(w, w + 6, 0.0), 1.0, 1e-6) << k;
  }
  // The middle entry is symmetric about the half sample.
  EXPECT_NEAR(t.at(0.5f).w[2], t.at(0.5f).w[3], 2e-3);
  t.dim(0);
  EXPECT_EQ(t.taps, nullptr);
  t.lanczos3(1);  // one entry: the fraction 0
  EXPECT_EQ(t.taps[0].w[2], 1.0f);
}

TEST(Transforms, RecordsMapTheirPointsAndInvertEachOther) {
  const SimilarityParams p = RotateShiftTransform(20, 10, 0.3f, 4, -2);
  const SimilarityParams q = ShiftRotateTransform(20, 10, -0.3f, -4, 2);
  const auto apply = [](const matrix& r, double x, double y, double& u, double& v) {
    u = r.x[0] * x + r.x[1] * y + r.x[2];
    v = -r.x[1] * x + r.x[0] * y + r.x[3];
  };
  double u, v, a, b;
  apply(p, 24, 8, u, v);  // the shifted centre samples the centre
  EXPECT_NEAR(u, 20, 1e-4);
  EXPECT_NEAR(v, 10, 1e-4);
  apply(q, 7, 31, u, v);
  apply(p, u, v, a, b);
  EXPECT_NEAR(a, 7, 1e-4);
  EXPECT_NEAR(b, 31, 1e-4);
  const SimilarityParams two = SimilarityFromTwoPoints(10, 10, 50, 10, 12, 14, 52, 14);
  apply(two, 50, 10, u, v);
  EXPECT_NEAR(u, 52, 1e-4);
  EXPECT_NEAR(v, 14, 1e-4);
  const std::array<float, 8> same{3, 3, 3, 3, 3, 3, 3, 3}, out{0, 0, 9, 0, 9, 9, 0, 9};
  EXPECT_THROW(HomographyFromFourPoints(out, same), TextException);
}

// Every output pixel of a warp by a pure shift of whole samples is its source sample, the
// far and not-a-number positions included.
TEST(Warps, WholeShiftsCopySamplesAndFarPositionsStayDefined) {
  weighttable6 t;
  t.lanczos3(1000);
  matrix src(7, 5);
  for (int k = 0; k < src.n; ++k) src.x[k] = float(k);
  for (const float shift : {0.0f, 2.0f, -3.0f}) {
    matrix out;
    bitmask marks;
    SimilarityParams p(4, 1);
    p.x[0] = 1, p.x[1] = 0, p.x[2] = shift, p.x[3] = 0;
    out.WarpSimilarity6Tap(src, p, t, &marks);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const int i = ReflectOnce(int64_t(x) + int64_t(shift), 7);
        ASSERT_NEAR(out.z[y][x], src.z[y][i], 1e-4) << shift << " " << x;
      }
    EXPECT_TRUE(marks.get(0, 0));  // every stencil of so small a plane leaves it
  }
  for (const float far : {1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()}) {
    matrix out;
    bitmask marks;
    SimilarityParams p(4, 1);
    p.x[0] = 1, p.x[1] = 0, p.x[2] = far, p.x[3] = far;
    out.WarpSimilarity6Tap(src, p, t, &marks);
    for (int k = 0; k < out.n; ++k) {
      ASSERT_TRUE(std::isfinite(out.x[k]));
      ASSERT_TRUE(marks.getbit(k));
    }
    if (std::isnan(far)) {
      EXPECT_EQ(out.x[0], 0.0f);
    }
    out.WarpSimilarityBicubic(src, p, &marks);
    for (int k = 0; k < out.n; ++k) ASSERT_TRUE(std::isfinite(out.x[k]));
  }
  // The perspective warp keeps its size and adds to the marks.
  matrix out(3, 2);
  bitmask marks(3, 2);
  HomographyParams h(8, 1);
  h.zero();
  h.x[0] = h.x[4] = 1;
  h.x[2] = 2;  // x + 2
  out.WarpPerspective6Tap(src, h, t, &marks);
  EXPECT_EQ(out.nx, 3);
  EXPECT_NEAR(out.z[1][0], src.z[1][2], 1e-4);
}

TEST(Warps, GiveTheSameBytesOnOneAndEightThreads) {
  weighttable6 t;
  t.lanczos3(1000);
  matrix src(131, 77);
  for (int k = 0; k < src.n; ++k) src.x[k] = float((k * 7919) % 255);
  const SimilarityParams p = RotateShiftTransform(65, 38, 0.4f, 1.5f, -2.25f);
  HomographyParams h(8, 1);
  const float hv[8] = {1.02f, 0.05f, -3, -0.03f, 0.97f, 2, 1e-4f, -2e-4f};
  std::copy(hv, hv + 8, h.x);
  std::string result[2];
  for (int k = 0; k < 2; ++k) {
    SetParallelThreads(k == 0 ? 1 : 8);
    matrix a, b, c(131, 77);
    bitmask ma, mb, mc;
    a.WarpSimilarity6Tap(src, p, t, &ma);
    b.WarpSimilarityBicubic(src, p, &mb);
    c.WarpPerspective6Tap(src, h, t, &mc);
    for (const matrix* m : {&a, &b, &c}) {
      result[k].append(reinterpret_cast<const char*>(m->x), size_t(m->n) * 4);
    }
    for (const bitmask* m : {&ma, &mb, &mc}) {
      result[k].append(reinterpret_cast<const char*>(m->bits), size_t(m->words) * 4);
    }
  }
  SetParallelThreads(0);
  EXPECT_TRUE(result[0] == result[1]);
}

// --- Rotation ---

TEST_F(RotationTest, AShiftOfThreeColumnsMirrorsAtTheLeftAndF3RestoresTheRest) {
  Make(v, 12, 6, true);
  const fpbuffer before(v.currentLayer());
  Rotation(0, 3, 0, 0);
  v.Dispatch(CommandId::RotateArbitraryAngle);
  const fpbuffer& f = v.currentLayer();
  const int from[12] = {3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 12; ++x) ASSERT_NEAR(f.plane[c].z[y][x], Tag(c, from[x], y), 1e-3);
  // The mask holds the pixels whose stencils left the picture: the left columns, the
  // right ones and the rows near the top and bottom.
  EXPECT_TRUE(f.mask.get(0, 3));
  EXPECT_TRUE(f.mask.get(6, 0));
  F3(CommandId::RotateArbitraryAngle);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 9; ++x) {
        ASSERT_NEAR(v.currentLayer().plane[c].z[y][x], before.plane[c].z[y][x], 1e-3);
      }
}

TEST_F(RotationTest, NinetyDegreesOfASquareIsTheQuarterTurnInside) {
  Fill(v.currentLayer(), 32, 32, Smooth);
  v.currentBitmap() = DisplayBitmap(32, 32);
  fpbuffer turned(v.currentLayer());
  turned.rotate90();
  Rotation(90, 0, 0, 0);
  v.Dispatch(CommandId::RotateArbitraryAngle);
  EXPECT_LT(InteriorMaxDiff(v.currentLayer(), turned, 3), 0.01f);
}

TEST_F(RotationTest, BackProjectionLandsCloserToTheOriginal) {
  double error[2] = {};
  for (int k = 0; k < 2; ++k) {
    Fill(v.currentLayer(), 64, 48, Smooth);
    v.currentBitmap() = DisplayBitmap(64, 48);
    const fpbuffer original(v.currentLayer());
    Rotation(17, 1.5f, -0.75f, k == 0 ? 0 : 3);
    F2(CommandId::RotateArbitraryAngle);
    v.Dispatch(CommandId::F3ProgrammedOperation);
    error[k] = Rms(v.currentLayer(), original, 12);
  }
  EXPECT_LT(error[1], error[0]);
}

TEST_F(RotationTest, CancelAtTheFirstTickKeepsTheImageAndTicksAgreeAcrossThreads) {
  Rotation(30, 0, 0, 3);
  int ticks[2] = {};
  std::string result[2];
  for (int k = 0; k < 2; ++k) {
    SetParallelThreads(k == 0 ? 1 : 8);
    Make(v, 41, 23, true);
    v.Dispatch(CommandId::RotateArbitraryAngle);
    ticks[k] = Progress().count;
    result[k] = Bytes(v.currentLayer());
  }
  EXPECT_EQ(ticks[0], 3 * 7 * 23);  // a tick per row of every warp
  EXPECT_EQ(ticks[1], ticks[0]);
  EXPECT_TRUE(result[0] == result[1]);
  Make(v, 41, 23, true);
  const std::string before = Bytes(v.currentLayer());
  platform.CancelAtPoll(1);
  v.Dispatch(CommandId::RotateArbitraryAngle);
  platform.CancelAtPoll(0);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
  SetParallelThreads(0);
}

TEST_F(RotationTest, TheFourthChannelTurnsWithTheOthers) {
  fpbuffer& f = v.currentLayer();
  Fill(f, 16, 16, Smooth);
  f.convert(cspace::kCMYK | 0xF);
  v.currentBitmap() = DisplayBitmap(16, 16);
  fpbuffer turned(f);
  turned.rotate90();
  Rotation(90, 0, 0, 0);
  v.Dispatch(CommandId::RotateArbitraryAngle);
  for (int y = 3; y < 13; ++y)
    for (int x = 3; x < 13; ++x) ASSERT_NEAR(f.plane[3].z[y][x], turned.plane[3].z[y][x], 0.01);
}

// --- Registration ---

TEST_F(RotationTest, TwoPointsShiftOrTurnTheFeaturesOntoTheQueuePoints) {
  Fill(v.currentLayer(), 64, 64, Smooth);
  v.currentBitmap() = DisplayBitmap(64, 64);
  const fpbuffer original(v.currentLayer());
  Queue({{10, 10}, {50, 10}});
  Clicks({{12, 14}, {52, 14}});
  v.Dispatch(CommandId::ManualTwoPointRegistration);  // from the menu: select, show the page
  EXPECT_EQ(v.f2OperationId, int(CommandId::ManualTwoPointRegistration));
  v.Dispatch(CommandId::F2ProgrammedOperation);
  for (int y = 10; y < 50; ++y)
    for (int x = 10; x < 50; ++x) {
      ASSERT_NEAR(v.currentLayer().plane[1].z[y][x], original.plane[1].z[y + 4][x + 2], 1e-3);
    }
  // A quarter turn clockwise about (10, 10): the feature above the pivot goes to its right.
  v.currentLayer() = original;
  Clicks({{10, 10}, {10, 50}});
  v.Dispatch(CommandId::F2ProgrammedOperation);
  for (int k = 1; k < 40; ++k) {
    ASSERT_NEAR(v.currentLayer().plane[0].z[10][10 + k], original.plane[0].z[10 + k][10], 1e-2);
  }
}

TEST_F(RotationTest, CoincidentOrEqualPointsSayTryOtherPointsAndChangeNothing) {
  Make(v, 20, 20, true);
  const std::string before = Bytes(v.currentLayer());
  Queue({{5, 5}, {5, 5}, {5, 5}, {5, 5}});
  Clicks({{1, 2}, {9, 2}, {9, 9}, {1, 9}});
  ui.ExpectMessage("Try two other points.");
  F2(CommandId::ManualTwoPointRegistration);
  EXPECT_EQ(ui.messages.back().caption, "Singular Matrix");
  ui.ExpectMessage("Try four other points.");
  F2(CommandId::ManualFourPointRegistration);
  EXPECT_EQ(ui.messages.back().caption, "Singular Matrix");
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}

TEST_F(RotationTest, FourPointsMoveTheFeaturesAndPerspectiveCropAtTheCornersKeepsThePicture) {
  Fill(v.currentLayer(), 48, 40, Smooth);
  v.currentBitmap() = DisplayBitmap(48, 40);
  const fpbuffer original(v.currentLayer());
  // A shift by (3, -2): the features at the clicks land on the queue points.
  Queue({{10, 10}, {30, 10}, {30, 30}, {10, 30}});
  Clicks({{7, 12}, {27, 12}, {27, 32}, {7, 32}});
  F2(CommandId::ManualFourPointRegistration);
  for (int y = 8; y < 30; ++y)
    for (int x = 8; x < 40; ++x) {
      ASSERT_NEAR(v.currentLayer().plane[2].z[y][x], original.plane[2].z[y + 2][x - 3], 1e-2);
    }
  // Perspective Crop with the queue at the corners, entered bottom-left first.
  v.currentLayer() = original;
  LiveSettings().geometry.perspectiveCrop = 1;
  Queue({{0, 39}, {47, 39}, {47, 0}, {0, 0}});
  F2(CommandId::ManualFourPointRegistration);
  EXPECT_LT(InteriorMaxDiff(v.currentLayer(), original, 0), 0.05f);
}

// Every command of the Geom menu, and the two-layer ones, on the smallest pictures: the
// sanitizers watch every index.
TEST_F(RotationTest, TinyPicturesGoThroughEveryCommand) {
  const CommandId ids[] = {CommandId::Rotate90Degrees,
                           CommandId::VerticalFlip,
                           CommandId::HorizontalFlip,
                           CommandId::RollLeft10,
                           CommandId::RollUp,
                           CommandId::ManualOnePointRegistration,
                           CommandId::RotateArbitraryAngle,
                           CommandId::ManualTwoPointRegistration,
                           CommandId::ManualFourPointRegistration,
                           CommandId::Crop};
  Rotation(33, 0.5f, -0.25f, 2);
  G().twoPointAccuracyIterations = 1;
  G().fourPointAccuracyIterations = 1;
  Queue({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  Clicks({{0, 1}, {1, 1}, {1, 0}, {0, 0}});
  struct Size {
    int w, h;
  };
  for (const Size s : {Size{1, 1}, Size{1, 5}, Size{5, 1}, Size{2, 2}}) {
    for (const CommandId id : ids) {
      SCOPED_TRACE(testing::Message() << CommandIdName(int(id)) << " " << s.w << "x" << s.h);
      Make(v, s.w, s.h, true);
      v.dragStart = {0, 0};
      v.dragEnd = {s.w - 1, s.h - 1};
      ui.messages.clear();
      F2(id);
      F3(id);
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < v.currentLayer().n; ++k)
          ASSERT_TRUE(std::isfinite(v.currentLayer().plane[c].x[k]));
    }
  }
}
