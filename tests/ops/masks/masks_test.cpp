#include <string>
#include <vector>

#include "app/flags.h"
#include "ops/basic/basic_fixture.h"

namespace {
using Id = CommandId;
const Id F2 = Id::F2ProgrammedOperation, F3 = Id::F3ProgrammedOperation;

class MasksTest : public BasicTest {
 protected:
  bitmask& Mask() { return v.currentLayer().mask; }
  std::vector<int> SetBits() {
    std::vector<int> k;
    for (int i = 0; i < Mask().n; ++i) {
      if (Mask().getbit(i)) k.push_back(i);
    }
    return k;
  }
  // A w x h RGB image of zeros.
  void Blank(int w, int h) {
    Make(w, h, 0x17, [](int, int) { return 0.0f; });
  }
};
}  // namespace

TEST_F(MasksTest, CreateTogglesAndInvertWithoutAMaskSelectsEverything) {
  Blank(5, 3);
  v.showUnmaskedArea = false;
  v.Dispatch(Id::CreateMask);
  EXPECT_TRUE(Mask().covers(5, 3));
  EXPECT_TRUE(SetBits().empty());
  EXPECT_STREQ(v.maskCaption, "Mask( On)");
  EXPECT_TRUE(v.showUnmaskedArea);
  v.Dispatch(Id::CreateMask);
  EXPECT_FALSE(Mask().present());
  EXPECT_STREQ(v.maskCaption, "Mask(Off)");
  EXPECT_FALSE(v.showUnmaskedArea);

  v.Dispatch(Id::InvertMask);
  EXPECT_EQ(SetBits().size(), 15u);
  EXPECT_STREQ(v.maskCaption, "Mask( On)");

  // Ctrl only selects.
  Flags().CtrlHeld = true;
  v.Dispatch(Id::Erode);
  EXPECT_EQ(v.f2OperationId, int(Id::Erode));
  EXPECT_EQ(SetBits().size(), 15u);
  Flags().CtrlHeld = false;
  Mask().invert();
  Mask().set(2, 1, true);
  v.Dispatch(Id::Erode);
  EXPECT_EQ(SetBits(), (std::vector<int>{1, 2, 3, 6, 7, 8, 11, 12, 13}));
  v.Dispatch(Id::EdgeToBorder);
  EXPECT_EQ(SetBits(), (std::vector<int>{6, 8}));
}

TEST_F(MasksTest, ClearSetSelectsFromTheMenuAndSetsOrClearsWithF2F3) {
  Blank(33, 2);
  v.showUnmaskedArea = false;
  v.Dispatch(Id::ClearSetMask);
  EXPECT_EQ(v.f2OperationId, int(Id::ClearSetMask));
  EXPECT_TRUE(Mask().covers(33, 2));
  EXPECT_TRUE(v.showUnmaskedArea);
  EXPECT_TRUE(SetBits().empty());
  v.Dispatch(F2);
  EXPECT_EQ(SetBits().size(), 66u);
  EXPECT_EQ(Mask().bits[2], 0x3u) << "no bit past the last pixel";
  v.Dispatch(F3);
  EXPECT_TRUE(SetBits().empty());
}

