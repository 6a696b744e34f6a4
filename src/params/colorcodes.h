#pragma once
// The colour-space code words that the settings record stores: bare space bits, as the
// stacking code converts into them (image/colorspace.h names every space).
#include <cstdint>

#include "image/colorspace.h"

// The spaces in which high-dynamic-range stacking may merge its exposures.
constexpr bool IsHdrColorSpaceCode(int32_t code) {
  return code == int32_t(cspace::kYCbCr) || code == int32_t(cspace::kYCbCr2) ||
         code == int32_t(cspace::kYCbCrX);
}
