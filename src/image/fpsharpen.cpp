// The sharpeners on a colour image: each processed channel sharpened in turn by the plane
// cores of the numeric library.
#include "image/fpbuffer.h"
#include "image/opscope.h"

fpbuffer& fpbuffer::unsharp(Smoother smoother, int radius, UnsharpResponseFn response, float amount,
                            float t1, float t2, float t3, bitmask* selection, bool cond) {
  fpixel4 lo, hi;
  ranges(lo, hi);
  const float range[4] = {hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, hi.w - lo.w};
  const OperationScope scope(*this, selection, cond);
  for (int i = 0; i < channels && i < 4; ++i) {
    if (!scope.processes(i)) continue;
    const double r = range[i];
    plane[i].unsharp(smoother, radius, response, amount, float(t1 * r), float(t2 * r),
                     float(t3 * r), scope.mask());
  }
  return *this;
}

fpbuffer& fpbuffer::xsharpen(int w, float threshold, float amount, int iterations,
                             bitmask* selection, bool cond) {
  const OperationScope scope(*this, selection, cond);
  for (int i = 0; i < channels; ++i) {
    if (!scope.processes(i)) continue;
    for (int pass = 0; pass < iterations; ++pass) {
      plane[i].xsharpen(w, threshold, amount, scope.mask());
    }
  }
  return *this;
}
