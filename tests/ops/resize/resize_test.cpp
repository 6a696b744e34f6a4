#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "numeric/shift.h"
#include "numeric/triangulate.h"
#include "ops/resize/enlarge.h"
#include "ops/resize/resize.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"
#include "bitmap_checks.h"

namespace {
constexpr int kBox = int(CommandId::BoxNearestNeighbor), kBilinear = int(CommandId::Bilinear),
              kBicubic = int(CommandId::Bicubic), kLanczos = int(CommandId::Lanczos),
              kStair = int(CommandId::StairInterpolation),
              kTriangulation = int(CommandId::Triangulation);
constexpr int kLinear[] = {kBox, kBilinear, kBicubic, kLanczos};

// A smooth colour picture (well inside 0-255, so no byte clamps) or a constant one.
float Smooth(int c, int x, int y) {
  return 128.0f + 60.0f * std::sin(0.21f * x + 0.7f * c) * std::cos(0.17f * y - 0.3f * c);
}

class ResizeTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }
  ResizeParams& P() { return LiveSettings().resize; }

  // The window holds a float image drawn by f, and its display bitmap.
  void MakeFloat(CImageView& v, int w, int h, float (*f)(int, int, int)) {
    fpbuffer& layer = v.currentLayer();
    layer.dim(w, h, 0x17);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) layer.plane[c].z[y][x] = f(c, x, y);
    v.currentBitmap() = DisplayBitmap(w, h);
    layer.todib(v.currentBitmap().toprow());
  }
  // The same picture as a bitmap alone.
  void MakeBitmap(CImageView& v, int w, int h, float (*f)(int, int, int)) {
    MakeFloat(v, w, h, f);
    v.currentLayer().clear(true);
  }
  void Scale(double sx, double sy, double dx = 0, double dy = 0) {
    P().precedence = 6;
    P().horizontalScaleFactor = sx;
    P().verticalScaleFactor = sy;
    P().horizontalOffset = dx;
    P().verticalOffset = dy;
  }
  static std::vector<uint8_t> Bytes(const DisplayBitmap& b) { return BitmapBytes(b); }
  static bool ScratchEmpty() { return ScratchFolderEmpty(); }

  FakeHost host;
  CImageView v{&host};
};

// The two bitmaps have one size and differ by at most one grey level anywhere.
void ExpectWithinOneLevel(const DisplayBitmap& a, const DisplayBitmap& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  for (int64_t i = 0; i < a.bytes(); ++i) ASSERT_LE(std::abs(a.data()[i] - b.data()[i]), 1) << i;
}

// RMS difference of two bitmaps' bytes over the pixels at least margin from the border.
double InteriorRms(const DisplayBitmap& a, const DisplayBitmap& b, int margin) {
  double sum = 0;
  int count = 0;
  for (int y = margin; y < a.height() - margin; ++y)
    for (int x = 3 * margin; x < 3 * (a.width() - margin); ++x) {
      const double d = double(a.row(y)[x]) - double(b.row(y)[x]);
      sum += d * d;
      ++count;
    }
  return std::sqrt(sum / count);
}
}  // namespace

TEST_F(ResizeTest, TheBoundCommandsAreResizeMenuItems) {
  int bound = 0;
  for (int id : CImageView::CommandIds()) {
    const CommandDescriptor* d = CommandDescriptorOf(id);
    ASSERT_NE(d, nullptr) << id;
    if (d->menu == Menu::Resize && CImageView::FindCommand(id)->handler) ++bound;
  }
  // The linear four, Triangulation and Stair Interpolation, the two buffer commands, the
  // two of seam carving, the IFS enlargement with Reopen IFS, and the table's enlargements.
  EXPECT_EQ(bound, 12 + int(EnlargeCommands().size()));
}

