#pragma once
// How far a plane is from another, and an enlargement's reduction from its input, away from
// the borders where the models do not hold.
#include <cmath>

#include "numeric/matrix.h"

// RMS of a - b over the samples at least `border` from every edge.
inline double InteriorRms(const matrix& a, const matrix& b, int border) {
  double s = 0;
  int count = 0;
  for (int y = border; y < a.ny - border; ++y) {
    for (int x = border; x < a.nx - border; ++x) {
      const double d = double(a.z[y][x]) - b.z[y][x];
      s += d * d;
      ++count;
    }
  }
  return std::sqrt(s / count);
}

// The same for big reduced by a with DownscaleKernel(a, reduction) against low.
inline double ReductionRms(const matrix& big, const matrix& low, int a, int reduction, int border) {
  matrix k, back(low.nx, low.ny);
  k.DownscaleKernel(a, reduction, 0, 0);
  back.decimate(big, k, a);
  return InteriorRms(back, low, border);
}
