// Registration: the template pyramid, the masked costs, the six-tap shifts, fast
// translational and block alignment, and their commands through the dispatcher.
#include "ops/stacking/align.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "numeric/bitmask.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

using namespace ops::stacking;

namespace {
using Id = CommandId;

// Band-limited texture without a period: waves of scattered directions and frequencies up
// to 0.6 radians per pixel, the slower ones stronger, so a shifted copy is exact at any
// offset and no shift but the true one fits.
struct Wave {
  double kx, ky, phase, amplitude;
};
const std::vector<Wave>& Waves() {
  static const std::vector<Wave> waves = [] {
    std::vector<Wave> w;
    uint32_t seed = 2024;
    auto next = [&] {
      seed = seed * 1664525u + 1013904223u;
      return double(seed >> 8) / double(1u << 24);
    };
    for (int k = 0; k < 40; ++k) {
      const double r = 0.02 + 0.58 * next() * next(), a = 6.2831853 * next();
      w.push_back({r * std::cos(a), r * std::sin(a), 6.2831853 * next(), 9.0 / (1.0 + 8.0 * r)});
    }
    return w;
  }();
  return waves;
}
double Texture(int c, double x, double y) {
  double v = 120.0;
  for (const Wave& w : Waves()) v += w.amplitude * std::sin(w.kx * x + w.ky * y + w.phase + 1.3 * c);
  return v;
}

// The texture moved by (sx, sy): pixel (x, y) holds the texture at (x - sx, y - sy).
fpbuffer Picture(int w, int h, double sx = 0, double sy = 0, CSpaceCode code = cspace::kDefault) {
  fpbuffer image(w, h, code);
  for (int c = 0; c < image.channels; ++c)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) image.plane[c].z[y][x] = float(Texture(c, x - sx, y - sy));
  return image;
}

matrix Plane(int w, int h, double sx = 0, double sy = 0) { return Picture(w, h, sx, sy).plane[0]; }

float MaxInteriorDifference(const matrix& a, const matrix& b, int margin) {
  float worst = 0;
  for (int y = margin; y < a.ny - margin; ++y)
    for (int x = margin; x < a.nx - margin; ++x) worst = std::max(worst, std::fabs(a.z[y][x] - b.z[y][x]));
  return worst;
}

bool SameBits(const matrix& a, const matrix& b) {
  return a.n == b.n && std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0;
}
}  // namespace

using AlignTest = ZepTest;

// --- Template ---

