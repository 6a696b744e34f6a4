// Gaussian Blur and Motion Blur through the image window's dispatcher.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "numeric/bitmask.h"
#include "ops/filters/blur.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 30, kH = 20;
constexpr CommandId kGaussian = CommandId::GaussianBlur, kMotion = CommandId::MotionBlur;

float Busy(int c, int x, int y) {
  const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
  return 20.0f + 200.0f * float(h % 1000u) / 1000.0f;
}

std::string Bytes(const fpbuffer& f) {
  std::string b;
  for (int c = 0; c < f.channels; ++c) {
    b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * sizeof(float));
  }
  return b;
}

class BlurCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 1;
    Draw(v);
  }
  // A window whose client shows the whole picture at 1:1.
  static void Draw(CImageView& view, CSpaceCode code = cspace::kDefault) {
    fpbuffer& f = view.currentLayer();
    f.dim(kW, kH, code);
    for (int c = 0; c < f.channels; ++c)
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) f.plane[c].z[y][x] = Busy(c, x, y);
    view.currentBitmap() = DisplayBitmap(kW, kH);
    f.todib(view.currentBitmap().toprow());
    view.Paint(kW, kH);
  }
  BlurParams& P() { return LiveSettings().blur; }
  // The picture of Draw put through a driver directly.
  static fpbuffer Expected(const std::function<void(fpbuffer&)>& driver) {
    FakeHost h;
    CImageView w(&h);
    Draw(w);
    fpbuffer f(w.currentLayer());
    driver(f);
    return f;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(BlurCommandTest, FromTheMenuThePageSetsTheParameters) {
  ui.ExpectProperties(TypeAndOk(59, {{1, "2"}, {2, "0.5"}}));
  v.Dispatch(kGaussian);
  EXPECT_FLOAT_EQ(P().gaussianSx, 2.0f);
  EXPECT_FLOAT_EQ(P().gaussianSy, 0.5f);
  EXPECT_EQ(Bytes(v.currentLayer()),
            Bytes(Expected([](fpbuffer& f) { gaussblur(f, 2.0f, 0.5f, nullptr, false); })));

  // Motion Blur's page is the lens page, opened on its motion rows.
  Draw(v);
  ui.ExpectProperties([](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), 52);
    EXPECT_EQ(d.FocusRow(), 4);
    d.SetText(2, "2");    // iterations
    d.SetText(4, "7");    // distance
    d.SetText(5, "-60");  // angle
    EXPECT_TRUE(d.PressOk());
    return DialogResult::Ok;
  });
  v.Dispatch(kMotion);
  EXPECT_EQ(
      Bytes(v.currentLayer()),
      Bytes(Expected([](fpbuffer& f) { motionblur(f, 2, 7.0f, -60.0f, false, nullptr, false); })));

  // A cancel leaves the picture alone.
  Draw(v);
  const std::string before = Bytes(v.currentLayer());
  ui.ExpectProperties(CancelOn(59));
  v.Dispatch(kGaussian);
  ui.ExpectProperties(CancelOn(52));
  v.Dispatch(kMotion);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}

TEST_F(BlurCommandTest, F2AndF3RunWithoutAPageAndCtrlOnlySelects) {
  P().gaussianSx = 1.5f;
  P().gaussianSy = 1.5f;
  P().motionBlurDistance = 9;
  P().motionBlurAngle = 30;
  const std::string gaussian =
      Bytes(Expected([](fpbuffer& f) { gaussblur(f, 1.5f, 1.5f, nullptr, false); }));
  const std::string motion =
      Bytes(Expected([](fpbuffer& f) { motionblur(f, 1, 9.0f, 30.0f, false, nullptr, false); }));
  for (bool f3 : {false, true}) {
    for (CommandId id : {kGaussian, kMotion}) {
      Draw(v);
      (f3 ? Flags().F3Active : Flags().F2Active) = true;  // no page is expected
      v.Dispatch(id);
      EXPECT_EQ(Bytes(v.currentLayer()), id == kGaussian ? gaussian : motion);
      EXPECT_FALSE(Flags().F2Active || Flags().F3Active);
    }
  }
  for (CommandId id : {kGaussian, kMotion}) {
    Draw(v);
    const std::string before = Bytes(v.currentLayer());
    ui.ExpectProperties(TypeAndOk(id == kGaussian ? 59 : 52));
    Flags().CtrlHeld = true;
    v.Dispatch(id);
    EXPECT_EQ(Bytes(v.currentLayer()), before);
    EXPECT_EQ(v.f2OperationId, int(id));
    EXPECT_FALSE(Flags().CtrlHeld);
  }
}

