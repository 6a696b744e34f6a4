// Crop, flips, the quarter turn, rolls, one-point registration and Create Blank Image,
// through the dispatcher of a real window.
#include <functional>
#include <utility>
#include <vector>

#include "geometry_fixture.h"
#include "image/colorspace.h"
#include "platform/parallel.h"
#include "support/dialog_scripts.h"

namespace {
// Where the original pixel (x, y) of a w x h picture lands after a command, and the size
// after it.
struct Move {
  CommandId id;
  std::function<void(int w, int h, int& x, int& y)> where;
  bool turns;  // width and height exchange
};

const std::vector<Move>& Moves() {
  static const std::vector<Move> moves = {
      {CommandId::Rotate90Degrees,
       [](int, int h, int& x, int& y) {
         const int k = x;
         x = h - 1 - y;
         y = k;
       },
       true},
      {CommandId::VerticalFlip, [](int, int h, int&, int& y) { y = h - 1 - y; }, false},
      {CommandId::HorizontalFlip, [](int w, int, int& x, int&) { x = w - 1 - x; }, false},
      {CommandId::RollLeft, [](int w, int, int& x, int&) { x = (x + w - 1) % w; }, false},
      {CommandId::RollRight, [](int w, int, int& x, int&) { x = (x + 1) % w; }, false},
      {CommandId::RollUp, [](int, int h, int&, int& y) { y = (y + 1) % h; }, false},
      {CommandId::RollDown, [](int, int h, int&, int& y) { y = (y + h - 1) % h; }, false},
      // Ten pixels; a distance of at least the length leaves that direction alone.
      {CommandId::RollLeft10, [](int w, int, int& x, int&) { x = w > 10 ? (x + w - 10) % w : x; },
       false},
      {CommandId::RollRight10, [](int w, int, int& x, int&) { x = w > 10 ? (x + 10) % w : x; },
       false},
      {CommandId::RollUp10, [](int, int h, int&, int& y) { y = h > 10 ? (y + 10) % h : y; }, false},
      {CommandId::RollDown10, [](int, int h, int&, int& y) { y = h > 10 ? (y + h - 10) % h : y; },
       false},
  };
  return moves;
}
}  // namespace

// Every whole-pixel command puts each value, and its mask bit, where the move says, on
// pictures from 1 x 1 up, also with several threads.
TEST_F(GeometryTest, EveryPixelAndItsMaskBitLandWhereTheCommandPutsThem) {
  struct Size {
    int w, h;
  };
  for (const Move& m : Moves()) {
    for (const Size s : {Size{1, 1}, Size{1, 7}, Size{7, 1}, Size{2, 2}, Size{13, 11}, Size{4, 2},
                         Size{131, 70}, Size{35, 133}}) {  // past the turn's tiles, with remainders
      for (int threads : {1, 8}) {
        SetParallelThreads(threads);
        SCOPED_TRACE(testing::Message() << CommandIdName(int(m.id)) << " " << s.w << "x" << s.h
                                        << " threads " << threads);
        Make(v, s.w, s.h, true);
        v.Dispatch(m.id);
        const fpbuffer& f = v.currentLayer();
        ASSERT_EQ(f.width, m.turns ? s.h : s.w);
        ASSERT_EQ(f.height, m.turns ? s.w : s.h);
        ASSERT_TRUE(f.mask.present());
        ASSERT_EQ(f.mask.width, f.width);
        for (int y = 0; y < s.h; ++y) {
          for (int x = 0; x < s.w; ++x) {
            int nx = x, ny = y;
            m.where(s.w, s.h, nx, ny);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(f.plane[c].z[ny][nx], Tag(c, x, y));
            ASSERT_EQ(f.mask.get(nx, ny), (x + y) % 2 == 0);
          }
        }
        EXPECT_EQ(v.currentBitmap().width(), f.width);
      }
    }
  }
  SetParallelThreads(0);
}

