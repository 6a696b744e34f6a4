// Fast noise removal: each channel the profile marks is split into a-trous levels, every
// level is soft-thresholded by the noise measured for it, and the levels are added back.
#include "image/fpbuffer.h"
#include "image/noiseprofile.h"
#include "numeric/noiseshrink.h"

fpbuffer& fpbuffer::fastnoiseremoval(const NoiseProfile& profile) {
  const int levels = profile.levels;
  if (levels <= 0 || levels > NoiseProfile::kMaxLevels || empty()) return *this;
  // The profile was measured in its own colour space: the image visits it. An image
  // already in that space is not sent through RGB and back.
  const CSpaceCode own = code;
  const bool visit = (own & ~cspace::kVisibleBits) != (profile.code & ~cspace::kVisibleBits);
  if (visit) convert(profile.code);
  matrixarray work;
  matrix factors(levels, 1);
  for (int c = 0; c < 3 && c < channels; ++c) {
    if (((profile.code >> c) & 1u) == 0) continue;
    for (int i = 0; i < levels; ++i) factors.x[i] = profile.factors[c][i];
    AtrousShrink(plane[c], factors, int(profile.modes[c]), work);
  }
  if (visit) convert(own);
  return *this;
}
