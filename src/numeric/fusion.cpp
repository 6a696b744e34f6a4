// The plane steps of exposure fusion: the indicator of the largest contrast, the weights'
// normalisation, the gain of the blended gradient levels and the weighting of gradients.
#include <algorithm>
#include <cmath>

#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "platform/parallel.h"

namespace {
// body(k0, k1) over the elements [0, count) on the parallel helper; each element is its
// block's own, so the bytes do not depend on the thread count.
template <class Body>
void ForElements(int64_t count, Body body) {
  if (count > 0) ParallelBlocks(count, BlockFor(1), body);
}

// The rows [0, rows) of a plane of the given width, likewise.
template <class Body>
void ForRows(int rows, int width, Body body) {
  if (rows > 0) ParallelBlocks(rows, BlockFor(std::max(width, 1)), body);
}
}  // namespace

matrix& matrix::maxindicator(const matrix& m, float t) {
  const int64_t count = std::min(n, m.n);
  ForElements(count, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const bool on = t > 0 ? t >= std::fabs(m.x[k] - x[k]) : x[k] == m.x[k];
      x[k] = on ? 1.0f : 0.0f;
    }
  });
  return *this;
}

matrix& matrix::divideby(const matrix& s, float whereZero) {
  const int64_t count = std::min(n, s.n);
  ForElements(count, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) x[k] = s.x[k] != 0.0f ? x[k] / s.x[k] : whereZero;
  });
  return *this;
}

matrixarray& matrixarray::sharpenlevels(float s) {
  if (s == 1.0f) return *this;
  float factor = s;
  for (int i = 0; i < n; ++i) {
    m[i].mulscalar(factor);
    factor = (factor + 1.0f) * 0.5f;
  }
  return *this;
}

void WeightGradients(const matrix& w, matrix& g1, matrix& g2, bool diagonal) {
  const int width = w.nx, height = w.ny;
  if (w.n == 0 || width < 1 || height < 1) return;
  if (diagonal) {
    // Both planes hold one value per 2x2 cell, weighed by the cell's mean weight.
    const int cells = width - 1;
    if (cells < 1 || height < 2 || g1.n != cells * (height - 1) || g2.n != g1.n) return;
    ForRows(height - 1, cells, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y) {
        const float* lo = w.z[y];
        const float* hi = w.z[y + 1];
        float* a = g1.x + y * cells;
        float* b = g2.x + y * cells;
        for (int i = 0; i < cells; ++i) {
          const float f = (lo[i] + lo[i + 1] + hi[i] + hi[i + 1]) / 4;
          a[i] *= f;
          b[i] *= f;
        }
      }
    });
    return;
  }
  // Forward differences: each weighed by the mean of the two pixels it joins.
  const bool across = width > 1 && g1.n == (width - 1) * height;
  const bool down = height > 1 && g2.n == width * (height - 1);
  ForRows(height, width, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* row = w.z[y];
      if (across) {
        float* a = g1.x + y * (width - 1);
        for (int i = 0; i + 1 < width; ++i) a[i] *= (row[i] + row[i + 1]) / 2;
      }
      if (down && y + 1 < height) {
        const float* above = w.z[y + 1];
        float* b = g2.x + y * width;
        for (int i = 0; i < width; ++i) b[i] *= (row[i] + above[i]) / 2;
      }
    }
  });
}

const matrixarray& matrixarray::weightgradients(matrixarray& g1, matrixarray& g2,
                                                bool diagonal) const {
  for (int i = 0; i < std::min({n, g1.n, g2.n}); ++i) WeightGradients(m[i], g1[i], g2[i], diagonal);
  return *this;
}
