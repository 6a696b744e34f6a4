#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "app/imageview.h"
#include "fake_host.h"
#include "image/colorspace.h"
#include "params/settings.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 30, kH = 120;

// A window whose client shows the whole image at 1:1, so that window pixel (x, top row y)
// shows image pixel (x, kH - 1 - y). Every pixel's red value is its index.
class InputTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    Reset();
  }
  void Reset() {
    LiveSettings().SetDefaults();
    Flags() = CommandFlags();
    v.panX = v.panY = 0;
    v.selection.free();
    Fill(v, kW, kH, cspace::kDefault);
  }
  static void Fill(CImageView& view, int w, int h, CSpaceCode code) {
    fpbuffer& f = view.currentLayer();
    f.dim(w, h, code);
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        f.plane[0].z[j][i] = float(i + j * w);
        f.plane[1].z[j][i] = 2.25f;
        f.plane[2].z[j][i] = float(j % 256);
        if (f.channels == 4) f.plane[3].z[j][i] = 0.25f;
      }
    }
    view.currentBitmap() = DisplayBitmap(w, h);
    f.todib(view.currentBitmap().toprow());
    view.Paint(w, h);
  }
  // The window point showing image pixel (x, y) at the window's pan.
  Point At(int x, int y) const { return {x + v.panX, kH - 1 - y - v.panY}; }
  void RightDrag(Point from, Point to) {
    v.OnRightButtonDown(from);
    v.OnMouseMove(to);
    v.OnRightButtonUp(to);
  }
  FakeHost host;
  CImageView v{&host};
};

TEST_F(InputTest, RightDragCropsOnlyBlocksLargerThanFourEachWay) {
  struct Case {
    Point from, to;  // image pixels
    bool ctrl;
    int width, height;  // of the image afterwards
  };
  const Case cases[] = {
      {{7, 9}, {3, 5}, false, 5, 5},       // 5 x 5, dragged towards the origin
      {{2, 10}, {5, 109}, false, kW, kH},  // 4 x 100 only repaints
      {{2, 10}, {20, 13}, false, kW, kH},  // 19 x 4
      {{3, 5}, {7, 9}, true, kW, kH},      // Ctrl at release
  };
  for (const Case& c : cases) {
    Reset();
    v.currentLayer().clearmask();
    v.currentLayer().mask.set(4, 6, true);
    v.panX = 3;
    const Point from = At(c.from.x, c.from.y), to = At(c.to.x, c.to.y);
    v.OnRightButtonDown(from);
    v.OnMouseMove(to);
    Flags().CtrlHeld = c.ctrl;
    v.OnRightButtonUp(to);
    const fpbuffer& f = v.currentLayer();
    EXPECT_EQ(f.width, c.width);
    EXPECT_EQ(f.height, c.height);
    EXPECT_FALSE(Flags().CtrlHeld);
    EXPECT_FALSE(Flags().RightButtonDown);
    if (c.width == 5) {
      // The block starts at the lower-left corner (3, 5); its mask comes along.
      EXPECT_EQ(f.plane[0].z[0][0], float(3 + 5 * kW));
      EXPECT_EQ(f.plane[0].z[4][4], float(7 + 9 * kW));
      EXPECT_TRUE(f.mask.get(1, 1));
      EXPECT_EQ(v.currentBitmap().width(), 5);
      EXPECT_EQ(v.panX, 0);
    } else {
      EXPECT_EQ(v.currentBitmap().width(), kW);
    }
  }
}

TEST_F(InputTest, CropBothLayersKeepsThemAligned) {
  v.current = 1;
  Fill(v, kW, kH, cspace::kDefault);
  v.currentLayer().plane[0].z[6][4] = -1.0f;
  v.current = 0;
  v.Paint(kW, kH);
  v.cropBothLayers = true;
  RightDrag(At(4, 6), At(10, 15));
  for (const fpbuffer* f : {&v.layers[0], &v.layers[1]}) {
    EXPECT_EQ(f->width, 7);
    EXPECT_EQ(f->height, 10);
  }
  EXPECT_EQ(v.layers[1].plane[0].z[0][0], -1.0f);
  EXPECT_EQ(v.bitmaps[1].width(), 7);
  EXPECT_EQ(v.bitmaps[1].height(), 10);
}

