// The Layer menu's two-layer commands through the dispatcher of a real window.
#include <cmath>
#include <string>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
class LayersTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    LiveSettings().conditional = 0;
  }

  // Layer k holds a picture of value base + x + 10 y + 100 c, and its bitmap.
  void Make(int k, int w, int h, float base) {
    fpbuffer& f = v.layers[size_t(k)];
    f.dim(w, h, 0x17);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = base + float(x + 10 * y + 100 * c);
    v.bitmaps[size_t(k)] = DisplayBitmap(w, h);
    f.todib(v.bitmaps[size_t(k)].toprow());
  }
  static std::string Bytes(const fpbuffer& f) {
    std::string b = std::to_string(f.width) + "x" + std::to_string(f.height) + ":" +
                    std::to_string(f.code) + ":";
    for (int c = 0; c < f.channels; ++c)
      b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * 4);
    if (f.mask.present())
      b.append(reinterpret_cast<const char*>(f.mask.bits), size_t(f.mask.words) * 4);
    return b;
  }
  void Send(CommandId id, bool f3 = false) {
    v.SelectOperation(id, true);
    v.Dispatch(f3 ? CommandId::F3ProgrammedOperation : CommandId::F2ProgrammedOperation);
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(LayersTest, CreateTwiceLeavesOneLayerWithLayerOneCurrent) {
  Make(0, 6, 4, 1);
  v.Dispatch(CommandId::CreateSecondLayer);
  EXPECT_TRUE(v.Layer2Exists());
  EXPECT_STREQ(v.layerCaption, "Layer( On)");
  EXPECT_EQ(v.layers[1].width, 6);
  EXPECT_EQ(v.layers[1].plane[2].z[3][5], 0.0f);  // black
  EXPECT_EQ(v.current, 0);
  v.Dispatch(CommandId::ExchangeLayers);
  EXPECT_EQ(v.current, 1);
  v.Dispatch(CommandId::CreateSecondLayer);
  EXPECT_FALSE(v.Layer2Exists());
  EXPECT_EQ(v.current, 0);
  EXPECT_STREQ(v.layerCaption, "Layer(Off)");
  EXPECT_EQ(v.layers[1].n, 0);
  // Add/Subtract finds layers of different sizes: not even selected.
  const std::string before = Bytes(v.layers[0]);
  const int selected = v.f2OperationId;
  v.Dispatch(CommandId::AddSubtractLayers);
  EXPECT_EQ(v.f2OperationId, selected);
  Send(CommandId::AddSubtractLayers);
  EXPECT_EQ(Bytes(v.layers[0]), before);
}

TEST_F(LayersTest, ExchangeWithoutASecondLayerMakesABlackOneCurrent) {
  Make(0, 5, 3, 7);
  v.Dispatch(CommandId::ExchangeLayers);
  EXPECT_TRUE(v.Layer2Exists());
  EXPECT_EQ(v.current, 1);
  EXPECT_EQ(v.currentLayer().width, 5);
  EXPECT_EQ(v.currentLayer().plane[0].sum(), 0.0);
  EXPECT_EQ(v.otherLayer().plane[0].z[0][0], 7.0f);
}

TEST_F(LayersTest, TopEqualsBottomCopiesSizeCodeAndMask) {
  Make(0, 5, 3, 7);
  Make(1, 8, 6, 50);
  v.layers[1].convert(cspace::kHSV | 7);
  v.layers[1].clearmask();
  v.layers[1].mask.set(2, 2, true);
  v.Dispatch(CommandId::TopLayerEqualsBottomLayer);
  EXPECT_EQ(Bytes(v.layers[0]), Bytes(v.layers[1]));
  EXPECT_EQ(v.currentBitmap().width(), 8);
  // An empty other layer: nothing, rather than an empty image.
  v.layers[1].clear(true);
  const std::string before = Bytes(v.layers[0]);
  v.Dispatch(CommandId::TopLayerEqualsBottomLayer);
  EXPECT_EQ(Bytes(v.layers[0]), before);
  // With Cond on, only layers of one size take part, under the scope.
  LiveSettings().conditional = 1;
  Make(1, 9, 6, 50);
  v.Dispatch(CommandId::TopLayerEqualsBottomLayer);
  EXPECT_EQ(Bytes(v.layers[0]), before);
}

TEST_F(LayersTest, AddThenSubtractRestoresAndShiftAddsTenTimes) {
  Make(0, 6, 5, 3);
  Make(1, 6, 5, 0.25f);
  const std::string before = Bytes(v.layers[0]);
  Send(CommandId::AddSubtractLayers);
  EXPECT_EQ(v.layers[0].plane[1].z[2][3], 3 + 23 + 100 + 0.25f + 23 + 100);
  Send(CommandId::AddSubtractLayers, true);
  EXPECT_EQ(Bytes(v.layers[0]), before);
  v.SelectOperation(CommandId::AddSubtractLayers, true);
  v.Dispatch(CommandId::ShiftF2);
  EXPECT_FLOAT_EQ(v.layers[0].plane[0].z[1][1], 3 + 11 + 10 * (0.25f + 11));
}

TEST_F(LayersTest, InterpolateAveragesAndF3RestoresAndCondOffIgnoresTheSelection) {
  Make(0, 6, 5, 10);
  Make(1, 6, 5, 30);
  LiveSettings().layer.layerCoefficient = 0.5f;
  v.selection.dim(6, 5);
  v.selection.setbit(0, true);  // a painted pixel: ignored with Cond off
  const std::string before = Bytes(v.layers[0]);
  Send(CommandId::InterpolateExtrapolateLayers);
  for (int k = 0; k < 30; ++k)
    ASSERT_EQ(v.layers[0].plane[0].x[k], 20 + float(k % 6 + 10 * (k / 6)));
  Send(CommandId::InterpolateExtrapolateLayers, true);
  EXPECT_EQ(Bytes(v.layers[0]), before);
  // With Cond on, only the painted pixel changes.
  LiveSettings().conditional = 1;
  v.selection.dim(6, 5);
  v.selection.setbit(0, true);
  Send(CommandId::InterpolateExtrapolateLayers);
  EXPECT_EQ(v.layers[0].plane[0].x[0], 20.0f);
  EXPECT_EQ(v.layers[0].plane[0].x[1], 11.0f);
  // From the menu: the page, then only selected.
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(62));
  v.SelectOperation(CommandId::Minimum, true);
  v.Dispatch(CommandId::InterpolateExtrapolateLayers);
  EXPECT_EQ(v.f2OperationId, int(CommandId::InterpolateExtrapolateLayers));
}