TEST_F(AlignTest, TemplateLevelsFollowTheShorterSide) {
  struct Case {
    int w, h;
    std::vector<std::pair<int, int>> levels;
  };
  const Case cases[] = {
      {640, 480, {{640, 480}, {320, 240}, {160, 120}, {80, 60}, {40, 30}, {20, 15}}},
      {33, 17, {{33, 17}, {16, 8}}},
      {16, 100, {{16, 100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    matrixarray t;
    t.alignpyramid(Picture(c.w, c.h), 0);
    ASSERT_EQ(t.n, int(c.levels.size()));
    for (int k = 0; k < t.n; ++k) {
      EXPECT_EQ(t[k].nx, c.levels[size_t(k)].first);
      EXPECT_EQ(t[k].ny, c.levels[size_t(k)].second);
    }
  }
}

TEST_F(AlignTest, TemplateIsTheLuminance) {
  const fpbuffer ycc = Picture(20, 18, 0, 0, cspace::kYCbCr | 7);
  matrixarray t;
  t.alignpyramid(ycc, 1);
  EXPECT_TRUE(SameBits(t[0], ycc.plane[0]));

  fpbuffer grey(20, 18, cspace::kDefault);
  for (int c = 0; c < 3; ++c) grey.plane[c] = ycc.plane[0];
  t.alignpyramid(grey, 2);
  EXPECT_LT(MaxInteriorDifference(t[0], ycc.plane[0], 0), 2e-5f);
  // A flat plane stays flat through the reductions: the kernel sums to 1.
  grey.plane[0].fill(80);
  grey.plane[1].fill(80);
  grey.plane[2].fill(80);
  t.alignpyramid(grey, 2);
  for (int k = 0; k < t[1].n; ++k) EXPECT_NEAR(t[1].x[k], 80.0f, 1e-3f);
  // The image itself is not touched.
  const fpbuffer hsv = Picture(20, 18, 0, 0, cspace::kHSV | 7);
  fpbuffer copy(hsv);
  t.alignpyramid(copy, 0);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(copy.plane[c], hsv.plane[c]));
}

// --- Costs ---

TEST_F(AlignTest, MaskedCostsByHand) {
  matrix a(2, 2), b(2, 2);
  const float av[] = {1, 5, 2, 10}, bv[] = {3, 4, 2, 0};  // differences -2, 1, 0, 10
  std::copy(av, av + 4, a.x);
  std::copy(bv, bv + 4, b.x);
  bitmask last(2, 2);
  last.setbit(3, true);
  EXPECT_FLOAT_EQ(a.maskedmse(nullptr, b), (4 + 1 + 0 + 100) / 4.0f);
  EXPECT_FLOAT_EQ(a.maskedmse(&last, b), 5 / 3.0f);
  EXPECT_FLOAT_EQ(a.maskedmad(nullptr, b), 13 / 4.0f);
  EXPECT_FLOAT_EQ(a.maskedmad(&last, b), 1.0f);
  EXPECT_FLOAT_EQ(a.maskedmedianad(&last, b), 1.0f);  // of 2, 1, 0
  EXPECT_FLOAT_EQ(a.maskedmedianad(nullptr, b), a.maskedmedianad(nullptr, b));

  // Nothing unmasked, or planes that do not match: no score, which loses to any real one.
  bitmask all(2, 2);
  for (int k = 0; k < 4; ++k) all.setbit(k, true);
  const matrix other(3, 1);
  for (float cost : {a.maskedmse(&all, b), a.maskedmad(&all, b), a.maskedmedianad(&all, b), a.maskedmad(nullptr, other)}) {
    EXPECT_FALSE(cost < 1e32f);
  }
}

// A plane shifted wholly off its reference gives no score in the refinement, and the
// refinement keeps the shift it had.
TEST_F(AlignTest, AnEmptyOverlapNeverWins) {
  const matrix p = Plane(8, 8);
  bitmask everything(8, 8);
  for (int k = 0; k < 64; ++k) everything.setbit(k, true);
  matrix offsets(3, 1);
  offsets.x[0] = -0.5f, offsets.x[2] = 0.5f, offsets.x[1] = 0;
  float sx = 1.25f, sy = -2, best = 0;
  p.refineshift(offsets, p, sx, sy, best, &everything, true);
  EXPECT_EQ(sx, 1.25f);
  EXPECT_EQ(sy, -2.0f);
  EXPECT_EQ(best, 1e16f);
}

// --- Six-tap shifts ---

TEST_F(AlignTest, ShiftByZeroCopiesAndMarksTheEnds) {
  const matrix p = Plane(9, 7);
  for (bool alongX : {true, false}) {
    matrix out;
    bitmask marks;
    if (alongX) out.shiftx(p, 0, &marks); else out.shifty(p, 0, &marks);
    EXPECT_TRUE(SameBits(out, p));
    const int length = alongX ? 9 : 7;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        const int i = alongX ? x : y;
        EXPECT_EQ(marks.get(x, y), i < 3 || i >= length - 2) << x << "," << y;
      }
  }
}

TEST_F(AlignTest, WholeShiftsAreExactAndHalfShiftsUndoThemselves) {
  matrix p = Plane(40, 30);
  p.z[10][10] = 0;  // a zero beside large neighbours must stay exactly 0 when copied
  for (int s : {-3, -1, 2, 5}) {
    matrix out;
    out.shiftx(p, float(s), nullptr);
    for (int y = 0; y < 30; ++y)
      for (int x = std::max(0, s); x < std::min(40, 40 + s); ++x) ASSERT_EQ(out.z[y][x], p.z[y][x - s]);
    out.shifty(p, float(s), nullptr);
    for (int y = std::max(0, s); y < std::min(30, 30 + s); ++y)
      for (int x = 0; x < 40; ++x) ASSERT_EQ(out.z[y][x], p.z[y - s][x]);
  }
  // Shifting by s and back by -s restores the interior of band-limited texture; the
  // shifted plane itself matches the texture at the new positions.
  const matrix q = Plane(60, 50);
  for (float s : {0.5f, -0.3f, 1.75f, -2.4f}) {
    SCOPED_TRACE(s);
    matrix there, back;
    there.shiftx(q, s, nullptr);
    back.shiftx(there, -s, nullptr);
    EXPECT_LT(MaxInteriorDifference(back, q, 8), 1e-3f * 255.0f);
    EXPECT_LT(MaxInteriorDifference(there, Plane(60, 50, s, 0), 8), 0.25f);
    there.shifty(q, s, nullptr);
    back.shifty(there, -s, nullptr);
    EXPECT_LT(MaxInteriorDifference(back, q, 8), 1e-3f * 255.0f);
    EXPECT_LT(MaxInteriorDifference(there, Plane(60, 50, 0, s), 8), 0.25f);
  }
}

// The refinement stage as the plain composition it stands for: each candidate shifts the
// whole planes along x, then y, and takes the planes' mean maskedmad over the exclusion
// plus plane 0's marks.
void PlainStage(const matrix* const* planes, const matrix* const* refs, int count,
                const bitmask* exclude, const std::vector<float>& o, float& sx, float& sy,
                float& best) {
  const float bx = sx, by = sy;
  for (float oi : o) {
    bitmask acrossMarks;
    if (exclude != nullptr) acrossMarks = *exclude;
    std::vector<matrix> across(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c)
      across[size_t(c)].shiftx(*planes[c], bx + oi, c == 0 ? &acrossMarks : nullptr);
    for (float oj : o) {
      bitmask marks = acrossMarks;
      double cost = 0.0;
      for (int c = 0; c < count; ++c) {
        matrix both;
        both.shifty(across[size_t(c)], by + oj, c == 0 ? &marks : nullptr);
        cost += both.maskedmad(&marks, *refs[c]);
      }
      const float mean = float(cost) * (count == 3 ? 0.33333334f : 1.0f / float(count));
      if (mean < best) {
        best = mean;
        sx = bx + oi;
        sy = by + oj;
      }
    }
  }
}

// The refinement makes no shifted plane, yet finds the plain composition's costs bit for
// bit: with a frame, a scattered mask, a mask of another size, none; on one and three
// planes; offsets beyond the plane; a later stage that skips the pair it starts from.
TEST_F(AlignTest, RefinementMatchesShiftedPlanes) {
  const fpbuffer image = Picture(41, 27, 1.3, -0.6), reference = Picture(41, 27);
  const matrix* planes[3] = {&image.plane[0], &image.plane[1], &image.plane[2]};
  const matrix* refs[3] = {&reference.plane[0], &reference.plane[1], &reference.plane[2]};
  bitmask scattered(41, 27), other(5, 5);
  for (int k = 0; k < scattered.n; k += 5) scattered.setbit(k, true);
  for (int k = 0; k < other.n; ++k) other.setbit(k, true);
  const bitmask frame = FrameMask(41, 27, 4, 2, 0, 3);
  struct Case {
    const bitmask* exclude;
    std::vector<float> offsets;
    float sx, sy;
  };
  const Case cases[] = {{&frame, {-0.5f, 0.0f, 0.5f}, -1.0f, 1.0f},
                        {&scattered, {-0.25f, 0.0f, 0.25f}, -1.5f, 0.5f},
                        {&other, {-0.5f, 0.0f, 0.5f}, 0.0f, 0.0f},
                        {nullptr, {-0.5f, 0.0f, 0.5f}, -1.25f, 0.75f},
                        {&frame, {-30.0f, -1.0f, 0.0f, 0.7f, 24.0f}, -1.0f, 0.5f}};
  for (int threads : {1, 4}) {
    SetParallelThreads(threads);
    for (int count : {1, 3}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << threads << " threads, " << count << " planes, offsets "
                                          << c.offsets.size());
        float px = c.sx, py = c.sy, pbest = 1e16f;
        PlainStage(planes, refs, count, c.exclude, c.offsets, px, py, pbest);
        const ShiftRefiner refiner(planes, refs, count, c.exclude);
        float fx = c.sx, fy = c.sy, fbest = 1e16f;
        refiner.stage(c.offsets.data(), int(c.offsets.size()), fx, fy, fbest, false);
        EXPECT_EQ(fx, px);
        EXPECT_EQ(fy, py);
        EXPECT_EQ(fbest, pbest);
        // The next stage from there, with and without scoring its starting pair again.
        std::vector<float> half(c.offsets);
        for (float& v : half) v *= 0.5f;
        PlainStage(planes, refs, count, c.exclude, half, px, py, pbest);
        refiner.stage(half.data(), int(half.size()), fx, fy, fbest, true);
        EXPECT_EQ(fx, px);
        EXPECT_EQ(fy, py);
        EXPECT_EQ(fbest, pbest);
      }
    }
  }
  SetParallelThreads(0);
  // refineshift is one such stage on one plane.
  matrix offsets(3, 1);
  offsets.x[0] = -0.5f, offsets.x[1] = 0, offsets.x[2] = 0.5f;
  float sx = -1, sy = 1, best = 0, px = -1, py = 1, pbest = 1e16f;
  image.plane[0].refineshift(offsets, reference.plane[0], sx, sy, best, &scattered, true);
  PlainStage(planes, refs, 1, &scattered, {-0.5f, 0.0f, 0.5f}, px, py, pbest);
  EXPECT_EQ(sx, px);
  EXPECT_EQ(sy, py);
  EXPECT_EQ(best, pbest);
}

