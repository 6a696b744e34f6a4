#include "image/colorspace.h"

#include <cmath>
#include <random>
#include <vector>

#include "support/zep_test.h"

namespace {
// Black, white, greys, primaries, secondaries, saturated, near-grey and ordinary colours.
std::vector<fpixel> TestColours() {
  std::vector<fpixel> c = {{0, 0, 0},       {255, 255, 255}, {1, 1, 1},       {32, 32, 32},
                           {128, 128, 128}, {254, 254, 254}, {255, 0, 0},     {0, 255, 0},
                           {0, 0, 255},     {255, 255, 0},   {0, 255, 255},   {255, 0, 255},
                           {200, 10, 30},   {10, 200, 30},   {128, 129, 128}, {100, 100, 101},
                           {17, 42, 99},    {250, 128, 3},   {64, 0, 128},    {0.5f, 0.25f, 0.75f}};
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0.0f, 255.0f);
  for (int k = 0; k < 200; ++k) c.push_back({u(rng), u(rng), u(rng)});
  return c;
}

fpixel RoundTrip(const ColourSpace& s, const fpixel& p) {
  if (s.channels == 4) return s.torgb4(s.fromrgb4(p));
  return s.torgb(s.fromrgb(p));
}

float MaxError(const fpixel& a, const fpixel& b) {
  return std::max(std::fabs(a.x - b.x), std::max(std::fabs(a.y - b.y), std::fabs(a.z - b.z)));
}
}  // namespace

TEST(ColourSpaceTest, EverySpaceRoundTrips) {
  int count = 0;
  const ColourSpace* spaces = ColourSpaces(count);
  ASSERT_EQ(count, 18);
  const std::vector<fpixel> colours = TestColours();
  for (float gamma : {2.2f, 1.7f}) {
    ColourGammaX() = gamma;
    for (int s = 0; s < count; ++s) {
      for (const fpixel& p : colours) {
        // YCbCrX mixes gamma-compressed channels: a channel near black is then carried by
        // values of the others' size, and the float rounding of those, expanded by the
        // inverse gamma's steep start, returns it within a tenth of a grey level only.
        const bool nearBlack = std::min(p.x, std::min(p.y, p.z)) < 10.0f;
        const float tolerance = (spaces[s].bit == cspace::kYCbCrX && nearBlack) ? 0.2f : 1e-3f;
        const fpixel back = RoundTrip(spaces[s], p);
        EXPECT_LE(MaxError(back, p), tolerance)
            << spaces[s].name << " of (" << p.x << ", " << p.y << ", " << p.z << ") came back ("
            << back.x << ", " << back.y << ", " << back.z << ")";
      }
    }
  }
  ColourGammaX() = 2.2f;
}

TEST(ColourSpaceTest, CodeWordsAndTheirSpaces) {
  struct Case {
    CSpaceCode code;
    const char* name;
    int channels;
  };
  const Case cases[] = {{0x17, "RGB", 3},       {0x10, "RGB", 3},    {0x2F, "L1", 4},
                        {0x8000 | 7, "LAB", 3}, {0x2000, "CMYK", 4}, {0x800000, "YUV", 3}};
  for (const Case& c : cases) {
    const ColourSpace* s = FindColourSpace(c.code);
    ASSERT_NE(s, nullptr) << c.code;
    EXPECT_STREQ(s->name, c.name);
    EXPECT_EQ(s->channels, c.channels);
  }
  for (CSpaceCode bad : {0x0u, 0x7u, 0x100u, 0x80000u, 0x30u, 0x1000000u}) {
    EXPECT_EQ(FindColourSpace(bad), nullptr) << bad;
  }
}

