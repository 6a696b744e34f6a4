// The picture of an image window: layout at 1:1 and fitted, the display scalers, the
// overlays and mask views, the rubber band, the coordinate maps and the view commands.
#include "app/paint.h"

#include <cmath>
#include <cstring>

#include "app/imageview.h"
#include "fake_host.h"
#include "numeric/resample.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
// A pattern whose every pixel differs from its neighbours, so a misplaced copy shows.
bytepixel PatternAt(int i, int j) {
  return {uint8_t(i * 7 + j * 3), uint8_t(i * 13 + j * 29 + 5), uint8_t(255 - (i + 2 * j))};
}

void FillPattern(DisplayBitmap& b) {
  for (int j = 0; j < b.height(); ++j) {
    for (int i = 0; i < b.width(); ++i) {
      reinterpret_cast<bytepixel*>(b.row(j))[i] = PatternAt(i, j);
    }
  }
}

void FillColour(DisplayBitmap& b, bytepixel c) {
  for (int j = 0; j < b.height(); ++j) {
    for (int i = 0; i < b.width(); ++i) reinterpret_cast<bytepixel*>(b.row(j))[i] = c;
  }
}

bytepixel At(const DisplayBitmap& b, int x, int y) {
  return reinterpret_cast<const bytepixel*>(b.row(y))[x];
}

bool Same(bytepixel a, bytepixel b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Two layers of w x h with float images (so the two-layer views apply) and bitmaps.
void LoadLayers(CImageView& v, int w, int h) {
  for (int l = 0; l < 2; ++l) {
    v.layers[size_t(l)].dim(w, h, cspace::kDefault);
    v.bitmaps[size_t(l)] = DisplayBitmap(w, h);
  }
}

class PaintTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().backgroundGreyLevel = 77;
  }
  FakeHost host;
};
}  // namespace

TEST_F(PaintTest, OneToOneLayoutPanClampAndBackground) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(100, 100);
  FillPattern(v.currentBitmap());
  struct Case {
    int panX, panY, wantPanX, wantPanY;
  };
  const Case cases[] = {
      {0, 0, 0, 0}, {30, -20, 30, -20}, {1000, 1000, 200, 150}, {-1000, -1000, -200, -150}};
  for (const Case& c : cases) {
    v.panX = c.panX;
    v.panY = c.panY;
    const DisplayBitmap& out = v.Paint(300, 200);
    ASSERT_EQ(out.width(), 300);
    ASSERT_EQ(out.height(), 200);
    EXPECT_EQ(v.originX, 100);
    EXPECT_EQ(v.originY, 50);
    EXPECT_EQ(v.panX, c.wantPanX);
    EXPECT_EQ(v.panY, c.wantPanY);
    // Every client pixel is either the image pixel placed there or the background grey.
    const int x0 = 100 + v.panX, y0 = 50 + v.panY;
    for (int y = 0; y < 200; ++y) {
      for (int x = 0; x < 300; ++x) {
        const int i = x - x0, j = y - y0;
        const bool inside = i >= 0 && i < 100 && j >= 0 && j < 100;
        const bytepixel want = inside ? PatternAt(i, j) : bytepixel{77, 77, 77};
        ASSERT_TRUE(Same(At(out, x, y), want)) << x << "," << y << " pan " << v.panX;
      }
    }
  }
  // The padding bytes of the client rows hold the background too, like every other byte.
  EXPECT_EQ(v.Paint(301, 3).row(0)[3 * 301], 77);
  EXPECT_TRUE(v.Paint(0, 200).empty());  // minimised: nothing painted
  EXPECT_TRUE(v.Paint(300, 0).empty());
}

