#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/flags.h"
#include "numeric/dmatrix.h"
#include "ops/basic/basic_fixture.h"

namespace {
using Id = CommandId;
const Id F2 = Id::F2ProgrammedOperation, F3 = Id::F3ProgrammedOperation;
const char* const kPink = "Try again.\n\nYou must eliminate pink parts of curve.";

// Everything of a layer that must come back from the editor unchanged.
struct LayerBytes {
  int width = 0, height = 0, channels = 0;
  CSpaceCode code = 0;
  std::vector<float> values;
  std::vector<uint8_t> bitmap;
  bool operator==(const LayerBytes&) const = default;
};

class CurveTest : public BasicTest {
 protected:
  void SetUp() override {
    BasicTest::SetUp();
    BasicParams& p = Params();
    p.presetFunction = 0;  // the control values are set by each test
    p.directlyUsePresetFunction = 0;
    p.forHdr = 0;
  }
  static BasicParams& Params() { return LiveSettings().basic; }

  // A small RGB image whose display bitmap shows it.
  void Picture(CImageView& w, int layer, float offset) {
    fpbuffer& f = w.layers[size_t(layer)];
    f.dim(4, 3, 0x17);
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = offset + float(20 * k + 7 * c);
    w.bitmaps[size_t(layer)] = DisplayBitmap(4, 3);
    f.todib(w.bitmaps[size_t(layer)].toprow(), nullptr);
  }
  static LayerBytes Bytes(CImageView& w, int layer) {
    LayerBytes b;
    const fpbuffer& f = w.layers[size_t(layer)];
    b.width = f.width;
    b.height = f.height;
    b.channels = f.channels;
    b.code = f.code;
    for (int c = 0; c < f.channels; ++c)
      b.values.insert(b.values.end(), f.plane[c].x, f.plane[c].x + f.n);
    const DisplayBitmap& d = w.bitmaps[size_t(layer)];
    if (!d.empty()) b.bitmap.assign(d.data(), d.data() + d.bytes());
    return b;
  }
  void SetCurve(int m, const std::vector<float>& values) {
    Params().lookupElements = m;
    Params().controlPoints = int(values.size());
    for (size_t j = 0; j < values.size(); ++j) Params().curveValues[j] = values[j];
  }
  // The colour of the editor's pixel (x, y), row 0 at the bottom, as 0xRRGGBB.
  uint32_t Pixel(int x, int y) {
    const uint8_t* p = v.bitmaps[size_t(v.curveEditor.layer)].row(y) + 3 * x;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  static uint32_t Rgb(const uint8_t (&c)[3]) {
    return uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
  }
  bool AnyPixel(uint32_t colour) {
    const int m = v.bitmaps[size_t(v.curveEditor.layer)].width();
    for (int y = 0; y < m; ++y)
      for (int x = 0; x < m; ++x)
        if (Pixel(x, y) == colour) return true;
    return false;
  }
  // A left-button drag in the editor shown at its size, from (x, y) through the rows given.
  void Drag(int x, int y, const std::vector<int>& rows) {
    const int m = v.currentBitmap().width();
    v.Paint(m, m);
    const auto at = [m](int px, int py) { return Point{px, m - 1 - py}; };
    v.OnLeftButtonDown(at(x, y));
    for (int r : rows) v.OnMouseMove(at(x, r));
    v.OnLeftButtonUp(at(x, rows.back()));
  }
};
}  // namespace

TEST_F(CurveTest, OpeningParksTheImageAndDrawsTheGraphClosingBringsItBack) {
  Picture(v, 0, 0);
  const LayerBytes before = Bytes(v, 0);
  BasicParams& p = Params();
  p.presetFunction = 2;  // X^C
  p.presetParameter = 2;
  p.lookupElements = 601;
  for (const int c : {5, 7}) {
    SCOPED_TRACE(c);
    p.controlPoints = c;
    v.Dispatch(Id::CustomCurve);  // the page passes without automatic query
    ASSERT_TRUE(v.curveEditor.fitted);
    EXPECT_FALSE(v.HasFloat());
    ASSERT_EQ(v.currentBitmap().width(), 601);
    ASSERT_EQ(v.currentBitmap().height(), 601);
    for (int j = 0; j < c; ++j) {
      const double x = double(j) / (c - 1);
      EXPECT_FLOAT_EQ(p.curveValues[j], float(x * x));
      EXPECT_EQ(Pixel(600 * j / (c - 1), 500), Rgb(p.verticalLineColor)) << "column of point " << j;
    }
    if (c == 5) {
      EXPECT_EQ((std::vector<float>(p.curveValues, p.curveValues + 5)),
                (std::vector<float>{0, 0.0625f, 0.25f, 0.5625f, 1}));
    } else {
      // The cross in the middle over the line of point 3, whose handle is at row 150.
      for (const auto& [x, y] :
           {std::pair{300, 300}, {285, 300}, {315, 300}, {300, 285}, {300, 315}})
        EXPECT_EQ(Pixel(x, y), Rgb(p.centerCrossColor)) << x << ", " << y;
      EXPECT_EQ(Pixel(316, 300), Rgb(p.backgroundColor));
      EXPECT_EQ(Pixel(285, 150), Rgb(p.horizontalLineColor));
      EXPECT_EQ(Pixel(315, 150), Rgb(p.horizontalLineColor));
      EXPECT_EQ(Pixel(50, 0), Rgb(p.backgroundColor));
      EXPECT_EQ(Pixel(400, 267), Rgb(p.increasingCurveColor));  // 600 (2/3)^2 = 266.7
      EXPECT_FALSE(AnyPixel(Rgb(p.nonIncreasingCurveColor)));
    }
    v.Dispatch(Id::CustomCurve);  // closes; the apply page passes and selects
    EXPECT_FALSE(v.curveEditor.open());
    EXPECT_EQ(Bytes(v, 0), before);
    EXPECT_EQ(v.f2OperationId, int(Id::ApplyCurve));
  }
}

TEST_F(CurveTest, AFallingCurveIsPinkAndKeepsTheEditorOpenUntilADragLiftsIt) {
  Picture(v, 0, 0);
  const LayerBytes before = Bytes(v, 0);
  BasicParams& p = Params();
  p.middlePointWeight = 10;  // the fit keeps close to the points
  SetCurve(101, {0, 0.25f, 0.1f, 0.75f, 1});
  v.Dispatch(Id::CustomCurve);
  ASSERT_TRUE(v.curveEditor.fitted);
  EXPECT_TRUE(AnyPixel(Rgb(p.nonIncreasingCurveColor)));

  // Closing refuses; the page that follows is cancelled and the editor stays as it was.
  LiveSettings().autoQuery = 1;
  ui.ExpectMessage(kPink);
  ui.ExpectProperties(CancelOn(38));
  v.Dispatch(Id::CustomCurve);
  ui.VerifyAllAnswered();
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back().caption, "Curve Not Monotone Increasing!");
  EXPECT_TRUE(v.curveEditor.fitted);
  EXPECT_FALSE(v.HasFloat());
  LiveSettings().autoQuery = 0;

