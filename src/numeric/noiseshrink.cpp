// Wavelet shrinkage with measured thresholds: the noise of each a-trous level is measured as
// the RMS of that level over a homogeneous patch, and every level is then soft-thresholded
// by its own measure.
#include <algorithm>
#include <cmath>

#include "numeric/matching.h"
#include "numeric/matrixarray.h"
#include "numeric/noiseshrink.h"
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
  for (int k = 0; k < n; ++k) x[k] = SoftShrink(x[k], t);
  return *this;
}

void ShrinkDetail(matrix& level, float t, int mode, matrix& scratch) {
  if (mode != 1 && mode != 2) {
    level.softthreshold(t);
    return;
  }
  // Autosharpen: the thresholded level scaled back towards the level it came from.
  scratch = level;
  level.softthreshold(t);
  level.mulscalar(mode == 1 ? LeastSquaresGain(level, scratch) : LeastAbsoluteGain(level, scratch));
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
  for (int i = 0; i < n; ++i) ShrinkDetail(m[i], factors.x[i], mode, before);
  return *this;
}
