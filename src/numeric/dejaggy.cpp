// The regularization of back-projection: a correction plane loses the part of the
// estimate's local detail that would otherwise grow into jaggies step after step.
#include "numeric/matrix.h"

matrix& matrix::dejaggy(float amount, const matrix& estimate) {
  if (amount == 0 || ny < 3 || estimate.nx != nx || estimate.ny != ny) return *this;
  for (int y = 1; y + 1 < ny; ++y) {
    const float* below = estimate.z[y - 1];
    const float* here = estimate.z[y];
    const float* above = estimate.z[y + 1];
    float* out = z[y];
    for (int x = 1; x + 1 < nx; ++x) {
      const float ring = below[x - 1] + below[x] + below[x + 1] + here[x - 1] + here[x + 1] +
                         above[x - 1] + above[x] + above[x + 1];
      out[x] -= amount * (here[x] - ring * 0.125f);
    }
  }
  return *this;
}
