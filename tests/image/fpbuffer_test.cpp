#include "image/fpbuffer.h"

#include <cstring>

#include "image/rgbbuffer.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
// A small bitmap with distinct bytes per pixel.
DisplayBitmap Pattern(int w, int h) {
  DisplayBitmap b(w, h);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      uint8_t* p = b.row(j) + 3 * i;
      p[0] = uint8_t(10 + i * 20 + j);  // blue
      p[1] = uint8_t(200 - i * 7 - j * 3);
      p[2] = uint8_t(i * 31 + j * 17);
    }
  }
  return b;
}
}  // namespace

using FpbufferTest = ZepTest;

TEST_F(FpbufferTest, DefaultsAndDim) {
  fpbuffer f;
  EXPECT_EQ(f.channels, 3);
  EXPECT_EQ(f.code, 0x17u);
  EXPECT_EQ(f.n, 0);

  f.dim(3, 2, 0x17);
  f.plane[1].x[4] = 7.0f;
  f.clearmask();
  f.mask.setbit(2, true);
  f.dim(3, 2, 0x17);  // unchanged: values and mask stay
  EXPECT_EQ(f.view[1].z[1][1], 7.0f);
  EXPECT_TRUE(f.mask.present());
  f.dim(3, 2, 0x200 | 7);  // new code: zeroed, mask emptied
  EXPECT_EQ(f.plane[1].x[4], 0.0f);
  EXPECT_FALSE(f.mask.present());
  EXPECT_EQ(f.dominantchannel(0), 3);
  EXPECT_EQ(f.dominantchannel(2), 2);
}

TEST_F(FpbufferTest, ViewsFollowThePlanesThroughRedimensioning) {
  fpbuffer f(4, 3, 0x2007);  // CMYK: four planes
  for (int w : {7, 1, 5}) {
    f.dim(w, 2, w == 1 ? 0x17u : 0x2007u);
    for (int i = 0; i < f.channels; ++i) {
      ASSERT_EQ(f.view[i].x, f.plane[i].x) << i;
      for (int k = 0; k < f.n; ++k) EXPECT_EQ(f.view[i].x[k], 0.0f);
    }
  }
  fpbuffer copy(f);
  EXPECT_NE(copy.view[0].x, f.view[0].x);
  EXPECT_EQ(copy.view[3].x, copy.plane[3].x);
}

TEST_F(FpbufferTest, ImportAndRenderAreExactForRgb) {
  for (int w : {1, 3, 4, 5}) {
    const DisplayBitmap source = Pattern(w, 3);
    fpbuffer f(w, 3, 0x17);
    f.fromdib(source.toprow());
    EXPECT_EQ(f.plane[0].at(0, 0), float(source.row(0)[2]));  // R from the red byte
    DisplayBitmap out(w, 3);
    std::memset(out.data(), 0xAB, size_t(out.bytes()));  // padding must stay untouched
    f.todib(out.toprow());
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(std::memcmp(out.row(j), source.row(j), size_t(3 * w)), 0) << w << " row " << j;
      for (int64_t k = 3 * w; k < out.stride(); ++k) EXPECT_EQ(out.row(j)[k], 0xAB);
    }
  }
}

TEST_F(FpbufferTest, ConversionsThroughSpaces) {
  const DisplayBitmap source = Pattern(5, 4);
  fpbuffer f(5, 4, 0x17);
  f.fromdib(source.toprow());
  const fpbuffer original(f);
  f.convert(0x17);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(std::memcmp(f.plane[c].x, original.plane[c].x, 20 * sizeof(float)), 0);
  }
  f.convert(0x2000 | 7);  // to CMYK: a fourth plane appears
  EXPECT_EQ(f.channels, 4);
  EXPECT_EQ(f.plane[3].n, 20);
  EXPECT_EQ(f.view[3].x, f.plane[3].x);
  f.convert(0x200 | 7);
  f.convert(0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 20; ++k) EXPECT_NEAR(f.plane[c].x[k], original.plane[c].x[k], 1e-3f);
  }
  // A bitmap rendered from a non-RGB space equals one rendered from RGB.
  fpbuffer hsv(original);
  hsv.convert(0x800 | 7);
  DisplayBitmap a(5, 4), b(5, 4);
  original.todib(a.toprow());
  hsv.todib(b.toprow());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), size_t(a.bytes())), 0);
}