TEST_F(PaintTest, FitGeometry) {
  struct Case {
    int w, h, cw, ch;
    double zoom;
    int originX, originY, dw, dh;
  };
  const Case cases[] = {
      {1000, 500, 500, 500, 2.0, 0, 125, 500, 250},
      {100, 100, 300, 200, 0.5, 50, 0, 200, 200},
      {10, 40, 100, 100, 0.4, 37, 0, 25, 100},
      {1, 10000, 100, 100, 100.0, 49, 0, 1, 100},  // a sliver keeps one column
  };
  for (const Case& c : cases) {
    const FitGeometry g = FitImage(c.w, c.h, c.cw, c.ch);
    EXPECT_DOUBLE_EQ(g.zoom, c.zoom);
    EXPECT_EQ(g.originX, c.originX) << c.w << "x" << c.h;
    EXPECT_EQ(g.originY, c.originY);
    EXPECT_EQ(g.width, c.dw);
    EXPECT_EQ(g.height, c.dh);
  }
}

TEST_F(PaintTest, FittedPictureSitsAtItsOrigin) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(1000, 500);
  FillColour(v.currentBitmap(), {10, 20, 30});
  v.fitToWindow = true;
  for (int code = 0; code <= 6; ++code) {
    LiveSettings().view.fitInterpolationMethod = code;
    const DisplayBitmap& out = v.Paint(500, 500);
    EXPECT_DOUBLE_EQ(v.fitZoom, 2.0);
    EXPECT_EQ(v.originX, 0);
    EXPECT_EQ(v.originY, 125);
    // A constant image stays constant through every scaler; rows 125-374 hold it.
    for (int y : {0, 124, 125, 250, 374, 375, 499}) {
      const bool inside = y >= 125 && y < 375;
      for (int x : {0, 250, 499}) {
        EXPECT_TRUE(Same(At(out, x, y), inside ? bytepixel{10, 20, 30} : bytepixel{77, 77, 77}))
            << "code " << code << " at " << x << "," << y;
      }
    }
  }
  // No bitmap: only the background, and no division by a zero size.
  CImageView empty(&host);
  empty.fitToWindow = true;
  EXPECT_EQ(empty.Paint(50, 40).row(10)[5], 77);
}

TEST_F(PaintTest, ScalersAgreeWithTheBitmapResamplingAndTheTriangulation) {
  // A smooth picture, so that no kernel overshoots the byte range between the passes of
  // the bitmap resampling (which rounds and clips after each pass).
  DisplayBitmap src(37, 23);
  for (int j = 0; j < 23; ++j) {
    for (int i = 0; i < 37; ++i) {
      reinterpret_cast<bytepixel*>(src.row(j))[i] = {
          uint8_t(128 + 60 * std::sin(i * 0.4) * std::cos(j * 0.3)), uint8_t(40 + 4 * i + j),
          uint8_t(200 - 3 * j - i)};
    }
  }
  rgbbuffer source(src.toprow(), 37, 23);
  auto scaled = [&](int code, int dw, int dh, int order = 3) {
    auto out = std::make_unique<rgbbuffer>(dw, dh);
    ScaleForDisplay(source, *out, code, order, -0.5f);
    return out;
  };
  auto maxDifference = [](const rgbbuffer& a, const rgbbuffer& b) {
    int worst = 0;
    for (int j = 0; j < a.height; ++j) {
      for (int i = 0; i < a.width; ++i) {
        const bytepixel p = a.at(i, j), q = b.at(i, j);
        worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
      }
    }
    return worst;
  };

  // The display engine sums in another order than the bitmap resampling of the resize
  // commands and rounds once instead of twice; the two pictures agree within rounding.
  struct Kernels {
    int code;
    void (*build)(matrix&, int, int);
  };
  const Kernels kernels[] = {
      {kFitLanczos, [](matrix& k, int n, int m) { BuildLanczosKernelForSizes(k, 3, n, m, 0); }},
      {kFitBicubic, [](matrix& k, int n, int m) { BuildBicubicKernelForSizes(k, -0.5, n, m, 0); }},
      {kFitBilinear, [](matrix& k, int n, int m) { BuildBilinearKernelForSizes(k, n, m, 0); }},
      {kFitBox, [](matrix& k, int n, int m) { BuildBoxKernelForSizes(k, n, m, 0); }},
  };
  for (const Kernels& k : kernels) {
    for (auto [dw, dh] : {std::pair{15, 9}, std::pair{80, 50}}) {
      matrix kx, ky;
      k.build(kx, 37, dw);
      k.build(ky, 23, dh);
      rgbbuffer reference(dw, dh);
      reference.resample(source, kx, ky, false, false);
      EXPECT_LE(maxDifference(*scaled(k.code, dw, dh), reference), 2) << "code " << k.code;
    }
  }

  // Code 1: Lanczos-3 when shrinking, the triangulation when enlarging.
  EXPECT_EQ(maxDifference(*scaled(kFitTriangulation, 15, 9), *scaled(kFitLanczos, 15, 9, 3)), 0);
  rgbbuffer triangles(80, 50);
  triangles.triangulate(source, 0.0, 0.0);
  EXPECT_EQ(maxDifference(*scaled(kFitTriangulation, 80, 50), triangles), 0);
  EXPECT_GT(maxDifference(*scaled(kFitTriangulation, 80, 50), *scaled(kFitLanczos, 80, 50)), 0);
  // The area average of 2x2 blocks is their plain mean.
  DisplayBitmap blocks(4, 2);
  FillPattern(blocks);
  rgbbuffer from(blocks.toprow(), 4, 2), half(2, 1);
  ScaleForDisplay(from, half, kFitAreaAverage, 3, -0.5f);
  for (int i = 0; i < 2; ++i) {
    int sum = 0;
    for (int a = 0; a < 2; ++a) {
      for (int b = 0; b < 2; ++b) sum += PatternAt(2 * i + a, b).g;
    }
    EXPECT_NEAR(half.at(i, 0).g, sum / 4.0, 0.51);
  }
}

