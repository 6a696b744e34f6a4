// The enlargement commands through a window's dispatcher: factor and adjustment rules,
// pages, F2/F3 and Ctrl, cancels that leave the image as it was, centroids, and the strip
// path beside the float path.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "bitmap_checks.h"
#include "image/rgbbuffer.h"
#include "ops/resize/enlarge.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
using Id = CommandId;

struct PlanCase {
  const char* name;
  FactorRule factor;
  OffsetRule offsets;
  int setting, w, h, tw, th;
  double sx, sy, dx, dy;
  int passes, f;
  bool adjust;
  double rx, ry, ox, oy;
};

TEST(EnlargePlanTest, FactorsAndAdjustments) {
  const auto D = FactorRule::Doubling;
  const auto G = OffsetRule::Given, S = OffsetRule::HalfShift, O = OffsetRule::HalfOnly;
  const double r1 = 1000.0 / 1200, r2 = 500.0 / 800;
  const PlanCase cases[] = {
      {"Xin Li 300x200 to 1000x500", D, S, 0, 300, 200, 1000, 500, 0, 0, 0.25, -0.5, 2, 4, true, r1,
       r2, 0.25 - r1 / 2, -0.5 - r2 / 2},
      {"exact 2^n, given offsets: nothing follows", D, G, 0, 300, 200, 1200, 800, 4, 4, 0, 0, 2, 4,
       false, 1, 1, 0, 0},
      {"exact 2^n, half shift alone", D, S, 0, 300, 200, 1200, 800, 4, 4, 0, 0, 2, 4, true, 1, 1,
       -0.5, -0.5},
      {"stored offsets unused", D, O, 0, 300, 200, 600, 400, 2, 2, 3, 3, 1, 2, true, 1, 1, -0.5,
       -0.5},
      {"smaller target: no doubling, no half shift", D, S, 0, 300, 200, 150, 100, 0.5, 0.5, 0.1, 0,
       0, 1, true, 0.5, 0.5, 0.1, 0},
      {"smaller target, half only: no offset", D, O, 0, 300, 200, 150, 100, 0.5, 0.5, 0.1, 0, 0, 1,
       true, 0.5, 0.5, 0, 0},
      {"one dimension decides the doublings", D, G, 0, 300, 200, 310, 900, 310.0 / 300, 4.5, 0, 0,
       3, 8, true, 310.0 / 2400, 900.0 / 1600, 0, 0},
      {"MBS 4 -> 5", FactorRule::OddInteger, G, 0, 30, 20, 120, 80, 4, 4, 0, 0, 0, 5, true, 0.8,
       0.8, 0, 0},
      {"MBS 2.2 -> 3", FactorRule::OddInteger, G, 0, 30, 20, 66, 44, 2.2, 2.2, 0, 0, 0, 3, true,
       2.2 / 3, 2.2 / 3, 0, 0},
      {"MBS no enlargement -> 1", FactorRule::OddInteger, G, 0, 30, 20, 15, 60, 0.5, 3, 0, 0, 0, 1,
       true, 0.5, 3, 0, 0},
      {"PseudoInv 1.5 -> 2", FactorRule::Integer, G, 0, 30, 20, 45, 30, 1.5, 1.5, 0, 0, 0, 2, true,
       0.75, 0.75, 0, 0},
      {"PseudoInv 3.5 x 5 -> 4", FactorRule::Integer, G, 0, 30, 20, 105, 100, 3.5, 5, 0, 0, 0, 4,
       true, 3.5 / 4, 5.0 / 4, 0, 0},
      {"Pyramid 2.5 -> 3", FactorRule::Pyramid, G, 0, 30, 20, 75, 50, 2.5, 2.5, 0.2, 0, 0, 3, true,
       2.5 / 3, 2.5 / 3, 0.2, 0},
      {"given 2 doublings: x4 whatever the size", D, S, 2, 300, 200, 100, 100, 0.3, 0.3, 1, 1, 2, 4,
       false, 1, 1, 0, 0},
      {"given factor 3", FactorRule::Integer, G, 3, 30, 20, 1, 1, 0.1, 0.1, 0, 0, 0, 3, false, 1, 1,
       0, 0},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    const EnlargePlan p = PlanEnlargement(c.factor, c.offsets, c.setting, c.w, c.h, c.tw, c.th,
                                          c.sx, c.sy, c.dx, c.dy);
    EXPECT_EQ(p.automatic, c.setting == 0);
    if (c.factor == FactorRule::Doubling) {
      EXPECT_EQ(p.passes, c.passes);
    }
    EXPECT_EQ(p.factor, c.f);
    EXPECT_EQ(p.adjust, c.adjust);
    EXPECT_DOUBLE_EQ(p.rx, c.rx);
    EXPECT_DOUBLE_EQ(p.ry, c.ry);
    EXPECT_DOUBLE_EQ(p.ox, c.ox);
    EXPECT_DOUBLE_EQ(p.oy, c.oy);
  }
}