  // Point 2 sits at column 50, row 10; lifted in two moves to 0.5 the points lie on a line.
  Drag(50, 10, {30, 50});
  EXPECT_FLOAT_EQ(p.curveValues[2], 0.5f);
  EXPECT_FALSE(AnyPixel(Rgb(p.nonIncreasingCurveColor)));
  v.Dispatch(Id::CustomCurve);
  EXPECT_FALSE(v.curveEditor.open());
  EXPECT_EQ(Bytes(v, 0), before);
}

TEST_F(CurveTest, AConstrainedDragThatWouldMakeTheCurveFallIsUndone) {
  Picture(v, 0, 0);
  BasicParams& p = Params();
  p.constrainMonotoneIncreasing = 1;
  SetCurve(101, {0, 0.25f, 0.5f, 0.75f, 1});
  v.Dispatch(Id::CustomCurve);
  Drag(50, 50, {10});
  EXPECT_FLOAT_EQ(p.curveValues[2], 0.5f);
  EXPECT_FALSE(AnyPixel(Rgb(p.nonIncreasingCurveColor)));
  Drag(50, 50, {55});
  EXPECT_FLOAT_EQ(p.curveValues[2], 0.55f);
  Press(Id::ApplyCurve, F2);  // nothing to apply while the image is parked
  EXPECT_EQ(v.currentBitmap().width(), 101);
  v.Dispatch(Id::CustomCurve);
  EXPECT_FALSE(v.curveEditor.open());
}

TEST_F(CurveTest, EditorsOfTwoWindowsAndAnExchangeOfLayersEachReturnTheirImage) {
  // This window has two layers; the other holds only a display bitmap.
  Picture(v, 0, 0);
  Picture(v, 1, 50);
  FakeHost host2;
  CImageView w{&host2};
  w.bitmaps[0] = DisplayBitmap(2, 2);
  std::memset(w.bitmaps[0].data(), 0x5A, size_t(w.bitmaps[0].bytes()));
  const LayerBytes a = Bytes(v, 0), b = Bytes(v, 1), c = Bytes(w, 0);
  SetCurve(21, {0, 0.5f, 1});

  v.Dispatch(Id::CustomCurve);
  w.Dispatch(Id::CustomCurve);
  ASSERT_TRUE(v.curveEditor.open());
  ASSERT_TRUE(w.curveEditor.open());
  EXPECT_EQ(w.currentBitmap().width(), 21);
  v.Dispatch(Id::ExchangeLayers);
  EXPECT_EQ(v.current, 1);
  EXPECT_EQ(Bytes(v, 1), b);

  v.Dispatch(Id::CustomCurve);
  EXPECT_EQ(v.current, 1);
  EXPECT_EQ(Bytes(v, 0), a);
  EXPECT_EQ(Bytes(v, 1), b);
  w.Dispatch(Id::CustomCurve);
  EXPECT_EQ(Bytes(w, 0), c);
}

