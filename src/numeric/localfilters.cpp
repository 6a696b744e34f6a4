// The neighbourhood filters of one plane: the disc mean, median and WMMR, the weighted
// median over a square, the three-tap smoothing along one axis. Each pass reads a copy
// made at its start, so every output depends only on the previous pass; rows are handed
// to the parallel helper in fixed blocks and each writes only its own row.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/orderstats.h"
#include "numeric/sort.h"
#include "platform/errors.h"
#include "platform/parallel.h"

namespace {
const bitmask* Fitting(const bitmask* mask, const matrix& plane) {
  return mask && mask->present() && mask->width == plane.nx && mask->height == plane.ny ? mask
                                                                                        : nullptr;
}

// The disc of radius r as rows of cells: row i (offset i - r) covers the columns
// -half[i] .. half[i]. The disc is convex, so each row is one run.
struct Disc {
  int r = 0;
  int cells = 0;
  std::vector<int> half;
  explicit Disc(int radius) : r(radius), half(size_t(2 * radius + 1)) {
    cmatrix stencil(2 * r + 1, 2 * r + 1);
    cells = stencil.disk();
    for (int i = 0; i <= 2 * r; ++i) {
      int count = 0;
      for (int j = 0; j <= 2 * r; ++j) count += stencil.rows[i][j];
      half[size_t(i)] = (count - 1) / 2;
    }
  }
};

enum class Statistic { Mean, Median, Wmmr };

float Evaluate(Statistic s, float* values, int m, double sum) {
  switch (s) {
    case Statistic::Mean:
      return float(sum / m);
    case Statistic::Median:
      return MedianFloats(values, m);
    case Statistic::Wmmr:
      SortFloats(values, m);
      return WmmrSorted(values, m);
  }
  return 0.0f;
}

// Orders a pair under the sorting rule: numbers ascending, NaN last. Written as selects
// so that the loop around it vectorises.
inline void Order(float& a, float& b) {
  const bool swap = b < a || a != a;
  const float lo = swap ? b : a, hi = swap ? a : b;
  a = lo;
  b = hi;
}

// The median of the nine cells around every sample of a row: the 19-exchange network
// that leaves the middle element in p4.
void Median9Row(const float* above, const float* centre, const float* below, float* out,
                int count) {
  for (int x = 0; x < count; ++x) {
    float p0 = above[x], p1 = above[x + 1], p2 = above[x + 2];
    float p3 = centre[x], p4 = centre[x + 1], p5 = centre[x + 2];
    float p6 = below[x], p7 = below[x + 1], p8 = below[x + 2];
    Order(p1, p2), Order(p4, p5), Order(p7, p8);
    Order(p0, p1), Order(p3, p4), Order(p6, p7);
    Order(p1, p2), Order(p4, p5), Order(p7, p8);
    Order(p0, p3), Order(p5, p8), Order(p4, p7);
    Order(p3, p6), Order(p1, p4), Order(p2, p5);
    Order(p4, p7), Order(p4, p2), Order(p6, p4);
    Order(p4, p2);
    out[x] = p4;
  }
}

// One pass of a disc filter over the plane in place.
void DiscPass(matrix& plane, int r, const bitmask* mask, bool maskedInput, Statistic stat) {
  if (plane.n == 0 || r < 1) return;  // a disc of one cell changes nothing
  // A disc of more cells than a plane may hold cannot be made (nor 2r + 1 counted).
  if (r > 23170) throw OutOfMemory();
  mask = Fitting(mask, plane);
  const bool restricted = mask && maskedInput;
  const Disc disc(r);
  matrix padded;
  padded.mirrorpad(plane, r);
  const int nx = plane.nx, ny = plane.ny;
  ParallelBlocks(ny, BlockFor(int64_t(nx) * disc.cells), [&](int64_t y0, int64_t y1) {
    std::vector<float> values(static_cast<size_t>(disc.cells));
    std::vector<float> row(static_cast<size_t>(nx));
    std::vector<double> sums(static_cast<size_t>(nx));
    for (int64_t yy = y0; yy < y1; ++yy) {
      const int y = int(yy);
      float* out = plane.z[y];
      if (!restricted && stat == Statistic::Mean) {
        // Row by row of the disc, so the additions run along the row.
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int i = 0; i <= 2 * r; ++i) {
          const float* p = padded.z[y + i] + r;
          const int h = disc.half[size_t(i)];
          for (int dx = -h; dx <= h; ++dx) {
            const float* q = p + dx;
            for (int x = 0; x < nx; ++x) sums[size_t(x)] += double(q[x]);
          }
        }
        const double scale = 1.0 / disc.cells;
        for (int x = 0; x < nx; ++x) row[size_t(x)] = float(sums[size_t(x)] * scale);
      } else if (!restricted && stat == Statistic::Median && r == 1 && disc.cells == 9) {
        Median9Row(padded.z[y], padded.z[y + 1], padded.z[y + 2], row.data(), nx);
      } else {
        for (int x = 0; x < nx; ++x) {
          if (mask && !mask->get(x, y)) continue;
          int m = 0;
          double sum = 0.0;
          for (int i = 0; i <= 2 * r; ++i) {
            const int sy = y + i - r;
            if (restricted && (sy < 0 || sy >= ny)) continue;
            const float* p = padded.z[y + i] + r + x;
            const int h = disc.half[size_t(i)];
            for (int dx = -h; dx <= h; ++dx) {
              if (restricted) {
                const int sx = x + dx;
                if (sx < 0 || sx >= nx || !mask->get(sx, sy)) continue;
              }
              values[size_t(m++)] = p[dx];
              sum += double(p[dx]);
            }
          }
          // The centre always counts, so m is at least 1.
          row[size_t(x)] = Evaluate(stat, values.data(), m, sum);
        }
      }
      for (int x = 0; x < nx; ++x) {
        if (!mask || mask->get(x, y)) out[x] = row[size_t(x)];
      }
    }
  });
}
}  // namespace

