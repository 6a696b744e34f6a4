// The orientation-steered filters through the image window's dispatcher, and their drivers'
// channel and pixel rules.
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "numeric/bitmask.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 24, kH = 18;
constexpr CommandId kShock = CommandId::ShockFilter;
constexpr CommandId kTschumperle = CommandId::TschumperleRegularization;
constexpr CommandId kIsophote = CommandId::IsophoteSmoothing;

// Soft discs of different levels on a tilted ramp, so that every channel has edges.
float Picture(int c, int x, int y) {
  const float dx = float(x - 8 - c), dy = float(y - 9);
  const float disc = dx * dx + dy * dy < 30 ? 120.0f : 0.0f;
  return 40.0f + 3.0f * float(x) + 2.0f * float(y) + disc + 7.0f * float((x * 7 + y * 3) % 5);
}

std::string Bytes(const fpbuffer& f) {
  std::string b;
  for (int c = 0; c < f.channels; ++c) {
    b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * sizeof(float));
  }
  return b;
}

void Draw(CImageView& view, CSpaceCode code = cspace::kDefault) {
  fpbuffer& f = view.currentLayer();
  f.dim(kW, kH, code);
  for (int c = 0; c < f.channels; ++c)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) f.plane[c].z[y][x] = Picture(c, x, y);
  view.currentBitmap() = DisplayBitmap(kW, kH);
  f.todib(view.currentBitmap().toprow());
  view.Paint(kW, kH);
}

// The picture of Draw put through a driver directly.
fpbuffer Expected(const std::function<void(fpbuffer&)>& driver,
                  CSpaceCode code = cspace::kDefault) {
  FakeHost h;
  CImageView w(&h);
  Draw(w, code);
  fpbuffer f(w.currentLayer());
  driver(f);
  return f;
}

class PdeCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 1;
    Draw(v);
  }
  RegularizationParams& R() { return LiveSettings().regularization; }

  FakeHost host;
  CImageView v{&host};
};

std::string Shocked(int iterations, float sigma, float edge, float step) {
  return Bytes(
      Expected([=](fpbuffer& f) { f.shockfilter(iterations, sigma, edge, step, nullptr, false); }));
}
}  // namespace

TEST_F(PdeCommandTest, ShockFilterFromTheMenuTakesItsPage) {
  ui.ExpectProperties([](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), 136);
    EXPECT_EQ(d.FocusRow(), 1);
    d.SetText(1, "3");    // iterations
    d.SetText(2, "0.3");  // step
    d.SetText(3, "2");    // sigma
    d.SetText(4, "0");    // edge factor
    EXPECT_TRUE(d.PressOk());
    return DialogResult::Ok;
  });
  const std::string before = Bytes(v.currentLayer());
  v.Dispatch(kShock);
  EXPECT_EQ(R().shockIterations, 3);
  EXPECT_EQ(Bytes(v.currentLayer()), Shocked(3, 2, 0, 0.3f));
  EXPECT_NE(Bytes(v.currentLayer()), before);

  Draw(v);
  ui.ExpectProperties(CancelOn(136));
  v.Dispatch(kShock);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}

TEST_F(PdeCommandTest, ShockFilterF2RunsQuietlyAndF3IsTheMenuCall) {
  const std::string defaults = Shocked(5, 1, 0.1f, 0.1f);
  Flags().F2Active = true;  // no page is expected
  v.Dispatch(kShock);
  EXPECT_EQ(Bytes(v.currentLayer()), defaults);

  // F3 shows the page when automatic query is on, and runs without it when off.
  Draw(v);
  ui.ExpectProperties(TypeAndOk(136, {{1, "2"}}));
  Flags().F3Active = true;
  v.Dispatch(kShock);
  EXPECT_EQ(Bytes(v.currentLayer()), Shocked(2, 1, 0.1f, 0.1f));
  Draw(v);
  LiveSettings().autoQuery = 0;
  Flags().F3Active = true;
  v.Dispatch(kShock);
  EXPECT_EQ(Bytes(v.currentLayer()), Shocked(2, 1, 0.1f, 0.1f));
  LiveSettings().autoQuery = 1;
}

