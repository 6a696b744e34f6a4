// Stair interpolation: an arbitrary scale reached by equal small steps.
#include <algorithm>
#include <cmath>

#include "ops/resize/resize.h"

void RepeatEdgesTo(fpbuffer& image, int w, int h) {
  if (image.n == 0 || (image.width == w && image.height == h)) return;
  for (int c = 0; c < image.channels; ++c) {
    const matrix old = image.plane[c];
    matrix& p = image.plane[c].dim(w, h);
    if (p.n == 0) continue;  // a target without columns or rows has nothing to repeat
    const int keepW = std::min(w, old.nx), keepH = std::min(h, old.ny);
    for (int j = 0; j < keepH; ++j) std::copy_n(old.z[j], keepW, p.z[j]);
    for (int j = keepH; j < h; ++j) std::copy_n(p.z[j - 1], keepW, p.z[j]);
    for (int j = 0; j < h; ++j) std::fill(p.z[j] + keepW, p.z[j] + w, p.z[j][keepW - 1]);
  }
  if (image.mask.present()) {
    image.mask.resample(double(w) / image.mask.width, double(h) / image.mask.height, 0, 0);
  }
  image.syncviews();
}

bool stair(fpbuffer& image, int order, double sx, double sy, double dx, double dy, bool scratch,
           double q, float p, bool lanczos, bool antialias) {
  if (!(sx > 0) || !(sy > 0) || image.width == 0 || image.height == 0) return false;
  const int targetW = ResizedLength(image.width, sx), targetH = ResizedLength(image.height, sy);
  // A settings or program file may hold an increment the page refuses; its default serves.
  if (!(q > 1.0)) q = 1.1;
  const double steps = sx < 1 && sy < 1
                           ? std::trunc(0.5 - std::log(std::min(sx, sy)) / std::log(q))
                           : std::trunc(std::log(std::max(sx, sy)) / std::log(q) + 0.5);
  const int count = int(std::clamp(steps, 0.0, 10000.0));
  if (count > 0) {
    const double ex = std::pow(sx, 1.0 / count), ey = std::pow(sy, 1.0 / count);
    for (int i = 0; i < count; ++i) {
      const double ox = i == count - 1 ? dx : 0, oy = i == count - 1 ? dy : 0;
      const bool failed =
          lanczos ? resizelanczos(image, order, ex, ey, ox, oy, scratch, true, antialias)
                  : resizebicubic(image, p, ex, ey, ox, oy, scratch, antialias);
      if (failed) return true;
    }
  }
  RepeatEdgesTo(image, targetW, targetH);
  return false;
}
