// Triangulation of the float image: one diagonal choice from the dominant channel serves
// every channel.
#include "numeric/triangulate.h"
#include "ops/resize/resize.h"

bool triangulate(fpbuffer& image, float blur, int dominant, double sx, double sy, double dx,
                 double dy, bool scratch) {
  // An unknown channel (only a settings file can hold one) changes nothing, so the mask
  // and the image keep one size.
  if (dominant < 1 || dominant > 3 || dominant > image.channels || !(sx > 0) || !(sy > 0)) {
    return false;
  }
  image.mask.resample(sx, sy, dx, dy);
  for (int c = 0; c < image.channels; ++c) {
    if (sx < 1 && blur > 0) image.plane[c].gaussblurx(float(blur / sx), 0);
    if (sy < 1 && blur > 0) image.plane[c].gaussblury(float(blur / sy), 0);
  }
  bitmask diagonals;
  ChooseTriangleDiagonals(diagonals, image.plane[dominant - 1]);
  return ForEachChannel(image, scratch, [&](matrix& plane) {
    const matrix source = plane;
    return ResampleTriangulation(plane, source, diagonals, sx, sy, dx, dy);
  });
}