// --- Fast translational ---

TEST_F(AlignTest, FastRegistersAWholeShiftExactly) {
  const fpbuffer reference = Picture(96, 80);
  matrixarray t;
  t.alignpyramid(reference, 0);
  ASSERT_EQ(t.n, 4);
  fpbuffer image = Picture(96, 80, 3, -2);
  const ShiftEstimate s = estimatefast(image, t, 1.0f);
  EXPECT_EQ(s.sx, -3.0f);
  EXPECT_EQ(s.sy, 2.0f);
  const fpbuffer before(image);
  image.mask.dim(96, 80);
  image.alignfast(t, 1.0f, 3);
  for (int c = 0; c < 3; ++c) {
    for (int y = 2; y < 80; ++y)
      for (int x = 0; x < 93; ++x) ASSERT_EQ(image.plane[c].z[y][x], before.plane[c].z[y - 2][x + 3]);
  }
  // The marks of the band brought in from outside are added to the mask.
  EXPECT_TRUE(image.mask.get(95, 40));
  EXPECT_TRUE(image.mask.get(40, 0));
  EXPECT_FALSE(image.mask.get(40, 40));
}

TEST_F(AlignTest, FastReachesTheRequestedPrecision) {
  const int w = 128, h = 112;
  const fpbuffer reference = Picture(w, h);
  matrixarray t;
  t.alignpyramid(reference, 0);
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return double(seed >> 8) / double(1u << 24) * 40.0 - 20.0;
  };
  double sum = 0, worstQuarter = 0;
  const int count = 12;
  for (int k = 0; k < count; ++k) {
    const double dx = next(), dy = next();
    const fpbuffer image = Picture(w, h, dx, dy);
    const ShiftEstimate fine = estimatefast(image, t, 0.1f);
    sum += std::hypot(fine.sx + dx, fine.sy + dy);
    const ShiftEstimate quarter = estimatefast(image, t, 0.25f);
    worstQuarter = std::max({worstQuarter, std::fabs(quarter.sx + dx), std::fabs(quarter.sy + dy)});
  }
  EXPECT_LT(sum / count, 0.1);
  EXPECT_LE(worstQuarter, 0.25);
}