TEST(EnlargePlanTest, StripMargins) {
  ResizeParams p = DefaultSettings().resize;
  const EnlargePlan plan;
  auto margin = [&](Id id) { return FindEnlargeCommand(int(id))->strips.margin(p, plan); };
  p.jensenWindowSize = 7;
  p.oldDdlOrder = 3;
  p.bpOrder = 3;
  p.bpIterationsFirstPass = 5;
  p.bpIterationsSecondPass = 0;
  p.backprojectionModeFirstPass = 4;
  p.presharpenAmount = 0;
  EXPECT_EQ(margin(Id::BackprojectedJddl), 9);
  p.presharpenAmount = 1;
  EXPECT_EQ(margin(Id::BackprojectedJddl), 11);
  p.backprojectionModeFirstPass = 5;
  EXPECT_EQ(margin(Id::BackprojectedJddl), 16);
  p.bpIterationsFirstPass = 0;  // mode 5 without iterations does not count
  EXPECT_EQ(margin(Id::BackprojectedJddl), 11);
  p.ddlPost.superRezIters = 0;
  p.ddlOrder = 0;
  EXPECT_EQ(margin(Id::NewDataDependentLanczos), 0);
  p.ddlOrder = 1;
  EXPECT_EQ(margin(Id::NewDataDependentLanczos), 2);
  // Jensen-Xin Li: the Jensen window's margin, the Xin Li window, at least 4; from the
  // second doubling on twice that.
  p.jensenWindowSize = 3;
  p.xinLiWindowSize = -2;
  EXPECT_EQ(margin(Id::JensenXinLi), 4);
  p.jensenWindowSize = 7;
  EXPECT_EQ(margin(Id::JensenXinLi), 9);
  EnlargePlan twice;
  twice.passes = 2;
  EXPECT_EQ(FindEnlargeCommand(int(Id::JensenXinLi))->strips.margin(p, twice), 18);
  // Back-projected Xin Li: the Xin Li reach, then the back-projection's (presharpening on).
  EXPECT_EQ(margin(Id::BackprojectedXinLi), 11);
  p.presharpenAmount = 0;
  p.bpIterationsFirstPass = 5;
  p.backprojectionModeFirstPass = 4;
  EXPECT_EQ(margin(Id::BackprojectedJensenXinLi), 6);
  EXPECT_EQ(margin(Id::WindowlessXinLi), 20);
  // Jensen windows: the odd table, and even lengths 3 ceil(L/2).
  const int windows[][2] = {{3, 3}, {5, 6}, {7, 9}, {9, 12}, {11, 15}, {4, 6}, {6, 9}, {10, 15}};
  for (const auto& [L, m] : windows) EXPECT_EQ(JensenMargin(L), m) << L;
}

// A picture with edges and texture, well inside 0-255.
float Detail(int c, int x, int y) {
  const float edge = (x - 0.4f * y) > 6 ? 60.0f : 0.0f;
  return 90.0f + edge + 30.0f * std::sin(0.5f * x + 0.8f * c) * std::cos(0.37f * y + 0.2f * c);
}

class EnlargeFlowTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    // Small work for every core: few Super Rez and back-projection rounds.
    P().ddlPost.superRezIters = 2;
    P().pseudoInversePost.superRezIters = 2;
    P().cgIterations = 8;
  }
  static ResizeParams& P() { return LiveSettings().resize; }

  // The window's display bitmap drawn by f; with a float image made from its bytes, so that
  // both paths start from the same values.
  static void Make(CImageView& v, int w, int h, bool withFloat, float (*f)(int, int, int)) {
    fpbuffer& layer = v.currentLayer();
    layer.dim(w, h, cspace::kDefault);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) layer.plane[c].z[y][x] = f(c, x, y);
    v.currentBitmap() = DisplayBitmap(w, h);
    layer.todib(v.currentBitmap().toprow());
    layer.fromdib(v.currentBitmap().toprow());
    if (!withFloat) layer.clear(true);
  }
  static void Scale(double s) {
    P().precedence = 6;
    P().horizontalScaleFactor = P().verticalScaleFactor = s;
    P().horizontalOffset = P().verticalOffset = 0;
  }
  // The command's pass setting (0 automatic); Pyramid Simulation has none.
  static void Setting(Id id, int value) {
    switch (id) {
      case Id::NewDataDependentLanczos:
        P().ddlSizeIters = value;
        break;
      case Id::ModifiedBSpline:
        P().mbsScaleFactor = value;
        break;
      case Id::PseudoInverseEnlargement:
        P().integerEnlargementScale = value;
        break;
      case Id::WindowlessXinLi:
        P().windowlessSizeIters = value;
        break;
      default:
        P().numberOfIterations = value;
    }
  }
  static std::vector<uint8_t> Bytes(const DisplayBitmap& b) { return BitmapBytes(b); }
  static bool ScratchEmpty() { return ScratchFolderEmpty(); }
  // The pass setting that enlarges by a small factor: one doubling, or 3.
  static int SmallSetting(const EnlargeCommand& c) {
    return c.factor == FactorRule::Doubling ? 1 : 3;
  }

  FakeHost host;
};

TEST_F(EnlargeFlowTest, EveryCommandFromItsMenuOnBothPaths) {
  LiveSettings().autoQuery = 1;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    for (bool withFloat : {true, false}) {
      SCOPED_TRACE(testing::Message() << int(c.id) << " float " << withFloat);
      CImageView v(&host);
      Make(v, 12, 10, withFloat, Detail);
      if (c.setting) Setting(c.id, 0);
      P().precedence = 3;
      // The tile page (20) only without float image; the size dialog for automatic runs.
      const CommandDescriptor* d = CommandDescriptorOf(int(c.id));
      if (c.tileFirst && !withFloat) ui.ExpectProperties(TypeAndOk(20));
      for (int page : d->pages) {
        if (page >= 0) ui.ExpectProperties(TypeAndOk(page));
      }
      if (!c.tileFirst && !withFloat) ui.ExpectProperties(TypeAndOk(20));
      ui.ExpectProperties(TypeAndOk(30, {{3, "2"}}));
      v.Dispatch(c.id);
      ui.VerifyAllAnswered();
      EXPECT_EQ(v.currentBitmap().width(), 24);
      EXPECT_EQ(v.currentBitmap().height(), 20);
      EXPECT_EQ(v.HasFloat(), withFloat);
      if (withFloat) {
        EXPECT_EQ(v.currentLayer().width, 24);
      }
      EXPECT_FALSE(v.elapsedText.empty());
      EXPECT_TRUE(ScratchEmpty());
      // A given setting asks no size: the image grows by the setting's factor.
      if (!c.setting) continue;
      Setting(c.id, SmallSetting(c));
      if (c.tileFirst && !withFloat) ui.ExpectProperties(TypeAndOk(20));
      for (int page : d->pages) {
        if (page >= 0) ui.ExpectProperties(TypeAndOk(page));
      }
      v.Dispatch(c.id);
      EXPECT_EQ(v.currentBitmap().width(), c.factor == FactorRule::Doubling ? 48 : 72);
    }
  }
}

