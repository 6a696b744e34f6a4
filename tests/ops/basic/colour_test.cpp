#include <cmath>
#include <string>
#include <vector>

#include "basic_fixture.h"
#include "image/colorspace.h"
#include "image/pixel.h"
#include "ops/basic/basic.h"

namespace {
using Id = CommandId;
using Colour = std::array<float, 4>;

class ColourTest : public BasicTest {
 protected:
  void ExpectColour(const Colour& got, const Colour& want, float tolerance = 1e-3f) {
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], tolerance) << "component " << i;
  }
};
}  // namespace

// The colour memory follows the image through every change of space, through RGB.
TEST_F(ColourTest, ColourMemoryRoundTrip) {
  Make(2, 2, 0x17, [](int c, int k) { return float(40 * k + 30 * c + 5); });
  v.layers[1].dim(2, 2, 0x17);
  const Colour current{200, 100, 50, 0};
  const Colour queue[5] = {{10, 20, 30, 0},
                           {255, 0, 0, 0},
                           {0, 255, 128, 0},
                           {12.5f, 12.5f, 12.5f, 0},
                           {90, 180, 45, 0}};
  v.currentColour = current;
  for (int k = 4; k >= 0; --k)
    v.PushColorQueue(k, 10 * k, queue[k][0], queue[k][1], queue[k][2], 0);
  const auto points = v.queuePoints;

  v.Dispatch(Id::Hsv);
  EXPECT_EQ(v.currentLayer().code, 0x207u);
  EXPECT_EQ(v.layers[1].code, 0x207u);
  const fpixel hsv = fpixel::rgbtohsv(fpixel(200, 100, 50));
  ExpectColour(v.currentColour, {hsv.x, hsv.y, hsv.z, 0});
  v.Dispatch(Id::YCbCr);
  v.Dispatch(Id::Rgb);
  EXPECT_EQ(v.currentLayer().code, 0x17u);
  ExpectColour(v.currentColour, current);
  for (int k = 0; k < 5; ++k) ExpectColour(v.queueColours[size_t(k)], queue[k]);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(v.queuePoints[size_t(k)].x, points[size_t(k)].x);
    EXPECT_EQ(v.queuePoints[size_t(k)].y, points[size_t(k)].y);
  }
  EXPECT_NEAR(At(1, 3), 155.0f, 1e-3);
}

// A change of space is neither a completion (no time, no repaint) nor a page; Ctrl with
// a GammaX space opens the Miscellaneous page on its gamma row, and selects on OK.
TEST_F(ColourTest, GammaSpacesAndWhatAChangeDoesNot) {
  MakeRow({64, 128});
  host.histogramVisible = true;
  LiveSettings().gamma.colorSpaceGamma = 2;
  v.Dispatch(Id::RgbGammaX);
  EXPECT_EQ(v.currentLayer().code, cspace::kRGBX | 7);
  EXPECT_EQ(host.histogramRefreshes, 1);
  EXPECT_EQ(host.invalidated, 0);
  EXPECT_TRUE(v.elapsedText.empty());
  v.Dispatch(Id::Rgb);
  EXPECT_NEAR(At(0, 1), 128.0f, 1e-3);

  LiveSettings().autoQuery = 1;
  Flags().CtrlHeld = true;
  ui.ExpectProperties([](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), 93);
    EXPECT_EQ(d.FocusRow(), 5);
    return DialogResult::Cancel;
  });
  v.Dispatch(Id::YCbCrGammaX);
  EXPECT_FALSE(Flags().CtrlHeld);
  EXPECT_EQ(v.currentLayer().code, 0x17u);
  Flags().CtrlHeld = true;
  ui.ExpectProperties(TypeAndOk(93));
  v.Dispatch(Id::YCbCrGammaX);
  EXPECT_EQ(v.f2OperationId, int(Id::YCbCrGammaX));
  EXPECT_EQ(v.currentLayer().code, 0x17u);
}

