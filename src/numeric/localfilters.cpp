// The neighbourhood filters of one plane: the disc mean, median and WMMR, the weighted
// median over a square, the three-tap smoothing along one axis. Each pass reads a copy
// made at its start, so every output depends only on the previous pass; rows are handed
// to the parallel helper in fixed blocks and each writes only its own row.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/matrix.h"
#include "numeric/orderstats.h"
#include "numeric/sort.h"
#include "numeric/vectorclones.h"
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
  // The rows of each half-width, for the mean, which adds a group's rows first.
  std::vector<std::pair<int, std::vector<int>>> groups;
  explicit Disc(int radius) : r(radius), half(static_cast<size_t>(2 * radius + 1)) {
    cmatrix stencil(2 * r + 1, 2 * r + 1);
    cells = stencil.disk();
    for (int i = 0; i <= 2 * r; ++i) {
      int count = 0;
      for (int j = 0; j <= 2 * r; ++j) count += stencil.rows[i][j];
      const int h = (count - 1) / 2;
      half[size_t(i)] = h;
      auto g =
          std::find_if(groups.begin(), groups.end(), [h](const auto& e) { return e.first == h; });
      if (g == groups.end()) g = groups.insert(groups.end(), {h, {}});
      g->second.push_back(i);
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

// The median of the nine cells around every sample of a row, NaN counted above every
// number: the 19-exchange network that leaves the middle element in p4.
void Median9RowNaN(const float* above, const float* centre, const float* below, float* out,
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

bool HasNaN(const float* values, int64_t count) {
  bool nan = false;
  for (int64_t k = 0; k < count; ++k) nan |= values[k] != values[k];
  return nan;
}
}  // namespace

// The row loops, in both instruction sets (vectorclones.h).
namespace discrows {
// v[x] = the sum of the rows' samples x, for x in [0, count).
ZEP_VECTOR_CLONES void AddRows(double* v, const float* const* rows, int nrows, int count) {
  for (int x = 0; x < count; ++x) v[x] = double(rows[0][x]);
  for (int j = 1; j < nrows; ++j) {
    const float* row = rows[j];
    for (int x = 0; x < count; ++x) v[x] += double(row[x]);
  }
}

// acc[x] += v[x] + ... + v[x + width - 1].
ZEP_VECTOR_CLONES void AddRuns(double* acc, const double* v, int width, int count) {
  for (int t = 0; t < width; ++t) {
    const double* w = v + t;
    for (int x = 0; x < count; ++x) acc[x] += w[x];
  }
}

// The three samples of each column sorted: count columns of the rows a, b, c.
ZEP_VECTOR_CLONES void SortColumns(const float* a, const float* b, const float* c, float* lo,
                                   float* mid, float* hi, int count) {
  for (int x = 0; x < count; ++x) {
    const float p = std::min(a[x], b[x]), q = std::max(a[x], b[x]);
    const float t = std::min(q, c[x]);
    hi[x] = std::max(q, c[x]);
    lo[x] = std::min(p, t);
    mid[x] = std::max(p, t);
  }
}

// The median of nine from three sorted columns: the middle of the largest low, the middle
// middle and the smallest high. Exact for numbers; NaN takes the other path.
ZEP_VECTOR_CLONES void Median9FromColumns(const float* lo, const float* mid, const float* hi,
                                          float* out, int count) {
  auto med3 = [](float a, float b, float c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
  };
  for (int x = 0; x < count; ++x) {
    const float low = std::max(std::max(lo[x], lo[x + 1]), lo[x + 2]);
    const float high = std::min(std::min(hi[x], hi[x + 1]), hi[x + 2]);
    out[x] = med3(low, med3(mid[x], mid[x + 1], mid[x + 2]), high);
  }
}
}  // namespace discrows

namespace {
// Copies a row into the middle of a line of nx + 2r samples whose margins repeat the edge
// samples in reflection.
void PadRow(float* line, const float* row, int nx, int r) {
  for (int i = 0; i < r; ++i) line[i] = row[ReflectHalf(int64_t(i) - r, nx)];
  std::memcpy(line + r, row, sizeof(float) * size_t(nx));
  for (int i = 0; i < r; ++i) line[r + nx + i] = row[ReflectHalf(int64_t(nx) + i, nx)];
}

// The filter of one row y from its window: win[i] is the padded row of offset i - r (the
// source sample x of that row at win[i][r + x]).
struct DiscRow {
  const matrix& plane;
  const Disc& disc;
  const bitmask* mask;
  bool restricted;
  Statistic stat;
  bool nan;  // the plane holds NaN: the nine-cell median takes the ordering network

  void operator()(const float* const* win, int y, float* out) const {
    const int r = disc.r, nx = plane.nx, ny = plane.ny;
    const size_t wide = size_t(nx) + 2 * size_t(r);
    thread_local std::vector<float> values, row, lo, mid, hi;
    thread_local std::vector<double> sums, columns;
    thread_local std::vector<const float*> rows;
    values.resize(size_t(disc.cells));
    row.resize(size_t(nx));
    if (!restricted && stat == Statistic::Mean) {
      // The rows of one half-width are added first, then their runs along the row.
      sums.assign(size_t(nx), 0.0);
      columns.resize(wide);
      rows.resize(size_t(2 * r + 1));
      for (const auto& [h, members] : disc.groups) {
        for (size_t j = 0; j < members.size(); ++j) rows[j] = win[members[j]] + r - h;
        discrows::AddRows(columns.data(), rows.data(), int(members.size()), nx + 2 * h);
        discrows::AddRuns(sums.data(), columns.data(), 2 * h + 1, nx);
      }
      const double scale = 1.0 / disc.cells;
      for (int x = 0; x < nx; ++x) row[size_t(x)] = float(sums[size_t(x)] * scale);
    } else if (!restricted && stat == Statistic::Median && r == 1 && !nan) {
      lo.resize(wide), mid.resize(wide), hi.resize(wide);
      discrows::SortColumns(win[0], win[1], win[2], lo.data(), mid.data(), hi.data(), nx + 2);
      discrows::Median9FromColumns(lo.data(), mid.data(), hi.data(), row.data(), nx);
    } else if (!restricted && stat == Statistic::Median && r == 1) {
      Median9RowNaN(win[0], win[1], win[2], row.data(), nx);
    } else {
      for (int x = 0; x < nx; ++x) {
        if (mask && !mask->get(x, y)) continue;
        int m = 0;
        double sum = 0.0;
        for (int i = 0; i <= 2 * r; ++i) {
          const int sy = y + i - r;
          if (restricted && (sy < 0 || sy >= ny)) continue;
          const float* p = win[i] + r + x;
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
};

// One pass of a disc filter over the plane in place.
//
// The pass works without a padded copy of the whole plane (a fresh block as large as the
// plane costs more to fault in than the filter itself): each block of rows slides a window
// of 2r + 1 padded rows up its own rows, taking every source row before it is overwritten.
// A row of a neighbouring block is taken from a copy made before the blocks start. Rows
// reflected at the top or bottom edge always lie within r rows of the row being filtered,
// so they are still in the window; planes of at most 2r rows are padded whole instead.
void DiscPass(matrix& plane, int r, const bitmask* mask, bool maskedInput, Statistic stat) {
  if (plane.n == 0 || r < 1) return;  // a disc of one cell changes nothing
  // A disc of more cells than a plane may hold cannot be made (nor 2r + 1 counted).
  if (r > 23170) throw OutOfMemory();
  mask = Fitting(mask, plane);
  const Disc disc(r);
  const int nx = plane.nx, ny = plane.ny, side = 2 * r + 1;
  const DiscRow filter{plane, disc,
                       mask,  mask && maskedInput,
                       stat,  stat == Statistic::Median && r == 1 && HasNaN(plane.x, plane.n)};
  std::vector<const float*> win(static_cast<size_t>(side));
  if (ny <= 2 * r) {
    matrix padded;
    padded.mirrorpad(plane, r);
    for (int y = 0; y < ny; ++y) {
      for (int i = 0; i < side; ++i) win[size_t(i)] = padded.z[y + i];
      filter(win.data(), y, plane.z[y]);
    }
    return;
  }
  // Blocks of at least 32 rows, and 4r, keep the copied neighbour rows a small part of the
  // plane.
  const int64_t block = std::max<int64_t>({BlockFor(int64_t(nx) * disc.cells), 4 * r, 32});
  const int64_t blocks = (ny + block - 1) / block;
  // The r rows on either side of each block, as they are before the pass.
  const size_t rowFloats = size_t(nx), haloFloats = 2 * size_t(r) * rowFloats;
  const std::unique_ptr<float[]> halo(new float[size_t(blocks) * haloFloats]);
  auto haloRow = [&](int64_t b, int s) -> float* {
    const int64_t b0 = b * block;
    const size_t k = s < b0 ? size_t(s - (b0 - r)) : size_t(r) + size_t(s - (b0 + block));
    return halo.get() + size_t(b) * haloFloats + k * rowFloats;
  };
  ParallelBlocks(blocks, 1, [&](int64_t c0, int64_t c1) {
    for (int64_t b = c0; b < c1; ++b) {
      const int64_t b0 = b * block, b1 = std::min<int64_t>(ny, b0 + block);
      for (int64_t s = std::max<int64_t>(0, b0 - r); s < b0; ++s) {
        std::memcpy(haloRow(b, int(s)), plane.z[s], sizeof(float) * rowFloats);
      }
      for (int64_t s = b1; s < std::min<int64_t>(ny, b1 + r); ++s) {
        std::memcpy(haloRow(b, int(s)), plane.z[s], sizeof(float) * rowFloats);
      }
    }
  });
  const size_t stride = size_t(nx) + 2 * size_t(r);
  ParallelBlocks(blocks, 1, [&](int64_t c0, int64_t c1) {
    std::vector<float> lines(size_t(side) * stride);
    std::vector<const float*> rows(static_cast<size_t>(side));
    // The line of unreflected row index j; it holds source row ReflectHalf(j).
    auto line = [&](int64_t j) {
      return lines.data() + size_t(((j % side) + side) % side) * stride;
    };
    for (int64_t b = c0; b < c1; ++b) {
      const int64_t b0 = b * block, b1 = std::min<int64_t>(ny, b0 + block);
      // Takes row j into the window; rows below `written` have been overwritten already.
      auto take = [&](int64_t j, int64_t written) {
        const int s = ReflectHalf(j, ny);
        if (s < b0 || s >= b1) {
          PadRow(line(j), haloRow(b, s), nx, r);
        } else if (s >= written) {
          PadRow(line(j), plane.z[s], nx, r);
        } else {
          std::memcpy(line(j), line(s), sizeof(float) * stride);
        }
      };
      for (int64_t j = b0 - r; j <= b0 + r; ++j) take(j, b0);
      for (int64_t y = b0; y < b1; ++y) {
        if (y > b0) take(y + r, y);
        for (int i = 0; i < side; ++i) rows[size_t(i)] = line(y - r + i);
        filter(rows.data(), int(y), plane.z[y]);
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
