// Building masks from planes (by colour, by gradient edges), flood fill, bars and ellipses.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/vectorclones.h"
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

// ORs in the pixels for which the test holds. fill(y, x0, x1, out) writes 1 or 0 for the
// pixels x0..x1-1 of row y (of a plane w wide) into out; pieces of up to 1024 pixels are
// tested row by row into a buffer, so that the tests run as plain loops over a row, and
// then packed into words.
template <class Fill>
void OrWhereRows(bitmask& m, int w, int64_t cost, Fill fill) {
  if (w <= 0) return;
  ForWordBlocks(m, cost, [&](int64_t k0, int64_t k1) {
    constexpr int64_t kPiece = 1024;
    uint8_t pass[kPiece];
    for (int64_t c0 = k0; c0 < k1; c0 += kPiece) {
      const int64_t c1 = std::min(k1, c0 + kPiece);
      for (int64_t k = c0; k < c1;) {
        const int y = int(k / w), x0 = int(k % w);
        const int x1 = int(std::min<int64_t>(w, x0 + (c1 - k)));
        fill(y, x0, x1, pass + (k - c0));
        k += x1 - x0;
      }
      for (int64_t k = c0; k < c1; k += 32) {
        const int count = int(std::min<int64_t>(32, c1 - k));
        const uint8_t* b = pass + (k - c0);
        uint32_t word = 0;
        for (int i = 0; i < count; ++i) word |= uint32_t(b[i]) << i;
        m.bits[k >> 5] |= word;
      }
    }
  });
}

// The m-channel distance test of one row piece: out[i] = 1 where the weighted distance of
// the pixel from the colour, by the norm, is within the limit.
// The planes, colour and weights are copied into locals first: the byte stores could
// alias anything reached through a pointer, which would keep the loop from vectorising.
template <int M, int Norm>
ZEP_VECTOR_CLONES void ByColorRow(const float* const p[M], const float c[M], const float w[M],
                                  float limit, int64_t k, int count, uint8_t* out) {
  const float* q[M];
  float cc[M], ww[M];
  for (int i = 0; i < M; ++i) {
    q[i] = p[i] + k;
    cc[i] = c[i];
    ww[i] = w[i];
  }
  for (int j = 0; j < count; ++j) {
    float acc = 0;
    for (int i = 0; i < M; ++i) {
      const float d = ww[i] * std::fabs(q[i][j] - cc[i]);
      if constexpr (Norm == 0) {
        acc = std::max(acc, d);
      } else if constexpr (Norm == 1) {
        acc += d;
      } else {
        acc += d * d;
      }
    }
    out[j] = acc <= limit;
  }
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
  const int width = std::max(mask.width, 1);
  OrWhereRows(mask, width, M, [&](int y, int x0, int x1, uint8_t* out) {
    const int64_t k = int64_t(y) * width + x0;
    if (norm == 0) {
      ByColorRow<M, 0>(p, c, w, limit, k, x1 - x0, out);
    } else if (norm == 1) {
      ByColorRow<M, 1>(p, c, w, limit, k, x1 - x0, out);
    } else {
      ByColorRow<M, 2>(p, c, w, limit, k, x1 - x0, out);
    }
  });
}

// The squared gradient of the 3x3 stencil with side weight s (1 Prewitt, 2 Sobel) at the
// interior pixel x of a row, between the rows below and above it.
inline float Gradient2(const float* below, const float* row, const float* above, int x, float s) {
  const float gx = (below[x + 1] + s * row[x + 1] + above[x + 1]) -
                   (below[x - 1] + s * row[x - 1] + above[x - 1]);
  const float gy =
      (above[x - 1] + s * above[x] + above[x + 1]) - (below[x - 1] + s * below[x] + below[x + 1]);
  return gx * gx + gy * gy;
}

// out[i] = 1 where the squared gradient at the interior pixel (x0 + i, y) reaches the limit,
// for x0 + i < x1.
ZEP_VECTOR_CLONES void EdgeRow(const matrix& p, int y, int x0, int x1, float s, float limit,
                               uint8_t* out) {
  const float* below = p.z[y - 1];
  const float* row = p.z[y];
  const float* above = p.z[y + 1];
  for (int x = x0; x < x1; ++x) out[x - x0] = Gradient2(below, row, above, x, s) >= limit;
}

matrix& GradientEdges(matrix& p, float t, bitmask* mask, float side, float scale) {
  const int w = p.nx, h = p.ny;
  if (mask) {
    if (!mask->covers(w, h) || w < 3 || h < 3) return p;
    const float limit = (scale * t) * (scale * t);
    OrWhereRows(*mask, w, 10, [&](int y, int x0, int x1, uint8_t* out) {
      std::fill(out, out + (x1 - x0), uint8_t(0));
      if (y < 1 || y > h - 2) return;
      const int from = std::max(x0, 1), to = std::min(x1, w - 1);
      if (from < to) EdgeRow(p, y, from, to, side, limit, out + (from - x0));
    });
    return p;
  }
  const matrix copy(p);
  ParallelBlocks(h, BlockFor(int64_t(w) * 10), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* out = p.z[y];
      const bool inner = y >= 1 && y <= h - 2;
      for (int x = 0; x < w; ++x) {
        out[x] = inner && x >= 1 && x <= w - 2
                     ? std::sqrt(Gradient2(copy.z[y - 1], copy.z[y], copy.z[y + 1], x, side))
                     : 0.0f;
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
  const int across = std::max(width, 1);
  OrWhereRows(*this, across, 1, [&](int y, int x0, int x1, uint8_t* out) {
    const float* r = v + int64_t(y) * across + x0;
    for (int j = 0; j < x1 - x0; ++j) out[j] = std::fabs(r[j] - c) <= limit;
  });
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