TEST_F(FpbufferTest, RenderingRulesAndMask) {
  fpbuffer f(2, 1, 0x17);
  f.plane[0].x[0] = 300;
  f.plane[1].x[0] = 150;
  f.plane[2].x[0] = -20;
  f.plane[0].x[1] = 1;
  DisplayBitmap out(2, 1);
  std::memset(out.data(), 0x55, size_t(out.bytes()));
  bitmask only(2, 1);
  only.setbit(0, true);
  f.todib(out.toprow(), &only);
  EXPECT_EQ(out.row(0)[0], 0);     // blue
  EXPECT_EQ(out.row(0)[1], 128);   // green
  EXPECT_EQ(out.row(0)[2], 255);   // red
  EXPECT_EQ(out.row(0)[3], 0x55);  // masked out: unchanged
}

TEST_F(FpbufferTest, CopyClearAndMasks) {
  fpbuffer a(3, 3, 0x17), b(3, 3, 0x17);
  b.clearmask();
  b.mask.setbit(4, true);
  b = a;  // a has no mask: b keeps its own
  EXPECT_TRUE(b.mask.present());
  a.clearmask();
  fpbuffer c(a);
  EXPECT_FALSE(c.mask.present());  // copies start without a mask

  const DisplayBitmap source = Pattern(3, 2);
  fpbuffer lab(3, 2, 0x8000 | 7);
  lab.clear(true);
  EXPECT_EQ(lab.n, 0);
  EXPECT_EQ(lab.code, 0x8007u);
  lab.dim(3, 2, lab.code);
  lab.fromdib(source.toprow());
  EXPECT_NEAR(
      lab.plane[0].x[0],
      fpixel::rgbtolab(fpixel::frombgr(*reinterpret_cast<const bytepixel*>(source.row(0)))).x,
      1e-4f);

  fpbuffer none(2, 2, 0x100);  // names no space
  EXPECT_EQ(none.channels, 0);
  EXPECT_EQ(none.plane[0].n, 0);
  fpixel4 lo, hi;
  none.ranges(lo, hi);
  EXPECT_EQ(hi, fpixel4());
  lab.ranges(lo, hi);
  EXPECT_EQ(hi.x, 100.0f);
  EXPECT_EQ(lo.y, -86.2f);
}

TEST_F(FpbufferTest, CropKeepsTheBlockAndItsMaskAndStaysInside) {
  fpbuffer f(6, 5, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = float(100 * c + k);
  }
  f.clearmask();
  f.mask.set(3, 2, true);
  f.crop(2, 1, 3, 2);
  ASSERT_EQ(f.width, 3);
  ASSERT_EQ(f.height, 2);
  EXPECT_EQ(f.view[1].z[0][0], float(100 + 2 + 1 * 6));
  EXPECT_EQ(f.plane[2].z[1][2], float(200 + 4 + 2 * 6));
  EXPECT_EQ(f.mask.width, 3);
  EXPECT_TRUE(f.mask.get(1, 1));
  // A block reaching past the image is cut to it; an empty image stays empty.
  f.crop(1, 1, 50, 50);
  EXPECT_EQ(f.width, 2);
  EXPECT_EQ(f.height, 1);
  EXPECT_EQ(f.plane[0].z[0][0], float(3 + 2 * 6));
  fpbuffer none;
  none.crop(0, 0, 2, 2);
  EXPECT_EQ(none.n, 0);
}

// The mask turns with its pixels on a picture whose mask spans several blocks of the
// parallel loop and ends in a partial word, with one thread and with several.
TEST_F(FpbufferTest, QuarterTurnCarriesEveryMaskBit) {
  const int w = 1031, h = 517;
  fpbuffer f(w, h, 0x17);
  f.clearmask();
  const auto on = [](int x, int y) {
    return (((uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 2246822519u)) >> 31) != 0;
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) f.mask.set(x, y, on(x, y));
  }
  for (int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    SetParallelThreads(threads);
    fpbuffer t;
    t = f;
    t.rotate90();
    ASSERT_EQ(t.mask.width, h);
    ASSERT_EQ(t.mask.height, w);
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) wrong += t.mask.get(h - 1 - y, x) != on(x, y);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(t.mask.words, f.mask.words);
    EXPECT_EQ(t.mask.bits[t.mask.words - 1] >> ((w * h) % 32), 0u);  // nothing past the end
  }
  SetParallelThreads(0);
}