TEST_F(ColourTest, ChannelTogglesCopyLayerOnesWord) {
  MakeRow({1});
  v.layers[1].dim(1, 1, 0x17);
  v.Dispatch(Id::XChannel);
  EXPECT_EQ(v.layers[0].code, 0x16u);
  EXPECT_EQ(v.layers[1].code, 0x16u);
  EXPECT_EQ(host.popdowns, (std::vector<int>{2}));
  v.Dispatch(Id::KeypadChannelX);  // the keypad does not open the menu
  EXPECT_EQ(v.layers[0].code, 0x17u);
  EXPECT_EQ(host.popdowns.size(), 1u);

  // An empty window: layer 1's bit stays, layer 2 still takes its word.
  CImageView empty(&host);
  empty.layers[0].clear(true);
  empty.layers[1].clear(true);
  empty.layers[1].code = 0x13;
  OnChannelToggle(empty, int(Id::XChannel));
  EXPECT_EQ(empty.layers[0].code, 0x17u);
  EXPECT_EQ(empty.layers[1].code, 0x17u);
}

TEST_F(ColourTest, RotateMovesXToYToZ) {
  Make(2, 1, 0x17, [](int c, int k) { return float(10 * c + k); });
  v.Dispatch(Id::RotateXyz);
  EXPECT_EQ(Channel(0), (std::vector<float>{20, 21}));
  EXPECT_EQ(Channel(1), (std::vector<float>{0, 1}));
  EXPECT_EQ(Channel(2), (std::vector<float>{10, 11}));
}

TEST_F(ColourTest, EnterColoursAndTheQueue) {
  // Channel 1 hidden, Cond on, an image mask over pixels 1 and 2, no selection.
  LiveSettings().conditional = 1;
  Make(4, 1, 0x15, [](int c, int k) { return float(k * 10 + c); });
  v.currentLayer().mask.dim(4, 1);
  v.currentLayer().mask.setbit(1, true);
  v.currentLayer().mask.setbit(2, true);
  v.PushColorQueue(3, 4, 0, 0, 0, 0);
  v.Dispatch(Id::EnterAverageColor);
  ExpectColour(v.currentColour, {15, 0, 17, 0}, 0);
  EXPECT_EQ(host.popdowns.back(), 3);
  v.Dispatch(Id::EnterAverageColor);
  EXPECT_EQ(v.queuePoints[0].x, 3);
  EXPECT_EQ(v.queuePoints[1].x, 3);
  EXPECT_EQ(v.queuePoints[1].y, 4);
  ExpectColour(v.queueColours[1], {15, 0, 17, 0}, 0);

  // Without the mask: every pixel; a selection that misses every pixel: 0.
  LiveSettings().conditional = 0;
  v.currentLayer().mask.free();
  v.Dispatch(Id::EnterAverageColor);
  ExpectColour(v.currentColour, {15, 16, 17, 0}, 0);
  v.selection.dim(4, 1);
  v.Dispatch(Id::EnterAverageColor);
  ExpectColour(v.currentColour, {0, 0, 0, 0}, 0);

  // Median and WMMR over a selection whose intersection with the image mask is empty.
  LiveSettings().conditional = 1;
  v.currentLayer().mask.dim(4, 1);
  v.currentLayer().mask.setbit(0, true);
  v.selection.setbit(3, true);
  v.Dispatch(Id::EnterMedianColor);
  ExpectColour(v.currentColour, {0, 0, 0, 0}, 0);
  v.selection.free();
  v.currentLayer().mask.free();
  v.Dispatch(Id::EnterMedianColor);
  ExpectColour(v.currentColour, {15, 0, 17, 0}, 0);
  Make(5, 1, 0x17, [](int, int k) { return std::vector<float>{1, 2, 3, 50, 60}[size_t(k)]; });
  v.Dispatch(Id::EnterWmmrColor);
  EXPECT_EQ(v.currentColour[0], 2);

  // The sixth push drops the oldest entry.
  for (int k = 0; k < 6; ++k) v.PushColorQueue(k, 0, float(k), 0, 0, 0);
  EXPECT_EQ(v.queuePoints[4].x, 1);
  EXPECT_EQ(v.queueColours[0][0], 5);
}

