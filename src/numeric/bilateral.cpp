// The bilateral filter over a square window: each sample becomes the mean (or the weighted
// median) of its window weighted by how close each value lies to its own. The window never
// leaves the plane; the samples it cannot centre on keep their values.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/fastexp.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "numeric/orderstats.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
// Whether a window of this size fits around at least one sample: the first size/2 rows and
// columns and the last size/2 + 1 are never filtered.
bool WindowFits(const matrix& plane, int size) {
  const int h = size / 2;
  return size >= 1 && plane.nx - h - 2 >= h && plane.ny - h - 2 >= h;
}

// The weight of a normalised difference: the Gaussian through ExpNegative, any other
// function as given.
struct RangeWeight {
  double (*function)(float);
  bool gaussian;
  explicit RangeWeight(double (*f)(float)) : function(f), gaussian(f == &WeightGaussian) {}
  float operator()(float d) const {
    return gaussian ? ExpNegative(-d * d) : static_cast<float>(function(d));
  }
};
}  // namespace

// The taps of one window offset added into a row's sums, s += w v and z += w, with w the
// weight of (centre - v)/spread. The Gaussian in both instruction sets (vectorclones.h).
namespace bilateralrows {
ZEP_VECTOR_CLONES void GaussianTaps(const float* centre, const float* v, float inverse, float* s,
                                    float* z, int count) {
  for (int i = 0; i < count; ++i) {
    const float d = (centre[i] - v[i]) * inverse;
    const float w = ExpNegative(-d * d);
    s[i] += w * v[i];
    z[i] += w;
  }
}
}  // namespace bilateralrows

namespace {
void Taps(const RangeWeight& w, const float* centre, const float* v, float inverse, float* s,
          float* z, int count) {
  if (w.gaussian) {
    bilateralrows::GaussianTaps(centre, v, inverse, s, z, count);
    return;
  }
  for (int i = 0; i < count; ++i) {
    const float wi = w((centre[i] - v[i]) * inverse);
    s[i] += wi * v[i];
    z[i] += wi;
  }
}

// The frame both forms share: the copy taken once and refreshed every pass, the rows and
// columns the window fits around, the mask. filterRow(copy, y, first, count, out) writes
// count results for the samples first .. first + count - 1 of row y.
template <class FilterRow>
void BilateralPasses(matrix& plane, int passes, int size, const bitmask* mask, int64_t cost,
                     FilterRow filterRow) {
  const int h = size / 2;
  const int firstX = h, lastX = plane.nx - h - 2, firstY = h, lastY = plane.ny - h - 2;
  if (mask && !(mask->present() && mask->width == plane.nx && mask->height == plane.ny)) {
    mask = nullptr;
  }
  const int count = lastX - firstX + 1;
  matrix copy(plane.nx, plane.ny);
  for (int pass = 0; pass < passes; ++pass) {
    copy.copydata(plane);
    ParallelBlocks(lastY - firstY + 1, BlockFor(int64_t(count) * cost),
                   [&](int64_t b0, int64_t b1) {
                     std::vector<float> out(static_cast<size_t>(count));
                     for (int64_t b = b0; b < b1; ++b) {
                       const int y = firstY + int(b);
                       filterRow(copy, y, firstX, count, out.data());
                       for (int i = 0; i < count; ++i) {
                         if (!mask || mask->get(firstX + i, y))
                           plane.z[y][firstX + i] = out[size_t(i)];
                       }
                     }
                   });
  }
}
}  // namespace

matrix& matrix::bilateral(float spread, int passes, int size, double (*weight)(float),
                          const bitmask* mask) {
  if (!weight || !WindowFits(*this, size) || !(spread > 0.0f)) return *this;
  const RangeWeight w(weight);
  const float inverse = 1.0f / spread;
  const int h = size / 2, side = 2 * h + 1;
  BilateralPasses(*this, passes, size, mask, int64_t(side) * side,
                  [&](const matrix& c, int y, int first, int count, float* out) {
                    // Tap by tap along the row: every sample adds its taps in window order, as a
                    // sample-by-sample loop would, while the row's samples go side by side.
                    std::vector<float> s(size_t(count), 0.0f), z(size_t(count), 0.0f);
                    const float* centre = c.z[y] + first;
                    for (int dy = -h; dy <= h; ++dy) {
                      for (int dx = -h; dx <= h; ++dx) {
                        Taps(w, centre, c.z[y + dy] + first + dx, inverse, s.data(), z.data(),
                             count);
                      }
                    }
                    for (int i = 0; i < count; ++i) {
                      out[i] = z[size_t(i)] == 0.0f ? s[size_t(i)] : s[size_t(i)] / z[size_t(i)];
                    }
                  });
  return *this;
}

matrix& matrix::bilateralmedian(float spread, int passes, int size, double (*weight)(float),
                                const bitmask* mask) {
  if (!weight || !WindowFits(*this, size) || !(spread > 0.0f)) return *this;
  const RangeWeight w(weight);
  const float inverse = 1.0f / spread;
  const int h = size / 2, side = 2 * h + 1, cells = side * side;
  BilateralPasses(*this, passes, size, mask, int64_t(cells) * 8,
                  [&](const matrix& c, int y, int first, int count, float* out) {
                    std::vector<float> values(static_cast<size_t>(cells)),
                        weights(static_cast<size_t>(cells));
                    std::vector<int> index(static_cast<size_t>(cells));
                    for (int i = 0; i < count; ++i) {
                      const int x = first + i;
                      const float centre = c.z[y][x];
                      float total = 0.0f;
                      int m = 0;
                      for (int dy = -h; dy <= h; ++dy) {
                        for (int dx = -h; dx <= h; ++dx, ++m) {
                          const float v = c.z[y + dy][x + dx];
                          values[size_t(m)] = v;
                          weights[size_t(m)] = w((centre - v) * inverse);
                          total += weights[size_t(m)];
                        }
                      }
                      const float scale = 1.0f / total;
                      for (float& wi : weights) wi *= scale;
                      out[i] = WeightedMedianOf(weights.data(), values.data(), cells, index.data());
                    }
                  });
  return *this;
}
