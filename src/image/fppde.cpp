// The orientation-steered filters on a colour image: each processed channel evolved in
// turn by the plane steps of the numeric library.
#include <algorithm>
#include <climits>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/tensorrows.h"

namespace {
// The shock filter's window margin for a tensor sigma: 6 sigma rounded, at least 3 (also
// for NaN). A larger margin than the cap could never be allocated: its window fails with
// the plane's out-of-memory message.
int ShockReach(float sigma) {
  const double reach = 6.0 * double(sigma) + 0.5;
  if (!(reach > 3)) return 3;
  return int(std::min(reach, double(INT_MAX / 4)));
}

// The working planes of the iterations, kept from one iteration and one channel to the next.
struct ShockPlanes {
  matrix field, copy, xx, xy, yy;
};

// The iterations inside a selection's window.
void ShockIterations(matrix& channel, int iterations, float sigma, float edgeFactor, float step,
                     const bitmask* mask, ShockPlanes& p) {
  for (int t = 0; t < iterations; ++t) {
    // tensordirections in its two steps, on the kept planes.
    channel.structuretensor(p.xx, p.xy, p.yy, sigma, 1, 0);
    p.field.eigenfield(p.xx, p.xy, p.yy, 1, false);
    p.copy.assign(channel);
    channel.shockupdate(p.copy, p.field, edgeFactor, step, mask);
  }
}
}  // namespace

fpbuffer& fpbuffer::shockfilter(int iterations, float sigma, float edgeFactor, float step,
                                bitmask* selection, bool cond) {
  if (iterations <= 0 || width < 3 || height < 3) return *this;
  ScopeRule rule;
  rule.maskWhateverCond = true;
  const OperationScope scope(*this, selection, cond, rule);
  const bitmask* mask = scope.mask();
  ShockPlanes planes;
  if (mask == nullptr) {
    const ShockScratch scratch{&planes.xx, &planes.xy, &planes.yy, &planes.copy};
    for (int c = 0; c < channels && c < 4; ++c) {
      if (!scope.processes(c) || plane[c].n != n) continue;
      for (int t = 0; t < iterations; ++t)
        ShockIteration(plane[c], sigma, edgeFactor, step, scratch);
    }
    return *this;
  }
  int count, x, y, w, h;
  mask->bounds(count, x, y, w, h);
  // No pixel selected: nothing would be written back.
  if (count == 0) return *this;
  const int reach = ShockReach(sigma);
  const int f = reach / 2;
  // Not clipped to the image: the part beyond it reads the image reflected.
  matrix window(w + reach, h + reach);
  bitmask windowMask;
  windowMask.dim(w + reach, h + reach);
  windowMask.extract(*mask, x - f, y - f);
  for (int c = 0; c < channels && c < 4; ++c) {
    if (!scope.processes(c) || plane[c].n != n) continue;
    window.extract(plane[c], x - f, y - f);
    ShockIterations(window, iterations, sigma, edgeFactor, step, &windowMask, planes);
    plane[c].pasteinner(x, y, window, mask, f, f, f, f);
  }
  return *this;
}

fpbuffer& fpbuffer::isophote(int iterations, float coefficient, int modulus, int offset, int mode,
                             bitmask* selection, bool cond) {
  const OperationScope scope(*this, selection, cond);
  for (int c = 0; c < channels && c < 4; ++c) {
    if (!scope.processes(c) || plane[c].n != n) continue;
    plane[c].isophotesmooth(iterations, coefficient, modulus, offset, mode, scope.mask());
  }
  return *this;
}
