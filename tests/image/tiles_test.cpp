#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"
#include "numeric/kernels.h"
#include "numeric/resample.h"
#include "support/zep_test.h"

using TileTest = ZepTest;

namespace {
fpbuffer Numbered(int w, int h) {
  fpbuffer f(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = float(100 * c + k);
  }
  return f;
}
}  // namespace

TEST_F(TileTest, GetMirrorsAndPutDropsTheMargins) {
  const fpbuffer source = Numbered(8, 6);
  fpbuffer tile(6, 3, 0x17);
  tile.gettile(source, -2, 0);
  const float row0[6] = {2, 1, 0, 1, 2, 3};  // columns 2, 1, 0, 1, 2, 3
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tile.plane[0].z[0][i], row0[i]) << i;

  // Margins far larger than the image fold back inside it.
  fpbuffer small = Numbered(2, 1);
  fpbuffer wide(40, 40, 0x17);
  wide.gettile(small, -17, -19);
  for (int k = 0; k < wide.n; ++k)
    ASSERT_TRUE(wide.plane[1].x[k] == 100 || wide.plane[1].x[k] == 101);

  // A 40x40 tile with margins of 4 writes a 32x32 block at (x0, y0).
  fpbuffer target(50, 50, 0x17);
  fpbuffer t(40, 40, 0x17);
  for (int c = 0; c < 3; ++c) t.plane[c].fill(7.0f);
  target.puttile(10, 12, t, nullptr, 4, 4, 4, 4);
  int written = 0;
  for (int k = 0; k < target.n; ++k) written += target.plane[2].x[k] == 7.0f;
  EXPECT_EQ(written, 32 * 32);
  EXPECT_EQ(target.plane[0].z[12][10], 7.0f);
  EXPECT_EQ(target.plane[0].z[43][41], 7.0f);
  EXPECT_EQ(target.plane[0].z[44][41], 0.0f);

  // Near the corner the block is clipped; with a mask only set pixels change.
  fpbuffer clipped(10, 10, 0x17);
  bitmask only(10, 10);
  only.set(9, 9, true);
  only.set(8, 9, true);
  clipped.puttile(8, 8, t, &only, 4, 4, 4, 4);
  int changed = 0;
  for (int k = 0; k < clipped.n; ++k) changed += clipped.plane[0].x[k] != 0.0f;
  EXPECT_EQ(changed, 2);
}

TEST_F(TileTest, TilesThroughAColourSpaceRoundTrip) {
  rgbbuffer source(7, 5);
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 7; ++i) source.at(i, j) = bytepixel{uint8_t(30 * i), uint8_t(40 * j), 99};
  }
  fpbuffer tile(7, 5, 0x200 | 7);  // HSV tile
  tile.gettilergb(source, 0, 0);
  rgbbuffer back(7, 5);
  back.fill(0);
  back.puttile(0, 0, tile, nullptr, 0, 0, 0, 0);
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(back.at(i, j).b, source.at(i, j).b);
      EXPECT_EQ(back.at(i, j).g, source.at(i, j).g);
      EXPECT_EQ(back.at(i, j).r, source.at(i, j).r);
    }
  }
}

TEST_F(TileTest, RgbResampleKeepsConstantsAndCancels) {
  // Bilinear 2x enlargement kernels, border taps dropped.
  const int in = 5, out = 10;
  matrix kx;
  kx.dim(2, out);
  kx.kernelmatrix(KernelTriangle, 1.0, 0.5, -0.25, false);
  rgbbuffer src(in, 3), dst(out, 2);
  src.fill(0x405060);
  matrix ky;
  ky.dim(2, 2);
  ky.kernelmatrix(KernelTriangle, 1.0, 1.5, 0.25, false);
  EXPECT_FALSE(dst.resample(src, kx, ky, true, true));
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < out; ++i) {
      ASSERT_EQ(dst.at(i, j).r, 0x40) << i << "," << j;
      ASSERT_EQ(dst.at(i, j).g, 0x50);
      ASSERT_EQ(dst.at(i, j).b, 0x60);
    }
  }
  platform.CancelAtPoll(3);
  EXPECT_TRUE(dst.resample(src, kx, ky, true, true));
}

TEST_F(TileTest, RgbTriangulationAtScaleOneIsTheSource) {
  rgbbuffer src(7, 5), out(7, 5);
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 7; ++i) {
      src.at(i, j) =
          bytepixel{uint8_t(i * 31 + j * 7), uint8_t((i * j * 13) % 256), uint8_t(200 - i)};
    }
  }
  EXPECT_FALSE(out.triangulate(src, 0, 0));
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 7; ++i) {
      ASSERT_EQ(out.at(i, j).r, src.at(i, j).r) << i << "," << j;
      ASSERT_EQ(out.at(i, j).g, src.at(i, j).g);
      ASSERT_EQ(out.at(i, j).b, src.at(i, j).b);
    }
  }
  // A one-pixel-wide source and a cancel.
  rgbbuffer thin(1, 3), wide(4, 6);
  thin.fill(0x102030);
  EXPECT_FALSE(wide.triangulate(thin, 0, 0));
  EXPECT_EQ(wide.at(3, 5).r, 0x10);
  platform.CancelAtPoll(2);
  EXPECT_TRUE(wide.triangulate(thin, 0, 0));
}

TEST_F(TileTest, FloatResamplingKeepsConstantsAndViews) {
  fpbuffer f(9, 7, 0x200 | 7);
  for (int c = 0; c < 3; ++c) f.plane[c].fill(10.0f * (c + 1));
  matrix kx, ky;
  BuildLanczosKernelForSizes(kx, 3, 9, 4, 0.0f);
  BuildLanczosKernelForSizes(ky, 3, 7, 3, 0.0f);
  fpbuffer g(1, 1, 0x200 | 7);
  EXPECT_FALSE(g.resamplefrom(f, kx, ky, true, true));
  EXPECT_EQ(g.width, 4);
  EXPECT_EQ(g.height, 3);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(g.view[c].x, g.plane[c].x);
    for (int k = 0; k < g.n; ++k) EXPECT_NEAR(g.plane[c].x[k], 10.0f * (c + 1), 1e-4f);
  }
  EXPECT_FALSE(f.resample(kx, ky, true, true));
  EXPECT_EQ(f.width, 4);
  EXPECT_EQ(f.view[2].nx, 4);
  fpbuffer h(9, 7, 0x17);
  platform.CancelAtPoll(1);
  EXPECT_TRUE(h.resample(kx, ky, true, true));
}