TEST_F(ColourTest, QueueEntryPrompts) {
  MakeRow({1, 2});
  v.PushColorQueue(5, 6, 1, 2, 3, 0);
  v.PushColorQueue(7, 8, 4, 5, 6, 0);

  Flags().ShiftHeld = true;
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.title, "Indices");
    EXPECT_EQ(d.prompt, "\n\nEnter indices (i,j):");
    EXPECT_EQ(d.text, "     5.00,     6.00");
    d.text = "12.9, 7.2";
    return DialogResult::Ok;
  });
  v.Dispatch(Id::PointColor2);
  EXPECT_EQ(v.queueIndex, 1);
  EXPECT_EQ(v.currentPoint.x, 12);
  EXPECT_EQ(v.currentPoint.y, 7);
  EXPECT_EQ(v.queuePoints[1].x, 12);
  EXPECT_FALSE(Flags().ShiftHeld);

  // Ctrl+Shift: the colour first, then the point; a cancelled colour asks nothing more.
  Flags().CtrlHeld = Flags().ShiftHeld = true;
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.title, "Pixel Color");
    EXPECT_EQ(d.prompt, "\n\nEnter X, Y, Z:");
    d.text = "9, 8, 7";
    return DialogResult::Ok;
  });
  ui.ExpectPrompt(Enter("-3.7, 1e30"));
  v.Dispatch(Id::PointColor1);
  ExpectColour(v.queueColours[0], {9, 8, 7, 0}, 0);
  ExpectColour(v.currentColour, {9, 8, 7, 0}, 0);
  EXPECT_EQ(v.queuePoints[0].x, -3);
  EXPECT_EQ(v.queuePoints[0].y, 2147483647);

  Flags().CtrlHeld = Flags().ShiftHeld = true;
  ui.ExpectPrompt(CancelPrompt());
  v.Dispatch(Id::PointColor2);
  EXPECT_EQ(v.queueIndex, 1);
  ExpectColour(v.currentColour, {1, 2, 3, 0}, 0);
}

TEST_F(ColourTest, FillAddAndBlendWithTheCurrentColour) {
  Make(3, 1, 0x17, [](int c, int k) { return float(10 * k + c); });
  v.selection.dim(3, 1);
  v.selection.setbit(2, true);
  v.currentColour = {100, 200, 50, 0};
  v.Dispatch(Id::SetImageToColor);
  EXPECT_EQ(Channel(0), (std::vector<float>{0, 10, 100}));
  EXPECT_EQ(Channel(1), (std::vector<float>{1, 11, 200}));
  v.selection.free();

  LiveSettings().basic.addSubtractColorCoefficient = 0.5f;
  Press(Id::AddSubtractColor, Id::F2ProgrammedOperation);
  EXPECT_EQ(Channel(2), (std::vector<float>{27, 37, 75}));
  v.Dispatch(Id::ShiftF3);  // ten times the coefficient
  EXPECT_EQ(Channel(2), (std::vector<float>{-223, -213, -175}));

  // Interpolate 0.5 and back; with g = 1 F2 paints the colour and F3 does nothing.
  Make(3, 1, 0x17, [](int c, int k) { return float(10 * k + c); });
  const std::vector<float> before = Channel(1);
  LiveSettings().basic.interpolateColorCoefficient = 0.5f;
  Press(Id::InterpolateExtrapolateColor, Id::F2ProgrammedOperation);
  EXPECT_EQ(Channel(1), (std::vector<float>{100.5f, 105.5f, 110.5f}));
  v.Dispatch(Id::F3ProgrammedOperation);
  EXPECT_EQ(Channel(1), before);
  LiveSettings().basic.interpolateColorCoefficient = 1;
  v.Dispatch(Id::F2ProgrammedOperation);
  EXPECT_EQ(Channel(1), (std::vector<float>{200, 200, 200}));
  v.Dispatch(Id::F3ProgrammedOperation);
  EXPECT_EQ(Channel(1), (std::vector<float>{200, 200, 200}));

  // From the menu: the page, then the selection; nothing runs.
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(15, {{1, "0.25"}}));
  v.Dispatch(Id::InterpolateExtrapolateColor);
  EXPECT_EQ(Channel(1), (std::vector<float>{200, 200, 200}));
  EXPECT_FLOAT_EQ(LiveSettings().basic.interpolateColorCoefficient, 0.25f);
  ui.ExpectProperties(CancelOn(14));
  v.Dispatch(Id::AddSubtractColor);
  EXPECT_EQ(v.f2OperationId, int(Id::InterpolateExtrapolateColor));
}