TEST_F(EnlargeFlowTest, F2AndF3RunWithoutDialogsAndCtrlOnlySelects) {
  LiveSettings().autoQuery = 1;  // any dialog would fail the test
  CImageView v(&host);
  Make(v, 10, 8, true, Detail);
  Scale(2);
  P().numberOfIterations = 0;
  P().mbsScaleFactor = 0;
  Flags().F2Active = true;
  v.Dispatch(Id::OldDataDependentLanczos);
  EXPECT_EQ(v.currentBitmap().width(), 20);
  EXPECT_FALSE(Flags().F2Active);
  Flags().F3Active = true;
  v.Dispatch(Id::ModifiedBSpline);
  EXPECT_EQ(v.currentBitmap().width(), 40);

  // Ctrl after the pages: the command becomes the F2/F3 operation and nothing runs.
  ui.ExpectProperties(TypeAndOk(25));
  ui.ExpectProperties(TypeAndOk(30));
  Flags().CtrlHeld = true;
  v.Dispatch(Id::ModifiedBSpline);
  EXPECT_EQ(v.currentBitmap().width(), 40);
  EXPECT_EQ(v.f2OperationId, int(Id::ModifiedBSpline));
  EXPECT_FALSE(Flags().CtrlHeld);

  // A cancelled tile page stops the command before anything else is asked.
  v.currentLayer().clear(true);
  ui.ExpectProperties(CancelOn(20));
  v.Dispatch(Id::XinLi);
  EXPECT_EQ(v.currentBitmap().width(), 40);
}

TEST_F(EnlargeFlowTest, AProgramReplaysItsStepsSettings) {
  RecordedProgram& program = LiveSettings().program;
  ResizeParams first = P(), second = P();
  first.numberOfIterations = 1;
  second.mbsScaleFactor = 3;
  program.stepCount = 2;
  program.stepIds[0] = int(Id::JensenDdl);
  program.stepIds[1] = int(Id::ModifiedBSpline);
  std::memcpy(program.steps[0].bytes, &first, sizeof first);
  std::memcpy(program.steps[1].bytes, &second, sizeof second);
  P().numberOfIterations = 3;  // the snapshots win over the live settings
  P().mbsScaleFactor = 7;
  CImageView v(&host);
  Make(v, 12, 10, true, Detail);
  v.Dispatch(Id::RunProgram);
  EXPECT_EQ(v.currentBitmap().width(), 72);
  EXPECT_EQ(v.currentLayer().height, 60);
}

TEST_F(EnlargeFlowTest, CancelAtTheFirstTickOfEachPhaseKeepsTheImage) {
  P().tileHeight = 8;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    for (int run = 0; run < 4; ++run) {
      // Both paths, with and without the scratch disk (parked bitmap, channel files).
      const bool withFloat = run < 2;
      P().useScratchDisk = uint8_t(run % 2);
      SCOPED_TRACE(testing::Message()
                   << int(c.id) << " float " << withFloat << " scratch " << run % 2);
      // Polls of the core (or the strips) alone: the same factor without adjustment; then
      // an automatic run that adjusts after it.
      const bool doubling = c.factor == FactorRule::Doubling;
      if (c.setting) Setting(c.id, doubling ? 2 : 3);
      Scale(3);
      CImageView probe(&host);
      Make(probe, 12, 10, withFloat, Detail);
      platform.CancelAtPoll(0);
      probe.Dispatch(c.id);
      const int corePolls = c.exactOnFloat && withFloat ? 0 : platform.polls;
      if (c.setting) Setting(c.id, 0);
      Scale(doubling ? 3 : 2.5);
      std::vector<int> polls = {1};
      if (corePolls > 0) polls.push_back(corePolls + 1);
      for (int poll : polls) {
        SCOPED_TRACE(poll);
        CImageView v(&host);
        Make(v, 12, 10, withFloat, Detail);
        const std::vector<uint8_t> before = Bytes(v.currentBitmap());
        platform.CancelAtPoll(poll);
        v.Dispatch(c.id);
        platform.CancelAtPoll(0);
        EXPECT_EQ(Bytes(v.currentBitmap()), before);
        EXPECT_EQ(v.HasFloat(), withFloat);
        if (withFloat) {
          EXPECT_EQ(v.currentLayer().width, 12);
        }
        EXPECT_TRUE(v.elapsedText.empty());
        EXPECT_TRUE(ScratchEmpty());
      }
    }
  }
}

