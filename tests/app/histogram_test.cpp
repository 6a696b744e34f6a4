// The histogram window's curves: bins over each space's nominal range, the common scaling
// to 255, the fourth curve, and the values that are not counted.
#include "app/histogram.h"

#include <cmath>
#include <limits>

#include "support/zep_test.h"

namespace {
using HistogramTest = ZepTest;

int CountNonZero(const uint8_t* curve) {
  int n = 0;
  for (int i = 0; i < 256; ++i) n += curve[i] != 0;
  return n;
}
}  // namespace

TEST_F(HistogramTest, WhiteImagePeaksAtTheLastBinOfEveryCurve) {
  fpbuffer white(5, 4, cspace::kDefault);
  for (int c = 0; c < 3; ++c) white.plane[c].fill(255.0f);
  Dialog3 d;
  ASSERT_TRUE(d.Refresh(white));
  EXPECT_EQ(d.CurveCount(), 3);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(d.curves[c][255], 255);
    EXPECT_EQ(CountNonZero(d.curves[c]), 1);
  }
  // Drawn two pixels per bin from the bottom row up: the last point is at the top.
  const std::vector<HistogramPoint> line = d.Curve(2, 0, Dialog3::kClientHeight);
  EXPECT_EQ(line[255].x, 510);
  EXPECT_EQ(line[255].y, 1);
  EXPECT_EQ(line[0].y, 256);
}

TEST_F(HistogramTest, FourthCurveOnlyForFourChannels) {
  fpbuffer cmyk(3, 3, cspace::kCMYK | 0xF);
  ASSERT_EQ(cmyk.channels, 4);
  for (int c = 0; c < 3; ++c) cmyk.plane[c].fill(1.0f);  // C, M, Y span 0..1, K 0..255
  cmyk.plane[3].fill(100.0f);
  cmyk.plane[3].x[0] = 0.0f;
  Dialog3 d;
  d.Refresh(cmyk);
  EXPECT_EQ(d.CurveCount(), 4);
  EXPECT_EQ(d.curves[0][255], 255);
  // All curves share one scale: the tallest bin (9 pixels) reaches 255.
  EXPECT_EQ(d.curves[3][100], int(255.0 / 9 * 8));
  EXPECT_EQ(d.curves[3][0], int(255.0 / 9));
  fpbuffer rgb(3, 3, cspace::kDefault);
  d.Refresh(rgb);
  EXPECT_EQ(d.CurveCount(), 3);  // the old white curve stays, but is not drawn
}

TEST_F(HistogramTest, BinsFollowTheNominalRangeOfTheSpace) {
  // YCbCr's Cb spans -127.5 .. 127.5; Log RGB ln(0.001) .. ln(255.001).
  struct Case {
    CSpaceCode code;
    int channel;
    float value;
    int bin;
  };
  const Case cases[] = {
      {cspace::kYCbCr | 7, 1, -127.5f, 0},
      {cspace::kYCbCr | 7, 1, 127.5f, 255},
      {cspace::kYCbCr | 7, 1, 0.0f, 128},
      {cspace::kLogRGB | 7, 0, std::log(0.001f), 0},
      {cspace::kLogRGB | 7, 0, std::log(255.001f), 255},
      {cspace::kDefault, 0, 254.4f, 254},
      {cspace::kDefault, 0, 254.5f, 255},
  };
  for (const Case& c : cases) {
    fpbuffer f(2, 1, c.code);
    f.plane[c.channel].fill(c.value);
    uint8_t curves[4][256] = {};
    f.histogram(curves);
    EXPECT_EQ(curves[c.channel][c.bin], 255) << c.code << " " << c.value;
  }
}

TEST_F(HistogramTest, ValuesOutsideTheRangeAndNonFiniteOnesAreNotCounted) {
  matrix m(6, 1);
  const float inf = std::numeric_limits<float>::infinity();
  const float values[6] = {-3.0f, -0.6f, 300.0f, std::nanf(""), inf, 10.0f};
  for (int k = 0; k < 6; ++k) m.x[k] = values[k];
  int bins[256];
  EXPECT_EQ(m.histogram(bins, 0.0f, 255.0f), 1);
  int total = 0;
  for (int b : bins) total += b;
  EXPECT_EQ(total, 1);
  EXPECT_EQ(bins[10], 1);
  EXPECT_EQ(m.histogram(bins, 5.0f, 5.0f), 0);  // an empty span counts nothing

  // An image with nothing in range keeps the curves it had; an empty one changes nothing.
  Dialog3 d;
  d.curves[0][7] = 99;
  fpbuffer negative(2, 2, cspace::kDefault);
  for (int c = 0; c < 3; ++c) negative.plane[c].fill(-5.0f);
  EXPECT_TRUE(d.Refresh(negative));
  EXPECT_EQ(d.curves[0][7], 99);
  EXPECT_FALSE(d.Refresh(fpbuffer()));
  EXPECT_EQ(d.channels, 3);
}