TEST_F(AlignTest, BackProjectionNeverRaisesTheResidual) {
  const fpbuffer source = Picture(96, 80);
  const ShiftEstimate s{1.37f, -0.62f};
  double last = std::numeric_limits<double>::infinity();
  for (int passes = 0; passes <= 3; ++passes) {
    fpbuffer image(source);
    ApplyShift(image, s, passes);
    matrix up, back;
    up.shifty(image.plane[0], -s.sy, nullptr);
    back.shiftx(up, -s.sx, nullptr);
    double residual = 0;
    for (int y = 20; y < 60; ++y)
      for (int x = 20; x < 76; ++x) residual += std::fabs(source.plane[0].z[y][x] - back.z[y][x]);
    residual /= 40 * 56;
    // Down to the rounding of floats near 120.
    EXPECT_LE(residual, std::max(last, 1e-4)) << passes;
    if (passes == 0) {
      EXPECT_GT(residual, 1e-3);
    }
    last = residual;
  }
}

// --- Block alignment ---

TEST_F(AlignTest, BlockGridAndFieldSizes) {
  const BlockGrid g(100, 70, 16);
  EXPECT_EQ(g.nbx, 7);
  EXPECT_EQ(g.nby, 5);
  const fpbuffer image = Picture(100, 70, 1, 0);
  matrixarray t;
  t.alignpyramid(Picture(100, 70), 0);
  const BlockFields f = estimateblock(image, t, 16, 3, 1.0f);
  EXPECT_EQ(f.dx.nx, 7);
  EXPECT_EQ(f.dx.ny, 5);
  matrix px;
  BlockFieldToPixels(px, f.dx, g);
  EXPECT_EQ(px.nx, 112);
  EXPECT_EQ(px.ny, 80);
}

TEST_F(AlignTest, BlockAlignmentAgainstItselfChangesNothing) {
  fpbuffer image = Picture(70, 50);
  const fpbuffer before(image);
  matrixarray t;
  t.alignpyramid(image, 0);
  const BlockFields f = estimateblock(image, t, 16, 3, 1.0f);
  for (int k = 0; k < f.dx.n; ++k) {
    EXPECT_EQ(f.dx.x[k], 0.0f);
    EXPECT_EQ(f.dy.x[k], 0.0f);
  }
  image.alignblock(t, 16, 3, 1.0f, 2);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(image.plane[c], before.plane[c]));
}

TEST_F(AlignTest, BlockFieldsFollowAGlobalShift) {
  const fpbuffer image = Picture(96, 80, 2.3, -1.7);
  matrixarray t;
  t.alignpyramid(Picture(96, 80), 0);
  const BlockFields f = estimateblock(image, t, 16, 3, 1.0f);
  // The fields hold the shift that undoes the displacement, away from the edge blocks
  // whose partners lie partly outside the picture. The colour form against a reference
  // layer finds the same.
  const BlockFields g = estimateblocklayers(image, Picture(96, 80), 16, 3, 1.0f);
  for (const BlockFields* fields : {&f, &g}) {
    for (int i = 1; i < 4; ++i)
      for (int j = 1; j < 5; ++j) {
        EXPECT_NEAR(fields->dx.z[i][j], -2.3f, 0.1f) << i << "," << j;
        EXPECT_NEAR(fields->dy.z[i][j], 1.7f, 0.1f) << i << "," << j;
      }
  }
}

