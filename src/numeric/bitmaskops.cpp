// Building masks from planes (by colour, by gradient edges), flood fill, bars and ellipses.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {

// Runs fn(k0, k1) over the pixel indices [k0, k1) in parallel blocks that start and end on
// word boundaries, so that no two blocks write the same 32-bit word.
template <class Fn>
void ForWordBlocks(const bitmask& m, int64_t costPerPixel, Fn fn) {
  const int64_t block = std::max<int64_t>(1, BlockFor(32 * costPerPixel));
  ParallelBlocks(m.words, block,
                 [&](int64_t w0, int64_t w1) { fn(w0 * 32, std::min<int64_t>(w1 * 32, m.n)); });
}

// ORs in the pixels for which pass(k) holds, building each word before storing it.
template <class Pass>
void OrWhere(bitmask& m, int64_t cost, Pass pass) {
  ForWordBlocks(m, cost, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; k += 32) {
      const int64_t e = std::min<int64_t>(k + 32, k1);
      uint32_t word = 0;
      for (int64_t i = k; i < e; ++i) word |= uint32_t(pass(i)) << (i - k);
      m.bits[k >> 5] |= word;
    }
  });
}

// The m-channel test of bycolor2 to bycolor4.
template <int M>
void ByColor(bitmask& mask, const matrix* const planes[M], const float c[M], const float w[M],
             float t, int norm) {
  if (norm < 0 || norm > 2) return;
  for (int i = 0; i < M; ++i) {
    if (planes[i]->n != mask.n) return;
  }
  const float* p[M];
  for (int i = 0; i < M; ++i) p[i] = planes[i]->x;
  const float limit = norm == 0 ? t : norm == 1 ? float(M) * t : float(M) * t * t;
  OrWhere(mask, M, [&](int64_t k) {
    float acc = 0;
    for (int i = 0; i < M; ++i) {
      const float d = w[i] * std::fabs(p[i][k] - c[i]);
      if (norm == 0) {
        acc = std::max(acc, d);
      } else {
        acc += norm == 1 ? d : d * d;
      }
    }
    return acc <= limit;
  });
}

// The squared gradient of the 3x3 stencil with side weight s (1 Prewitt, 2 Sobel) at the
// interior pixel (x, y).
inline float Gradient2(const matrix& p, int x, int y, float s) {
  const float* below = p.z[y - 1];
  const float* row = p.z[y];
  const float* above = p.z[y + 1];
  const float gx = (below[x + 1] + s * row[x + 1] + above[x + 1]) -
                   (below[x - 1] + s * row[x - 1] + above[x - 1]);
  const float gy =
      (above[x - 1] + s * above[x] + above[x + 1]) - (below[x - 1] + s * below[x] + below[x + 1]);
  return gx * gx + gy * gy;
}

matrix& GradientEdges(matrix& p, float t, bitmask* mask, float side, float scale) {
  const int w = p.nx, h = p.ny;
  if (mask) {
    if (!mask->covers(w, h) || w < 3 || h < 3) return p;
    const float limit = (scale * t) * (scale * t);
    OrWhere(*mask, 10, [&](int64_t k) {
      const int y = int(k / w), x = int(k % w);
      if (x < 1 || x > w - 2 || y < 1 || y > h - 2) return false;
      return Gradient2(p, x, y, side) >= limit;
    });
    return p;
  }
  const matrix copy(p);
  ParallelBlocks(h, BlockFor(int64_t(w) * 10), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* out = p.z[y];
      const bool inner = y >= 1 && y <= h - 2;
      for (int x = 0; x < w; ++x) {
        out[x] = inner && x >= 1 && x <= w - 2 ? std::sqrt(Gradient2(copy, x, int(y), side)) : 0.0f;
      }
    }
  });
  return p;
}

}  // namespace

bitmask& bitmask::bycolor1(const matrix& p, float c, float w, float t) {
  if (p.n != n) return *this;
  // A negative weight admits every pixel (the threshold of a flat channel).
  const float limit = w < 0 ? 1e16f : t / w;
  const float* v = p.x;
  OrWhere(*this, 1, [&](int64_t k) { return std::fabs(v[k] - c) <= limit; });
  return *this;
}

bitmask& bitmask::bycolor2(const matrix& a, float ca, float wa, const matrix& b, float cb, float wb,
                           float t, int norm) {
  const matrix* const planes[2] = {&a, &b};
  const float c[2] = {ca, cb}, w[2] = {wa, wb};
  ByColor<2>(*this, planes, c, w, t, norm);
  return *this;
}

bitmask& bitmask::bycolor3(const matrix* const planes[3], const float c[3], const float w[3],
                           float t, int norm) {
  ByColor<3>(*this, planes, c, w, t, norm);
  return *this;
}

bitmask& bitmask::bycolor4(const matrix* const planes[4], const float c[4], const float w[4],
                           float t, int norm) {
  ByColor<4>(*this, planes, c, w, t, norm);
  return *this;
}