TEST_F(InputTest, SecondButtonCancelsTheDrag) {
  v.OnRightButtonDown(At(3, 5));
  v.OnMouseMove(At(20, 50));
  v.OnLeftButtonDown(At(20, 50));
  v.OnRightButtonUp(At(20, 50));
  EXPECT_EQ(v.currentLayer().width, kW);

  // In paint mode the cancelled drag's selection goes too: left behind, it would restrict
  // every later refresh and operation.
  Flags() = CommandFlags();
  v.paintMode = true;
  v.OnMiddleButtonDown(At(3, 5));
  EXPECT_TRUE(v.selection.present());
  v.OnRightButtonDown(At(3, 5));
  EXPECT_FALSE(v.selection.present());
  EXPECT_FALSE(Flags().MiddleButtonDown);
  v.OnMiddleButtonUp(At(3, 5));  // nothing left to end
  EXPECT_FALSE(v.selection.present());
}

TEST_F(InputTest, ArrowKeysPanByTheScrollAmount) {
  struct Case {
    int amount;
    InputKey key;
    int dx, dy;
  };
  const Case cases[] = {
      {50, InputKey::Left, -50, 0},    {50, InputKey::Right, 50, 0},
      {50, InputKey::Up, 0, 50},       {50, InputKey::Down, 0, -50},
      {-50, InputKey::Left, 50, 0},    {-50, InputKey::Up, 0, -50},
      {50, InputKey::Keypad4, -1, 0},  {50, InputKey::Keypad8, 0, 1},
      {-50, InputKey::Keypad6, -1, 0}, {0, InputKey::Keypad2, 0, 1},
      {0, InputKey::Right, 0, 0},      {50, InputKey::Other, 0, 0},
  };
  for (const Case& c : cases) {
    v.panX = v.panY = 0;
    host.invalidated = 0;
    LiveSettings().scrollAmount = c.amount;
    v.OnKeyDown(c.key);
    EXPECT_EQ(v.panX, c.dx) << c.amount << " " << int(c.key);
    EXPECT_EQ(v.panY, c.dy) << c.amount << " " << int(c.key);
    EXPECT_EQ(host.invalidated, c.dx || c.dy ? 1 : 0);
  }
  v.fitToWindow = true;  // a fitted picture does not pan
  v.OnKeyDown(InputKey::Left);
  EXPECT_EQ(v.panX, 0);
}

TEST_F(InputTest, ModifierKeysAreHeldUntilReleasedOrAnotherKey) {
  v.OnKeyDown(InputKey::Ctrl);
  v.OnKeyDown(InputKey::Shift);
  EXPECT_TRUE(Flags().CtrlHeld && Flags().ShiftHeld);
  v.OnKeyUp(InputKey::Shift);
  EXPECT_FALSE(Flags().ShiftHeld);
  EXPECT_TRUE(Flags().CtrlHeld);
  v.OnKeyDown(InputKey::Other);
  EXPECT_FALSE(Flags().CtrlHeld);
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::F10);  // F10
  EXPECT_FALSE(Flags().CtrlHeld);
}

TEST_F(InputTest, LinkedPanningMovesOnlyWindowsOfTheSameSize) {
  FakeHost sameHost, otherHost;
  CImageView same(&sameHost), other(&otherHost);
  Fill(same, kW, kH, cspace::kDefault);
  Fill(other, kW + 1, kH, cspace::kDefault);
  LiveSettings().scrollAmount = 10;
  LiveSettings().scrollLock = 1;
  v.OnKeyDown(InputKey::Right);
  v.OnKeyDown(InputKey::Up);
  EXPECT_EQ(same.panX, 10);
  EXPECT_EQ(same.panY, 10);
  EXPECT_EQ(sameHost.invalidated, 2);
  EXPECT_EQ(other.panX, 0);
  EXPECT_EQ(otherHost.invalidated, 0);

  other.panX = 7;
  v.Dispatch(CommandId::Home);  // Home
  EXPECT_EQ(v.panX, 0);
  EXPECT_EQ(same.panX, 0);
  EXPECT_EQ(same.panY, 0);
  EXPECT_EQ(other.panX, 7);

  LiveSettings().scrollLock = 0;
  v.OnKeyDown(InputKey::Left);
  EXPECT_EQ(v.panX, -10);
  EXPECT_EQ(same.panX, 0);
}