TEST_F(PaintTest, CombinedAndDifferenceBlendTheOtherLayer) {
  CImageView v(&host);
  LoadLayers(v, 4, 3);
  FillColour(v.bitmaps[0], {100, 101, 200});
  FillColour(v.bitmaps[1], {11, 0, 255});
  LiveSettings().layer.bottomLayerWeight = 1.0f / 3.0f;
  v.showCombined = true;
  const DisplayBitmap& combined = v.Paint(10, 10);
  // (1 - w) own + w other, truncated: 2/3 of own plus 1/3 of other.
  EXPECT_TRUE(Same(At(combined, 5, 5), bytepixel{70, 67, 218}));
  // The background is blended with the empty other picture as well.
  EXPECT_EQ(At(combined, 0, 0).g, 51);
  for (bool fitted : {false, true}) {
    v.fitToWindow = fitted;
    v.showCombined = false;
    v.showDifference = true;
    // Fitted, the other layer comes from its float image.
    v.layers[1].plane[0].fill(255);
    v.layers[1].plane[1].fill(0);
    v.layers[1].plane[2].fill(11);
    const DisplayBitmap& diff = v.Paint(10, 10);
    EXPECT_TRUE(Same(At(diff, 5, 5), bytepixel{89, 101, 55})) << "fitted " << fitted;
  }
}

TEST_F(PaintTest, OverlaysNeedTheOtherBitmapOfTheSameSize) {
  // Both layers without float images have "equal" float sizes; a smaller other bitmap
  // must not be read as if it had this picture's size.
  CImageView v(&host);
  v.bitmaps[0] = DisplayBitmap(40, 30);
  FillColour(v.bitmaps[0], {9, 9, 9});
  v.bitmaps[1] = DisplayBitmap(2, 2);
  FillColour(v.bitmaps[1], {200, 200, 200});
  v.showDifference = true;
  EXPECT_TRUE(Same(At(v.Paint(60, 50), 30, 25), bytepixel{9, 9, 9}));
}

