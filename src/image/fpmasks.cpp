// The image mask built from the image: by colour and by gradient edges.
#include <utility>

#include "image/fpbuffer.h"

namespace {
void EnsureMask(fpbuffer& f) {
  if (!f.mask.covers(f.width, f.height)) f.clearmask();
}

float Channel(const fpixel4& p, int i) { return i == 0 ? p.x : i == 1 ? p.y : i == 2 ? p.z : p.w; }
}  // namespace

fpbuffer& fpbuffer::maskbycolor(const fpixel4& c, float t, int norm) {
  if (n == 0) return *this;
  EnsureMask(*this);
  fpixel4 lo, hi;
  ranges(lo, hi);
  const matrix* planes[4];
  float cs[4], ws[4];
  int m = 0;
  for (int i = 0; i < channels && i < 4; ++i) {
    if (!((code >> i) & 1u)) continue;
    const float range = Channel(hi, i) - Channel(lo, i);
    planes[m] = &plane[i];
    cs[m] = Channel(c, i);
    ws[m] = range > 0 ? 1.0f / range : 1e16f;
    ++m;
  }
  switch (m) {
    case 1:
      mask.bycolor1(*planes[0], cs[0], ws[0], t);
      break;
    case 2:
      mask.bycolor2(*planes[0], cs[0], ws[0], *planes[1], cs[1], ws[1], t, norm);
      break;
    case 3:
      mask.bycolor3(planes, cs, ws, t, norm);
      break;
    case 4:
      mask.bycolor4(planes, cs, ws, t, norm);
      break;
    default:
      break;
  }
  return *this;
}

fpbuffer& fpbuffer::edgemask(float t, bool cond, int type, float sigma, bool zeroMean) {
  if (n == 0) return *this;
  // The marks go into a fresh mask that replaces the old one at the end, so a failure keeps
  // the old mask; with a mask as target the gradients never overwrite the planes.
  bitmask marks(width, height);
  if (type == 0 || type == 1 || type == 2) {
    for (int i = 0; i < channels && i < 4; ++i) {
      if (cond && !((code >> i) & 1u)) continue;
      if (type == 0) {
        plane[i].sobel(t, &marks);
      } else if (type == 1) {
        plane[i].prewitt(t, &marks);
      } else {
        plane[i].edgemask(sigma, t, &marks, zeroMean);
      }
    }
  }
  mask = std::move(marks);
  return *this;
}
