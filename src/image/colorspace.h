#pragma once
// Colour-space code words. Bits 0-3 mark the visible channels; exactly one higher bit
// names the space. A word whose space bits name no space gives an image with 0 channels.
#include <cstdint>
#include <string>

#include "image/pixel.h"

using CSpaceCode = uint32_t;

namespace cspace {
constexpr CSpaceCode kVisibleBits = 0xF;
constexpr CSpaceCode kRGB = 0x10;
constexpr CSpaceCode kL1 = 0x20;
constexpr CSpaceCode kL2 = 0x40;
constexpr CSpaceCode kLinf = 0x80;
constexpr CSpaceCode kHSV = 0x200;
constexpr CSpaceCode kHSL = 0x400;
constexpr CSpaceCode kHSI = 0x800;
constexpr CSpaceCode kCMY = 0x1000;
constexpr CSpaceCode kCMYK = 0x2000;
constexpr CSpaceCode kLogCMY = 0x4000;
constexpr CSpaceCode kLAB = 0x8000;
constexpr CSpaceCode kHCL = 0x10000;
constexpr CSpaceCode kYCbCr = 0x20000;
constexpr CSpaceCode kLogRGB = 0x40000;
constexpr CSpaceCode kRGBX = 0x100000;
constexpr CSpaceCode kYCbCrX = 0x200000;
constexpr CSpaceCode kYCbCr2 = 0x400000;
constexpr CSpaceCode kYUV = 0x800000;
constexpr CSpaceCode kDefault = kRGB | 7;
}  // namespace cspace

using Convert3Fn = fpixel (*)(fpixel);
using ToFourFn = fpixel4 (*)(fpixel);
using FromFourFn = fpixel (*)(fpixel4);

struct ColourSpace {
  CSpaceCode bit;
  const char* name;           // as the status bar shows it
  const char* letters[4];     // channel letters; the fourth empty for three channels
  int channels;               // 3 or 4
  int dominant;               // 1-based
  fpixel4 lo, hi;             // nominal ranges of channels 1-4
  Convert3Fn fromrgb, torgb;  // three-channel spaces
  ToFourFn fromrgb4;          // four-channel spaces
  FromFourFn torgb4;
};

// The space a code word names, or nullptr when its space bits name none (no bit, several
// bits, or an unused one).
const ColourSpace* FindColourSpace(CSpaceCode code);
// All eighteen spaces, in the order of their bits.
const ColourSpace* ColourSpaces(int& count);

// The exponent of the "GammaX" spaces (RGBX, YCbCrX); the settings set it.
float& ColourGammaX();