TEST(ColourSpaceTest, SpecialCases) {
  const fpixel hsvBlack = fpixel::rgbtohsv({0, 0, 0});
  EXPECT_EQ(hsvBlack.x, 0.0f);
  EXPECT_EQ(hsvBlack.y, 1.0f);
  EXPECT_FLOAT_EQ(hsvBlack.z, 0.00001f);
  EXPECT_LT(MaxError(fpixel::hsvtorgb(hsvBlack), {0, 0, 0}), 1e-3f);

  for (float grey : {32.0f, 128.0f, 250.0f}) {
    const fpixel hsv = fpixel::rgbtohsv({grey, grey, grey});
    EXPECT_FALSE(std::isnan(hsv.x)) << grey;
    EXPECT_NEAR(hsv.x, 0.0f, 1e-3f) << grey;
    EXPECT_GT(hsv.y, 0.0f);
    const fpixel hsi = fpixel::rgbtohsi({grey, grey, grey});
    EXPECT_FALSE(std::isnan(hsi.x)) << grey;
    EXPECT_LT(std::min(hsi.x, 360.0f - hsi.x), 0.01f) << grey;  // a few thousandths of a degree
  }
  const float hues[6] = {0, 60, 120, 180, 240, 300};
  const fpixel pure[6] = {{255, 0, 0},   {255, 255, 0}, {0, 255, 0},
                          {0, 255, 255}, {0, 0, 255},   {255, 0, 255}};
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(fpixel::rgbtohsv(pure[k]).x, hues[k], 1e-3f) << k;
    EXPECT_NEAR(fpixel::rgbtohsi(pure[k]).x, hues[k], 1e-3f) << k;
  }

  // Black has a = b = 0 exactly: the grey hue sentinel. Other greys keep a chroma of about
  // a thousandth, since the Lab weights' rows do not sum to exactly the same value.
  const fpixel hclBlack = fpixel::rgbtohcl({0, 0, 0});
  EXPECT_EQ(hclBlack.x, -1e32f);
  EXPECT_EQ(hclBlack.y, 0.0f);
  EXPECT_LT(MaxError(fpixel::hcltorgb(hclBlack), {0, 0, 0}), 1e-3f);
  EXPECT_LT(fpixel::rgbtohcl({90, 90, 90}).y, 2e-3f);

  const fpixel labWhite = fpixel::rgbtolab({255, 255, 255});
  EXPECT_NEAR(labWhite.x, 100.0f, 1e-2f);
  EXPECT_NEAR(labWhite.y, 0.0f, 0.05f);
  EXPECT_NEAR(labWhite.z, 0.0f, 0.05f);

  EXPECT_EQ(fpixel4::rgbtocmyk({255, 255, 255}), fpixel4(0, 0, 0, 0));
  EXPECT_EQ(fpixel4::rgbtocmyk({0, 0, 0}), fpixel4(1, 1, 1, 255));
  EXPECT_EQ(fpixel4::cmyktorgb(fpixel4(1, 1, 1, 255)), fpixel(0, 0, 0));

  EXPECT_EQ(fpixel4::rgbtol1({0, 0, 0}), fpixel4(0.33333334f, 0.33333334f, 0.33333334f, 0));
  EXPECT_EQ(fpixel4::l1torgb(fpixel4(0.33333334f, 0.33333334f, 0.33333334f, 0)), fpixel(0, 0, 0));
  EXPECT_EQ(fpixel4::rgbtol2({0, 0, 0}), fpixel4(0.57735026f, 0.57735026f, 0.57735026f, 0));
  EXPECT_EQ(fpixel4::rgbtolinf({0, 0, 0}), fpixel4(1, 1, 1, 0));

  ColourGammaX() = 2.2f;
  const fpixel x = fpixel::rgbtorgbx({127.5f, -127.5f, 0});
  EXPECT_NEAR(x.x, 55.5f, 0.05f);
  EXPECT_NEAR(x.y, -55.5f, 0.05f);

  // Log RGB of a bright pixel: scaled so that the largest channel is 255 first.
  const fpixel logBright = fpixel::rgbtologrgb({510, 255, 0});
  EXPECT_NEAR(logBright.x, std::log(255.001f), 1e-5f);
  EXPECT_NEAR(logBright.y, std::log(127.501f), 1e-5f);

  const fpixel ycc = fpixel::rgbtoycbcr({255, 0, 0});
  EXPECT_NEAR(ycc.z, 127.5f, 1e-4f);
  EXPECT_NEAR(ycc.y, -43.0185f, 1e-4f);
}