TEST_F(ResizeTest, ResizeModesComputeTheTargetSize) {
  struct Case {
    int mode, w, h, tw, th;
    double sx, sy;
    int wantW, wantH;
    double wantSx, wantSy;
  };
  const Case cases[] = {
      {3, 300, 200, 0, 0, 2, 4, 600, 400, 2, 2},
      {1, 300, 200, 451, 0, 4, 4, 451, 301, 451.0 / 300, 451.0 / 300},
      {2, 300, 200, 0, 101, 4, 4, 152, 101, 0.505, 0.505},  // 151.5 rounds up
      {4, 301, 201, 0, 0, 9, 0.5, 151, 101, 0.5, 0.5},      // halves go up
      {5, 300, 200, 300, 200, 4, 4, 300, 200, 1, 1},
      {5, 300, 200, 100, 50, 4, 4, 100, 50, 1.0 / 3, 0.25},
      {6, 300, 200, 0, 0, 0.5, 3, 150, 600, 0.5, 3},
      {7, 300, 200, 11, 12, 0.5, 3, 11, 12, 0.5, 3},  // an unknown mode changes nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    v.currentBitmap() = DisplayBitmap(c.w, c.h);
    P().precedence = c.mode;
    P().outputWidth = c.tw;
    P().outputHeight = c.th;
    P().horizontalScaleFactor = c.sx;
    P().verticalScaleFactor = c.sy;
    ComputeTargetSize(v);
    EXPECT_EQ(P().outputWidth, c.wantW);
    EXPECT_EQ(P().outputHeight, c.wantH);
    EXPECT_DOUBLE_EQ(P().horizontalScaleFactor, c.wantSx);
    EXPECT_DOUBLE_EQ(P().verticalScaleFactor, c.wantSy);
  }
}

TEST_F(ResizeTest, SizeDialogFocusesTheRowOfTheMode) {
  LiveSettings().autoQuery = 1;
  MakeFloat(v, 20, 10, Smooth);
  const int focus[] = {0, 1, 2, 3, 4, 1, 3};
  for (int mode = 1; mode <= 6; ++mode) {
    P().precedence = mode;
    ui.ExpectProperties([&, mode](Dialog2& d) {
      EXPECT_EQ(d.CurrentPage(), 30);
      EXPECT_EQ(d.FocusRow(), focus[mode]);
      return DialogResult::Cancel;
    });
    EXPECT_TRUE(AskTargetSize());
  }
  P().precedence = 9;  // no dialog at all
  EXPECT_FALSE(AskTargetSize());
}

TEST_F(ResizeTest, ConstantImageStaysConstant) {
  LiveSettings().resize.blurAmountForReductions = 0.4f;
  for (bool hasFloat : {true, false}) {
    for (int id : {kBox, kBilinear, kBicubic, kLanczos, kTriangulation}) {
      for (const std::array<double, 4>& s : {std::array<double, 4>{0.37, 0.61, 0.0, 0.0},
                                             std::array<double, 4>{2.3, 1.7, 0.25, -0.3}}) {
        SCOPED_TRACE(testing::Message() << id << (hasFloat ? " float " : " bitmap ") << s[0]);
        CImageView w(&host);
        auto grey = [](int c, int, int) { return 40.0f + 50.0f * c; };
        hasFloat ? MakeFloat(w, 23, 17, grey) : MakeBitmap(w, 23, 17, grey);
        Scale(s[0], s[1], s[2], s[3]);
        w.Dispatch(id);
        const DisplayBitmap& b = w.currentBitmap();
        ASSERT_EQ(b.width(), ResizedLength(23, s[0]));
        ASSERT_EQ(b.height(), ResizedLength(17, s[1]));
        for (int y = 0; y < b.height(); ++y)
          for (int x = 0; x < b.width(); ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(b.row(y)[3 * x + c], 140 - 50 * c);
      }
    }
  }
}

TEST_F(ResizeTest, LanczosDoubleThenHalfReturnsTheImage) {
  for (bool hasFloat : {true, false}) {
    SCOPED_TRACE(hasFloat);
    CImageView w(&host);
    hasFloat ? MakeFloat(w, 64, 48, Smooth) : MakeBitmap(w, 64, 48, Smooth);
    const std::vector<uint8_t> before = Bytes(w.currentBitmap());
    DisplayBitmap original(64, 48);
    std::memcpy(original.data(), before.data(), before.size());
    Scale(2, 2);
    w.Dispatch(kLanczos);
    EXPECT_EQ(w.currentBitmap().width(), 128);
    Scale(0.5, 0.5);
    w.Dispatch(kLanczos);
    ASSERT_EQ(w.currentBitmap().width(), 64);
    // The byte path rounds twice; the float path only once.
    EXPECT_LT(InteriorRms(w.currentBitmap(), original, 6), hasFloat ? 0.5 : 1.0);
  }
}

TEST_F(ResizeTest, BitmapAndFloatPathsAgree) {
  for (bool scratch : {false, true}) {
    for (int id : kLinear) {
      SCOPED_TRACE(testing::Message() << id << " scratch " << scratch);
      P().useScratchDisk = scratch;
      CImageView a(&host), b(&host);
      MakeFloat(a, 41, 29, Smooth);
      MakeBitmap(b, 41, 29, Smooth);
      Scale(1.6, 0.7, 0.1, -0.2);
      a.Dispatch(id);
      b.Dispatch(id);
      ASSERT_FALSE(b.HasFloat());
      ExpectWithinOneLevel(a.currentBitmap(), b.currentBitmap());
      EXPECT_TRUE(ScratchEmpty());
    }
  }
}

TEST_F(ResizeTest, ScratchDiskGivesTheSameFloatImage) {
  for (int id : {kBox, kBilinear, kBicubic, kLanczos, kTriangulation}) {
    SCOPED_TRACE(id);
    CImageView a(&host), b(&host);
    MakeFloat(a, 30, 20, Smooth);
    MakeFloat(b, 30, 20, Smooth);
    a.currentLayer().mask.dim(30, 20);
    a.currentLayer().mask.set(10, 10, true);
    Scale(0.8, 2.5);
    P().useScratchDisk = 0;
    b.Dispatch(id);
    P().useScratchDisk = 1;
    a.Dispatch(id);
    EXPECT_TRUE(ScratchEmpty());
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(a.currentLayer().plane[c].n, b.currentLayer().plane[c].n);
      EXPECT_EQ(0, std::memcmp(a.currentLayer().plane[c].x, b.currentLayer().plane[c].x,
                               sizeof(float) * size_t(b.currentLayer().plane[c].n)));
    }
    EXPECT_EQ(a.currentLayer().mask.width, 24);  // the mask follows the image
    EXPECT_EQ(a.currentLayer().mask.height, 50);
  }
}

