#include "image/triangulate_rgb.h"

#include "numeric/triangulate.h"
#include "support/zep_test.h"

using TriangulateRgbTest = ZepTest;

TEST_F(TriangulateRgbTest, GreenBytesDecideAsTheFloatPlaneDoes) {
  // Red and blue carry an edge the other way: only green may count.
  const int w = 9, h = 7;
  rgbbuffer image(w, h);
  matrix green(w, h);
  for (int o = 0; o < h; ++o) {
    for (int u = 0; u < w; ++u) {
      const int g = (u > o ? 200 : 10) + (u * 7 + o * o * 3) % 20;
      image.at(u, o) = bytepixel{uint8_t(u + o > 6 ? 255 : 0), uint8_t(g), uint8_t(u * o)};
      green.z[o][u] = float(g);
    }
  }
  bitmask fromRgb, fromPlane;
  ChooseTriangleDiagonalsRgb(fromRgb, image);
  ChooseTriangleDiagonals(fromPlane, green);
  ASSERT_EQ(fromRgb.width, w);
  ASSERT_EQ(fromRgb.height, h);
  int set = 0;
  for (int k = 0; k < fromRgb.n; ++k) {
    EXPECT_EQ(fromRgb.getbit(k), fromPlane.getbit(k)) << k;
    set += fromRgb.getbit(k);
  }
  EXPECT_GT(set, 0);
  EXPECT_LT(set, fromRgb.n);
}