TEST_F(PaintTest, MaskViewRules) {
  // Pixel 0 is inside the mask, pixel 1 outside. The current layer is white, the other
  // layer grey 50.
  struct Case {
    bool masked, unmasked, bottomThrough;
    uint8_t want0, want1;
  };
  const Case cases[] = {
      {false, false, false, 255, 255},  // no mask view
      {true, false, false, 255, 0},     // Show Masked Area blacks out the unmasked pixels
      {false, true, false, 0, 255},     // Show Unmasked Area blacks out the masked ones
      {true, true, false, 255, 0},      // Masked Area wins
      {true, false, true, 255, 50},     // ... and the bottom layer shows instead of black
      {false, true, true, 50, 255},
      {false, false, true, 255, 255},  // through the mask needs one of the two views
  };
  for (const Case& c : cases) {
    CImageView v(&host);
    LoadLayers(v, 2, 1);
    FillColour(v.bitmaps[0], {255, 255, 255});
    FillColour(v.bitmaps[1], {50, 50, 50});
    v.layers[0].mask.dim(2, 1);
    v.layers[0].mask.setbit(0, true);
    v.showMaskedArea = c.masked;
    v.showUnmaskedArea = c.unmasked;
    v.showBottomThroughMask = c.bottomThrough;
    const DisplayBitmap& out = v.Paint(2, 1);
    EXPECT_EQ(At(out, 0, 0).g, c.want0) << c.masked << c.unmasked << c.bottomThrough;
    EXPECT_EQ(At(out, 1, 0).g, c.want1) << c.masked << c.unmasked << c.bottomThrough;
  }
}

TEST_F(PaintTest, SelectionShowsBlackDuringAPaintDrag) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(3, 1);
  FillColour(v.currentBitmap(), {1, 2, 3});
  v.selection.dim(3, 1);
  v.selection.setbit(1, true);
  v.paintMode = true;
  EXPECT_EQ(At(v.Paint(3, 1), 1, 0).g, 2);  // no drag: the picture as it is
  Flags().MiddleButtonDown = true;
  const DisplayBitmap& out = v.Paint(3, 1);
  EXPECT_EQ(At(out, 0, 0).g, 2);
  EXPECT_EQ(At(out, 1, 0).g, 0);
}

TEST_F(PaintTest, ChannelViewsShowOneByteAsGrey) {
  CImageView v(&host);
  v.currentLayer().dim(1, 1, cspace::kDefault);
  v.currentBitmap() = DisplayBitmap(1, 1);
  FillColour(v.currentBitmap(), {30, 20, 10});  // blue 30, green 20, red 10
  const uint8_t want[4] = {20, 10, 20, 30};
  for (int press = 0; press < 4; ++press) {
    const bytepixel p = At(v.Paint(1, 1), 0, 0);
    if (press == 0) {
      EXPECT_TRUE(Same(p, bytepixel{30, 20, 10}));
    } else {
      EXPECT_TRUE(Same(p, bytepixel{want[press], want[press], want[press]})) << press;
    }
    v.Dispatch(CommandId::ViewingNormal);
  }
  EXPECT_EQ(v.channelView, 0);  // four presses: back to normal
}

TEST_F(PaintTest, RubberBandIsItsOwnInverse) {
  DisplayBitmap client(20, 15);
  FillPattern(client);
  const DisplayBitmap before = [&] {
    DisplayBitmap copy(20, 15);
    std::memcpy(copy.data(), client.data(), size_t(client.bytes()));
    return copy;
  }();
  struct Box {
    int x1, y1, x2, y2;
  };
  for (const Box& b : {Box{3, 4, 12, 10}, Box{12, 10, 3, 4}, Box{-5, -5, 30, 30}, Box{5, 5, 5, 9},
                       Box{7, 7, 7, 7}}) {
    InvertRectangleOutline(client, b.x1, b.y1, b.x2, b.y2);
    InvertRectangleOutline(client, b.x1, b.y1, b.x2, b.y2);
    EXPECT_EQ(std::memcmp(client.data(), before.data(), size_t(client.bytes())), 0) << b.x1;
  }
  // One outline inverts each pixel of its border once: (x1..x2) x (y1-1..y2-1).
  InvertRectangleOutline(client, 3, 4, 12, 10);
  int changed = 0;
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 20; ++x) {
      const bytepixel p = At(client, x, 14 - y), q = At(before, x, 14 - y);
      const bool border =
          (x == 3 || x == 12 || y == 3 || y == 9) && x >= 3 && x <= 12 && y >= 3 && y <= 9;
      if (border) {
        EXPECT_EQ(p.g, 255 - q.g) << x << "," << y;
      }
      changed += !Same(p, q);
    }
  }
  EXPECT_EQ(changed, 2 * 10 + 2 * 5);
}