namespace {
// Gives the bits [k0, k1) the value, a word at a time.
void SetRange(bitmask& m, int64_t k0, int64_t k1, bool value = true) {
  for (int64_t k = k0; k < k1;) {
    const int64_t word = k >> 5, bit = k & 31;
    const int64_t take = std::min<int64_t>(32 - bit, k1 - k);
    const uint32_t ones = take == 32 ? ~0u : ((1u << take) - 1u) << bit;
    if (value) {
      m.bits[word] |= ones;
    } else {
      m.bits[word] &= ~ones;
    }
    k += take;
  }
}

// The word of bits that are 1 where the pixel equals value.
inline uint32_t Matching(const bitmask& m, int64_t word, bool value) {
  return value ? m.bits[word] : ~m.bits[word];
}

// The first index in [k, end) whose bit equals value, or end.
int64_t FirstFrom(const bitmask& m, int64_t k, int64_t end, bool value) {
  while (k < end) {
    const uint32_t w = Matching(m, k >> 5, value) >> (k & 31);
    if (w != 0) return std::min<int64_t>(end, k + std::countr_zero(w));
    k = (k | 31) + 1;
  }
  return end;
}

// The last index in [begin, k] whose bit equals value, or begin - 1.
int64_t LastUpTo(const bitmask& m, int64_t begin, int64_t k, bool value) {
  while (k >= begin) {
    const uint32_t w = Matching(m, k >> 5, value) << (31 - int(k & 31));
    if (w != 0) return std::max<int64_t>(begin - 1, k - std::countl_zero(w));
    k = (k & ~int64_t(31)) - 1;
  }
  return begin - 1;
}
}  // namespace

bitmask& bitmask::floodfill(int x, int y, bool value) {
  if (n == 0 || x < 0 || y < 0 || x >= width || y >= height) return *this;
  if (get(x, y) == value) return *this;
  // Scanline fill: a popped point grows into the whole run of its row that differs from
  // value, the run takes the value a word at a time, and each run of the rows above and
  // below that touches it is pushed as one point. The pixels reached are those of a
  // 4-connected fill.
  std::vector<int32_t> stack;
  stack.reserve(1024);
  stack.push_back(x);
  stack.push_back(y);
  while (!stack.empty()) {
    const int py = stack.back();
    stack.pop_back();
    const int px = stack.back();
    stack.pop_back();
    const int64_t row = int64_t(py) * width;
    if (getbit(int(row + px)) == value) continue;
    const int64_t left = LastUpTo(*this, row, row + px, value) + 1;
    const int64_t right = FirstFrom(*this, row + px, row + width, value);
    SetRange(*this, left, right, value);
    for (const int ny : {py - 1, py + 1}) {
      if (ny < 0 || ny >= height) continue;
      const int64_t shift = (int64_t(ny) - py) * width;
      for (int64_t k = left + shift, end = right + shift; k < end;) {
        k = FirstFrom(*this, k, end, !value);
        if (k >= end) break;
        stack.push_back(int32_t(k - shift - row));
        stack.push_back(ny);
        k = FirstFrom(*this, k, end, value);
      }
    }
  }
  return *this;
}

bitmask& bitmask::rowbars(int count, int period, int start, bool fromBottom) {
  if (count <= 0 || period <= 0 || n == 0) return *this;
  const auto setrow = [&](int64_t r) {
    if (r >= 0 && r < height) SetRange(*this, r * width, (r + 1) * width);
  };
  if (fromBottom) {
    for (int64_t b = start; b < height; b += period) {
      for (int64_t i = 0; i < count && b + i < height; ++i) setrow(b + i);
    }
  } else {
    for (int64_t e = int64_t(height) - 1 - start; e >= 0; e -= period) {
      for (int64_t i = 0; i < count && e - i >= 0; ++i) setrow(e - i);
    }
  }
  return *this;
}

bitmask& bitmask::columnbars(int count, int period, int start) {
  if (count <= 0 || period <= 0 || n == 0) return *this;
  for (int64_t b = start; b < width; b += period) {
    for (int64_t i = 0; i < count && b + i < width; ++i) {
      if (b + i < 0) continue;
      for (int y = 0; y < height; ++y) set(int(b + i), y, true);
    }
  }
  return *this;
}

bitmask& bitmask::ellipse(int x1, int y1, int x2, int y2, int x3, int y3, bool value) {
  if (n == 0) return *this;
  const double dx = double(x2) - x1, dy = double(y2) - y1;
  const double h = std::sqrt(dx * dx + dy * dy);
  const double a = h / 2;
  if (!(a > 0)) return *this;
  const double cx = (double(x1) + x2) / 2, cy = (double(y1) + y2) / 2;
  const double u = dx / h, v = dy / h;
  const double rx = std::trunc(x3 - cx), ry = std::trunc(y3 - cy);
  const double along = rx * u + ry * v, across = ry * u - rx * v;
  const double b = std::sqrt(across * across / (1 - along * along / (a * a)));
  // |along| >= a leaves no ellipse (b is NaN or infinite), nor does a point on the axis.
  if (!std::isfinite(b) || !(b > 0)) return *this;
  const double step = 1 / std::max(a, b);
  const double twoPi = 2 * std::acos(-1.0);
  for (int64_t i = 0;; ++i) {
    const double phi = double(i) * step;
    if (!(phi < twoPi)) break;
    const double f = b * std::sin(phi), g = a * std::cos(phi);
    // floor, not truncation: a point just past the bottom or left edge stays outside.
    const double py = std::floor(u * f + v * g + cy + 0.5);
    const double px = std::floor(u * g - v * f + cx + 0.5);
    if (py >= 0 && py < height && px >= 0 && px < width) set(int(px), int(py), value);
  }
  return *this;
}

matrix& matrix::sobel(float t, bitmask* mask) { return GradientEdges(*this, t, mask, 2, 4); }

matrix& matrix::prewitt(float t, bitmask* mask) { return GradientEdges(*this, t, mask, 1, 3); }