TEST_F(PdeCommandTest, ShockFilterProgramsKeepTheWholeBlockUnderF2ButNotUnderF3) {
  static_assert(sizeof(RegularizationParams) == 12 * 4);
  Settings& s = LiveSettings();
  s.program.stepCount = 0;
  R().shockIterations = 2;
  R().shockStdDev = 1.5f;
  R().tschumperleIterations = 9;  // the whole block goes into the step
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(kShock);
  Flags().Recording = false;
  RegularizationParams recorded;
  std::memcpy(&recorded, s.program.steps[0].bytes, sizeof recorded);
  EXPECT_EQ(recorded.shockIterations, 2);
  EXPECT_EQ(recorded.shockStdDev, 1.5f);
  EXPECT_EQ(recorded.tschumperleIterations, 9);

  Draw(v);
  R().shockIterations = 4;  // changed since: the step's value wins
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 0;
  v.Dispatch(kShock);
  Flags().Playing = false;
  EXPECT_EQ(R().shockIterations, 2);
  EXPECT_EQ(Bytes(v.currentLayer()), Shocked(2, 1.5f, 0.1f, 0.1f));

  // A step played as F3 is the menu call: the page, the live settings, no copy either way.
  Draw(v);
  std::memset(s.program.steps[1].bytes, 0, sizeof recorded);
  R().shockIterations = 1;
  ui.ExpectProperties(TypeAndOk(136));
  Flags().F3Active = Flags().Recording = true;
  s.program.stepCount = 1;
  v.Dispatch(kShock);
  Flags().Recording = false;
  std::memcpy(&recorded, s.program.steps[1].bytes, sizeof recorded);
  EXPECT_EQ(recorded.shockIterations, 0);
  Draw(v);
  ui.ExpectProperties(TypeAndOk(136));
  Flags().F3Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  v.Dispatch(kShock);
  Flags().Playing = false;
  EXPECT_EQ(R().shockIterations, 1);
  EXPECT_EQ(Bytes(v.currentLayer()), Shocked(1, 1.5f, 0.1f, 0.1f));
}

TEST_F(PdeCommandTest, ARightButtonRegionChangesOnlyThePaintedPixels) {
  const fpbuffer before(v.currentLayer());
  v.paintMode = true;
  v.f2OperationId = int(kShock);
  LiveSettings().mask.cursorRadius = 1;
  // A drag from (6, 9) to (10, 9) over the disc's edge (window rows are top down).
  const auto at = [](int x, int y) { return Point{x, kH - 1 - y}; };
  v.OnRightButtonDown(at(6, 9));
  for (int x = 7; x <= 10; ++x) v.OnMouseMove(at(x, 9));
  v.OnRightButtonUp(at(10, 9));
  const fpbuffer& after = v.currentLayer();
  int changed = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const bool same = after.plane[c].z[y][x] == before.plane[c].z[y][x];
        if (!(x >= 5 && x <= 11 && y >= 8 && y <= 10)) {
          EXPECT_TRUE(same) << c << " " << x << "," << y;
        }
        changed += !same;
      }
    }
  }
  EXPECT_GT(changed, 3 * 5);
  EXPECT_FALSE(v.selection.present());
  v.paintMode = false;
}

using ShockDriverTest = ZepTest;

TEST_F(ShockDriverTest, CondPicksTheChannelsAndTheImageMaskAlwaysApplies) {
  const auto run = [](bool cond, bool withMask) {
    return Expected(
        [=](fpbuffer& f) {
          if (withMask) {
            f.mask.dim(kW, kH);
            for (int x = 3; x < 15; ++x) f.mask.set(x, 9, true);
          }
          f.shockfilter(3, 1, 0.1f, 0.3f, nullptr, cond);
        },
        cspace::kRGB | 0x5);  // green hidden
  };
  const fpbuffer before = Expected([](fpbuffer&) {}, cspace::kRGB | 0x5);
  for (bool cond : {false, true}) {
    SCOPED_TRACE(cond);
    const fpbuffer masked = run(cond, true);
    int changed = 0;
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < before.n; ++k) {
        const bool same = masked.plane[c].x[k] == before.plane[c].x[k];
        const bool inMask = k / kW == 9 && k % kW >= 3 && k % kW < 15;
        if (!inMask || (cond && c == 1)) {
          EXPECT_TRUE(same) << c << " " << k;
        }
        changed += !same;
      }
    }
    EXPECT_GT(changed, 0);
    // Unmasked, the hidden channel changes with Cond off alone.
    const fpbuffer whole = run(cond, false);
    EXPECT_EQ(Bytes(whole).substr(kW * kH * 4, kW * kH * 4) ==
                  Bytes(before).substr(kW * kH * 4, kW * kH * 4),
              cond);
  }
}

