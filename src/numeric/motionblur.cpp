// The motion blur: the mean over a digital line segment centred on each pixel.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/clamp.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// trunc(v + 0.5), made odd when even by the nearer odd neighbour of v, a tie going down.
// Bounded, so that an absurd length asks for a stencil the allocation refuses rather than
// overflowing; NaN counts as 0.
int NearestOdd(float v) {
  constexpr int64_t kBound = int64_t(1) << 30;
  int64_t g = ClampToInteger(double(v) + 0.5, -kBound, kBound);
  if (g % 2 == 0) g = std::fabs(v - double(g + 1)) < std::fabs(v - double(g - 1)) ? g + 1 : g - 1;
  return int(g);
}
}  // namespace

int bitmask::motionline(float length, float angle) {
  const double theta = double(angle) * 0.017453292519943295;
  const float dx = float(double(length) * std::cos(theta));
  const float dy = float(double(length) * std::sin(theta));
  const int g = NearestOdd(dy), h = NearestOdd(dx);
  const int l = std::max(std::abs(g), std::abs(h));
  dim(l, l);
  std::memset(bits, 0, sizeof(uint32_t) * size_t(words));
  const int c = l / 2;
  // line() draws nothing when the ends coincide (|g| = |h| = 1): the centre alone is the
  // stencil then, so the mean always has a divisor.
  if (g / 2 == 0 && h / 2 == 0) {
    set(c, c, true);
  } else {
    line(c - h / 2, c - g / 2, c + h / 2, c + g / 2, true);
  }
  int count = 0;
  for (int k = 0; k < words; ++k) count += std::popcount(bits[k]);
  return count;
}

matrix& matrix::motionblur(float length, float angle, const bitmask* mask, bool maskedInput) {
  if (n == 0) return *this;
  if (mask != nullptr && !mask->covers(nx, ny)) mask = nullptr;
  bitmask stencil;
  const int count = stencil.motionline(length, angle);
  if (count <= 1) return *this;  // the centre cell alone
  const int l = stencil.width, t = l / 2;
  // The set cells as (row, column) offsets into the padded copy.
  std::vector<int> rows, cols;
  for (int a = 0; a < l; ++a) {
    for (int b = 0; b < l; ++b) {
      if (stencil.get(b, a)) {
        rows.push_back(a);
        cols.push_back(b);
      }
    }
  }
  matrix padded;
  padded.mirrorpad(*this, t);
  const size_t cells = rows.size();
  if (mask != nullptr && maskedInput) {
    ParallelBlocks(ny, BlockFor(int64_t(nx) * int64_t(cells)), [&](int64_t y0, int64_t y1) {
      for (int y = int(y0); y < int(y1); ++y) {
        for (int x = 0; x < nx; ++x) {
          if (!mask->get(x, y)) continue;
          double s = 0.0;
          int m = 0;
          for (size_t k = 0; k < cells; ++k) {
            const int yy = y + rows[k] - t, xx = x + cols[k] - t;
            if (yy < 0 || yy >= ny || xx < 0 || xx >= nx || !mask->get(xx, yy)) continue;
            s += padded.z[yy + t][xx + t];
            ++m;
          }
          z[y][x] = float(s / m);
        }
      }
    });
    return *this;
  }
  const std::vector<double> ones(cells, 1.0);
  const double scale = 1.0 / count;
  ParallelBlocks(ny, BlockFor(int64_t(nx) * int64_t(cells)), [&](int64_t y0, int64_t y1) {
    std::vector<const float*> lines(cells);
    std::vector<double> sums(static_cast<size_t>(nx));
    for (int y = int(y0); y < int(y1); ++y) {
      for (size_t k = 0; k < cells; ++k) lines[k] = padded.z[y + rows[k]] + cols[k];
      WeightedLines(lines.data(), ones.data(), cells, nx, Sink{sums.data()});
      for (int x = 0; x < nx; ++x) {
        if (mask == nullptr || mask->get(x, y)) z[y][x] = float(scale * sums[size_t(x)]);
      }
    }
  });
  return *this;
}