matrix& matrix::discmean(int r, const bitmask* mask, bool maskedInput) {
  DiscPass(*this, r, mask, maskedInput, Statistic::Mean);
  return *this;
}

matrix& matrix::discmedian(int r, const bitmask* mask, bool maskedInput) {
  DiscPass(*this, r, mask, maskedInput, Statistic::Median);
  return *this;
}

matrix& matrix::discwmmr(int r, const bitmask* mask, bool maskedInput) {
  DiscPass(*this, r, mask, maskedInput, Statistic::Wmmr);
  return *this;
}

matrix& matrix::weightedmedianfilter(const matrix& weights, const bitmask* mask, bool maskedInput) {
  const int side = weights.nx;
  if (n == 0 || side < 1 || int64_t(side) * side != weights.n) return *this;
  mask = Fitting(mask, *this);
  const bool restricted = mask && maskedInput;
  const int k = side / 2;
  const int cells = side * side;
  matrix padded;
  padded.mirrorpad(*this, k);
  const matrix w(weights);  // a copy: the weights may be this very plane
  ParallelBlocks(ny, BlockFor(int64_t(nx) * cells * 8), [&](int64_t y0, int64_t y1) {
    std::vector<float> values(static_cast<size_t>(cells)), kept(static_cast<size_t>(cells));
    std::vector<int> index(static_cast<size_t>(cells));
    for (int64_t yy = y0; yy < y1; ++yy) {
      const int y = int(yy);
      for (int x = 0; x < nx; ++x) {
        if (mask && !mask->get(x, y)) continue;
        int m = 0;
        float total = 0.0f;
        for (int i = 0; i < side; ++i) {
          const int sy = y + i - k;
          for (int j = 0; j < side; ++j) {
            const int sx = x + j - k;
            // Positions outside the plane have no value of their own: they are dropped
            // and the remaining weights renormalised.
            if (restricted && (sy < 0 || sy >= ny || sx < 0 || sx >= nx)) continue;
            values[size_t(m)] = padded.z[y + i][x + j];
            kept[size_t(m)] = w.z[i][j];
            total += kept[size_t(m)];
            ++m;
          }
        }
        if (restricted && m < cells && total > 0.0f) {
          const float scale = 1.0f / total;
          for (int t = 0; t < m; ++t) kept[size_t(t)] *= scale;
        }
        z[y][x] = WeightedMedianOf(kept.data(), values.data(), m, index.data());
      }
    }
  });
  return *this;
}

namespace {
// The mean of three neighbours, in double, as the fast average has always computed it.
inline float Mean3(float a, float b, float c) {
  return float((double(a) + double(b) + double(c)) * (1.0 / 3.0));
}
}  // namespace

matrix& matrix::smooth3x(const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return smooth3x(copy);
  }
  assign(input);
  if (nx < 3) return *this;
  ParallelBlocks(ny, BlockFor(int64_t(nx) * 3), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* in = input.z[y];
      float* out = z[y];
      for (int i = 1; i < nx - 1; ++i) out[i] = Mean3(in[i - 1], in[i], in[i + 1]);
    }
  });
  return *this;
}

matrix& matrix::smooth3y(const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return smooth3y(copy);
  }
  assign(input);
  if (ny < 3) return *this;
  ParallelBlocks(ny - 2, BlockFor(int64_t(nx) * 3), [&](int64_t y0, int64_t y1) {
    for (int64_t j = y0 + 1; j < y1 + 1; ++j) {
      const float *a = input.z[j - 1], *b = input.z[j], *c = input.z[j + 1];
      float* out = z[j];
      for (int i = 0; i < nx; ++i) out[i] = Mean3(a[i], b[i], c[i]);
    }
  });
  return *this;
}