TEST_F(LayersTest, MinimumAndMaximumTakeThePixelwiseExtremes) {
  Make(0, 4, 4, 10);
  Make(1, 4, 4, 10);
  v.layers[1].plane[0].z[1][1] = -5;
  v.layers[1].plane[2].z[3][3] = 999;
  v.Dispatch(CommandId::Minimum);
  EXPECT_EQ(v.layers[0].plane[0].z[1][1], -5.0f);
  EXPECT_EQ(v.layers[0].plane[2].z[3][3], 10 + 33 + 200.0f);
  v.layers[1].plane[0].z[1][1] = 50;
  v.Dispatch(CommandId::Maximum);
  EXPECT_EQ(v.layers[0].plane[0].z[1][1], 50.0f);
  EXPECT_EQ(v.layers[0].plane[2].z[3][3], 999.0f);
}

TEST_F(LayersTest, MatchCanvasGivesBothTheLargerSizeWithTheBackgroundColour) {
  Make(0, 100, 50, 0);
  Make(1, 80, 70, 0);
  v.layers[0].clearmask();
  v.layers[0].mask.set(99, 49, true);
  LayerParams& p = LiveSettings().layer;
  p.canvasRed = 1;
  p.canvasGreen = 2;
  p.canvasBlue = 3;
  v.Dispatch(CommandId::MatchCanvasSizes);
  for (const fpbuffer& f : v.layers) {
    ASSERT_EQ(f.width, 100);
    ASSERT_EQ(f.height, 70);
  }
  EXPECT_EQ(v.layers[0].plane[0].z[49][99], 99 + 490.0f);  // kept
  EXPECT_EQ(v.layers[0].plane[2].z[50][0], 3.0f);          // new rows
  EXPECT_EQ(v.layers[1].plane[1].z[69][79], 79 + 690 + 100.0f);
  EXPECT_EQ(v.layers[1].plane[0].z[0][80], 1.0f);  // new columns
  EXPECT_TRUE(v.layers[0].mask.get(99, 49));
  EXPECT_FALSE(v.layers[0].mask.get(99, 69));
  EXPECT_EQ(v.bitmaps[1].width(), 100);
  EXPECT_EQ(v.bitmaps[0].height(), 70);
  // Equal sizes stay as they are.
  const std::string a = Bytes(v.layers[0]), b = Bytes(v.layers[1]);
  v.Dispatch(CommandId::MatchCanvasSizes);
  EXPECT_EQ(Bytes(v.layers[0]), a);
  EXPECT_EQ(Bytes(v.layers[1]), b);
}

