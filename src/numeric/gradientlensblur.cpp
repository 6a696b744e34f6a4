// The gradient lens blur: a disc mean whose radius each pixel reads from a second plane.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/clamp.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// The disc of cmatrix::disk as one run of columns per row, offsets from the centre.
struct Disc {
  std::vector<int> lo, hi;
  int count = 0;

  explicit Disc(int h) {
    cmatrix cells(2 * h + 1, 2 * h + 1);
    count = cells.disk();
    for (int i = 0; i < cells.height; ++i) {
      int a = cells.width, b = -1;
      for (int j = 0; j < cells.width; ++j) {
        if (cells.rows[i][j]) {
          a = std::min(a, j);
          b = std::max(b, j);
        }
      }
      lo.push_back(a - h);
      hi.push_back(b - h);
    }
  }
};
}  // namespace

matrix& matrix::gradientlensblur(const matrix& radius, const bitmask* mask) {
  if (n == 0 || radius.nx != nx || radius.ny != ny) return *this;
  if (mask != nullptr && !mask->covers(nx, ny)) mask = nullptr;
  // Radii come from image data: NaN is 0, and no disc is wider than the larger side.
  const int64_t side = std::max(nx, ny);
  std::vector<int> h(static_cast<size_t>(n));
  int H = 0;
  for (int64_t k = 0; k < n; ++k) {
    h[size_t(k)] = int(ClampToInteger(std::fabs(double(radius.x[k])) + 0.5, 0, side));
    H = std::max(H, h[size_t(k)]);
  }
  if (H == 0) return *this;
  std::vector<bool> used(size_t(H) + 1, false);
  for (int r : h) used[size_t(r)] = true;
  std::vector<Disc> discs;
  for (int r = 0; r <= H; ++r) discs.emplace_back(used[size_t(r)] ? r : 0);
  matrix padded;
  padded.mirrorpad(*this, H);
  ParallelBlocks(ny, BlockFor(int64_t(nx) * (2 * H + 1)), [&](int64_t y0, int64_t y1) {
    for (int y = int(y0); y < int(y1); ++y) {
      for (int x = 0; x < nx; ++x) {
        const int r = h[size_t(y) * size_t(nx) + size_t(x)];
        if (r == 0 || (mask != nullptr && !mask->get(x, y))) continue;
        const Disc& d = discs[size_t(r)];
        double s = 0.0;
        int m = 0;
        for (int i = 0; i <= 2 * r; ++i) {
          const int yy = y + i - r;
          const float* row = padded.z[yy + H] + H;
          if (mask == nullptr) {
            for (int j = d.lo[size_t(i)]; j <= d.hi[size_t(i)]; ++j) s += row[x + j];
            continue;
          }
          if (yy < 0 || yy >= ny) continue;
          for (int j = d.lo[size_t(i)]; j <= d.hi[size_t(i)]; ++j) {
            const int xx = x + j;
            if (xx < 0 || xx >= nx || !mask->get(xx, yy)) continue;
            s += row[xx];
            ++m;
          }
        }
        z[y][x] = float(s / (mask == nullptr ? d.count : m));
      }
    }
  });
  return *this;
}