TEST_F(ResizeTest, CancelAtTheFirstTickKeepsTheImage) {
  for (bool scratch : {false, true}) {
    for (bool hasFloat : {true, false}) {
      for (int id : {kBox, kBilinear, kBicubic, kLanczos, kStair, kTriangulation}) {
        if (id == kStair && !hasFloat) continue;
        SCOPED_TRACE(testing::Message() << id << " float " << hasFloat << " scratch " << scratch);
        P().useScratchDisk = scratch;
        CImageView w(&host);
        hasFloat ? MakeFloat(w, 19, 13, Smooth) : MakeBitmap(w, 19, 13, Smooth);
        const std::vector<uint8_t> before = Bytes(w.currentBitmap());
        const std::vector<float> plane0 =
            hasFloat ? std::vector<float>(w.currentLayer().plane[0].x,
                                          w.currentLayer().plane[0].x + 19 * 13)
                     : std::vector<float>();
        Scale(2.5, 0.5);
        platform.CancelAtPoll(1);
        w.Dispatch(id);
        platform.CancelAtPoll(0);
        EXPECT_EQ(w.currentBitmap().width(), 19);
        EXPECT_EQ(Bytes(w.currentBitmap()), before);
        EXPECT_EQ(w.HasFloat(), hasFloat);
        if (hasFloat) {
          EXPECT_EQ(w.currentLayer().width, 19);
          EXPECT_TRUE(std::equal(plane0.begin(), plane0.end(), w.currentLayer().plane[0].x));
        }
        EXPECT_TRUE(ScratchEmpty());
      }
    }
  }
}

TEST_F(ResizeTest, MenuPathAsksPagesThenSizeAndCtrlOnlySelects) {
  LiveSettings().autoQuery = 1;
  MakeFloat(v, 20, 10, Smooth);
  P().precedence = 3;
  // Lanczos: its order page, then the size dialog; typing 2 on row 3 doubles the image.
  ui.ExpectProperties(TypeAndOk(33, {{1, "2"}}));
  ui.ExpectProperties(TypeAndOk(30, {{3, "2"}}));
  v.Dispatch(kLanczos);
  EXPECT_EQ(P().lanczosOrder, 2);
  EXPECT_EQ(v.currentBitmap().width(), 40);
  EXPECT_EQ(v.currentBitmap().height(), 20);

  // Cancel on the size dialog stops the command.
  ui.ExpectProperties(TypeAndOk(32));
  ui.ExpectProperties(CancelOn(30));
  v.Dispatch(kBicubic);
  EXPECT_EQ(v.currentBitmap().width(), 40);

  // With Ctrl held, the confirmed command only becomes the F2/F3 operation.
  ui.ExpectProperties(TypeAndOk(30));
  Flags().CtrlHeld = true;
  v.Dispatch(kBilinear);
  EXPECT_EQ(v.currentBitmap().width(), 40);
  EXPECT_EQ(v.f2OperationId, kBilinear);
  EXPECT_FALSE(Flags().CtrlHeld);

  // Triangulation: the size dialog, then the blur page only for a reduction.
  ui.ExpectProperties(TypeAndOk(30, {{3, "1.5"}}));
  v.Dispatch(kTriangulation);
  EXPECT_EQ(v.currentBitmap().width(), 60);
  ui.ExpectProperties(TypeAndOk(30, {{3, "0.5"}}));
  ui.ExpectProperties(TypeAndOk(34));
  v.Dispatch(kTriangulation);
  EXPECT_EQ(v.currentBitmap().width(), 30);

  // Stair: its page, the kernel page it chose, then the size dialog.
  P().stairUsesLanczos = 1;
  ui.ExpectProperties(TypeAndOk(35));
  ui.ExpectProperties(TypeAndOk(33));
  ui.ExpectProperties(TypeAndOk(30, {{3, "0.5"}}));
  v.Dispatch(kStair);
  EXPECT_EQ(v.currentBitmap().width(), 15);
}