TEST_F(AlignTest, FlatAreasSmallImagesAndNoSmoothingStayFinite) {
  struct Case {
    int w, h, block, radius;
    float sigma;
    bool flat;
  };
  const Case cases[] = {{40, 40, 8, 2, 0.0f, false}, {40, 40, 8, 2, 1.0f, true}, {20, 20, 16, 10, 1.0f, false},
                        {5, 3, 8, 10, 2.0f, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w * 100 + c.radius);
    fpbuffer image = Picture(c.w, c.h, 0.7, 0.4);
    fpbuffer reference = Picture(c.w, c.h);
    if (c.flat) {
      for (int q = 0; q < 3; ++q) {
        image.plane[q].fill(50);
        reference.plane[q].fill(50);
      }
    }
    matrixarray t;
    t.alignpyramid(reference, 0);
    image.mask.dim(c.w, c.h);
    image.alignblock(t, c.block, c.radius, c.sigma, 1);
    for (int q = 0; q < 3; ++q)
      for (int k = 0; k < image.n; ++k) ASSERT_TRUE(std::isfinite(image.plane[q].x[k]));
    image.alignblocklayers(reference, c.block, c.radius, c.sigma, 1);
    for (int q = 0; q < 3; ++q)
      for (int k = 0; k < image.n; ++k) ASSERT_TRUE(std::isfinite(image.plane[q].x[k]));
  }
}

// The block search by index arithmetic is the plain search over rolled planes, bit for
// bit, at any thread count.
TEST_F(AlignTest, IndexedBlockSearchMatchesRolledPlanes) {
  const fpbuffer image = Picture(37, 29, 1.4, -2.2);
  const fpbuffer reference = Picture(37, 29);
  const matrix* planes[3] = {&image.plane[0], &image.plane[1], &image.plane[2]};
  const matrix* refs[3] = {&reference.plane[0], &reference.plane[1], &reference.plane[2]};
  // Radius 5 has more candidates per row than the search scores at once.
  for (int count : {1, 3}) {
    for (int radius : {3, 5}) {
      const BlockGrid grid(37, 29, 8);
      BlockFields plain, fast1, fastN;
      BlockIntegerSearchByRolling(planes, refs, count, radius, grid, plain);
      SetParallelThreads(1);
      BlockIntegerSearch(planes, refs, count, radius, grid, fast1);
      SetParallelThreads(0);
      BlockIntegerSearch(planes, refs, count, radius, grid, fastN);
      for (const BlockFields* f : {&fast1, &fastN}) {
        EXPECT_TRUE(SameBits(f->dx, plain.dx));
        EXPECT_TRUE(SameBits(f->dy, plain.dy));
        EXPECT_TRUE(SameBits(f->cost, plain.cost));
      }
    }
  }
}

// --- Commands ---

namespace {
class AlignCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }
  void Show(const fpbuffer& image) {
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
  }
  void PressF2() { v.Dispatch(Id::F2ProgrammedOperation); }
  bool HasTemplate() { return v.alignmentTemplate.n > 0; }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(AlignCommandTest, TemplateCommandsAndTheirMenuItems) {
  for (Id id : {Id::CreateAlignmentTemplate, Id::DestroyAlignmentTemplate, Id::FastTranslational, Id::BlockAlign,
                Id::Align2Pt})
    EXPECT_FALSE(v.QueryCommand(id).enabled);
  Show(Picture(40, 30));
  EXPECT_TRUE(v.QueryCommand(Id::CreateAlignmentTemplate).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::FastTranslational).enabled);
  v.Dispatch(Id::CreateAlignmentTemplate);
  v.Dispatch(Id::CreateAlignmentTemplate);
  EXPECT_EQ(host.popdowns, std::vector<int>{8});  // dropped once, by the first
  ASSERT_EQ(v.alignmentTemplate.n, 2);
  for (Id id : {Id::DestroyAlignmentTemplate, Id::FastTranslational, Id::BlockAlign})
    EXPECT_TRUE(v.QueryCommand(id).enabled);

  Flags().CtrlHeld = true;
  v.Dispatch(Id::DestroyAlignmentTemplate);
  EXPECT_TRUE(HasTemplate());
  EXPECT_EQ(v.f2OperationId, int(Id::DestroyAlignmentTemplate));
  EXPECT_EQ(v.operationName, "DestroyAlign");
  PressF2();
  EXPECT_FALSE(HasTemplate());
  EXPECT_FALSE(v.QueryCommand(Id::FastTranslational).enabled);
}