namespace {
// The centroid of channel 1 above the blob's floor of 20.
std::pair<double, double> BlobCentroid(const matrix& g) {
  double s = 0, sx = 0, sy = 0;
  for (int y = 0; y < g.ny; ++y) {
    for (int x = 0; x < g.nx; ++x) {
      const double w = std::max(0.0, double(g.z[y][x]) - 20);
      s += w;
      sx += w * x;
      sy += w * y;
    }
  }
  return {sx / s, sy / s};
}

// A grey blob off the pixel grid at (13.3, 10.6) on a floor of 20.
float Blob(int, int x, int y) {
  const double dx = x - 13.3, dy = y - 10.6;
  return float(20 + 200 * std::exp(-(dx * dx + dy * dy) / (2 * 2.5 * 2.5)));
}
}  // namespace

TEST_F(EnlargeFlowTest, AutomaticCentroidsStayOnTheSourceBlob) {
  const double cx = 13.3, cy = 10.6;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    for (int f : {2, 3, 4}) {
      SCOPED_TRACE(testing::Message() << int(c.id) << " f " << f);
      CImageView v(&host);
      Make(v, 28, 22, true, Blob);
      if (c.setting) Setting(c.id, 0);
      Scale(f);
      v.Dispatch(c.id);
      ASSERT_EQ(v.currentLayer().width, 28 * f);
      // Mapped back to source pixels on the centred grid.
      const auto [x, y] = BlobCentroid(v.currentLayer().plane[1]);
      EXPECT_NEAR((x + 0.5) / f - 0.5, cx, 0.05);
      EXPECT_NEAR((y + 0.5) / f - 0.5, cy, 0.05);
    }
  }
}

// Back-projection and "Super Rez" centre the windowless enlargement themselves: the given
// offsets stay, without either the half shift does it.
TEST_F(EnlargeFlowTest, WindowlessCentroidsWithAndWithoutReprojection) {
  const double cx = 13.3, cy = 10.6;
  const int runs[][2] = {{0, 0}, {0, 20}, {2, 0}};
  for (const auto& [backProjections, superRez] : runs) {
    for (int f : {2, 4}) {
      SCOPED_TRACE(testing::Message() << backProjections << "/" << superRez << " f " << f);
      CImageView v(&host);
      Make(v, 28, 22, true, Blob);
      P().windowlessSizeIters = 0;
      P().windowlessBackProjIters = backProjections;
      P().windowlessPost.superRezIters = superRez;
      Scale(f);
      v.Dispatch(Id::WindowlessXinLi);
      ASSERT_EQ(v.currentLayer().width, 28 * f);
      const auto [x, y] = BlobCentroid(v.currentLayer().plane[1]);
      EXPECT_NEAR((x + 0.5) / f - 0.5, cx, 0.05);
      EXPECT_NEAR((y + 0.5) / f - 0.5, cy, 0.05);
    }
  }
}

