// Pyramid simulation: an enlargement in many small triangulation steps.
#include <algorithm>
#include <cmath>

#include "ops/resize/resize.h"
#include "platform/parallel.h"

bool pyramidsim(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch, double q,
                float sharpness, float haloWidth) {
  if (!(sx >= 1) || !(sy >= 1) || image.n == 0) return false;
  const int targetW = ResizedLength(image.width, sx), targetH = ResizedLength(image.height, sy);
  // The settings page refuses an increment not above 1; a direct call gets the default.
  if (!(q > 1.0)) q = 1.25;
  const double steps = std::trunc(std::log(std::max(sx, sy)) / std::log(q) + 0.5);
  const int count = int(std::clamp(steps, 5.0, 10000.0));
  const double ex = std::pow(sx, 1.0 / count), ey = std::pow(sy, 1.0 / count);
  const CSpaceCode kept = image.code;
  image.convert(cspace::kYCbCr);
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    if (triangulate(image, 0, 1, ex, ey, last ? dx : 0, last ? dy : 0, scratch)) return true;
  }
  if (sharpness > 0) {
    matrix& y = image.plane[0];
    matrix blurred = y;
    blurred.gaussblur(float(sx * haloWidth), float(sy * haloWidth), nullptr);
    const double g = 1.2 * double(sharpness);
    ParallelBlocks(y.n, BlockFor(3), [&](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) y.x[k] = float((g + 1) * y.x[k] - g * blurred.x[k]);
    });
  }
  RepeatEdgesTo(image, targetW, targetH);
  image.convert(kept);
  return false;
}
