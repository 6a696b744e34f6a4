#pragma once
// The small records that carry one colour between the float planes and the outside world,
// and the rules that turn float colours into display bytes and file samples.
#include <cmath>
#include <cstdint>

#include "numeric/clamp.h"

struct bytepixel;

struct fpixel {
  float x = 0, y = 0, z = 0;  // R, G, B or the three channels of a space

  fpixel() = default;
  constexpr fpixel(float a, float b, float c) : x(a), y(b), z(c) {}

  static fpixel frombgr(const bytepixel& p);

  // Negatives (and NaN) become 0; when the largest then exceeds 255 all three are scaled
  // by 255/largest, so the hue is kept.
  fpixel& limit8();
  // Negatives (and NaN) become 0.
  fpixel& nonnegative();
  // Sample scalings for the integer sample types of image files.
  fpixel& limitu16();
  fpixel& limits16();
  fpixel& limitu32();
  fpixel& limits32();

  bool operator>(const fpixel& o) const {
    if (x != o.x) return x > o.x;
    if (y != o.y) return y > o.y;
    return z > o.z;
  }
  bool operator<(const fpixel& o) const { return o > *this; }
  bool operator==(const fpixel& o) const = default;

  // The identity of RGB, and CMY's own inverse.
  static fpixel copy(fpixel p) { return p; }
  static fpixel rgbtocmy(fpixel p);
  static fpixel rgbtohsv(fpixel p);
  static fpixel hsvtorgb(fpixel p);
  static fpixel rgbtohsl(fpixel p);
  static fpixel hsltorgb(fpixel p);
  static fpixel rgbtohsi(fpixel p);
  static fpixel hsitorgb(fpixel p);
  static fpixel rgbtologrgb(fpixel p);
  static fpixel logrgbtorgb(fpixel p);
  static fpixel rgbtologcmy(fpixel p);
  static fpixel logcmytorgb(fpixel p);
  static fpixel rgbtolab(fpixel p);
  static fpixel labtorgb(fpixel p);
  static fpixel rgbtohcl(fpixel p);
  static fpixel hcltorgb(fpixel p);
  static fpixel rgbtoycbcr(fpixel p);
  static fpixel ycbcrtorgb(fpixel p);
  static fpixel rgbtoycbcr2(fpixel p);
  static fpixel ycbcr2torgb(fpixel p);
  static fpixel rgbtoyuv(fpixel p);
  static fpixel yuvtorgb(fpixel p);
  static fpixel rgbtorgbx(fpixel p);
  static fpixel rgbxtorgb(fpixel p);
  static fpixel rgbtoycbcrx(fpixel p);
  static fpixel ycbcrxtorgb(fpixel p);
};

struct fpixel4 {
  float x = 0, y = 0, z = 0, w = 0;

  fpixel4() = default;
  constexpr fpixel4(float a, float b, float c, float d) : x(a), y(b), z(c), w(d) {}
  void get(float& a, float& b, float& c, float& d) const {
    a = x;
    b = y;
    c = z;
    d = w;
  }
  bool operator==(const fpixel4& o) const = default;

  static fpixel4 rgbtocmyk(fpixel p);
  static fpixel cmyktorgb(fpixel4 p);
  static fpixel4 rgbtol1(fpixel p);
  static fpixel l1torgb(fpixel4 p);
  static fpixel4 rgbtol2(fpixel p);
  static fpixel l2torgb(fpixel4 p);
  static fpixel4 rgbtolinf(fpixel p);
  static fpixel linftorgb(fpixel4 p);
};

// One pixel of a 24-bit display bitmap, in memory order blue, green, red.
struct bytepixel {
  uint8_t b = 0, g = 0, r = 0;

  // The byte rule: negatives to 0, all three scaled by 255/largest when the largest
  // exceeds 255, each rounded by adding 0.5 and truncating. NaN counts as 0 and an
  // infinite component as the largest possible.
  static bytepixel fromfpixel(const fpixel& p);
  // Each byte becomes the integer part of f*other + (1-f)*this, 1-f rounded to float first.
  bytepixel& blend(const bytepixel& other, float f);
};
static_assert(sizeof(bytepixel) == 3);

// One pixel of a 16-bit-per-sample file row, in order R, G, B.
struct wordpixel {
  uint16_t r = 0, g = 0, b = 0;
  // Scales 0-255 to 0-65535 (x257), keeping the hue above full scale; truncates.
  static wordpixel fromfpixel(const fpixel& p);
};
static_assert(sizeof(wordpixel) == 6);

// An image value as a display byte, by the one clamping rule (numeric/clamp.h).
inline uint8_t ClampToByte(float v) { return static_cast<uint8_t>(ClampToInteger(v, 0, 255)); }

// The byte rule on one colour, written without branches so that row loops vectorise.
// NaN and negatives give 0; an infinity is taken as the largest float, so it gives 255 and
// scales the other components to 0.
inline void ByteRule(float r, float g, float b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  constexpr float kHuge = 3.0e38f;
  r = r > 0.0f ? r : 0.0f;
  g = g > 0.0f ? g : 0.0f;
  b = b > 0.0f ? b : 0.0f;
  r = r < kHuge ? r : kHuge;
  g = g < kHuge ? g : kHuge;
  b = b < kHuge ? b : kHuge;
  const float m = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const float s = m > 255.0f ? 255.0f / m : 1.0f;
  // In range now: at most 255 plus a rounding step, so the conversion is defined.
  const int ir = static_cast<int>(r * s + 0.5f), ig = static_cast<int>(g * s + 0.5f),
            ib = static_cast<int>(b * s + 0.5f);
  outR = static_cast<uint8_t>(ir < 255 ? ir : 255);
  outG = static_cast<uint8_t>(ig < 255 ? ig : 255);
  outB = static_cast<uint8_t>(ib < 255 ? ib : 255);
}
