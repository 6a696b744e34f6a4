// The local window filters on a colour image: each processed channel filtered in turn by
// the plane filters of the numeric library.
#include <algorithm>
#include <cmath>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/kernels.h"

fpbuffer& fpbuffer::average3x3() {
  const OperationScope scope(*this, nullptr, false, ScopeRule{ScopeChannels::Visible, false});
  matrix work;
  for (int i = 0; i < channels; ++i) {
    if (!scope.processes(i)) continue;
    work.smooth3y(plane[i]);
    plane[i].smooth3x(work);
  }
  return *this;
}

namespace {
// Runs pass(plane, mask) `passes` times on every channel the scope processes.
template <class Pass>
void EachChannel(fpbuffer& image, bitmask* selection, bool cond, int passes, Pass pass) {
  const OperationScope scope(image, selection, cond);
  for (int i = 0; i < image.channels; ++i) {
    if (!scope.processes(i)) continue;
    for (int p = 0; p < passes; ++p) pass(image.plane[i], scope.mask());
  }
}
}  // namespace

fpbuffer& fpbuffer::lensblur(int passes, int r, bool maskedInput, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, passes,
              [&](matrix& m, const bitmask* mask) { m.discmean(r, mask, maskedInput); });
  return *this;
}

fpbuffer& fpbuffer::median(int passes, float radius, bool maskedInput, bitmask* selection,
                           bool cond, bool gaussian) {
  if (!gaussian) {
    // A radius too wide for any plane is left for the disc filter to refuse.
    const double wanted = std::trunc(double(radius) + 0.5);
    const int r = static_cast<int>(std::clamp(std::isnan(wanted) ? 1.0 : wanted, 1.0, 1e6));
    EachChannel(*this, selection, cond, passes,
                [&](matrix& m, const bitmask* mask) { m.discmedian(r, mask, maskedInput); });
    return *this;
  }
  matrix k, w;
  k.gaussian(radius, 3.0f);
  w.outer(k, k);
  w.mulscalar(static_cast<float>(1.0 / w.sum()));
  EachChannel(*this, selection, cond, passes, [&](matrix& m, const bitmask* mask) {
    m.weightedmedianfilter(w, mask, maskedInput);
  });
  return *this;
}

fpbuffer& fpbuffer::wmmr(int passes, int r, bool maskedInput, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, passes,
              [&](matrix& m, const bitmask* mask) { m.discwmmr(r, mask, maskedInput); });
  return *this;
}

fpbuffer& fpbuffer::bilateral(float spread, int passes, int size, int distribution,
                              bitmask* selection, bool cond, bool useMedian) {
  double (*weight)(float) = WeightGaussian;  // "None" has always weighed as the Gaussian
  if (distribution == 1) weight = WeightInverseQuadratic;
  if (distribution == 2) weight = WeightExpAbs;
  if (distribution == 4) weight = WeightBox;
  // The passes run inside the plane filter, which keeps one copy for all of them.
  EachChannel(*this, selection, cond, 1, [&](matrix& m, const bitmask* mask) {
    if (useMedian) {
      m.bilateralmedian(spread, passes, size, weight, mask);
    } else {
      m.bilateral(spread, passes, size, weight, mask);
    }
  });
  return *this;
}
