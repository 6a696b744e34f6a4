#include "numeric/triangulate.h"

#include <algorithm>
#include <cmath>

#include "platform/parallel.h"

namespace {
// The cell a coordinate falls in, between 0 and size - 2 (the last cell extrapolates beyond
// the grid), and the offset inside it. A line of one sample has the single cell 0.
struct Cell {
  int first, second;
  double f;
};

Cell FindCell(double v, int size) {
  double k = std::trunc(v);
  k = std::clamp(k, 0.0, double(std::max(size - 2, 0)));
  const int first = static_cast<int>(k);
  return {first, std::min(first + 1, size - 1), v - k};
}
}  // namespace

bitmask& ChooseTriangleDiagonals(bitmask& mask, const matrix& plane) {
  return ChooseDiagonals(mask, plane.nx, plane.ny, [&](int c, int r) { return plane.z[r][c]; });
}

bool ResampleTriangulation(matrix& out, const matrix& input, const bitmask& diagonals, double sx,
                           double sy, double dx, double dy, bool cancellable) {
  const int w = input.nx, h = input.ny;
  const auto count = [](double v) {
    return v > 0 ? static_cast<int>(std::min(v, double(INT32_MAX))) : 0;
  };
  out.dim(count(std::trunc(w * sx + 0.5)), count(std::trunc(h * sy + 0.5)));
  if (input.n == 0 || out.n == 0) return false;
  const double gx = 1 / sx, ox = (gx - 1) / 2 + gx * dx;
  const double gy = 1 / sy, oy = (gy - 1) / 2 + gy * dy;
  const bool useMask = diagonals.width == w && diagonals.height == h && diagonals.present();
  const BlockBody rows = [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const Cell cy = FindCell(oy + gy * double(i), h);
      const float* lower = input.z[cy.first];
      const float* upper = input.z[cy.second];
      float* row = out.z[i];
      for (int j = 0; j < out.nx; ++j) {
        const Cell cx = FindCell(ox + gx * j, w);
        const double tl = lower[cx.first], tr = lower[cx.second];
        const double bl = upper[cx.first], br = upper[cx.second];
        const double fx = cx.f, fy = cy.f;
        double v;
        if (useMask && diagonals.get(cx.first, cy.first)) {
          v = fy < fx ? tl + fx * (tr - tl) + fy * (br - tr) : tl + fy * (bl - tl) + fx * (br - bl);
        } else {
          v = fx + fy < 1 ? tl + fx * (tr - tl) + fy * (bl - tl)
                          : bl + tr - br + fx * (br - bl) + fy * (br - tr);
        }
        row[j] = static_cast<float>(v);
      }
    }
  };
  const int64_t block = BlockFor(8 * int64_t(out.nx));
  if (cancellable) return ParallelBlocksTicking(out.ny, block, rows);
  ParallelBlocks(out.ny, block, rows);
  return false;
}
