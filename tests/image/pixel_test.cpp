#include "image/pixel.h"

#include <limits>

#include "support/zep_test.h"

TEST(PixelTest, ByteRule) {
  struct Case {
    fpixel in;
    int r, g, b;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {{255.4f, 255.6f, -3}, 255, 255, 0},  // scaled by 255/255.6 first
      {{10.5f, 10.49f, 0}, 11, 10, 0},     {{300, 150, -20}, 255, 128, 0},
      {{-1, -0.1f, 0.49f}, 0, 0, 0},       {{nan, 100, 200}, 0, 100, 200},
      {{inf, 100, 0}, 255, 0, 0},          {{inf, inf, -inf}, 255, 255, 0},
  };
  for (const Case& c : cases) {
    const bytepixel p = bytepixel::fromfpixel(c.in);
    EXPECT_EQ(p.r, c.r) << c.in.x << "," << c.in.y << "," << c.in.z;
    EXPECT_EQ(p.g, c.g) << c.in.x << "," << c.in.y << "," << c.in.z;
    EXPECT_EQ(p.b, c.b) << c.in.x << "," << c.in.y << "," << c.in.z;
  }
}

TEST(PixelTest, SampleScalings) {
  const wordpixel w = wordpixel::fromfpixel({255, 128, 0});
  EXPECT_EQ(w.r, 65535);
  EXPECT_EQ(w.g, 32896);
  EXPECT_EQ(w.b, 0);
  const wordpixel over = wordpixel::fromfpixel({510, 255, -5});
  EXPECT_EQ(over.r, 65535);
  EXPECT_EQ(over.g, 32767);

  fpixel s(-300, 0, 255);
  s.limits16();
  EXPECT_NEAR(s.x, -32767.0f, 0.01f);
  EXPECT_EQ(s.y, 0.0f);
  EXPECT_NEAR(s.z, 32767.0f, 0.01f);

  fpixel u(255, 0, -1);
  u.limitu32();
  EXPECT_EQ(u.x, 4294966016.0f);
  EXPECT_EQ(u.z, 0.0f);

  fpixel big(1000, 500, 0);
  big.limit8();
  EXPECT_EQ(big.x, 255.0f);
  EXPECT_FLOAT_EQ(big.y, 127.5f);

  EXPECT_EQ(ClampToInteger(std::numeric_limits<double>::quiet_NaN(), 0, 255), 0);
  EXPECT_EQ(ClampToInteger(-1e300, -5, 5), -5);
  EXPECT_EQ(ClampToInteger(1e300, -5, 5), 5);
}

TEST(PixelTest, BlendAndOrder) {
  bytepixel a{10, 20, 30};
  a.blend(bytepixel{110, 120, 130}, 0.5f);
  EXPECT_EQ(a.b, 60);
  EXPECT_EQ(a.g, 70);
  EXPECT_EQ(a.r, 80);
  EXPECT_TRUE(fpixel(1, 2, 3) < fpixel(1, 2, 4));
  EXPECT_TRUE(fpixel(2, 0, 0) > fpixel(1, 9, 9));
  EXPECT_FALSE(fpixel(1, 2, 3) < fpixel(1, 2, 3));
}