TEST_F(InputTest, LeftClicksShowThePixelAndKeepTheLastFive) {
  for (int k = 1; k <= 6; ++k) {
    v.OnLeftButtonDown(At(k, 2 * k));
    v.OnLeftButtonUp(At(k, 2 * k));
  }
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(v.clickHistory[size_t(k)].x, k + 2);  // the first click has dropped out
    EXPECT_EQ(v.clickHistory[size_t(k)].y, 2 * (k + 2));
  }
  EXPECT_EQ(v.clickPoint.x, 6);
  EXPECT_EQ(v.clickPoint.y, 12);

  // The bytes are the bitmap's: red 366 over 255 scales the colour by 255/366.
  EXPECT_EQ(v.pixelInfoText, "  (6, 12) [255, 2, 8] (366.00, 2.25, 12.00)");
  EXPECT_EQ(ui.paneText[4], v.pixelInfoText);

  // A point outside the picture reads the nearest pixel.
  v.OnLeftButtonDown({-40, 5000});
  EXPECT_EQ(v.pixelInfoText.substr(0, 10), "  (0, 0) [");

  CImageView four;
  Fill(four, 4, 4, cspace::kCMYK | 0xF);
  four.OnLeftButtonDown({1, 2});  // image pixel (1, 1)
  EXPECT_EQ(four.pixelInfoText.substr(four.pixelInfoText.find("] (")),
            "] (5.00, 2.25, 1.00, 0.25)");
}

TEST_F(InputTest, ButtonsDoNothingWithoutFloatData) {
  v.currentLayer().clear(true);
  v.OnLeftButtonDown(At(1, 1));
  EXPECT_TRUE(v.pixelInfoText.empty());
  EXPECT_TRUE(Flags().LeftButtonDown);
  v.OnLeftButtonUp(At(1, 1));
  v.paintMode = true;
  v.OnRightButtonDown(At(1, 1));
  EXPECT_FALSE(Flags().RightButtonDown);
  EXPECT_FALSE(v.selection.present());
}

TEST_F(InputTest, EnterPushesTheClickedPixelOntoTheColourQueue) {
  v.OnLeftButtonDown(At(2, 3));
  v.Dispatch(CommandId::Enter);
  v.OnLeftButtonDown(At(4, 1));
  v.Dispatch(CommandId::Enter);
  EXPECT_EQ(v.queuePoints[0].x, 4);
  EXPECT_EQ(v.queuePoints[1].y, 3);
  EXPECT_EQ(v.queueColours[0][0], float(4 + 1 * kW));
  EXPECT_EQ(v.queueColours[1][0], float(2 + 3 * kW));
  EXPECT_EQ(v.currentColour[2], 1.0f);
  EXPECT_EQ(v.currentColour[3], 0.0f);

  // A click point left from a larger image is clamped before it is read.
  v.clickPoint = {500, 500};
  v.Dispatch(CommandId::Enter);
  EXPECT_EQ(v.currentPoint.x, kW - 1);
  EXPECT_EQ(v.currentPoint.y, kH - 1);

  Flags().CtrlHeld = true;  // Ctrl+Enter makes Enter the F2/F3 operation
  v.Dispatch(CommandId::Enter);
  EXPECT_EQ(v.f2OperationId, CommandId::Enter);
  EXPECT_EQ(v.queuePoints[1].x, 4);  // and pushes nothing
}