TEST_F(AlignCommandTest, SetF2FromTheMenuOnlyOpensThePage) {
  Show(Picture(48, 40));
  v.Dispatch(Id::CreateAlignmentTemplate);
  const fpbuffer shifted = Picture(48, 40, -2, 1);
  Show(shifted);
  struct Case {
    Id id;
    int page;
    const char* name;
  };
  for (const Case& c : {Case{Id::FastTranslational, 69, "FastAlign"}, Case{Id::BlockAlign, 73, "BlockAlign"}}) {
    LiveSettings().autoQuery = 1;
    ui.ExpectProperties(CancelOn(c.page));
    v.Dispatch(c.id);
    EXPECT_NE(v.f2OperationId, int(c.id));
    Flags().CtrlHeld = true;  // changes nothing
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    EXPECT_EQ(v.f2OperationId, int(c.id));
    EXPECT_EQ(v.operationName, c.name);
    EXPECT_TRUE(SameBits(v.currentLayer().plane[0], shifted.plane[0]));  // not run
  }

  // F2 runs the fast mode with the settings of now.
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(69));
  v.Dispatch(Id::FastTranslational);
  PressF2();
  const fpbuffer reference = Picture(48, 40);
  EXPECT_EQ(MaxInteriorDifference(v.currentLayer().plane[1], reference.plane[1], 3), 0.0f);
  EXPECT_TRUE(HasTemplate());
}

TEST_F(AlignCommandTest, AnotherSizeIsRefusedAndNothingChanges) {
  Show(Picture(48, 40));
  v.Dispatch(Id::CreateAlignmentTemplate);
  const fpbuffer other = Picture(40, 40, 1, 1);
  Show(other);
  v.Dispatch(Id::FastTranslational);  // autoQuery off: the page is taken as it stands
  ASSERT_EQ(v.f2OperationId, int(Id::FastTranslational));
  ui.ExpectMessage("Improper dimensions!\nImage: 40 x 40\nTempl: 48 x 40");
  PressF2();
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(v.currentLayer().plane[c], other.plane[c]));

  // An empty template does nothing, silently.
  v.alignmentTemplate.free();
  Flags().F2Active = true;
  v.Dispatch(Id::FastTranslational);
  Flags().F2Active = false;
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(v.currentLayer().plane[c], other.plane[c]));
}

TEST_F(AlignCommandTest, BlockAlignmentTopToBottom) {
  EXPECT_FALSE(v.QueryCommand(Id::BlockAlignLayers).enabled);
  const fpbuffer reference = Picture(64, 48);
  v.layers[1] = reference;
  Show(Picture(64, 48, 1, -1));
  EXPECT_TRUE(v.QueryCommand(Id::BlockAlignLayers).enabled);
  v.Dispatch(Id::BlockAlignLayers);
  ASSERT_EQ(v.f2OperationId, int(Id::BlockAlignLayers));
  PressF2();
  EXPECT_LT(MaxInteriorDifference(v.currentLayer().plane[2], reference.plane[2], 6), 0.5f);
}

// --- Rotation-scale-translation ---

namespace {
constexpr float kPi = 3.14159265f;

// The texture seen through a similarity: pixel (u, v) holds the texture at record(u, v).
fpbuffer Through(int w, int h, const SimilarityParams& record) {
  fpbuffer image(w, h, cspace::kDefault);
  const float c = record.x[0], s = record.x[1], tx = record.x[2], ty = record.x[3];
  for (int ch = 0; ch < 3; ++ch)
    for (int v = 0; v < h; ++v)
      for (int u = 0; u < w; ++u)
        image.plane[ch].z[v][u] = float(Texture(ch, c * u + s * v + tx, -s * u + c * v + ty));
  return image;
}

// The template turned by theta about the centre: the record that registers it is a pure
// rotation by theta.
fpbuffer Turned(int w, int h, float theta) {
  const float cx = float(w - 1) * 0.5f, cy = float(h - 1) * 0.5f;
  return Through(w, h, ShiftRotateTransform(cx, cy, -theta, 0, 0));
}
}  // namespace

TEST_F(AlignTest, SearchValuesFollowTheLoopRule) {
  EXPECT_EQ(SearchValues(0, 1, 0.5f), (std::vector<float>{-1, -0.5f, 0, 0.5f, 1}));
  EXPECT_EQ(SearchValues(2, 0.1f, 1), (std::vector<float>{1.9f, 2.9f, 3.9f}));  // three at least
  // Steps are added in floats: the wide angle search may stop one short of its end.
  const std::vector<float> angles = SearchValues(0, 0.7853982f, 0.008726646f);
  EXPECT_EQ(angles.front(), -0.7853982f);
  EXPECT_LE(angles.back(), 0.7853982f);
  EXPECT_GE(angles.size(), 180u);
}