TEST_F(PaintTest, CropDragMovesOnlyTheRubberBand) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(30, 20);
  FillPattern(v.currentBitmap());
  DisplayBitmap pristine(40, 30);
  std::memcpy(pristine.data(), v.Paint(40, 30).data(), size_t(pristine.bytes()));
  Flags().RightButtonDown = true;
  v.dragStartWindow = v.dragPreviousEndWindow = {8, 6};
  v.dragEndWindow = {20, 18};
  DisplayBitmap expected(40, 30);
  std::memcpy(expected.data(), pristine.data(), size_t(pristine.bytes()));
  InvertRectangleOutline(expected, 8, 6, 20, 18);
  EXPECT_EQ(std::memcmp(v.Paint(40, 30).data(), expected.data(), size_t(expected.bytes())), 0);
  // The band follows the mouse: the old one is gone, the new one drawn.
  v.dragEndWindow = {30, 25};
  std::memcpy(expected.data(), pristine.data(), size_t(pristine.bytes()));
  InvertRectangleOutline(expected, 8, 6, 30, 25);
  EXPECT_EQ(std::memcmp(v.Paint(40, 30).data(), expected.data(), size_t(expected.bytes())), 0);
  v.Paint(40, 30);  // a repaint without a move leaves it as it is
  EXPECT_EQ(std::memcmp(v.paintBitmap.data(), expected.data(), size_t(expected.bytes())), 0);
  // The drag ends: the picture comes back whole.
  Flags().RightButtonDown = false;
  EXPECT_EQ(std::memcmp(v.Paint(40, 30).data(), pristine.data(), size_t(pristine.bytes())), 0);
}

TEST_F(PaintTest, WindowAndImageCoordinatesRoundTrip) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(100, 60);
  FillPattern(v.currentBitmap());
  v.currentLayer().dim(100, 60, cspace::kDefault);
  v.panX = 17;
  v.panY = -9;
  const DisplayBitmap& out = v.Paint(150, 90);
  // 1:1: the window pixel of an image pixel shows that pixel, and maps back to it.
  for (int j = 0; j < 60; j += 7) {
    for (int i = 0; i < 100; i += 9) {
      const Point q = v.ImageToWindow({i, j});
      if (q.x < 0 || q.x >= 150 || q.y < 0 || q.y >= 90) continue;
      EXPECT_TRUE(Same(At(out, q.x, 89 - q.y), PatternAt(i, j))) << i << "," << j;
      Point back = q;
      v.WindowToImage(back);
      EXPECT_EQ(back.x, i);
      EXPECT_EQ(back.y, j);
    }
  }
  Point outside{-500, 5000};  // clamped into the image
  v.WindowToImage(outside);
  EXPECT_EQ(outside.x, 0);
  EXPECT_EQ(outside.y, 0);

  // Fitted and shrinking: every window pixel of the picture maps to an image pixel and
  // back to itself; enlarging: every image pixel maps to a window pixel and back.
  v.fitToWindow = true;
  struct Client {
    int cw, ch;
  };
  for (const Client& c : {Client{37, 41}, Client{300, 170}}) {
    v.Paint(c.cw, c.ch);
    const FitGeometry g = FitImage(100, 60, c.cw, c.ch);
    if (g.zoom >= 1.0) {
      for (int k = 0; k < g.height; ++k) {
        for (int x = g.originX; x < g.originX + g.width; ++x) {
          Point p{x, c.ch - 1 - (g.originY + k)};
          v.WindowToImage(p);
          const Point q = v.ImageToWindow(p);
          ASSERT_EQ(q.x, x);
          ASSERT_EQ(q.y, c.ch - 1 - (g.originY + k));
        }
      }
    } else {
      for (int j = 0; j < 60; ++j) {
        for (int i = 0; i < 100; ++i) {
          Point p = v.ImageToWindow({i, j});
          v.WindowToImage(p);
          ASSERT_EQ(p.x, i);
          ASSERT_EQ(p.y, j);
        }
      }
    }
  }
}