TEST_F(InputTest, BrushDisksCoverTheRadiusAndStopAtTheEdges) {
  struct Case {
    int radius;
    Point centre;
    int count;
  };
  const Case cases[] = {
      {0, {10, 10}, 1},  {1, {10, 10}, 9},
      {2, {10, 10}, 21}, {2, {0, 0}, 8},  // the quarter inside the corner
      {3, {-20, 5}, 0},                   // wholly outside
  };
  for (const Case& c : cases) {
    LiveSettings().mask.cursorRadius = c.radius;
    v.selection.free();
    v.PaintDisk(At(c.centre.x, c.centre.y));  // no selection: nothing to paint into
    v.selection.dim(kW, kH);
    v.PaintDisk(At(c.centre.x, c.centre.y));
    int count = 0, x, y, w, h;
    v.selection.bounds(count, x, y, w, h);
    EXPECT_EQ(count, c.count) << c.radius;
    if (c.count > 0) {
      EXPECT_TRUE(v.selection.get(std::max(0, c.centre.x), c.centre.y));
    }
  }
}

// Records what a region operation saw.
struct Seen {
  int id = 0, selected = 0;
  bool f2 = false, f3 = false, ctrlVariant = false, shiftVariant = false, ctrlHeld = false;
};

class RegionTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    v.paintMode = true;
    LiveSettings().mask.cursorRadius = 1;
    for (int id : {int(CommandId::Clear), int(CommandId::TopLayerEqualsBottomLayer)}) {
      const CommandEntry row{CommandId(id),
                             [this](CImageView& view, int command) {
                               const CommandFlags& f = Flags();
                               int count = 0, x, y, w, h;
                               view.selection.bounds(count, x, y, w, h);
                               seen.push_back({command, count, f.F2Active, f.F3Active,
                                               f.CtrlVariant, f.ShiftVariant, f.CtrlHeld});
                             },
                             nullptr};
      CImageView::RegisterCommands({&row, 1});
    }
  }
  void TearDown() override {
    // The handlers point at this fixture; later tests must not reach them.
    for (int id : {int(CommandId::Clear), int(CommandId::TopLayerEqualsBottomLayer)}) {
      const CommandEntry row{CommandId(id), nullptr, nullptr};
      CImageView::RegisterCommands({&row, 1});
    }
    InputTest::TearDown();
  }
  // A paint drag from (10, 10) to (14, 10): five overlapping 3 x 3 disks, 21 pixels.
  void PaintDrag(bool middle) {
    if (middle) {
      v.OnMiddleButtonDown(At(10, 10));
    } else {
      v.OnRightButtonDown(At(10, 10));
    }
    for (int x = 11; x <= 14; ++x) v.OnMouseMove(At(x, 10));
    if (middle) {
      v.OnMiddleButtonUp(At(14, 10));
    } else {
      v.OnRightButtonUp(At(14, 10));
    }
  }
  std::vector<Seen> seen;
};