TEST_F(AlignTest, RotationIsFoundCoarseThenFine) {
  const fpbuffer reference = Picture(64, 48);
  matrixarray t;
  t.alignpyramid(reference, 0);
  ASSERT_EQ(t.n, 3);
  const float truth = 10.0f * kPi / 180.0f;
  const fpbuffer image = Turned(64, 48, truth);

  matrixarray p;
  p.alignpyramid(image, 3);
  float theta = 0, x = 0, y = 0;
  RotationShiftSearch(p[2], t[2], 63 * 0.125f, 47 * 0.125f, theta, x, y, kPi / 4, kPi / 360, 4, 1, 3, 1, 1);
  EXPECT_NEAR(theta, truth, 0.5f * kPi / 180.0f);

  const RotationEstimate plain = estimaterotation(image, t, 0.7853982f, 0.008726646f, false, 1);
  EXPECT_NEAR(plain.theta, truth, kPi / 1080);
  const RotationEstimate extra = estimaterotation(image, t, 0.7853982f, 0.008726646f, true, 1);
  EXPECT_NEAR(extra.theta, truth, kPi / 8640);
  EXPECT_NEAR(extra.x, 0.0f, 0.0625f);
  EXPECT_NEAR(extra.y, 0.0f, 0.0625f);

  // Applied, the turned image comes back to the reference inside; a mask bit set before
  // stays set, and the corners brought in from outside are marked.
  fpbuffer aligned(image);
  aligned.mask.dim(64, 48);
  aligned.mask.set(30, 20, true);
  ApplyRotation(aligned, extra, 1);
  EXPECT_LT(MaxInteriorDifference(aligned.plane[0], reference.plane[0], 14), 1.0f);
  EXPECT_TRUE(aligned.mask.get(30, 20));
  EXPECT_TRUE(aligned.mask.get(0, 0));
}

TEST_F(AlignTest, EvenAndOddSizesTurnAboutTheTrueCentre) {
  const float truth = 30.0f * kPi / 180.0f;
  std::vector<float> errors;
  for (int w : {64, 65}) {
    SCOPED_TRACE(w);
    const int h = w - 16;
    matrixarray t;
    t.alignpyramid(Picture(w, h), 0);
    const RotationEstimate r = estimaterotation(Turned(w, h, truth), t, 0.7853982f, 0.008726646f, false, 0);
    // Within one step of the finest search, with no shift to make up for a wrong centre.
    EXPECT_LE(std::fabs(r.theta - truth), kPi / 1080 * 1.001f);
    EXPECT_NEAR(r.x, 0.0f, 0.5f);
    EXPECT_NEAR(r.y, 0.0f, 0.5f);
    errors.push_back(std::fabs(r.theta - truth));
  }
  EXPECT_NEAR(errors[0], errors[1], kPi / 8640);
}

TEST_F(AlignTest, OneLevelRunsTheTwoCoarsestSearchesOnly) {
  matrixarray t;
  t.alignpyramid(Picture(24, 16), 0);
  ASSERT_EQ(t.n, 1);
  estimaterotation(Turned(24, 16, 0.1f), t, 0.7853982f, 0.008726646f, false, 2);
  // One tick per angle of the wide search and of the narrow one.
  const size_t wide = SearchValues(0, 0.7853982f, 0.008726646f).size();
  EXPECT_GE(Progress().count, int(wide + 6));
  EXPECT_LE(Progress().count, int(wide + 7));
}

TEST_F(AlignTest, ScaleOutsideTheRangeIsNeverTried) {
  const int w = 48, h = 40;
  matrixarray t;
  t.alignpyramid(Picture(w, h), 0);
  // The image's corners land at centre -/+ q (W/2, H/2) in the template's frame.
  auto corners = [&](float q) {
    return TwoPointEstimate{24 - q * 24, 20 - q * 20, 24 + q * 24, 20 + q * 20};
  };
  auto scaleOf = [&](const TwoPointEstimate& p) {
    return std::hypot(p.x2 - p.x1, p.y2 - p.y1) / std::hypot(float(w), float(h));
  };
  for (float q : {1.25f, 0.8f}) {
    SCOPED_TRACE(q);
    const TwoPointEstimate truth = corners(q);
    const fpbuffer image =
        Through(w, h, SimilarityFromTwoPoints(0, 0, float(w), float(h), truth.x1, truth.y1, truth.x2, truth.y2));
    const TwoPointEstimate p = estimatesimilarity(image, t, false, 1, 0.9f, 1.5f);
    if (q > 1.0f) {
      EXPECT_NEAR(p.x1, truth.x1, 0.5f);
      EXPECT_NEAR(p.y1, truth.y1, 0.5f);
      EXPECT_NEAR(p.x2, truth.x2, 0.5f);
      EXPECT_NEAR(p.y2, truth.y2, 0.5f);
    } else {
      EXPECT_GE(scaleOf(p), 0.9f - 1e-6f);
      EXPECT_LE(scaleOf(p), 1.5f + 1e-6f);
    }
  }
}