TEST_F(ShockDriverTest, AFullSelectionTakesTheWholeGradientAndItsOwnWindow) {
  const fpbuffer plain =
      Expected([](fpbuffer& f) { f.shockfilter(2, 1, 0.1f, 0.2f, nullptr, false); });
  bitmask all;
  const fpbuffer selected = Expected([&all](fpbuffer& f) {
    all.dim(kW, kH);
    all.invert();
    f.shockfilter(2, 1, 0.1f, 0.2f, &all, false);
  });
  EXPECT_NE(Bytes(plain), Bytes(selected));
  // An empty selection and a step or iteration count of 0 change nothing.
  const fpbuffer before = Expected([](fpbuffer&) {});
  bitmask none;
  EXPECT_EQ(Bytes(Expected([&none](fpbuffer& f) {
              none.dim(kW, kH);
              f.shockfilter(2, 1, 0.1f, 0.2f, &none, false);
            })),
            Bytes(before));
  EXPECT_EQ(Bytes(Expected([](fpbuffer& f) { f.shockfilter(4, 1, 0.1f, 0, nullptr, false); })),
            Bytes(before));
  EXPECT_EQ(Bytes(Expected([](fpbuffer& f) { f.shockfilter(0, 1, 0.1f, 0.3f, nullptr, false); })),
            Bytes(before));
}

TEST_F(ShockDriverTest, SmallImagesAndWideWindowsStayDefined) {
  struct Case {
    int w, h;
    float sigma;
    bool changes;
  };
  // 5 x 4 under sigma 10: a window of 66 x 65 samples folded many times over the image.
  for (const Case c :
       {Case{5, 4, 10, true}, Case{3, 3, 0, true}, Case{2, 9, 1, false}, Case{9, 2, 1, false}}) {
    SCOPED_TRACE(c.w * 100 + c.h);
    fpbuffer f(c.w, c.h, cspace::kDefault);
    for (int ch = 0; ch < 3; ++ch)
      for (int k = 0; k < f.n; ++k) f.plane[ch].x[k] = float((k * 37 + ch * 11) % 17) * 10;
    const fpbuffer before(f);
    bitmask selection;
    selection.dim(c.w, c.h);
    selection.setbit(1, true);
    selection.setbit(f.n - 2, true);
    f.shockfilter(3, c.sigma, 0.1f, 0.3f, &selection, false);
    int changed = 0;
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = 0; k < f.n; ++k) {
        const bool same = f.plane[ch].x[k] == before.plane[ch].x[k];
        if (!selection.getbit(k)) {
          EXPECT_TRUE(same) << ch << " " << k;
        }
        changed += !same;
      }
    }
    EXPECT_EQ(changed > 0, c.changes);
  }
}

TEST_F(PdeCommandTest, CtrlShowsThePageAndOnlySelects) {
  for (const auto& [id, page] :
       {std::pair{kShock, 136}, std::pair{kTschumperle, 135}, std::pair{kIsophote, 56}}) {
    SCOPED_TRACE(page);
    Draw(v);
    const std::string before = Bytes(v.currentLayer());
    ui.ExpectProperties(TypeAndOk(page));
    Flags().CtrlHeld = true;
    v.Dispatch(id);
    EXPECT_EQ(Bytes(v.currentLayer()), before);
    EXPECT_EQ(v.f2OperationId, int(id));
    EXPECT_FALSE(Flags().CtrlHeld);
  }
}