TEST_F(RegionTest, ADragRunsTheOperationOnThePaintedPixels) {
  struct Case {
    bool middle;
    int operation;  // the window's F2 (right) or F3 (middle) operation
    bool ctrl, shift;
    int ran;  // the command that ran, 0 for none
  };
  const Case cases[] = {
      {false, int(CommandId::Clear), false, false, int(CommandId::Clear)},
      {false, int(CommandId::Clear), true, false, int(CommandId::Clear)},
      {true, int(CommandId::Clear), false, true, int(CommandId::Clear)},
      {true, int(CommandId::SetImageToColor), false, false,
       int(CommandId::TopLayerEqualsBottomLayer)},
      {true, int(CommandId::Gradient), false, false, int(CommandId::TopLayerEqualsBottomLayer)},
      {true, int(CommandId::Negative), false, false, 0},
      {false, int(CommandId::SetImageToColor), false, false,
       0},  // no handler yet: nothing runs, the drag still ends
      {false, int(CommandId::DestroyBuffers), false, false, 0},  // not a region operation
  };
  for (const Case& c : cases) {
    seen.clear();
    v.f2OperationId = v.f3OperationId = c.operation;
    Flags().CtrlHeld = c.ctrl;
    Flags().ShiftHeld = c.shift;
    PaintDrag(c.middle);
    const int runs = c.ran ? 1 : 0;
    ASSERT_EQ(int(seen.size()), runs) << c.operation;
    if (runs) {
      EXPECT_EQ(seen[0].id, c.ran);
      EXPECT_EQ(seen[0].selected, 21);
      EXPECT_EQ(seen[0].f2, !c.middle);
      EXPECT_EQ(seen[0].f3, c.middle);
      EXPECT_EQ(seen[0].ctrlVariant, c.ctrl);
      EXPECT_EQ(seen[0].shiftVariant, c.shift);
      EXPECT_FALSE(seen[0].ctrlHeld);  // else the handler would only select itself
    }
    const CommandFlags& f = Flags();
    EXPECT_FALSE(f.F2Active || f.F3Active || f.CtrlVariant || f.ShiftVariant);
    EXPECT_FALSE(f.RightButtonDown || f.MiddleButtonDown);
    EXPECT_FALSE(v.selection.present());
    EXPECT_EQ(v.currentLayer().width, kW);  // a paint drag never crops
  }
}

TEST_F(RegionTest, MaskRegionsSetAndClearThePaintedBits) {
  v.showUnmaskedArea = false;
  v.f2OperationId = v.f3OperationId = int(CommandId::ClearSetMask);
  PaintDrag(false);
  const bitmask& mask = v.currentLayer().mask;
  ASSERT_TRUE(mask.present());
  int count = 0, x, y, w, h;
  mask.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 21);
  EXPECT_EQ(x, 9);
  EXPECT_EQ(w, 7);
  EXPECT_TRUE(v.showUnmaskedArea);

  LiveSettings().mask.cursorRadius = 0;
  v.OnMiddleButtonDown(At(12, 10));
  v.OnMiddleButtonUp(At(12, 10));
  mask.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 20);
  EXPECT_FALSE(mask.get(12, 10));
  EXPECT_TRUE(mask.get(12, 11));
}

TEST_F(InputTest, PaintModeBuildsTheBrushCursor) {
  Settings& s = LiveSettings();
  s.mask.cursorRadius = 15;
  s.mask.cursorColor = 1;  // white
  v.Dispatch(CommandId::Paint);
  EXPECT_TRUE(v.paintMode);
  EXPECT_TRUE(v.BrushCursorShown());
  EXPECT_EQ(v.paintCaption, std::string("Paint( On)"));
  const bytemask white = v.cursorAnd;

  v.Dispatch(CommandId::IncreaseCursorRadius);
  EXPECT_EQ(s.mask.cursorRadius, 16);
  EXPECT_EQ(v.cursorAnd.height, 37);
  EXPECT_EQ(v.cursorAnd.width, 48);
  // After a radius change the brush inverts: AND all ones.
  for (int i = 0; i < v.cursorAnd.width; ++i) EXPECT_TRUE(v.cursorAnd.get(i, 18));

  v.Dispatch(CommandId::Paint);
  EXPECT_FALSE(v.paintMode);
  EXPECT_FALSE(v.BrushCursorShown());
  EXPECT_FALSE(v.QueryCommand(CommandId::DecreaseCursorRadius).enabled);
  s.mask.cursorRadius = 15;
  v.Dispatch(CommandId::Paint);  // the chosen style is back
  ASSERT_EQ(v.cursorAnd.bytes, white.bytes);
  EXPECT_TRUE(std::equal(white.data, white.data + white.bytes, v.cursorAnd.data));

  s.mask.cursorRadius = 0;
  v.Dispatch(CommandId::DecreaseCursorRadius);
  EXPECT_EQ(s.mask.cursorRadius, 0);

  v.fitToWindow = true;
  EXPECT_FALSE(v.QueryCommand(CommandId::Paint).enabled);
}
}  // namespace
