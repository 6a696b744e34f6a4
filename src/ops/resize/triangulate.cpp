// Triangulation of the float image: one diagonal choice from the dominant channel serves
// every channel.
#include "numeric/triangulate.h"
#include "ops/resize/resize.h"

bool fpbuffer::triangulate(float blur, int dominant, double sx, double sy, double dx, double dy,
                           bool scratch) {
  // An unknown channel (only a settings file can hold one) changes nothing, so the mask
  // and the image keep one size.
  if (dominant < 1 || dominant > 3 || dominant > channels || !(sx > 0) || !(sy > 0)) {
    return false;
  }
  mask.resample(sx, sy, dx, dy);
  for (int c = 0; c < channels; ++c) {
    if (sx < 1 && blur > 0) plane[c].gaussblurx(blur / sx);
    if (sy < 1 && blur > 0) plane[c].gaussblury(blur / sy);
  }
  bitmask diagonals;
  ChooseTriangleDiagonals(diagonals, plane[dominant - 1]);
  return ForEachChannel(*this, scratch, [&](matrix& plane) {
    const matrix source = plane;
    return ResampleTriangulation(plane, source, diagonals, sx, sy, dx, dy);
  });
}