TEST_F(GeometryTest, FourTurnsAndTwoFlipsGiveThePictureBack) {
  Make(v, 9, 5, true);
  const std::string before = Bytes(v.currentLayer());
  for (int i = 0; i < 4; ++i) v.Dispatch(CommandId::Rotate90Degrees);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
  for (CommandId id : {CommandId::VerticalFlip, CommandId::HorizontalFlip}) {
    v.Dispatch(id);
    v.Dispatch(id);
    EXPECT_EQ(Bytes(v.currentLayer()), before);
  }
}

TEST_F(GeometryTest, OneTurnPutsTheBottomLeftPixelAtTheBottomRight) {
  Make(v, 4, 2);
  v.currentLayer().plane[0].z[0][0] = 255;
  v.Dispatch(CommandId::Rotate90Degrees);
  EXPECT_EQ(v.currentLayer().width, 2);
  EXPECT_EQ(v.currentLayer().height, 4);
  EXPECT_EQ(v.currentLayer().plane[0].z[0][1], 255);
}

TEST_F(GeometryTest, CtrlSelectsInsteadOfRunning) {
  Make(v, 6, 4, false, 1);
  Make(v, 6, 4, false, 0);
  const std::string before = Bytes(v.currentLayer());
  v.Dispatch(CommandId::SelectRotate90);  // Ctrl+R
  EXPECT_EQ(v.f2OperationId, int(CommandId::Rotate90Degrees));
  EXPECT_FALSE(Flags().CtrlHeld);
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::RollBottomLeft);
  EXPECT_EQ(v.f2OperationId, int(CommandId::RollBottomLeft));
  EXPECT_EQ(Bytes(v.currentLayer()), before);
  // Ctrl+arrows reach the rolls with Ctrl let go, so they roll.
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::CtrlRight);
  EXPECT_EQ(v.currentLayer().plane[0].z[0][1], Tag(0, 0, 0));
  F2(CommandId::Rotate90Degrees);
  EXPECT_EQ(v.currentLayer().width, 4);
}

TEST_F(GeometryTest, TheOtherLayerRollsAloneAndIsRenderedIntoItsBitmap) {
  Make(v, 12, 12, false, 0);
  Make(v, 12, 12, false, 1);
  const std::string top = Bytes(v.currentLayer());
  EXPECT_FALSE(v.QueryCommand(CommandId::RollBottomLeft10).enabled == false);
  v.Dispatch(CommandId::RollBottomRight10);
  v.Dispatch(CommandId::RollBottomUp);
  EXPECT_EQ(Bytes(v.currentLayer()), top);
  const fpbuffer& other = v.otherLayer();
  EXPECT_EQ(other.plane[1].z[1][10], Tag(1, 0, 0));
  std::vector<uint8_t> expected(size_t(v.otherBitmap().bytes()));
  other.todib(expected.data() + (v.otherBitmap().toprow() - v.otherBitmap().data()));
  EXPECT_EQ(std::memcmp(expected.data() + (v.otherBitmap().toprow() - v.otherBitmap().data()),
                        v.otherBitmap().toprow(), size_t(3 * 12)),
            0);
  // Without pixels in the other layer the ten-pixel rolls are disabled.
  v.otherLayer().clear(true);
  EXPECT_FALSE(v.QueryCommand(CommandId::RollBottomLeft10).enabled);
}

TEST_F(GeometryTest, OnePointRegistrationRollsTheClickOntoTheCurrentPoint) {
  Make(v, 64, 64, true);
  const std::string before = Bytes(v.currentLayer());
  v.currentPoint = {50, 50};
  v.clickPoint = {40, 45};
  v.Dispatch(CommandId::ManualOnePointRegistration);  // from the menu: selected only
  EXPECT_EQ(Bytes(v.currentLayer()), before);
  EXPECT_EQ(v.f2OperationId, int(CommandId::ManualOnePointRegistration));
  v.Dispatch(CommandId::F2ProgrammedOperation);
  EXPECT_EQ(v.currentLayer().plane[2].z[50][50], Tag(2, 40, 45));
  EXPECT_EQ(v.currentLayer().mask.get(50, 50), (40 + 45) % 2 == 0);
  v.Dispatch(CommandId::F3ProgrammedOperation);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}

