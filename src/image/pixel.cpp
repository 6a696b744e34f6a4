#include "image/pixel.h"

#include <algorithm>
#include <cmath>

namespace {
// Clears negative and NaN components.
inline float NonNegative(float v) { return v > 0.0f ? v : 0.0f; }

// Scales all three down to full when the largest exceeds it. An infinite component takes
// full scale and the finite ones go to 0, as they would for a huge but finite value.
inline void KeepHueBelow(float& a, float& b, float& c, float full) {
  const float largest = std::max(a, std::max(b, c));
  if (!(largest > full)) return;
  if (std::isinf(largest)) {
    a = std::isinf(a) ? full : 0.0f;
    b = std::isinf(b) ? full : 0.0f;
    c = std::isinf(c) ? full : 0.0f;
    return;
  }
  const float s = full / largest;
  a *= s;
  b *= s;
  c *= s;
}
}  // namespace

fpixel fpixel::frombgr(const bytepixel& p) { return fpixel(p.r, p.g, p.b); }

fpixel& fpixel::limit8() {
  x = NonNegative(x);
  y = NonNegative(y);
  z = NonNegative(z);
  KeepHueBelow(x, y, z, 255.0f);
  return *this;
}

fpixel& fpixel::nonnegative() {
  x = NonNegative(x);
  y = NonNegative(y);
  z = NonNegative(z);
  return *this;
}

fpixel& fpixel::limitu16() {
  x = NonNegative(x) * 257.0f;
  y = NonNegative(y) * 257.0f;
  z = NonNegative(z) * 257.0f;
  KeepHueBelow(x, y, z, 65535.0f);
  return *this;
}

fpixel& fpixel::limits16() {
  auto floor255 = [](float v) { return v > -255.0f ? v : -255.0f; };
  x = floor255(x) * 128.4980392f;
  y = floor255(y) * 128.4980392f;
  z = floor255(z) * 128.4980392f;
  KeepHueBelow(x, y, z, 32767.0f);
  return *this;
}

fpixel& fpixel::limitu32() {
  const float factor = 4294966016.0f / 255.0f;
  x = NonNegative(x) * factor;
  y = NonNegative(y) * factor;
  z = NonNegative(z) * factor;
  KeepHueBelow(x, y, z, 4294966016.0f);
  return *this;
}

fpixel& fpixel::limits32() {
  // Full scale 214783647, held in single precision as 214783648.
  const float full = 214783647.0f;
  const float factor = full / 255.0f;
  auto floor255 = [](float v) { return v > -255.0f ? v : -255.0f; };
  x = floor255(x) * factor;
  y = floor255(y) * factor;
  z = floor255(z) * factor;
  KeepHueBelow(x, y, z, full);
  return *this;
}

bytepixel bytepixel::fromfpixel(const fpixel& p) {
  bytepixel out;
  ByteRule(p.x, p.y, p.z, out.r, out.g, out.b);
  return out;
}

bytepixel& bytepixel::blend(const bytepixel& other, float f) {
  const float keep = 1.0f - f;
  b = ClampToByte(f * other.b + keep * b);
  g = ClampToByte(f * other.g + keep * g);
  r = ClampToByte(f * other.r + keep * r);
  return *this;
}

wordpixel wordpixel::fromfpixel(const fpixel& p) {
  fpixel q = p;
  q.limitu16();
  wordpixel out;
  out.r = static_cast<uint16_t>(ClampToInteger(q.x, 0, 65535));
  out.g = static_cast<uint16_t>(ClampToInteger(q.y, 0, 65535));
  out.b = static_cast<uint16_t>(ClampToInteger(q.z, 0, 65535));
  return out;
}
