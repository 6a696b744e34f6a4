#pragma once
// The test plane of the filter benchmarks: uniform noise on 0 .. 255 from a fixed seed.
#include <cstdint>

#include "numeric/matrix.h"

inline matrix NoisePlane(int w, int h) {
  matrix m(w, h);
  uint32_t seed = 12345;
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = float(seed >> 8) * (255.0f / float(1 << 24));
  }
  return m;
}
