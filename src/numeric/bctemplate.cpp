// Brightness/contrast templates: the mean and spread of a plane's coarse structure and the
// contrast of each a-trous detail level, recorded from one plane and imposed on another.
// Every statistic is a per-pixel average, so a template fits planes of any size.
#include <algorithm>
#include <cmath>

#include "numeric/blocksum.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"

namespace {
double Mean(const matrix& m) {
  return BlockSum(size_t(m.n), [&](size_t i) { return double(m.x[i]); }) / double(m.n);
}

double Rms(const matrix& m) {
  const double squares = BlockSum(size_t(m.n), [&](size_t i) {
    const double v = m.x[i];
    return v * v;
  });
  return std::sqrt(squares / double(m.n));
}
}  // namespace

int TemplateLevelCount(int w, int h) {
  int count = 1;
  for (int c = std::min(w, h); c > 15; c /= 2) ++count;
  return count;
}

const matrix& matrix::bctemplate(matrix& levels, float& mean, float& rms, int requested) const {
  if (n == 0) {
    levels.dim(0, 0);
    return *this;
  }
  const int automatic = TemplateLevelCount(nx, ny);
  const int count = requested > 0 && requested <= automatic ? requested : automatic;
  matrix residual(*this);
  matrixarray detail;
  detail.atrous(residual, count);
  const double m = Mean(residual);
  residual.addscalar(float(-m));
  mean = float(m);
  rms = float(Rms(residual));
  levels.dim(count, 1);
  for (int i = 0; i < count; ++i) levels.x[i] = float(Rms(detail[i]));
  return *this;
}

matrix& matrix::bcadjust(const matrix& levels, float mean, float rms) {
  if (n == 0 || levels.n == 0) return *this;
  matrixarray detail;
  detail.atrous(*this, levels.n);
  addscalar(float(-Mean(*this)));
  const double spread = Rms(*this);
  if (spread > 0.0) mulscalar(float(double(rms) / spread));
  addscalar(mean);
  for (int i = 0; i < levels.n; ++i) {
    const double d = Rms(detail[i]);
    if (d > 0.0) detail[i].mulscalar(float(double(levels.x[i]) / d));
  }
  return addall(detail);
}