TEST_F(CurveTest, AnEditorOfTooFewOrTooManyLookupElementsIsRefused) {
  Picture(v, 0, 0);
  const LayerBytes before = Bytes(v, 0);
  struct Case {
    int m;
    std::vector<float> values;
    const char* message;
  };
  const Case cases[] = {
      {1, {0, 0.5f, 1}, "The curve needs at least 3 lookup elements."},
      {100001, {0, 0.5f, 1}, "Not enough memory for a curve editor of 100001 x 100001 pixels."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m);
    SetCurve(c.m, c.values);
    ui.ExpectMessage(c.message);
    v.Dispatch(Id::CustomCurve);
    ui.VerifyAllAnswered();
    EXPECT_FALSE(v.curveEditor.open());
    EXPECT_EQ(Bytes(v, 0), before);
  }
}

TEST_F(CurveTest, ApplyingPresetsAndTheFittedTable) {
  BasicParams& p = Params();
  const std::vector<float> row = {127.5f, -10, 0, 255, 40};
  struct Case {
    const char* name;
    int preset;  // 0: the fitted curve
    Id key;
    std::vector<float> expected;
  };
  const auto square = [](double v) { return float(255 * (v / 255) * (v / 255)); };
  const Case cases[] = {
      {"Linear is the identity", 1, F2, row},
      {"X^2", 2, F2, {63.75f, -square(10), 0, 255, square(40)}},
      {"X^2 inverse",
       2,
       F3,
       {float(255 * std::sqrt(0.5)), float(-255 * std::sqrt(10 / 255.0)), 0, 255,
        float(255 * std::sqrt(40 / 255.0))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeRow(row);
    p.directlyUsePresetFunction = 1;
    p.presetFunction = c.preset;
    p.presetParameter = 2;
    Press(Id::ApplyCurve, c.key);
    for (size_t k = 0; k < row.size(); ++k) EXPECT_FLOAT_EQ(At(0, int(k)), c.expected[k]) << k;
  }
  // 127.5 goes to 63.75 and back by F3.
  MakeRow({127.5f});
  Press(Id::ApplyCurve, F2);
  v.Dispatch(F3);
  EXPECT_FLOAT_EQ(At(0, 0), 127.5f);

  // The fitted curve: each value looked up linearly in the table of m samples.
  p.directlyUsePresetFunction = 0;
  p.middlePointWeight = 0.5f;
  SetCurve(9, {0, 0.1f, 0.2f, 0.6f, 1});
  dmatrix table;
  ASSERT_TRUE(FitCustomCurve(p, table));
  std::vector<float> values;
  for (int k = 1; k <= 51; ++k) values.push_back(5.0f * float(k));  // 0 stays 0
  MakeRow(values);
  Press(Id::ApplyCurve, F2);
  for (size_t k = 0; k < values.size(); ++k) {
    const double t = values[k] / 255.0 * 8;
    const int i = std::min(int(t), 7);
    const double expected = 255 * (table.x[i] + (t - i) * (table.x[i + 1] - table.x[i]));
    EXPECT_NEAR(At(1, int(k)), expected, 1e-3) << values[k];
  }
}

TEST_F(CurveTest, TheHdrPathCurvesTheLuminanceAndRaisesTheColourRatios) {
  BasicParams& p = Params();
  p.directlyUsePresetFunction = 1;
  p.presetFunction = 2;
  p.presetParameter = 2;
  p.forHdr = 1;
  p.colorSaturationControl = 0.5f;
  const std::vector<std::vector<float>> px = {{10, 20, 30}, {400, 100, 50}, {-20, 0, 60}};
  Make(3, 1, 0x17, [&](int c, int k) { return px[size_t(k)][size_t(c)]; });
  Press(Id::ApplyCurve, F2);
  // Independently: all channels stretched together onto [0, 255], the luminance through
  // x^2 over [0, 255], each channel L' (c / L)^s.
  const double lo = -20, hi = 400;
  for (int k = 0; k < 3; ++k) {
    double rgb[3];
    for (int c = 0; c < 3; ++c) rgb[c] = (px[size_t(k)][size_t(c)] - lo) * 255 / (hi - lo);
    const double l = 0.0001 + 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
    const double curved = 255 * (l / 255) * (l / 255);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(At(c, k), curved * std::pow(rgb[c] / l, 0.5), 1e-3) << k << ", " << c;
    }
  }
  // With a selection the HDR path changes nothing.
  Make(3, 1, 0x17, [&](int c, int k) { return px[size_t(k)][size_t(c)]; });
  v.selection.dim(3, 1);
  v.selection.setbit(1, true);
  v.currentLayer().applytonecurve(ToneCurve(2, false), 2, &v.selection, false, true, 0.5);
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(At(c, k), px[size_t(k)][size_t(c)]);
}