// A given pass count has no adjustment: the doublings that start their grid at the first
// sample put source pixel i at 2i, the others keep the centred grid.
TEST_F(EnlargeFlowTest, GivenPassCountsKeepTheirDocumentedGrids) {
  const double cx = 13.3, cy = 10.6;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    if (!c.setting) continue;
    SCOPED_TRACE(int(c.id));
    CImageView v(&host);
    Make(v, 28, 22, true, Blob);
    const bool doubling = c.factor == FactorRule::Doubling;
    Setting(c.id, doubling ? 1 : 3);
    v.Dispatch(c.id);
    const int f = doubling ? 2 : 3;
    ASSERT_EQ(v.currentLayer().width, 28 * f);
    const auto [x, y] = BlobCentroid(v.currentLayer().plane[1]);
    const double shift = c.offsets == OffsetRule::Given ? 0.5 * (f - 1) : 0;
    EXPECT_NEAR(x, f * cx + shift, 0.1);
    EXPECT_NEAR(y, f * cy + shift, 0.1);
  }
}

TEST_F(EnlargeFlowTest, StripsMatchTheFloatPath) {
  P().tileHeight = 16;
  // A windowless fit far from converged still depends on the whole tile it is given.
  P().cgIterations = 30;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    for (int larger : {0, 1}) {
      if (larger && !c.setting) continue;
      SCOPED_TRACE(testing::Message() << int(c.id) << " larger " << larger);
      CImageView a(&host), b(&host);
      Make(a, 20, 40, true, Detail);
      Make(b, 20, 40, false, Detail);
      // One doubling or a factor of 3; then two doublings or a factor of 5.
      const bool doubling = c.factor == FactorRule::Doubling;
      if (c.setting) Setting(c.id, SmallSetting(c) + (doubling ? larger : 2 * larger));
      Scale(2);
      a.Dispatch(c.id);
      b.Dispatch(c.id);
      const DisplayBitmap &x = a.currentBitmap(), &y = b.currentBitmap();
      ASSERT_EQ(x.width(), y.width());
      ASSERT_EQ(x.height(), y.height());
      int worst = 0;
      double sum = 0;
      for (int64_t i = 0; i < x.bytes(); ++i) {
        worst = std::max(worst, std::abs(x.data()[i] - y.data()[i]));
        sum += std::abs(x.data()[i] - y.data()[i]);
      }
      if (c.id != Id::PyramidSimulation) {
        // Two back-projected Jensen passes differ near a seam by up to 7 levels whatever the
        // margin: their edge model depends on the whole of what it is given.
        const bool jensenBackProjected =
            c.id == Id::BackprojectedJddl || c.id == Id::BackprojectedJensenXinLi;
        EXPECT_LE(worst, jensenBackProjected && larger ? 8 : 2);
        continue;
      }
      // The pyramid's many small steps sample a tile on other intermediate grids than the
      // whole picture: close on the whole, not sample for sample.
      EXPECT_LE(sum / double(x.bytes()), 2.0);
    }
  }
}

TEST_F(EnlargeFlowTest, ProgressTotalsMatchTheTicks) {
  P().tileHeight = 10;
  for (const EnlargeCommand& c : EnlargeCommands()) {
    for (bool withFloat : {true, false}) {
      for (int large : {0, 1}) {
        if (large && c.factor != FactorRule::Doubling) continue;
        for (int twelve : {0, 1}) {
          if (twelve && c.id != Id::XinLi) continue;
          SCOPED_TRACE(testing::Message() << int(c.id) << " float " << withFloat << " large "
                                          << large << " twelve " << twelve);
          CImageView v(&host);
          Make(v, 20, 24, withFloat, Detail);
          P().zhaoModified12thOrder = uint8_t(twelve);
          if (c.setting) Setting(c.id, SmallSetting(c) + large);
          Scale(2);
          v.Dispatch(c.id);
          const double total = 101.0 / Progress().factor, ticks = Progress().count;
          EXPECT_NEAR(ticks, total, 0.1 * total);
        }
      }
    }
  }
}

TEST_F(EnlargeFlowTest, ADamagedKernelFileGivesOneMessageOverAllStrips) {
  std::ofstream(ProgramDirectory() / "Kernels", std::ios::binary) << "not a table";
  CImageView v(&host);
  Make(v, 12, 20, false, Detail);
  P().tileHeight = 2;  // ten strips
  P().numberOfIterations = 1;
  P().presharpenAmount = 1;
  ui.ExpectMessage("File, \"Kernels\" (included in zep.zip), is damaged.");
  v.Dispatch(Id::BackprojectedDdl);
  EXPECT_EQ(v.currentBitmap().width(), 24);
}