TEST_F(BlurCommandTest, ARightButtonRegionChangesOnlyThePaintedPixels) {
  for (CommandId id : {kGaussian, kMotion}) {
    Draw(v);
    const fpbuffer before(v.currentLayer());
    v.paintMode = true;
    v.f2OperationId = int(id);
    LiveSettings().mask.cursorRadius = 1;
    // A drag from (10, 10) to (14, 10): five 3 x 3 disks, 21 pixels (window rows are top
    // down).
    const auto at = [](int x, int y) { return Point{x, kH - 1 - y}; };
    v.OnRightButtonDown(at(10, 10));
    for (int x = 11; x <= 14; ++x) v.OnMouseMove(at(x, 10));
    v.OnRightButtonUp(at(14, 10));
    const fpbuffer& after = v.currentLayer();
    int changed = 0;
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
          const bool painted = x >= 9 && x <= 15 && y >= 9 && y <= 11;
          const bool same = after.plane[c].z[y][x] == before.plane[c].z[y][x];
          if (!painted) {
            EXPECT_TRUE(same) << c << " " << x << "," << y;
          }
          changed += !same;
        }
      }
    }
    EXPECT_GT(changed, 3 * 15);
    EXPECT_FALSE(v.selection.present());
    v.paintMode = false;
  }
}

TEST_F(BlurCommandTest, CondTakesTheVisibleChannelsAndTheImageMask) {
  Draw(v, cspace::kRGB | 0x5);  // green hidden
  fpbuffer& f = v.currentLayer();
  f.mask.dim(kW, kH);
  for (int x = 5; x < 12; ++x) f.mask.set(x, 7, true);
  const fpbuffer before(f);
  LiveSettings().conditional = 1;
  Flags().F2Active = true;
  v.Dispatch(kGaussian);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) {
      const bool changes = c != 1 && f.mask.getbit(k);
      EXPECT_EQ(f.plane[c].x[k] != before.plane[c].x[k], changes) << c << " " << k;
    }
  }
}

TEST_F(BlurCommandTest, ProgramsKeepTheBlockAndReplaceABadReplayedValueByItsDefault) {
  Settings& s = LiveSettings();
  struct Case {
    float sx;         // in the recorded step
    float effective;  // what the replay blurs with
  };
  for (const Case c : {Case{2.5f, 2.5f}, Case{-3.0f, 1.0f}}) {
    SCOPED_TRACE(c.sx);
    Draw(v);
    s.program.stepCount = 0;
    P().gaussianSx = c.sx;
    P().gaussianSy = 0.0f;
    Flags().F2Active = Flags().Recording = true;
    v.Dispatch(kGaussian);
    Flags().Recording = false;
    BlurParams recorded;
    std::memcpy(&recorded, s.program.steps[0].bytes, sizeof recorded);
    EXPECT_EQ(recorded.gaussianSx, c.sx);
    static_assert(sizeof(BlurParams) == 59 * 4);

    Draw(v);
    P().gaussianSx = 8.0f;  // changed since: the step's value wins
    P().gaussianSy = 8.0f;
    Flags().F2Active = Flags().Playing = true;
    Flags().PlayStep = 0;
    v.Dispatch(kGaussian);
    Flags().Playing = false;
    EXPECT_FLOAT_EQ(P().gaussianSx, c.effective);
    const float sx = c.effective;
    EXPECT_EQ(Bytes(v.currentLayer()),
              Bytes(Expected([sx](fpbuffer& f) { gaussblur(f, sx, 0.0f, nullptr, false); })));
  }
}

TEST_F(BlurCommandTest, AnAbsurdSigmaOnAMaskIsRefusedAndKeepsThePicture) {
  // The mirrored tile of a sigma of 1e30 would need more memory than there is.
  fpbuffer& f = v.currentLayer();
  f.mask.dim(kW, kH);
  f.mask.set(3, 4, true);
  const std::string before = Bytes(f);
  LiveSettings().conditional = 1;
  P().gaussianSx = 1e30f;
  ui.ExpectMessageStartingWith("Out of memory!");
  ui.ExpectMessage("Try using \"Destroy Floating Point Buffer\" option!");
  Flags().F2Active = true;
  v.Dispatch(kGaussian);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}
