#pragma once
// The colour-space code words that the settings record stores. A code word has one bit
// naming the space above the low four channel-visibility bits; the settings keep only
// bare space bits, as the stacking code converts into them.
#include <cstdint>

inline constexpr int32_t kCodeYCbCr = 0x20000;
inline constexpr int32_t kCodeYCbCrGammaX = 0x200000;
inline constexpr int32_t kCodeYCbCr2 = 0x400000;

// The spaces in which high-dynamic-range stacking may merge its exposures.
constexpr bool IsHdrColorSpaceCode(int32_t code) {
  return code == kCodeYCbCr || code == kCodeYCbCr2 || code == kCodeYCbCrGammaX;
}