TEST_F(EnlargeFlowTest, SizesBeyondMemoryOrInt32AreRefusedFirst) {
  CImageView v(&host);
  Make(v, 40, 30, true, Detail);
  const std::vector<uint8_t> before = Bytes(v.currentBitmap());
  P().numberOfIterations = 20;  // 40 * 2^20 wide: beyond what an image holds
  ui.ExpectMessageStartingWith("Cannot resize to");
  v.Dispatch(Id::XinLi);
  platform.memory.availPhys = 1 << 20;
  P().numberOfIterations = 4;
  ui.ExpectMessageStartingWith("Cannot resize to 640 x 480");
  v.Dispatch(Id::BackprojectedDdl);
  EXPECT_EQ(Bytes(v.currentBitmap()), before);
  EXPECT_EQ(v.currentLayer().width, 40);
}

// Windowless Xin Li by a given k = 2 on a bitmap is four times larger, whatever the size
// dialog says; a fit beyond the memory available is refused before anything changes.
TEST_F(EnlargeFlowTest, WindowlessGivenFactorAndMemoryRefusal) {
  CImageView v(&host);
  Make(v, 12, 10, false, Detail);
  P().windowlessSizeIters = 2;
  Scale(3);
  v.Dispatch(Id::WindowlessXinLi);
  EXPECT_EQ(v.currentBitmap().width(), 48);
  EXPECT_EQ(v.currentBitmap().height(), 40);

  CImageView w(&host);
  Make(w, 60, 40, true, Detail);
  const std::vector<uint8_t> before = Bytes(w.currentBitmap());
  P().windowlessSizeIters = 1;
  platform.memory.availPhys = 1 << 20;  // the image fits, the fit's lists do not
  ui.ExpectMessageStartingWith("Cannot resize to 120 x 80");
  w.Dispatch(Id::WindowlessXinLi);
  EXPECT_EQ(Bytes(w.currentBitmap()), before);
  EXPECT_EQ(w.currentLayer().width, 60);
  EXPECT_TRUE(w.elapsedText.empty());
}
}  // namespace

// The strip loop on its own: a source lower than the strip is one strip, and the rows of
// the last strip past the destination are never written.
TEST_F(EnlargeFlowTest, StripLoopEdges) {
  const EnlargeCommand& mbsRow = *FindEnlargeCommand(int(Id::ModifiedBSpline));
  ResizeParams p = DefaultSettings().resize;
  EnlargePlan plan;
  plan.factor = 3;
  const EnlargeRun run{plan, p, false};
  rgbbuffer source(7, 5);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 7; ++i) {
      bytepixel& q = source.at(i, j);
      q.b = uint8_t(40 * j);
      q.g = uint8_t(30 * i);
      q.r = 99;
    }
  // The destination has sentinel rows above the enlarged picture.
  for (int strip : {64, 2}) {
    SCOPED_TRACE(strip);
    rgbbuffer tall(21, 15 + 4);
    tall.fill(0x123456);
    // The bottom 15 rows: the top one is row 14 of tall.
    rgbbuffer wrapped(tall.rows[14], 21, 15);
    RunStrips(wrapped, source, mbsRow, run, cspace::kDefault, strip);
    for (int j = 15; j < 19; ++j)
      for (int i = 0; i < 21; ++i) ASSERT_EQ(tall.at(i, j).r, 0x12) << j;
    // Whole strips or not, the result is the same where there is no seam to hide.
    rgbbuffer whole(21, 15);
    RunStrips(whole, source, mbsRow, run, cspace::kDefault, 64);
    for (int j = 0; j < 15; ++j)
      for (int i = 0; i < 21; ++i) EXPECT_LE(std::abs(whole.at(i, j).g - wrapped.at(i, j).g), 2);
  }
}
