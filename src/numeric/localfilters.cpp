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

// AddRuns for a width known when compiling: one pass, the sum kept in a register.
template <int kWidth>
[[gnu::always_inline]] inline void AddRunsOf(double* acc, const double* v, int count) {
  for (int x = 0; x < count; ++x) {
    double s = acc[x];
    for (int t = 0; t < kWidth; ++t) s += v[x + t];
    acc[x] = s;
  }
}

// Eight floats at once: the compiler leaves the ordering network below in scalar code
// unless it is written for vectors (the baseline build makes two halves of each).
using Lanes = float __attribute__((vector_size(32)));
constexpr int kLanes = 8;
// The most cells the forgetful selection takes (its work grows with the square of the
// cells; discs up to radius 5, of 97 cells, gain from it all the same).
constexpr int kMaxForgetful = 100;
// The helpers below pass Lanes by value; they are internal and always inlined, so the
// calling convention of such values never matters (the warning comes where the templates
// are instantiated, at the end of the file, so it stays off from here on).
#pragma GCC diagnostic ignored "-Wpsabi"

template <class V>
[[gnu::always_inline]] inline V Take(const float* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
[[gnu::always_inline]] inline void Put(float* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// The smaller and the larger of a pair in the order of the program's sort (numbers
// ascending, NaN last), of one float or of eight. Without NaN the plain minimum and
// maximum do (a zero of either sign may then come out of both, equal to the other).
template <bool kNaN, class V>
[[gnu::always_inline]] inline V Lower(const V& p, const V& q) {
  if constexpr (kNaN) {
    return (q < p) | (p != p) ? q : p;
  } else {
    return q < p ? q : p;
  }
}
template <bool kNaN, class V>
[[gnu::always_inline]] inline V Upper(const V& p, const V& q) {
  if constexpr (kNaN) {
    return (q < p) | (p != p) ? p : q;
  } else {
    return p < q ? q : p;
  }
}
template <bool kNaN, class V>
[[gnu::always_inline]] inline V Middle(const V& p, const V& q, const V& r) {
  return Upper<kNaN>(Lower<kNaN>(p, q), Lower<kNaN>(Upper<kNaN>(p, q), r));
}

// The three samples of column i of the rows a, b, c sorted into lo, mid, hi.
template <bool kNaN, class V>
[[gnu::always_inline]] inline void SortColumn(const float* a, const float* b, const float* c,
                                              float* lo, float* mid, float* hi, int i) {
  const V pa = Take<V>(a + i), pb = Take<V>(b + i), pc = Take<V>(c + i);
  const V p = Lower<kNaN>(pa, pb), q = Upper<kNaN>(pa, pb);
  const V t = Lower<kNaN>(q, pc);
  Put(hi + i, Upper<kNaN>(q, pc));
  Put(lo + i, Lower<kNaN>(p, t));
  Put(mid + i, Upper<kNaN>(p, t));
}

// The median of nine from the sorted columns i, i + 1, i + 2: the middle of the largest
// low, the middle middle and the smallest high.
template <bool kNaN, class V>
[[gnu::always_inline]] inline void MedianOfColumns(const float* lo, const float* mid,
                                                   const float* hi, float* out, int i) {
  const V low = Upper<kNaN>(Upper<kNaN>(Take<V>(lo + i), Take<V>(lo + i + 1)), Take<V>(lo + i + 2));
  const V high =
      Lower<kNaN>(Lower<kNaN>(Take<V>(hi + i), Take<V>(hi + i + 1)), Take<V>(hi + i + 2));
  const V middle = Middle<kNaN>(Take<V>(mid + i), Take<V>(mid + i + 1), Take<V>(mid + i + 2));
  Put(out + i, Middle<kNaN>(low, middle, high));
}

// The median of nine for n samples from the padded rows a, b, c, through the sorted
// columns lo, mid, hi (n + 2 of each). The plain form is left to the compiler, which turns
// it into vector minima and maxima.
template <bool kNaN>
[[gnu::always_inline]] inline void Median9Chunk(const float* a, const float* b, const float* c,
                                                float* out, int n, float* lo, float* mid,
                                                float* hi) {
  int i = 0;
  if constexpr (kNaN) {
    for (; i + kLanes <= n + 2; i += kLanes) SortColumn<true, Lanes>(a, b, c, lo, mid, hi, i);
  }
  for (; i < n + 2; ++i) SortColumn<kNaN, float>(a, b, c, lo, mid, hi, i);
  i = 0;
  if constexpr (kNaN) {
    for (; i + kLanes <= n; i += kLanes) MedianOfColumns<true, Lanes>(lo, mid, hi, out, i);
  }
  for (; i < n; ++i) MedianOfColumns<kNaN, float>(lo, mid, hi, out, i);
}

inline bool AnyNaN(const float* a, const float* b, const float* c, int n) {
  int nan = 0;
  for (int i = 0; i < n; ++i) nan |= (a[i] != a[i]) | (b[i] != b[i]) | (c[i] != c[i]);
  return nan != 0;
}

// The middle of the m values v[0 .. m-1] (m odd, at least 3) in each lane, by forgetful
// selection: the smallest and the largest of any m/2 + 2 of them cannot lie on opposite
// sides of the middle, so both are dropped and the next value joins, until three are
// left. Every step is a compare-exchange of the sort's order, so the result is the value
// the sort puts in the middle (without NaN, a zero of either sign for a middle zero).
template <bool kNaN, class V>
[[gnu::always_inline]] inline V ForgetfulMiddle(V* v, int m) {
  int lo = 0, s = m / 2 + 2, next = s;
  for (;;) {
    const int hi = lo + s - 1;
    for (int k = lo + 1; k <= hi; ++k) {
      const V a = v[lo], b = v[k];
      v[lo] = Lower<kNaN>(a, b);
      v[k] = Upper<kNaN>(a, b);
    }
    for (int k = lo + 1; k < hi; ++k) {
      const V a = v[k], b = v[hi];
      v[k] = Lower<kNaN>(a, b);
      v[hi] = Upper<kNaN>(a, b);
    }
    if (next == m) return v[lo + 1];
    v[hi] = v[next++];
    ++lo;
    --s;
  }
}

// The disc median of the samples x0 .. x0 + lanes - 1 of a row: cell j of the disc is at
// cells[j] from the sample's place in the padded rows.
template <bool kNaN, class V>
[[gnu::always_inline]] inline V DiscMiddle(const float* const* cells, int m, int x0, V* v) {
  for (int j = 0; j < m; ++j) v[j] = Take<V>(cells[j] + x0);
  return ForgetfulMiddle<kNaN>(v, m);
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

// acc[x] += v[x] + ... + v[x + width - 1], the terms added to acc[x] one by one in that
// order whatever the width.
ZEP_VECTOR_CLONES void AddRuns(double* acc, const double* v, int width, int count) {
  switch (width) {
    case 3:
      return AddRunsOf<3>(acc, v, count);
    case 5:
      return AddRunsOf<5>(acc, v, count);
    case 7:
      return AddRunsOf<7>(acc, v, count);
    case 9:
      return AddRunsOf<9>(acc, v, count);
    default:
      break;
  }
  for (int t = 0; t < width; ++t) {
    const double* w = v + t;
    for (int x = 0; x < count; ++x) acc[x] += w[x];
  }
}

// The mean of the nine cells around every sample of a row from the padded rows a, b, c
// (sample x of the row at index x + 1): each column's three samples added in double, then
// three columns. A chunk's column sums stay in the first-level cache.
ZEP_VECTOR_CLONES void Mean9(const float* a, const float* b, const float* c, float* out,
                             int count) {
  constexpr int kChunk = 512;
  double column[kChunk + 2];
  for (int x0 = 0; x0 < count; x0 += kChunk) {
    const int n = std::min(kChunk, count - x0);
    const float *pa = a + x0, *pb = b + x0, *pc = c + x0;
    for (int i = 0; i < n + 2; ++i) column[i] = double(pa[i]) + double(pb[i]) + double(pc[i]);
    float* o = out + x0;
    for (int i = 0; i < n; ++i)
      o[i] = float((column[i] + column[i + 1] + column[i + 2]) * (1.0 / 9.0));
  }
}

// The median of the nine cells around every sample of a row from the padded rows a, b, c,
// NaN counted above every number as the sort counts it. A chunk whose samples hold a NaN
// takes the slower ordering network, the others plain minima and maxima.
ZEP_VECTOR_CLONES void Median9(const float* a, const float* b, const float* c, float* out,
                               int count) {
  constexpr int kChunk = 512;
  float lo[kChunk + 2], mid[kChunk + 2], hi[kChunk + 2];
  for (int x0 = 0; x0 < count; x0 += kChunk) {
    const int n = std::min(kChunk, count - x0);
    if (AnyNaN(a + x0, b + x0, c + x0, n + 2)) {
      Median9Chunk<true>(a + x0, b + x0, c + x0, out + x0, n, lo, mid, hi);
    } else {
      Median9Chunk<false>(a + x0, b + x0, c + x0, out + x0, n, lo, mid, hi);
    }
  }
}

// The median of the m cells of a small disc around every sample of a row: cells[j] points
// at cell j of sample 0 in the padded rows. Eight samples at once; a group whose cells
// hold a NaN takes the slower compare-exchange that orders NaN last.
ZEP_VECTOR_CLONES void MedianDisc(const float* const* cells, int m, float* out, int count) {
  Lanes v[kMaxForgetful];
  float one[kMaxForgetful];
  int x = 0;
  for (; x + kLanes <= count; x += kLanes) {
    using Flags = int __attribute__((vector_size(32)));
    Flags nan = {};
    for (int j = 0; j < m; ++j) {
      const Lanes c = Take<Lanes>(cells[j] + x);
      nan |= c != c;
    }
    bool any = false;
    for (int k = 0; k < kLanes; ++k) any |= nan[k] != 0;
    Put(out + x,
        any ? DiscMiddle<true, Lanes>(cells, m, x, v) : DiscMiddle<false, Lanes>(cells, m, x, v));
  }
  for (; x < count; ++x) out[x] = DiscMiddle<true, float>(cells, m, x, one);
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

  void operator()(const float* const* win, int y, float* out) const {
    const int r = disc.r, nx = plane.nx, ny = plane.ny;
    thread_local std::vector<float> values, row;
    thread_local std::vector<double> sums, columns;
    thread_local std::vector<const float*> rows, cells;
    values.resize(size_t(disc.cells));
    row.resize(size_t(nx));
    if (!restricted && r == 1 && stat != Statistic::Wmmr) {
      // The nine-cell window: straight into the plane when every sample changes.
      float* dst = mask ? row.data() : out;
      if (stat == Statistic::Mean) {
        discrows::Mean9(win[0], win[1], win[2], dst, nx);
      } else {
        discrows::Median9(win[0], win[1], win[2], dst, nx);
      }
      if (!mask) return;
    } else if (!restricted && stat == Statistic::Mean) {
      // The rows of one half-width are added first, then their runs along the row; a
      // chunk of the row at a time, so that the sums stay in the first-level cache.
      constexpr int kChunk = 512;
      sums.resize(kChunk);
      columns.resize(kChunk + 2 * size_t(r));
      rows.resize(size_t(2 * r + 1));
      const double scale = 1.0 / disc.cells;
      float* dst = mask ? row.data() : out;
      for (int x0 = 0; x0 < nx; x0 += kChunk) {
        const int n = std::min(kChunk, nx - x0);
        std::fill_n(sums.data(), n, 0.0);
        for (const auto& [h, members] : disc.groups) {
          for (size_t j = 0; j < members.size(); ++j) rows[j] = win[members[j]] + r - h + x0;
          discrows::AddRows(columns.data(), rows.data(), int(members.size()), n + 2 * h);
          discrows::AddRuns(sums.data(), columns.data(), 2 * h + 1, n);
        }
        for (int x = 0; x < n; ++x) dst[x0 + x] = float(sums[size_t(x)] * scale);
      }
      if (!mask) return;
    } else if (!restricted && stat == Statistic::Median && disc.cells <= kMaxForgetful) {
      // Small discs: a selection across neighbouring samples at once.
      cells.resize(size_t(disc.cells));
      int m = 0;
      for (int i = 0; i <= 2 * r; ++i) {
        const int h = disc.half[size_t(i)];
        for (int dx = -h; dx <= h; ++dx) cells[size_t(m++)] = win[i] + r + dx;
      }
      discrows::MedianDisc(cells.data(), m, mask ? row.data() : out, nx);
      if (!mask) return;
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
  const DiscRow filter{plane, disc, mask, mask && maskedInput, stat};
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
