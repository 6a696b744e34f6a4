// Luminance and colour ratios of the tone maps.
#include <cmath>

#include "numeric/matrix.h"

matrix& matrix::SplitLuminance(matrix& r, matrix& g, matrix& b, float eps) {
  dim(r.nx, r.ny);
  for (int k = 0; k < n; ++k) {
    const float l = float(double(eps) + 0.299 * r.x[k] + 0.587 * g.x[k] + 0.114 * b.x[k]);
    x[k] = l;
    r.x[k] /= l;
    g.x[k] /= l;
    b.x[k] /= l;
  }
  return *this;
}

const matrix& matrix::MergeLuminance(matrix& r, matrix& g, matrix& b, double gamma) const {
  for (int k = 0; k < n; ++k) {
    r.x[k] = float(x[k] * std::pow(double(r.x[k]), gamma));
    g.x[k] = float(x[k] * std::pow(double(g.x[k]), gamma));
    b.x[k] = float(x[k] * std::pow(double(b.x[k]), gamma));
  }
  return *this;
}