TEST_F(AlignCommandTest, Align2PtRunsUnderF2InEitherForm) {
  const fpbuffer reference = Picture(64, 48);
  Show(reference);
  v.Dispatch(Id::CreateAlignmentTemplate);
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(68));
  v.Dispatch(Id::Align2Pt);
  ASSERT_EQ(v.f2OperationId, int(Id::Align2Pt));
  EXPECT_EQ(v.operationName, "Align2Pt");

  Show(Turned(64, 48, 0.2f));
  PressF2();  // rotational, the default
  EXPECT_LT(MaxInteriorDifference(v.currentLayer().plane[1], reference.plane[1], 14), 2.0f);

  LiveSettings().stack.alignNoResizing = 0;
  Show(Picture(64, 48, 1, 0));
  PressF2();  // resized
  EXPECT_LT(MaxInteriorDifference(v.currentLayer().plane[1], reference.plane[1], 8), 2.0f);
  EXPECT_TRUE(HasTemplate());
}

// Every parallel loop of the alignment gives the same bytes with one thread and with all.
TEST_F(AlignTest, OneThreadAndAllGiveTheSameBytes) {
  const fpbuffer reference = Picture(48, 40);
  const fpbuffer image = Turned(48, 40, 0.05f);
  struct Result {
    matrixarray pyramid;
    ShiftEstimate fast;
    BlockFields blocks;
    RotationEstimate rotation;
    TwoPointEstimate points;
    fpbuffer warped;
  };
  auto run = [&](int threads) {
    SetParallelThreads(threads);
    Result r;
    matrixarray t;
    t.alignpyramid(reference, 0);
    r.pyramid.alignpyramid(image, 0);
    r.fast = estimatefast(image, t, 0.1f);
    r.blocks = estimateblock(image, t, 16, 2, 1.0f);
    matrixarray one;
    one.alignpyramid(reference, 1);
    r.rotation = estimaterotation(image, one, 0.05f, 0.01f, false, 1);
    r.points = estimatesimilarity(Picture(24, 20, 0.5, 0), [] {
      matrixarray s;
      s.alignpyramid(Picture(24, 20), 0);
      return s;
    }(), false, 0, 0.9f, 1.5f);
    r.warped = image;
    ApplyBlockFields(r.warped, r.blocks, 16, 1);
    SetParallelThreads(0);
    return r;
  };
  const Result a = run(1), b = run(4);
  for (int k = 0; k < a.pyramid.n; ++k) EXPECT_TRUE(SameBits(a.pyramid[k], b.pyramid[k]));
  EXPECT_EQ(a.fast.sx, b.fast.sx);
  EXPECT_EQ(a.fast.sy, b.fast.sy);
  EXPECT_TRUE(SameBits(a.blocks.dx, b.blocks.dx));
  EXPECT_TRUE(SameBits(a.blocks.dy, b.blocks.dy));
  EXPECT_EQ(a.rotation.theta, b.rotation.theta);
  EXPECT_EQ(a.rotation.x, b.rotation.x);
  EXPECT_EQ(a.points.x1, b.points.x1);
  EXPECT_EQ(a.points.y2, b.points.y2);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(a.warped.plane[c], b.warped.plane[c]));
}

// Block alignment and Align2Pt poll the cancel key; a cancel keeps the image and the
// template.
TEST_F(AlignCommandTest, ACancelKeepsTheImageAndTheTemplate) {
  Show(Picture(64, 48));
  v.Dispatch(Id::CreateAlignmentTemplate);
  const matrixarray templ(v.alignmentTemplate);
  const fpbuffer moved = Picture(64, 48, 1.5, -0.5);
  for (Id id : {Id::BlockAlign, Id::Align2Pt}) {
    SCOPED_TRACE(int(id));
    Show(moved);
    v.Dispatch(id);
    ASSERT_EQ(v.f2OperationId, int(id));
    platform.CancelAtPoll(3);
    PressF2();
    platform.CancelAtPoll(0);
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(v.currentLayer().plane[c], moved.plane[c]));
    ASSERT_EQ(v.alignmentTemplate.n, templ.n);
    for (int k = 0; k < templ.n; ++k) EXPECT_TRUE(SameBits(v.alignmentTemplate[k], templ[k]));
  }
}
