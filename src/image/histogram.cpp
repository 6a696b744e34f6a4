#include <algorithm>

#include "image/fpbuffer.h"

void fpbuffer::histogram(uint8_t (*curves)[256]) const {
  fpixel4 lo, hi;
  ranges(lo, hi);
  const float los[4] = {lo.x, lo.y, lo.z, lo.w}, his[4] = {hi.x, hi.y, hi.z, hi.w};
  const int count = channels == 4 ? 4 : std::min(channels, 3);
  int bins[4][256] = {};
  int largest = 0;
  for (int c = 0; c < count; ++c) {
    largest = std::max(largest, plane[c].histogram(bins[c], los[c], his[c]));
  }
  if (largest == 0) return;
  const double factor = 255.0 / largest;
  for (int c = 0; c < count; ++c) {
    for (int i = 0; i < 256; ++i) curves[c][i] = static_cast<uint8_t>(factor * bins[c][i]);
  }
}