TEST_F(LayersTest, MatchCanvasGivesAnEmptyLayerACanvasOfTheBackground) {
  Make(1, 7, 3, 0);
  LiveSettings().layer.canvasRed = 9;
  v.Dispatch(CommandId::MatchCanvasSizes);
  EXPECT_EQ(v.layers[0].width, 7);
  EXPECT_EQ(v.layers[0].height, 3);
  EXPECT_EQ(v.layers[0].plane[0].z[2][6], 9.0f);
  EXPECT_EQ(v.layers[1].plane[0].z[2][6], 6 + 20.0f);
}

TEST_F(LayersTest, TilingPlacesTilesLeftToRightThenOneBandLower) {
  Make(0, 40, 30, 1);
  Make(1, 100, 100, -1);
  v.Dispatch(CommandId::TilingTopIntoBottom);  // menu: reset and select
  const int columns[3] = {0, 40, 0}, tops[3] = {0, 0, 30};
  for (int tile = 0; tile < 3; ++tile) {
    Make(0, 40, 30, float(1000 * (tile + 1)));
    v.Dispatch(CommandId::F2ProgrammedOperation);
    const fpbuffer& bottom = v.layers[1];
    // The tile's top-left pixel (row 29 of the tile) lands tops[] rows below the top.
    EXPECT_EQ(bottom.plane[0].z[99 - tops[tile]][columns[tile]], 1000.0f * (tile + 1) + 290)
        << tile;
    EXPECT_EQ(bottom.plane[0].z[99 - tops[tile] - 29][columns[tile] + 39],
              1000.0f * (tile + 1) + 39)
        << tile;
    EXPECT_EQ(Bytes(v.layers[0]), Bytes(bottom));  // the top shows the mosaic
    EXPECT_EQ(v.current, 0);
  }
  EXPECT_EQ(v.layers[1].plane[0].z[99][80], -1 + 80 + 990.0f);  // untouched
}

TEST_F(LayersTest, ToggleNormalViewTwiceRestoresTheView) {
  Make(0, 4, 4, 0);
  Make(1, 4, 4, 0);
  v.showCombined = true;
  v.showUnmaskedArea = false;
  v.Dispatch(CommandId::ToggleNormalView);
  EXPECT_FALSE(v.showCombined);
  EXPECT_FALSE(v.normalView);
  v.Dispatch(CommandId::ToggleNormalView);
  EXPECT_TRUE(v.showCombined);
  EXPECT_FALSE(v.showUnmaskedArea);
  EXPECT_TRUE(v.normalView);
}

