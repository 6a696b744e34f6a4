#pragma once
// The float RGB picture of the benchmarks beside peers: smooth areas with some noise, the
// ranges that the filters' weights see in photographs.
#include <cmath>
#include <cstdint>

#include "image/fpbuffer.h"

// fx and fy are the shading's frequencies along rows and columns.
inline fpbuffer SmoothNoisyPicture(int w, int h, float fx = 0.01f, float fy = 0.013f,
                                   uint32_t seed = 12345) {
  fpbuffer f(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) {
      seed = seed * 1664525u + 1013904223u;
      const int x = k % w, y = k / w;
      f.plane[c].x[k] = 128.0f + 80.0f * std::sin(fx * x + c) * std::cos(fy * y) +
                        float(seed >> 8) * (8.0f / float(1 << 24));
    }
  }
  return f;
}