TEST_F(PaintTest, ViewCommands) {
  CImageView v(&host);
  v.currentBitmap() = DisplayBitmap(4, 4);
  v.currentLayer().dim(4, 4, cspace::kDefault);
  v.layers[1].dim(4, 4, cspace::kDefault);

  // Sized to Fit parks paint mode and gives it back.
  v.paintMode = true;
  v.Dispatch(CommandId::SizedToFitScreen);
  EXPECT_TRUE(v.fitToWindow);
  EXPECT_FALSE(v.paintMode);
  v.Dispatch(CommandId::SizedToFitScreen);
  EXPECT_FALSE(v.fitToWindow);
  EXPECT_TRUE(v.paintMode);
  // With Ctrl it opens the page of the fitted scaling and leaves the mode alone.
  Flags().CtrlHeld = true;
  ui.ExpectProperties(TypeAndOk(92, {{1, "Bicubic"}}));
  v.Dispatch(CommandId::SizedToFitScreen);
  EXPECT_FALSE(v.fitToWindow);
  EXPECT_FALSE(Flags().CtrlHeld);
  EXPECT_EQ(LiveSettings().view.fitInterpolationMethod, 3);

  // Show Combined asks for its weight before it turns on, and turns Difference off.
  v.Dispatch(CommandId::ShowDifference);
  EXPECT_TRUE(v.showDifference);
  ui.ExpectProperties(CancelOn(67));
  v.Dispatch(CommandId::ShowCombined);
  EXPECT_FALSE(v.showCombined);
  EXPECT_TRUE(v.showDifference);
  v.normalView = false;
  ui.ExpectProperties(TypeAndOk(67));
  v.Dispatch(CommandId::ShowCombined);
  EXPECT_TRUE(v.showCombined);
  EXPECT_FALSE(v.showDifference);
  EXPECT_FALSE(v.normalView);           // Combined leaves the normal view as it is
  v.Dispatch(CommandId::ShowCombined);  // off again without a question
  EXPECT_FALSE(v.showCombined);
  v.Dispatch(CommandId::ShowDifference);
  EXPECT_TRUE(v.showDifference);
  EXPECT_TRUE(v.normalView);

  // Bottom layer through the mask needs a mask.
  v.Dispatch(CommandId::ShowBottomLayerThroughMask);
  EXPECT_FALSE(v.showBottomThroughMask);
  v.currentLayer().mask.dim(4, 4);
  v.Dispatch(CommandId::ShowBottomLayerThroughMask);
  EXPECT_TRUE(v.showBottomThroughMask);

  // F8 shows the histogram, F8 again hides it.
  v.Dispatch(CommandId::Histogram);
  EXPECT_EQ(host.histogramRefreshes, 1);
  host.histogramVisible = true;
  v.Dispatch(CommandId::Histogram);
  EXPECT_FALSE(host.histogramVisible);
  EXPECT_EQ(host.histogramRefreshes, 1);

  // Full Screen toggles.
  EXPECT_FALSE(FullScreen());
  v.Dispatch(CommandId::FullScreen);
  EXPECT_TRUE(FullScreen());
  v.Dispatch(CommandId::FullScreen);
  EXPECT_FALSE(FullScreen());
}
