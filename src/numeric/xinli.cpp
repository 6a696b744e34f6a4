// The radial weights of the tapered training windows and the window rule of the Xin Li
// models.
#include "numeric/xinli.h"

#include <cmath>
#include <cstdlib>

#include <algorithm>

namespace xinli {

int EvenWindow(int window) {
  const int64_t n = std::llabs(int64_t(window));
  const int64_t even = n - n % 2;
  return int(std::clamp<int64_t>(even, 2, int64_t(INT32_MAX) - 1));
}

}  // namespace xinli

matrix& matrix::radialweights(float p) {
  if (n == 0) return *this;
  const float cx = float(nx - 1) / 2, cy = float(ny - 1) / 2;
  for (int i = 0; i < ny; ++i) {
    for (int j = 0; j < nx; ++j) {
      const float di = float(i) - cy, dj = float(j) - cx;
      z[i][j] = std::pow(std::sqrt(di * di + dj * dj), -p);
    }
  }
  const double s = sum();
  // The mean becomes 1; a sum that is not a positive finite number (a centre at distance 0,
  // which an even window never has) leaves the raw weights.
  if (s > 0 && std::isfinite(s)) mulscalar(float(double(n) / s));
  return *this;
}
