// The lattice neighbourhood filter of periodic smoothing: each pixel replaced by a robust
// statistic of the pixels one period away along the pattern's offsets.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "numeric/border.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

matrix& matrix::neighbourhood(const int32_t* dx, const int32_t* dy, int count,
                              float (*function)(matrix& values), int repeats) {
  if (count <= 0 || n == 0 || !function) return *this;
  // Rows and columns whose every offset lands inside the plane read it directly.
  int64_t loX = 0, hiX = 0, loY = 0, hiY = 0;
  for (int k = 0; k < count; ++k) {
    loX = std::min<int64_t>(loX, dx[k]);
    hiX = std::max<int64_t>(hiX, dx[k]);
    loY = std::min<int64_t>(loY, dy[k]);
    hiY = std::max<int64_t>(hiY, dy[k]);
  }
  const int64_t x0 = -loX, x1 = nx - hiX, y0 = -loY, y1 = ny - hiY;  // [x0, x1) x [y0, y1)
  std::vector<int64_t> step(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) step[k] = int64_t(dy[k]) * nx + dx[k];

  matrix before;
  for (int pass = 0; pass < repeats; ++pass) {
    before.assign(*this);
    const float* src = before.x;
    ParallelBlocks(ny, BlockFor(int64_t(nx) * count * 4), [&](int64_t r0, int64_t r1) {
      std::vector<float> gathered(static_cast<size_t>(count));
      matrix values(gathered.data(), count, 1);
      std::vector<int> rows(static_cast<size_t>(count));
      for (int64_t i = r0; i < r1; ++i) {
        const bool innerRow = i >= y0 && i < y1;
        for (int k = 0; k < count; ++k) rows[k] = ReflectWhole(i + dy[k], ny);
        float* out = x + i * nx;
        for (int64_t j = 0; j < nx; ++j) {
          if (innerRow && j >= x0 && j < x1) {
            const float* centre = src + i * nx + j;
            for (int k = 0; k < count; ++k) gathered[k] = centre[step[k]];
          } else {
            for (int k = 0; k < count; ++k) {
              gathered[k] = src[int64_t(rows[k]) * nx + ReflectWhole(j + dx[k], nx)];
            }
          }
          out[j] = function(values);
        }
      }
    });
  }
  return *this;
}
