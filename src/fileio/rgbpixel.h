#pragma once
// One pixel of a float image as RGB, through the image's own colour-space callbacks; the
// file readers and writers meet the image here.
#include <cstddef>
#include <cstdint>

#include "image/fpbuffer.h"

inline fpixel GetRgb(const fpbuffer& image, size_t k) {
  if (image.channels == 4) {
    return image.torgb4(fpixel4(image.plane[0].x[k], image.plane[1].x[k], image.plane[2].x[k],
                                image.plane[3].x[k]));
  }
  const fpixel p(image.plane[0].x[k], image.plane[1].x[k], image.plane[2].x[k]);
  return image.isidentity() ? p : image.torgb(p);
}

inline void PutRgb(fpbuffer& image, size_t k, const fpixel& rgb) {
  if (image.channels == 4) {
    const fpixel4 q = image.fromrgb4(rgb);
    image.plane[0].x[k] = q.x;
    image.plane[1].x[k] = q.y;
    image.plane[2].x[k] = q.z;
    image.plane[3].x[k] = q.w;
  } else if (image.channels == 3) {
    const fpixel q = image.isidentity() ? rgb : image.fromrgb(rgb);
    image.plane[0].x[k] = q.x;
    image.plane[1].x[k] = q.y;
    image.plane[2].x[k] = q.z;
  }
}

// A 16-bit file sample on the 0-255 scale: times 1/257 in double precision, kept as float.
inline float FromWordSample(uint16_t v) { return float(v * (1.0 / 257.0)); }