// Layer 0 holds a curved picture a blur changes everywhere; layer 1's channel c holds the
// constant radius radii[c].
void MakeLensPair(CImageView& v, int w, int h, const float (&radii)[3]) {
  for (int k = 0; k < 2; ++k) {
    v.layers[size_t(k)].dim(w, h, 0x17);
    v.bitmaps[size_t(k)] = DisplayBitmap(w, h);
  }
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        v.layers[0].plane[c].z[y][x] = float(x * x + 3 * y * y + 50 * c + (x * y) % 7);
    v.layers[1].plane[c].fill(radii[c]);
  }
}

TEST_F(LayersTest, GradientLensBlurReadsChannelIOfTheOtherLayerAsRadii) {
  MakeLensPair(v, 9, 7, {0, 0.5f, 1.4f});
  fpbuffer original(v.layers[0]);
  v.Dispatch(CommandId::GradientLensBlur);  // from the menu: no page, it runs
  matrix lens1(original.plane[1]);
  lens1.discmean(1, nullptr, false);
  matrix direct2(original.plane[2]);
  direct2.gradientlensblur(v.layers[1].plane[2], nullptr);
  for (int k = 0; k < original.n; ++k) {
    ASSERT_EQ(v.layers[0].plane[0].x[k], original.plane[0].x[k]) << k;  // radius 0
    ASSERT_NEAR(v.layers[0].plane[1].x[k], lens1.x[k], 1e-4) << k;      // 0.5: the disc of 1
    ASSERT_EQ(v.layers[0].plane[2].x[k], direct2.x[k]) << k;
  }
  EXPECT_NE(v.layers[0].plane[2].z[3][4], original.plane[2].z[3][4]);

  // With Cond on and a painted block only the block changes, its pixels averaged over the
  // painted neighbours alone: a single painted pixel would stay as it is.
  MakeLensPair(v, 9, 7, {1, 1, 1});
  const fpbuffer before(v.layers[0]);
  LiveSettings().conditional = 1;
  v.selection.dim(9, 7);
  for (int y = 2; y <= 4; ++y)
    for (int x = 3; x <= 5; ++x) v.selection.set(x, y, true);
  v.Dispatch(CommandId::GradientLensBlur);
  for (int c = 0; c < 3; ++c) {
    const matrix& now = v.layers[0].plane[c];
    double block = 0;  // the disc of radius 1 is the whole 3 x 3 block
    for (int y = 2; y <= 4; ++y)
      for (int x = 3; x <= 5; ++x) block += before.plane[c].z[y][x];
    EXPECT_NEAR(now.z[3][4], block / 9, 1e-4) << c;
    EXPECT_NE(now.z[3][4], before.plane[c].z[3][4]) << c;
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 9; ++x) {
        if (x >= 3 && x <= 5 && y >= 2 && y <= 4) continue;
        ASSERT_EQ(now.z[y][x], before.plane[c].z[y][x]);
      }
    }
  }
}

