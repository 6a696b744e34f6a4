#include "image/triangulate_rgb.h"

#include <algorithm>

#include "numeric/triangulate.h"
#include "platform/parallel.h"

bitmask& ChooseTriangleDiagonalsRgb(bitmask& mask, const rgbbuffer& image) {
  return ChooseDiagonals(mask, image.width, image.height,
                         [&](int u, int o) { return image.at(u, o).g; });
}

bool rgbbuffer::triangulate(const rgbbuffer& source, double shiftX, double shiftY,
                            bool pollCancel) {
  if (n == 0 || source.n == 0) return false;
  bitmask diagonals;
  ChooseTriangleDiagonalsRgb(diagonals, source);
  const int sw = source.width, sh = source.height;
  const double fx = double(sw) / width, fy = double(sh) / height;
  const double ox = (fx - 1.0) / 2.0 + fx * shiftX, oy = (fy - 1.0) / 2.0 + fy * shiftY;
  // The cell's lower-left sample, kept inside the source also for one-sample-wide lines.
  auto cell = [](double v, int size) {
    int c = static_cast<int>(v);
    return std::max(0, std::min(c, size - 2));
  };
  const auto rows = [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const double v = double(i) * fy + oy;
      const int o = cell(v, sh), o1 = std::min(o + 1, sh - 1);
      const double b = v - o;
      for (int j = 0; j < width; ++j) {
        const double u0 = j * fx + ox;
        const int u = cell(u0, sw), u1 = std::min(u + 1, sw - 1);
        const double a = u0 - u;
        const bytepixel& p00 = source.at(u, o);
        const bytepixel& p10 = source.at(u1, o);
        const bytepixel& p01 = source.at(u, o1);
        const bytepixel& p11 = source.at(u1, o1);
        const bool along = diagonals.getbit(u + o * sw);
        auto value = [&](uint8_t bytepixel::*ch) -> float {
          const double q00 = p00.*ch, q10 = p10.*ch, q01 = p01.*ch, q11 = p11.*ch;
          if (along) {
            return float(a > b ? q00 + a * (q10 - q00) + b * (q11 - q10)
                               : q00 + a * (q11 - q01) + b * (q01 - q00));
          }
          return float(a + b < 1.0 ? q00 + a * (q10 - q00) + b * (q01 - q00)
                                   : q10 + q01 - q11 + a * (q11 - q01) + b * (q11 - q10));
        };
        at(j, int(i)) = bytepixel::fromfpixel(
            fpixel(value(&bytepixel::r), value(&bytepixel::g), value(&bytepixel::b)));
      }
    }
  };
  const int64_t block = BlockFor(24 * int64_t(width));
  if (pollCancel) return ParallelBlocksTicking(height, block, rows);
  ParallelBlocks(height, block, rows);
  return false;
}
