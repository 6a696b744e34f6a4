// The sharpeners on a colour image: each processed channel sharpened in turn by the plane
// cores of the numeric library.
#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "platform/progress.h"

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

namespace {
float Median(matrix& v) { return v.median(); }
float Wmmr(matrix& v) { return v.wmmr(); }
float ShortHalfMean(matrix& v) { return v.shorthmean(); }
float Mean(matrix& v) { return v.mean(); }

// Neither filters a part of the picture: the Cond flag only picks channels.
constexpr ScopeRule kChannelsOnly{ScopeChannels::ByCond, false};
}  // namespace

fpbuffer& fpbuffer::periodicsmooth(const int32_t* dx, const int32_t* dy, int count, int function,
                                   int iterations, bool cond) {
  float (*statistic)(matrix&) = function == 1   ? Wmmr
                                : function == 2 ? ShortHalfMean
                                : function == 3 ? Mean
                                                : Median;
  const OperationScope scope(*this, nullptr, cond, kChannelsOnly);
  for (int i = 0; i < channels; ++i) {
    if (scope.processes(i)) plane[i].neighbourhood(dx, dy, count, statistic, iterations);
  }
  return *this;
}

fpbuffer& fpbuffer::poissonsharpen(int iterations, float amount, float scale, bool cond) {
  if (iterations <= 0) return *this;
  const OperationScope scope(*this, nullptr, cond, kChannelsOnly);
  int selected = 0;
  for (int i = 0; i < channels; ++i) selected += scope.processes(i);
  StartProgress(float(iterations) * float(selected));
  for (int i = 0; i < channels; ++i) {
    if (scope.processes(i)) plane[i].poissonsharpen(iterations, amount, scale);
  }
  return *this;
}