TEST_F(LayersTest, GradientLensBlurWithoutUsableRadiiChangesNothing) {
  struct Case {
    const char* what;
    void (*spoil)(fpbuffer& other);
  };
  const Case cases[] = {
      {"other layer empty", [](fpbuffer& o) { o.clear(true); }},
      {"radius plane 0",
       [](fpbuffer& o) {
         o.plane[0].fill(0);
         o.plane[1].fill(0.49f);  // rounds to 0
       }},
      {"other of another size",
       [](fpbuffer& o) {
         o.dim(9, 8, 0x17);
         o.plane[0].fill(2);
       }},
      {"other of four channels", [](fpbuffer& o) { o.convert(cspace::kCMYK | 0xF); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeLensPair(v, 9, 7, {2, 2, 0});
    c.spoil(v.layers[1]);
    if (v.layers[1].channels == 3) v.layers[1].plane[2].fill(0);
    const std::string before = Bytes(v.layers[0]);
    v.Dispatch(CommandId::GradientLensBlur);
    Send(CommandId::GradientLensBlur);
    EXPECT_EQ(Bytes(v.layers[0]), before);
  }
}

TEST_F(LayersTest, GradientLensBlurRunsByF2AndF3AndFromARecordedProgram) {
  MakeLensPair(v, 8, 6, {1, 2, 3});
  v.Dispatch(CommandId::GradientLensBlur);
  const std::string once = Bytes(v.layers[0]);
  // Ctrl from the menu only selects it.
  MakeLensPair(v, 8, 6, {1, 2, 3});
  const std::string fresh = Bytes(v.layers[0]);
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::GradientLensBlur);
  EXPECT_EQ(v.f2OperationId, int(CommandId::GradientLensBlur));
  EXPECT_EQ(Bytes(v.layers[0]), fresh);
  for (const bool f3 : {false, true}) {
    MakeLensPair(v, 8, 6, {1, 2, 3});
    Send(CommandId::GradientLensBlur, f3);
    EXPECT_EQ(Bytes(v.layers[0]), once) << f3;
  }
  MakeLensPair(v, 8, 6, {1, 2, 3});
  v.Dispatch(CommandId::RecordProgram);
  Send(CommandId::GradientLensBlur);
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(CommandId::RecordProgram);
  ASSERT_EQ(LiveSettings().program.stepCount, 1);
  MakeLensPair(v, 8, 6, {1, 2, 3});
  v.Dispatch(CommandId::RunProgram);
  EXPECT_EQ(Bytes(v.layers[0]), once);
}

// The combinations' cores refuse another size or channel count themselves.
TEST_F(LayersTest, TheCoresCheckSizesAndChannelCounts) {
  fpbuffer a(4, 3, 0x17), b(3, 4, 0x17), cmyk(4, 3, cspace::kCMYK | 0xF);
  a.plane[0].fill(1);
  b.plane[0].fill(2);
  cmyk.plane[0].fill(2);
  for (fpbuffer* other : {&b, &cmyk}) {
    a.addscaledlayer(1, *other, nullptr, false).minlayer(*other, nullptr, false);
    a.blendlayer(0.5f, *other, nullptr, false).copyfrom(*other, nullptr, false);
  }
  EXPECT_EQ(a.plane[0].sum(), 12.0);
}

// Every two-layer command on the smallest pictures, from the menu and by F2 and F3: the
// sanitizers watch every index.
TEST_F(LayersTest, TinyPicturesGoThroughEveryCommand) {
  const CommandId ids[] = {CommandId::CreateSecondLayer,
                           CommandId::ExchangeLayers,
                           CommandId::TopLayerEqualsBottomLayer,
                           CommandId::AddSubtractLayers,
                           CommandId::InterpolateExtrapolateLayers,
                           CommandId::Minimum,
                           CommandId::Maximum,
                           CommandId::MatchCanvasSizes,
                           CommandId::GradientLensBlur,
                           CommandId::TilingTopIntoBottom,
                           CommandId::ToggleNormalView};
  struct Size {
    int w, h;
  };
  for (const Size s : {Size{1, 1}, Size{1, 5}, Size{5, 1}, Size{2, 2}}) {
    for (const CommandId id : ids) {
      SCOPED_TRACE(testing::Message() << int(id) << " " << s.w << "x" << s.h);
      Make(0, s.w, s.h, 1);
      Make(1, s.h, s.w, 2);  // of the other orientation, then of the same size
      for (int round = 0; round < 2; ++round) {
        v.current = 0;
        v.Dispatch(id);
        Send(id);
        Send(id, true);
        Make(1, s.w, s.h, 2);
      }
      for (const fpbuffer& f : v.layers)
        for (int c = 0; c < f.channels; ++c)
          for (int k = 0; k < f.n; ++k) ASSERT_TRUE(std::isfinite(f.plane[c].x[k]));
    }
  }
}