// --- Crop ---

TEST_F(GeometryTest, CropProposesTheDragAndCutsEveryChannelAndTheMask) {
  Make(v, 60, 50, true);
  v.dragStart = {30, 40};
  v.dragEnd = {10, 20};
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.title, "Crop");
    EXPECT_EQ(d.prompt,
              "\nEnter:\nlower left corner coordinate,\nlower right corner coordinate,\nwidth, "
              "height");
    EXPECT_EQ(d.text, "    10.00,    20.00,    21.00,    21.00");
    d.text = "10.7, 20, 21, 21";
    return DialogResult::Ok;
  });
  v.panX = 5;
  v.Dispatch(CommandId::Crop);
  const fpbuffer& f = v.currentLayer();
  ASSERT_EQ(f.width, 21);
  ASSERT_EQ(f.height, 21);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x) {
      ASSERT_EQ(f.plane[1].z[y][x], Tag(1, x + 10, y + 20));
      ASSERT_EQ(f.mask.get(x, y), (x + y) % 2 == 0);
    }
  EXPECT_EQ(v.panX, 0);
  EXPECT_EQ(v.currentBitmap().width(), 21);
  EXPECT_EQ(v.dragEnd.x, 30);  // the accepted values are the rectangle now
}

TEST_F(GeometryTest, CropRefusesRectanglesOutsideTheImageAndAsksAgain) {
  Make(v, 60, 50);
  const std::string before = Bytes(v.currentLayer());
  for (const char* entry :
       {"50, 0, 11, 5", "0, 0, 0, 5", "0, 0, 5, -3", "-1, 0, 5, 5", "0, 40, 5, 11"}) {
    SCOPED_TRACE(entry);
    ui.ExpectPrompt(Enter(entry));
    ui.ExpectMessage("Out of Bounds.");
    ui.ExpectPrompt(CancelPrompt());
    v.Dispatch(CommandId::Crop);
    EXPECT_EQ(ui.messages.back().caption, "Crop");
    EXPECT_EQ(Bytes(v.currentLayer()), before);
  }
  // The prompt comes back with the entered values truncated.
  ui.ExpectPrompt(Enter("59.9, 1.5, 2.2, 3"));
  ui.ExpectMessage("Out of Bounds.");
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.text, "    59.00,     1.00,     2.00,     3.00");
    d.text = "58, 1, 2, 3";
    return DialogResult::Ok;
  });
  v.Dispatch(CommandId::Crop);
  EXPECT_EQ(v.currentLayer().width, 2);
  EXPECT_EQ(v.currentLayer().plane[0].z[0][0], Tag(0, 58, 1));
}

TEST_F(GeometryTest, CropOfTwoLayersNeedsLayersOfOneSize) {
  for (int otherWidth : {60, 61}) {
    SCOPED_TRACE(otherWidth);
    Make(v, 60, 50, false, 0);
    Make(v, otherWidth, 50, false, 1);
    v.cropBothLayers = true;
    v.dragStart = {5, 6};
    v.dragEnd = {24, 25};
    ui.ExpectPrompt(Enter("5, 6, 20, 20"));
    v.Dispatch(CommandId::Crop);
    EXPECT_EQ(v.layers[0].width, 20);
    EXPECT_EQ(v.layers[1].width, otherWidth == 60 ? 20 : otherWidth);
    if (otherWidth == 60) {
      EXPECT_EQ(v.layers[1].plane[0].z[0][0], Tag(0, 5, 6));
      EXPECT_EQ(v.bitmaps[1].width(), 20);
    }
  }
}