TEST_F(MasksTest, MaskByColorWalksTheToleranceAndKeepsOrClearsOldBits) {
  // Pixel 0 lies 25/255 from the queue colour, pixel 1 26/255, pixel 2 far away.
  const std::vector<std::vector<float>> px = {{120, 90, 125}, {126, 100, 100}, {0, 0, 0}};
  Make(3, 1, 0x17, [&](int c, int k) { return px[size_t(k)][size_t(c)]; });
  v.queueColours[0] = {100, 100, 100, 0};
  MaskParams& p = LiveSettings().mask;
  p.colorTolerance = 0.09f;
  p.colorToleranceIncrement = 0.01f;
  p.queueColors = 1;
  p.colorNorm = 0;
  v.Dispatch(Id::MaskByColor);  // the page passes without automatic query
  EXPECT_EQ(v.f2OperationId, int(Id::MaskByColor));
  EXPECT_FALSE(Mask().present());

  v.Dispatch(Id::CreateMask);
  Mask().set(2, 0, true);
  v.SelectOperation(Id::MaskByColor, true);
  v.Dispatch(F2);
  EXPECT_FLOAT_EQ(p.colorTolerance, 0.1f);
  EXPECT_EQ(SetBits(), (std::vector<int>{0, 2}));
  v.Dispatch(F3);
  EXPECT_FLOAT_EQ(p.colorTolerance, 0.09f);
  EXPECT_TRUE(SetBits().empty());

  struct Case {
    const char* name;
    int norm;
    float t;
    CSpaceCode code;
    std::vector<int> marked;
  };
  // L1 sums 55/255 and 26/255 against 3t; with green alone (10/255, 0) the norm is not
  // looked at.
  const Case cases[] = {{"L1", 1, 0.07f, 0x17, {1}},
                        {"L2", 2, 0.1f, 0x17, {0, 1}},
                        {"green alone", 7, 0.05f, 0x12, {0, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    v.currentLayer().code = c.code;
    p.colorNorm = c.norm;
    p.colorTolerance = c.t + p.colorToleranceIncrement;
    v.Dispatch(F3);  // clears, then marks with t
    EXPECT_EQ(SetBits(), c.marked);
  }
}

TEST_F(MasksTest, TenMaskByColorPressesRecordOneStepReplayedWithTheToleranceReached) {
  std::vector<float> values;
  for (int k = 0; k < 40; ++k) values.push_back(float(k) * 6);  // 0 .. 234
  MakeRow(values);
  v.queueColours[0] = {0, 0, 0, 0};
  MaskParams& p = LiveSettings().mask;
  p.colorTolerance = 0.05f;
  p.colorToleranceIncrement = 0.05f;
  p.queueColors = 1;
  p.colorNorm = 0;
  Flags().Recording = true;
  LiveSettings().program.stepCount = 0;
  v.SelectOperation(Id::MaskByColor, true);
  for (int i = 0; i < 10; ++i) v.Dispatch(F2);
  Flags().Recording = false;
  EXPECT_EQ(LiveSettings().program.stepCount, 1);
  const std::vector<int> recorded = SetBits();
  EXPECT_EQ(recorded.size(), 24u);  // values up to 0.55 * 255

  p.colorTolerance = 0.05f;
  Mask().free();
  v.Dispatch(Id::RunProgram);
  EXPECT_EQ(SetBits(), recorded);
}

TEST_F(MasksTest, MaskByEdgeDetectionWalksTheToleranceDownWithF2AndMarksAfresh) {
  // Red rises by 10 a column: every interior pixel has a Sobel gradient of exactly 80 and
  // a Prewitt one of 60.
  Make(5, 4, 0x17, [](int c, int k) { return c == 0 ? 10.0f * float(k % 5) : 0.0f; });
  const std::vector<int> interior = {6, 7, 8, 11, 12, 13};
  MaskParams& p = LiveSettings().mask;
  p.edgeToleranceIncrement = 1;
  v.showUnmaskedArea = false;
  Flags().CtrlHeld = true;
  v.Dispatch(Id::MaskByEdgeDetection);  // the page passes without automatic query
  EXPECT_FALSE(Flags().CtrlHeld);
  EXPECT_EQ(v.f2OperationId, int(Id::MaskByEdgeDetection));
  EXPECT_TRUE(v.showUnmaskedArea);
  EXPECT_FALSE(Mask().present());

  struct Case {
    const char* name;
    Id key;
    float before;  // F2 lowers it by 1, F3 raises it by 1
    int type;
    CSpaceCode code;
    bool cond;
    std::vector<int> marked;
  };
  const Case cases[] = {
      {"Sobel at 20 marks 80", F2, 21, 0, 0x17, true, interior},
      {"Sobel at 20.25 does not", F3, 19.25f, 0, 0x17, true, {}},
      {"Prewitt at 20 marks 60", F2, 21, 1, 0x17, true, interior},
      {"Prewitt at 20.25 does not", F3, 19.25f, 1, 0x17, true, {}},
      {"Cond on leaves hidden red out", F2, 21, 0, 0x16, true, {}},
      {"Cond off takes every channel", F2, 21, 0, 0x16, false, interior},
      {"an unknown type marks nothing", F2, 21, 7, 0x17, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    v.currentLayer().code = c.code;
    LiveSettings().conditional = c.cond;
    p.edgeDetectionType = c.type;
    p.edgeTolerance = c.before;
    Mask().free();
    v.Dispatch(c.key);
    EXPECT_FLOAT_EQ(p.edgeTolerance, c.key == F2 ? c.before - 1 : c.before + 1);
    ASSERT_TRUE(Mask().covers(5, 4));
    EXPECT_STREQ(v.maskCaption, "Mask( On)");
    EXPECT_EQ(SetBits(), c.marked);
    Mask().set(0, 0, true);  // an old bit the next marking drops
  }
  EXPECT_EQ(v.currentLayer().plane[0].x[3], 30.0f) << "the image is left alone";
}

TEST_F(MasksTest, MaskByEdgeDetectionLoGMarksTheZeroCrossingOfAStep) {
  // A step of 100 between columns 7 and 8 in every channel.
  Make(16, 6, 0x17, [](int, int k) { return k % 16 >= 8 ? 100.0f : 0.0f; });
  std::vector<int> step;
  for (int y = 1; y < 5; ++y) step.insert(step.end(), {7 + 16 * y, 8 + 16 * y});
  MaskParams& p = LiveSettings().mask;
  p.edgeDetectionType = 2;
  p.logStandardDeviation = 1;
  p.edgeToleranceIncrement = 1;
  for (const bool zeroMean : {true, false}) {
    SCOPED_TRACE(zeroMean ? "zero mean" : "plain");
    p.zeroNormalization = zeroMean;
    p.edgeTolerance = 2;
    Press(Id::MaskByEdgeDetection, F2);
    EXPECT_EQ(SetBits(), step);
    p.edgeTolerance = 1e6f;
    v.Dispatch(F3);  // far above any response: the old marks go and none come
    EXPECT_TRUE(SetBits().empty());
  }
}

TEST_F(MasksTest, MaskByEdgeDetectionPressesRecordOneStepReplayedWithTheToleranceReached) {
  // Column steps of 1, 2, .., 7 between neighbours: Sobel gives 4 (2x + 1) at column x,
  // so tolerance t marks the columns with 2x + 1 >= t.
  std::vector<float> row = {0};
  for (int i = 1; i < 8; ++i) row.push_back(row.back() + float(i));
  Make(8, 3, 0x17, [&](int, int k) { return row[size_t(k % 8)]; });
  MaskParams& p = LiveSettings().mask;
  p.edgeDetectionType = 0;
  p.edgeTolerance = 13;
  p.edgeToleranceIncrement = 1;
  Flags().Recording = true;
  LiveSettings().program.stepCount = 0;
  v.SelectOperation(Id::MaskByEdgeDetection, true);
  for (int i = 0; i < 6; ++i) v.Dispatch(F2);
  Flags().Recording = false;
  EXPECT_EQ(LiveSettings().program.stepCount, 1);
  EXPECT_FLOAT_EQ(p.edgeTolerance, 7);
  const std::vector<int> recorded = SetBits();
  EXPECT_EQ(recorded, (std::vector<int>{11, 12, 13, 14}));

  p.edgeTolerance = 13;  // would mark column 6 alone
  Mask().free();
  v.Dispatch(Id::RunProgram);
  EXPECT_EQ(SetBits(), recorded);
}

TEST_F(MasksTest, FloodFillFromTheNewestQueuePoint) {
  Blank(6, 3);
  v.Dispatch(Id::FloodFill);
  EXPECT_EQ(v.f2OperationId, int(Id::FloodFill));
  EXPECT_FALSE(Mask().present());
  v.Dispatch(Id::CreateMask);
  for (int y = 0; y < 3; ++y) Mask().set(3, y, true);  // a wall at column 3
  v.queuePoints[0] = {1, 2};
  v.Dispatch(F2);
  EXPECT_EQ(SetBits(), (std::vector<int>{0, 1, 2, 3, 6, 7, 8, 9, 12, 13, 14, 15}));
  v.queuePoints[0] = {3, 0};
  v.Dispatch(F3);
  EXPECT_TRUE(SetBits().empty());
}

TEST_F(MasksTest, DrawingsMakeTheMaskAndAddToIt) {
  Blank(10, 20);
  v.showUnmaskedArea = false;
  v.Dispatch(Id::DrawBarPattern);  // defaults: width 2, spacing 8, offset -1, from the top
  ASSERT_TRUE(Mask().covers(10, 20));
  EXPECT_TRUE(v.showUnmaskedArea);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool row = y == 19 || y == 11 || y == 12 || y == 3 || y == 4;
      const bool column = x == 0 || x == 7 || x == 8;
      EXPECT_EQ(Mask().get(x, y), row || column) << x << "," << y;
    }
  }

  Mask().free();
  v.queuePoints[2] = {1, 10};
  v.queuePoints[1] = {9, 10};
  v.queuePoints[0] = {5, 12};
  v.Dispatch(Id::DrawEllipse);
  EXPECT_FALSE(Mask().present()) << "the menu only selects";
  v.Dispatch(F2);
  ASSERT_TRUE(Mask().present());
  for (const auto& [x, y] : {std::pair{1, 10}, {9, 10}, {5, 12}, {5, 8}}) {
    EXPECT_TRUE(Mask().get(x, y)) << x << "," << y;
  }
  EXPECT_FALSE(Mask().get(5, 10));
  v.Dispatch(F3);
  EXPECT_TRUE(SetBits().empty());

  v.SelectOperation(Id::DrawLine, true);
  v.queuePoints[0] = {0, 0};
  v.queuePoints[1] = {-5, 5};  // outside the image: the inside part alone is drawn
  v.Dispatch(F2);
  EXPECT_EQ(SetBits(), (std::vector<int>{0}));
}

TEST_F(MasksTest, ShowFlagsExcludeEachOther) {
  Blank(2, 2);
  v.Dispatch(Id::CreateMask);
  v.normalView = false;
  v.Dispatch(Id::ShowMaskedArea);
  EXPECT_TRUE(v.showMaskedArea);
  EXPECT_FALSE(v.showUnmaskedArea);
  EXPECT_TRUE(v.normalView);
  v.Dispatch(Id::ShowUnmaskedArea);
  EXPECT_FALSE(v.showMaskedArea);
  EXPECT_TRUE(v.showUnmaskedArea);
  v.Dispatch(Id::ShowUnmaskedArea);
  EXPECT_FALSE(v.showMaskedArea || v.showUnmaskedArea);
}

TEST_F(MasksTest, CombinationsWithTheOtherLayerAndTheSelection) {
  Blank(4, 1);
  v.layers[1].dim(4, 1, 0x17);
  v.bitmaps[1] = DisplayBitmap(4, 1);
  bitmask& other = v.layers[1].mask;
  other.dim(4, 1);
  other.set(0, 0, true), other.set(1, 0, true);
  struct Case {
    const char* name;
    Id op;
    bool selection;
    std::vector<int> bits;
  };
  // Current mask holds pixels 1 and 2; the selection pixels 0 and 2.
  const Case cases[] = {{"or", Id::MaskOr, false, {0, 1, 2}},
                        {"and", Id::MaskAnd, false, {1}},
                        {"xor", Id::MaskExclusiveOr, false, {0, 2}},
                        {"or, selection", Id::MaskOr, true, {0, 1, 2}},
                        {"xor, selection", Id::MaskExclusiveOr, true, {0, 1, 2}},
                        {"and, selection", Id::MaskAnd, true, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Mask().dim(4, 1);
    Mask().set(0, 0, false), Mask().set(1, 0, true), Mask().set(2, 0, true),
        Mask().set(3, 0, false);
    v.selection.free();
    if (c.selection) {
      v.selection.dim(4, 1);
      v.selection.set(0, 0, true), v.selection.set(2, 0, true);
    }
    v.Dispatch(c.op);
    EXPECT_EQ(SetBits(), c.bits);
  }
  // A selection of another size leaves the mask alone.
  v.selection.free();
  v.selection.dim(2, 2);
  v.selection.set(0, 0, true);
  Mask().set(1, 0, true);
  v.Dispatch(Id::MaskOr);
  EXPECT_EQ(SetBits(), (std::vector<int>{1}));
  v.selection.free();
}

TEST_F(MasksTest, PaintDragsMaskAndUnmaskThePaintedPixels) {
  const int w = 16, h = 12;
  Blank(w, h);
  v.Paint(w, h);  // the window shows the image at its size
  const auto at = [&](int x, int y) { return Point{x, h - 1 - y}; };
  LiveSettings().mask.cursorRadius = 1;
  // The painted pixels: five overlapping 3 x 3 disks from (5, 6) to (9, 6).
  std::vector<int> painted;
  for (int y = 5; y <= 7; ++y) {
    for (int x = 4; x <= 10; ++x) painted.push_back(x + y * w);
  }
  const auto drag = [&](bool middle) {
    v.paintMode = true;
    if (middle) {
      v.OnMiddleButtonDown(at(5, 6));
    } else {
      v.OnRightButtonDown(at(5, 6));
    }
    for (int x = 6; x <= 9; ++x) v.OnMouseMove(at(x, 6));
    if (middle) {
      v.OnMiddleButtonUp(at(9, 6));
    } else {
      v.OnRightButtonUp(at(9, 6));
    }
    EXPECT_FALSE(v.selection.present());
  };
  v.SelectOperation(Id::ClearSetMask, false);
  drag(false);
  EXPECT_EQ(SetBits(), painted);
  v.Dispatch(F2);  // every bit set
  drag(true);
  EXPECT_EQ(SetBits().size(), size_t(w * h) - painted.size());
  for (int k : painted) EXPECT_FALSE(Mask().getbit(k)) << "the middle button unmasks " << k;

  // Or from a drag adds the other layer's bits under the painted pixels alone.
  Mask().free();
  Mask().dim(w, h);
  v.layers[1].dim(w, h, 0x17);
  v.bitmaps[1] = DisplayBitmap(w, h);
  v.layers[1].mask.dim(w, h);
  v.layers[1].mask.invert();
  v.SelectOperation(Id::MaskOr, false);
  drag(false);
  EXPECT_EQ(SetBits(), painted);
}