TEST_F(ResizeTest, F2RepeatsWithoutDialogAndProgramsReplayTheSnapshot) {
  LiveSettings().autoQuery = 1;  // any dialog would fail the test: none is expected
  MakeFloat(v, 10, 6, Smooth);
  Scale(2, 2);
  P().precedence = 3;
  Flags().F2Active = true;
  v.Dispatch(kLanczos);
  EXPECT_EQ(v.currentBitmap().width(), 20);
  EXPECT_FALSE(Flags().F2Active);
  Flags().F3Active = true;  // F3 does what F2 does
  v.Dispatch(kLanczos);
  EXPECT_EQ(v.currentBitmap().width(), 40);

  // Mode 1 again resizes to the same width: scale 1.
  P().precedence = 1;
  P().outputWidth = 40;
  Flags().F2Active = true;
  v.Dispatch(kBox);
  EXPECT_EQ(v.currentBitmap().width(), 40);
  EXPECT_DOUBLE_EQ(P().horizontalScaleFactor, 1.0);

  // Recording copies the block into the step, playing copies it back before the run.
  Settings& s = LiveSettings();
  s.program.stepCount = 1;
  Scale(0.5, 0.5);
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(kBicubic);
  Flags().Recording = false;
  EXPECT_EQ(v.currentBitmap().width(), 20);
  Scale(3, 3);  // changed since: the snapshot's 0.5 must win
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  v.Dispatch(kBicubic);
  EXPECT_EQ(v.currentBitmap().width(), 10);
  EXPECT_DOUBLE_EQ(P().horizontalScaleFactor, 0.5);
}

TEST_F(ResizeTest, ImpossibleTargetsAreRefusedAndNothingIsLost) {
  struct Case {
    bool hasFloat;
    int mode, tw, th;
    double sx, sy;
  };
  const Case cases[] = {
      {true, 6, 0, 0, 0.0, 1.0},        // a scale of 0 from a settings file
      {false, 6, 0, 0, -2.0, 1.0},      // a negative one, bitmap alone
      {true, 3, 0, 0, 0.01, 0.01},      // rounds to 0 x 0 pixels
      {false, 5, 0, 8, 1.0, 1.0},       // a width of 0
      {true, 5, 200000, 200000, 1, 1},  // beyond what a layer can hold
      {false, 3, 0, 0, 1e300, 1e300},   // absurd
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.sx);
    CImageView w(&host);
    c.hasFloat ? MakeFloat(w, 12, 8, Smooth) : MakeBitmap(w, 12, 8, Smooth);
    const std::vector<uint8_t> before = Bytes(w.currentBitmap());
    P().precedence = c.mode;
    P().outputWidth = c.tw;
    P().outputHeight = c.th;
    P().horizontalScaleFactor = c.sx;
    P().verticalScaleFactor = c.sy;
    ui.ExpectMessageStartingWith("Cannot resize to ");
    w.Dispatch(kLanczos);
    EXPECT_EQ(Bytes(w.currentBitmap()), before);
    EXPECT_EQ(w.HasFloat(), c.hasFloat);
  }
}

TEST_F(ResizeTest, LanczosHalfPixelShiftAndIdentity) {
  MakeFloat(v, 16, 9, Smooth);
  v.currentLayer().mask.dim(16, 9);
  v.currentLayer().mask.set(3, 4, true);
  fpbuffer expected(v.currentLayer());
  for (int c = 0; c < 3; ++c) ShiftHalfPixel(expected.plane[c], true, true);
  // Scales 1 without offsets: nothing at all.
  fpbuffer same(v.currentLayer());
  EXPECT_FALSE(resizelanczos(same, 3, 1, 1, 0, 0, false, true, true));
  EXPECT_FALSE(resizebox(same, 0, 1, 0, 0, false, true));  // a scale of 0 does nothing
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(0, std::memcmp(same.plane[c].x, v.currentLayer().plane[c].x, 16 * 9 * 4));
  // Lanczos-3 with offsets -0.5 is exactly the half-pixel filter; the mask stays put.
  EXPECT_FALSE(resizelanczos(v.currentLayer(), 3, 1, 1, -0.5, -0.5, false, true, true));
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(0, std::memcmp(expected.plane[c].x, v.currentLayer().plane[c].x, 16 * 9 * 4));
  EXPECT_TRUE(v.currentLayer().mask.get(3, 4));
}

