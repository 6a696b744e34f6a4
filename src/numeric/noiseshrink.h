#pragma once
// Soft-threshold wavelet shrinkage on a-trous levels (noiseshrink.cpp, matrixarray.cpp).
#include <cmath>

#include "numeric/matrixarray.h"

// sign(v) max(|v| - t, 0), and v itself for t = 0 (matrix::softthreshold of one sample).
inline float SoftShrink(float v, float t) {
  if (t == 0.0f) return v;
  const float a = std::fabs(v) - t;
  return a > 0.0f ? std::copysign(a, v) : 0.0f;
}

// One detail level thresholded by t as matrixarray::noisethreshold does with mode; scratch
// receives the level as it was when the mode scales it back.
void ShrinkDetail(matrix& level, float t, int mode, matrix& scratch);

// The plane split into factors.n a-trous levels, each thresholded as noisethreshold does, and
// added back, level by level without keeping the levels: the same plane as
// matrixarray::atrous, noisethreshold and matrix::addall but for the order of the final
// additions. work holds the working planes and keeps them for the next call.
void AtrousShrink(matrix& plane, const matrix& factors, int mode, matrixarray& work);
