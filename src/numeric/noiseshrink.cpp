// Wavelet shrinkage with measured thresholds: the noise of each a-trous level is measured as
// the RMS of that level over a homogeneous patch, and every level is then soft-thresholded
// by its own measure.
#include <algorithm>
#include <cmath>

#include "numeric/matching.h"
#include "numeric/matrixarray.h"
#include "platform/messages.h"

float matrix::windowrms(int x, int y, int w, int h) const {
  // Only the part of the rectangle inside the plane is read.
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = int(std::min<int64_t>(int64_t(x) + w, nx));
  const int y1 = int(std::min<int64_t>(int64_t(y) + h, ny));
  if (x1 <= x0 || y1 <= y0) return 0.0f;
  const int64_t count = int64_t(x1 - x0) * (y1 - y0);
  double sum = 0.0;
  for (int r = y0; r < y1; ++r) {
    for (int c = x0; c < x1; ++c) sum += double(z[r][c]) * z[r][c];
  }
  return float(std::sqrt(sum / double(count)));
}

matrix& matrix::noiseprofile(const matrixarray& levels, int x, int y, int w, int h) {
  if (levels.n == 0 || levels[0].n == 0) return *this;
  dim(levels.n, 1);
  for (int i = 0; i < levels.n; ++i) this->x[i] = levels[i].windowrms(x, y, w, h);
  return *this;
}

matrix& matrix::softthreshold(float t) {
  if (t == 0.0f) return *this;
  for (int k = 0; k < n; ++k) {
    const float a = std::fabs(x[k]) - t;
    x[k] = a > 0.0f ? std::copysign(a, x[k]) : 0.0f;
  }
  return *this;
}

matrixarray& matrixarray::noisethreshold(const matrix& factors, int mode) {
  if (factors.n != n) {
    ShowMessage("1");
    return *this;
  }
  if (n == 0 || m[0].n == 0) {
    ShowMessage("2");
    return *this;
  }
  matrix before;
  for (int i = 0; i < n; ++i) {
    if (mode != 1 && mode != 2) {
      m[i].softthreshold(factors.x[i]);
      continue;
    }
    // Autosharpen: the thresholded level scaled back towards the level it came from.
    before = m[i];
    m[i].softthreshold(factors.x[i]);
    const float g = mode == 1 ? LeastSquaresGain(m[i], before) : LeastAbsoluteGain(m[i], before);
    m[i].mulscalar(g);
  }
  return *this;
}