TEST_F(ResizeTest, StairRepeatsTheLastRowAndColumnWhenNoStepIsNeeded) {
  // 1.02 with increment 1.1 makes no step: 50 x 40 becomes 51 x 41 by repetition.
  MakeFloat(v, 50, 40, Smooth);
  fpbuffer before(v.currentLayer());
  EXPECT_FALSE(stair(v.currentLayer(), 3, 1.02, 1.02, 0, 0, false, 1.1, -0.5f, true, true));
  const matrix& p = v.currentLayer().plane[1];
  ASSERT_EQ(p.nx, 51);
  ASSERT_EQ(p.ny, 41);
  const matrix& o = before.plane[1];
  for (int y = 0; y < 41; ++y)
    for (int x = 0; x < 51; ++x)
      ASSERT_EQ(p.z[y][x], o.z[std::min(y, 39)][std::min(x, 49)]) << x << "," << y;
}

TEST_F(ResizeTest, StairReachesTheTargetInSteps) {
  // Seven reduction steps of 0.5^(1/7) for 0.5, then the exact size; mixed scales take the
  // count from the larger one. Either way the size is exact and a constant stays constant.
  struct Case {
    double sx, sy;
    bool lanczos;
  };
  for (const Case& c : {Case{0.5, 0.5, true}, Case{0.7, 1.9, false}, Case{3.1, 2.2, true}}) {
    SCOPED_TRACE(c.sx);
    fpbuffer f(33, 21, 0x17);
    for (int ch = 0; ch < 3; ++ch) f.plane[ch].fill(77.0f);
    EXPECT_FALSE(stair(f, 3, c.sx, c.sy, 0, 0, false, 1.1, -0.5f, c.lanczos, true));
    EXPECT_EQ(f.width, ResizedLength(33, c.sx));
    EXPECT_EQ(f.height, ResizedLength(21, c.sy));
    float lo, hi;
    f.plane[2].minmax(lo, hi);
    EXPECT_NEAR(lo, 77.0f, 1e-3);
    EXPECT_NEAR(hi, 77.0f, 1e-3);
  }
}

TEST_F(ResizeTest, TriangulationBitmapAndFloatPathsAgreeOnEnlargement) {
  // Without a reduction the float path has no blur, so both paths interpolate the same
  // triangles. (The bitmap path places its samples by the ratio of the sizes, the float
  // path by the scale: scales whose sizes come out exact keep the two in step.)
  CImageView a(&host), b(&host);
  MakeFloat(a, 31, 22, Smooth);
  MakeBitmap(b, 31, 22, Smooth);
  Scale(2, 1.5, 0.2, -0.1);
  a.Dispatch(kTriangulation);
  b.Dispatch(kTriangulation);
  ASSERT_EQ(a.currentBitmap().width(), 62);
  ASSERT_EQ(b.currentBitmap().height(), 33);
  ExpectWithinOneLevel(a.currentBitmap(), b.currentBitmap());
}

TEST_F(ResizeTest, TriangulationBlursReductionsByBlurOverScale) {
  // Blur amount 0.5 at scale 0.5 blurs with sigma 1 before interpolating.
  fpbuffer f(40, 30, 0x17);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) f.plane[c].z[y][x] = Smooth(c, 3 * x, 2 * y);
  fpbuffer expected(f);
  bitmask diagonals;
  for (int c = 0; c < 3; ++c) expected.plane[c].gaussblurx(1.0f, 0).gaussblury(1.0f, 0);
  ChooseTriangleDiagonals(diagonals, expected.plane[1]);
  for (int c = 0; c < 3; ++c) {
    const matrix source = expected.plane[c];
    ResampleTriangulation(expected.plane[c], source, diagonals, 0.5, 0.5, 0, 0);
  }
  EXPECT_FALSE(triangulate(f, 0.5f, 2, 0.5, 0.5, 0, 0, false));
  for (int c = 0; c < 3; ++c) {
    ASSERT_EQ(f.plane[c].n, 300);
    EXPECT_EQ(0, std::memcmp(f.plane[c].x, expected.plane[c].x, 300 * sizeof(float)));
  }
}