TEST_F(PdeCommandTest, TschumperleTakesItsPageF2AndProgramsAndF3IsTheMenuCall) {
  const auto regularized = [](int iterations, int mode) {
    return Bytes(Expected(
        [=](fpbuffer& f) { f.tschumperle(iterations, 5, 0.5f, 0.5f, 1, 1, mode, 1, nullptr); }));
  };
  ui.ExpectProperties([](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), 135);
    EXPECT_EQ(d.FocusRow(), 1);
    d.SetText(1, "4");  // iterations
    d.SetText(3, "2");  // mode
    EXPECT_TRUE(d.PressOk());
    return DialogResult::Ok;
  });
  v.Dispatch(kTschumperle);
  EXPECT_EQ(Bytes(v.currentLayer()), regularized(4, 2));

  // Recorded under F2 with the whole block, replayed with the step's copy.
  Settings& s = LiveSettings();
  s.program.stepCount = 0;
  R().tschumperleIterations = 3;
  Draw(v);
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(kTschumperle);
  Flags().Recording = false;
  EXPECT_EQ(Bytes(v.currentLayer()), regularized(3, 2));
  RegularizationParams recorded;
  std::memcpy(&recorded, s.program.steps[0].bytes, sizeof recorded);
  EXPECT_EQ(recorded.tschumperleIterations, 3);
  EXPECT_EQ(recorded.tschumperleMode, 2);
  R().tschumperleIterations = 6;
  Draw(v);
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 0;
  v.Dispatch(kTschumperle);
  Flags().Playing = false;
  EXPECT_EQ(Bytes(v.currentLayer()), regularized(3, 2));

  // F3: the page, then the live settings.
  Draw(v);
  ui.ExpectProperties(TypeAndOk(135, {{1, "2"}, {3, "1"}}));
  Flags().F3Active = true;
  v.Dispatch(kTschumperle);
  EXPECT_EQ(Bytes(v.currentLayer()), regularized(2, 1));
}

TEST_F(PdeCommandTest, IsophoteTakesItsPageAndF3RepeatsLikeF2) {
  const auto smoothed = [](int iterations) {
    return Bytes(
        Expected([=](fpbuffer& f) { f.isophote(iterations, 0.2f, 0, 0, 0, nullptr, false); }));
  };
  ui.ExpectProperties(TypeAndOk(56, {{1, "3"}}));
  v.Dispatch(kIsophote);
  EXPECT_EQ(Bytes(v.currentLayer()), smoothed(3));
  static_assert(sizeof(BlurParams) == 59 * 4);
  for (bool f3 : {false, true}) {
    Draw(v);
    LiveSettings().program.stepCount = 0;
    (f3 ? Flags().F3Active : Flags().F2Active) = true;  // no page is expected
    Flags().Recording = true;
    v.Dispatch(kIsophote);
    Flags().Recording = false;
    EXPECT_EQ(Bytes(v.currentLayer()), smoothed(3));
    BlurParams recorded;
    std::memcpy(&recorded, LiveSettings().program.steps[0].bytes, sizeof recorded);
    EXPECT_EQ(recorded.isophoteIterations, 3);
  }
}

TEST_F(PdeCommandTest, IsophoteFollowsCondForChannelsAndTheImageMask) {
  // Green hidden; the image mask on row 9, the painted selection on columns 4-11 of rows
  // 8-10. The disc's edge crosses both.
  struct Case {
    bool cond;
    bool selection;
  };
  for (const Case c :
       {Case{true, true}, Case{false, true}, Case{true, false}, Case{false, false}}) {
    SCOPED_TRACE(c.cond * 10 + c.selection);
    Draw(v, cspace::kRGB | 0x5);
    fpbuffer& f = v.currentLayer();
    f.mask.dim(kW, kH);
    for (int x = 0; x < kW; ++x) f.mask.set(x, 9, true);
    v.selection = bitmask();
    if (c.selection) {
      v.selection.dim(kW, kH);
      for (int y = 8; y <= 10; ++y)
        for (int x = 4; x <= 11; ++x) v.selection.set(x, y, true);
    }
    const fpbuffer before(f);
    LiveSettings().conditional = c.cond;
    Flags().F2Active = true;
    v.Dispatch(kIsophote);
    int changed = 0;
    for (int k = 0; k < f.n; ++k) {
      const int x = k % kW, y = k / kW;
      const bool inSelection = !c.selection || (x >= 4 && x <= 11 && y >= 8 && y <= 10);
      const bool inMask = !c.cond || y == 9;
      if (c.selection) {
        EXPECT_EQ(v.selection.getbit(k), inSelection && (!c.cond || y == 9)) << k;
      }
      for (int ch = 0; ch < 3; ++ch) {
        const bool same = f.plane[ch].x[k] == before.plane[ch].x[k];
        if (!(inSelection && inMask) || (c.cond && ch == 1)) {
          EXPECT_TRUE(same) << ch << " " << k;
        }
        changed += !same;
      }
    }
    EXPECT_GT(changed, 0);
  }
  v.selection = bitmask();
}
