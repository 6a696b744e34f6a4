// Cutting a window out of a plane or a mask, and writing a filtered window back. Masked
// filters work on the window around their mask alone; the window may reach past the
// plane, where it reads the plane reflected on its edge samples.
#include <cstdint>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/matrix.h"

matrix& matrix::extract(const matrix& source, int x0, int y0) {
  if (n == 0 || source.n == 0) return *this;
  // A window further out than one reflection reaches folds again (ReflectWhole), so a
  // small plane under a wide margin is still read inside its bounds.
  for (int r = 0; r < ny; ++r) {
    const float* row = source.z[ReflectWhole(int64_t(y0) + r, source.ny)];
    for (int c = 0; c < nx; ++c) z[r][c] = row[ReflectWhole(int64_t(x0) + c, source.nx)];
  }
  return *this;
}

bitmask& bitmask::extract(const bitmask& source, int x0, int y0) {
  if (n == 0 || !present()) return *this;
  const bool any = source.present() && source.n > 0;
  for (int r = 0; r < height; ++r) {
    const int sy = any ? ReflectWhole(int64_t(y0) + r, source.height) : 0;
    for (int c = 0; c < width; ++c) {
      const bool on = any && source.get(ReflectWhole(int64_t(x0) + c, source.width), sy);
      set(c, r, on);
    }
  }
  return *this;
}

matrix& matrix::pasteinner(int x0, int y0, const matrix& window, const bitmask* mask, int left,
                           int right, int top, int bottom) {
  if (n == 0 || window.n == 0) return *this;
  if (mask && !(mask->present() && mask->width == nx && mask->height == ny)) mask = nullptr;
  for (int r = top; r < window.ny - bottom; ++r) {
    const int64_t y = int64_t(y0) + (r - top);
    if (y < 0 || y >= ny) continue;
    for (int c = left; c < window.nx - right; ++c) {
      const int64_t xx = int64_t(x0) + (c - left);
      if (xx < 0 || xx >= nx) continue;
      if (mask && !mask->get(int(xx), int(y))) continue;
      z[y][xx] = window.z[r][c];
    }
  }
  return *this;
}