TEST_F(GeometryTest, CropUnderF2UsesTheRectangleAndSkipsOneThatLeavesTheImage) {
  Make(v, 60, 50);
  v.dragStart = {2, 3};
  v.dragEnd = {11, 12};
  F2(CommandId::Crop);
  EXPECT_EQ(v.currentLayer().width, 10);
  EXPECT_EQ(v.currentLayer().plane[0].z[0][0], Tag(0, 2, 3));
  // A corner outside the 10 x 10 result, either of them: nothing happens.
  const std::string before = Bytes(v.currentLayer());
  for (const Point corner : {Point{12, 3}, Point{-1, 0}}) {
    v.dragStart = {1, 1};
    v.dragEnd = corner;
    v.Dispatch(CommandId::F2ProgrammedOperation);
    EXPECT_EQ(Bytes(v.currentLayer()), before);
    std::swap(v.dragStart, v.dragEnd);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    EXPECT_EQ(Bytes(v.currentLayer()), before);
  }
  v.dragStart = {1, 1};  // inside: cropped
  v.dragEnd = {4, 5};
  v.Dispatch(CommandId::F2ProgrammedOperation);
  EXPECT_EQ(v.currentLayer().width, 4);
}

TEST_F(GeometryTest, TheRightButtonDragCropsThroughTheSameCrop) {
  Make(v, 60, 50, false, 0);
  Make(v, 60, 50, false, 1);
  v.cropBothLayers = true;
  v.dragStart = {10, 20};
  v.dragEnd = {30, 40};
  CropLayers(v, 10, 20, 21, 21);
  EXPECT_EQ(v.layers[0].width, 21);
  EXPECT_EQ(v.layers[1].height, 21);
  EXPECT_EQ(v.layers[1].plane[2].z[0][0], Tag(2, 10, 20));
}

// --- Create Blank Image ---

TEST_F(GeometryTest, BlankImageHoldsTheColourInTheImagesSpaceAndAnEmptyMask) {
  Make(v, 8, 6, true);
  v.currentLayer().convert(cspace::kHSV | 7);
  GeometryParams& p = LiveSettings().geometry;
  p.blankWidth = 8;  // the same size and code: every old value must still go
  p.blankHeight = 6;
  p.blankRed = 255;
  p.blankGreen = 0;
  p.blankBlue = 0;
  v.Dispatch(CommandId::CreateBlankImage);
  const fpbuffer& f = v.currentLayer();
  const fpixel4 red = f.colourfromrgb(255, 0, 0);
  const fpixel hsv = FindColourSpace(cspace::kHSV | 7)->fromrgb(fpixel(255, 0, 0));
  EXPECT_EQ(red.x, hsv.x);
  for (int k = 0; k < f.n; ++k) {
    ASSERT_EQ(f.plane[0].x[k], hsv.x);
    ASSERT_EQ(f.plane[1].x[k], hsv.y);
    ASSERT_EQ(f.plane[2].x[k], hsv.z);
  }
  ASSERT_TRUE(f.mask.present());
  int count, x, y, w, h;
  f.mask.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 0);
  p.blankWidth = 3;
  p.blankHeight = 1;
  v.Dispatch(CommandId::CreateBlankImage);
  EXPECT_EQ(v.currentLayer().width, 3);
  EXPECT_EQ(v.currentBitmap().height(), 1);
}

TEST_F(GeometryTest, ABlankImageTooLargeOrEmptyIsRefusedAndTheImageKept) {
  Make(v, 8, 6, true);
  const std::string before = Bytes(v.currentLayer());
  GeometryParams& p = LiveSettings().geometry;
  p.blankWidth = 100000;
  p.blankHeight = 100000;
  ui.ExpectMessageStartingWith("Not enough memory for a blank image of 100000 x 100000 pixels.");
  v.Dispatch(CommandId::CreateBlankImage);
  p.blankWidth = 20000;  // 400 million pixels fit an int, not this machine's memory
  p.blankHeight = 20000;
  platform.memory.availPhys = uint64_t{1} << 30;
  ui.ExpectMessageStartingWith("Not enough memory for a blank image of 20000 x 20000 pixels.");
  v.Dispatch(CommandId::CreateBlankImage);
  p.blankWidth = 0;
  ui.ExpectMessageStartingWith("Cannot create a blank image of 0 x 20000 pixels!");
  v.Dispatch(CommandId::CreateBlankImage);
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}
