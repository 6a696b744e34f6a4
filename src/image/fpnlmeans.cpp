// Non-local means: every pixel becomes the weighted mean (or weighted median) of the
// candidates of its search window, each weighted by the similarity of the patch around it
// to the patch around the pixel. The search window is shifted inward at the borders, so it
// always holds m x m candidates.
//
// The distances are not summed patch by patch: for one offset between pixel and candidate
// the squared differences of a band of rows are summed by running sums, first along the
// rows and then down the columns, which costs a few additions per pixel and offset
// whatever the patch size. The offsets run in row-major order over every displacement a
// shifted window can reach, and each pixel takes only those inside its own window, so it
// adds its candidates in the window's row-major order.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/fastexp.h"
#include "numeric/kernels.h"
#include "numeric/orderstats.h"
#include "numeric/vectorclones.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
struct NlmSetup {
  const matrix* padded[3];  // the planes before the pass, enlarged by c on every side
  matrix* out[3];
  int planes;
  int nx, ny, b, c, m;
  float q;  // the normaliser of the distances
  double (*weight)(float);
  bool median, modification;
};

// First row (column) of the search window of pixel y in a plane of n: the window of m is
// shifted, not shrunk, to lie within the plane.
inline int WindowStart(int y, int b, int m, int n) { return std::clamp(y - b, 0, n - m); }

// The pixels [first, last) of [lo, hi) whose window holds the displacement d: the window
// offset d - (start - y) grows with y, so they form one run.
void Run(int d, int lo, int hi, int b, int m, int n, int& first, int& last) {
  first = hi;
  last = hi;
  for (int y = lo; y < hi; ++y) {
    const int k = d - (WindowStart(y, b, m, n) - y);
    if (k >= 0 && first == hi) first = k < m ? y : hi;
    if (k >= m) {
      last = y;
      break;
    }
  }
  if (first > last) first = last;
}

// Sums of squared differences come in three kinds: single precision when every sample is an
// integer and no patch sum can pass 2^24 (8-bit pictures), where each sum is exact and so
// the same number as in double; double for other finite samples; and Cell, which keeps NaN
// and infinity apart so that a patch holding one reports it while the sums of the patches
// past it stay exact.
struct Cell {
  double sum = 0.0;
  int nan = 0, inf = 0;
  Cell& operator+=(const Cell& o) {
    sum += o.sum;
    nan += o.nan;
    inf += o.inf;
    return *this;
  }
  Cell& operator-=(const Cell& o) {
    sum -= o.sum;
    nan -= o.nan;
    inf -= o.inf;
    return *this;
  }
};

inline float Squared(float a, float b, float) {
  const float e = a - b;
  return e * e;
}
inline double Squared(float a, float b, double) {
  const double e = double(a) - double(b);
  return e * e;
}
inline Cell Squared(float a, float b, Cell) {
  const double e = double(a) - double(b), v = e * e;
  Cell d;
  if (std::isnan(v)) {
    d.nan = 1;
  } else if (std::isinf(v)) {
    d.inf = 1;
  } else {
    d.sum = v;
  }
  return d;
}

inline double Value(float s) { return s; }
inline double Value(double s) { return s; }
inline double Value(const Cell& s) {
  if (s.nan) return std::numeric_limits<double>::quiet_NaN();
  if (s.inf) return std::numeric_limits<double>::infinity();
  return s.sum;
}

// The loops of one offset's row, on the n samples from the given starts.
// out = the squared differences of a and b summed over the planes.
template <class Sum>
inline void SquaredRowOf(const float* const* a, const float* const* b, int planes,
                         Sum* __restrict out, int n) {
  if (planes == 3) {
    const float *a0 = a[0], *a1 = a[1], *a2 = a[2], *b0 = b[0], *b1 = b[1], *b2 = b[2];
    for (int i = 0; i < n; ++i) {
      Sum d = Squared(a0[i], b0[i], Sum{});
      d += Squared(a1[i], b1[i], Sum{});
      d += Squared(a2[i], b2[i], Sum{});
      out[i] = d;
    }
    return;
  }
  for (int i = 0; i < n; ++i) {
    Sum d{};
    for (int k = 0; k < planes; ++k) d += Squared(a[k][i], b[k][i], Sum{});
    out[i] = d;
  }
}

// v += in, then v -= out when there is one: the patch columns' sums moved down a row.
template <class Sum>
inline void SlideRowOf(Sum* __restrict v, const Sum* in, const Sum* out, int n) {
  if (out) {
    for (int i = 0; i < n; ++i) {
      v[i] += in[i];
      v[i] -= out[i];
    }
  } else {
    for (int i = 0; i < n; ++i) v[i] += in[i];
  }
}

// h[i] = v[i] + ... + v[i + t - 1] for i < n: sums over spans of 1, 2, 4, ... samples, each
// made of two of the one before, added for the set bits of t; a few passes whatever t is.
// The span rows hold n + t samples.
template <class Sum>
inline void WindowRowOf(const Sum* v, Sum* spanA, Sum* spanB, Sum* __restrict h, int n, int t) {
  const Sum* cur = v;
  int width = 1, offset = 0;
  bool first = true;
  for (;;) {
    if (t & width) {
      const Sum* from = cur + offset;
      if (first) {
        for (int i = 0; i < n; ++i) h[i] = from[i];
      } else {
        for (int i = 0; i < n; ++i) h[i] += from[i];
      }
      first = false;
      offset += width;
    }
    if (2 * width > t) break;
    Sum* __restrict next = cur == spanA ? spanB : spanA;
    const int valid = n + t - 2 * width;
    for (int i = 0; i < valid; ++i) {
      next[i] = cur[i];
      next[i] += cur[i + width];
    }
    cur = next;
    width *= 2;
  }
}

// Adds each pixel's weighted candidates: total += w and sums[k] += w (cand[k] - self[k]).
inline void AccumulateRowOf(const float* w, const float* const* cand, const float* const* self,
                            int planes, float* __restrict total, float* const* sums, int n) {
  for (int i = 0; i < n; ++i) total[i] += w[i];
  for (int k = 0; k < planes; ++k) {
    float* __restrict sum = sums[k];
    const float *c = cand[k], *p = self[k];
    for (int i = 0; i < n; ++i) sum[i] += w[i] * (c[i] - p[i]);
  }
}
}  // namespace

// The row loops of the two finite kinds in both instruction sets (vectorclones.h); Cell's
// run as written.
namespace nlmrows {
ZEP_VECTOR_CLONES void SquaredRow(const float* const* a, const float* const* b, int planes,
                                  float* out, int n) {
  SquaredRowOf(a, b, planes, out, n);
}
ZEP_VECTOR_CLONES void SquaredRow(const float* const* a, const float* const* b, int planes,
                                  double* out, int n) {
  SquaredRowOf(a, b, planes, out, n);
}
void SquaredRow(const float* const* a, const float* const* b, int planes, Cell* out, int n) {
  SquaredRowOf(a, b, planes, out, n);
}
ZEP_VECTOR_CLONES void SlideRow(float* v, const float* in, const float* out, int n) {
  SlideRowOf(v, in, out, n);
}
ZEP_VECTOR_CLONES void SlideRow(double* v, const double* in, const double* out, int n) {
  SlideRowOf(v, in, out, n);
}
void SlideRow(Cell* v, const Cell* in, const Cell* out, int n) { SlideRowOf(v, in, out, n); }
ZEP_VECTOR_CLONES void WindowRow(const float* v, float* a, float* b, float* h, int n, int t) {
  WindowRowOf(v, a, b, h, n, t);
}
ZEP_VECTOR_CLONES void WindowRow(const double* v, double* a, double* b, double* h, int n, int t) {
  WindowRowOf(v, a, b, h, n, t);
}
void WindowRow(const Cell* v, Cell* a, Cell* b, Cell* h, int n, int t) {
  WindowRowOf(v, a, b, h, n, t);
}
// The exponential weights of finite distances. In single precision the product with q is
// the double product rounded, as the double kind gives.
ZEP_VECTOR_CLONES void ExpWeights(const float* distance, float q, float* w, int n) {
  for (int i = 0; i < n; ++i) w[i] = ExpNegative(-(distance[i] * q));
}
ZEP_VECTOR_CLONES void ExpWeights(const double* distance, float q, float* w, int n) {
  for (int i = 0; i < n; ++i) w[i] = ExpNegative(-static_cast<float>(distance[i] * double(q)));
}
ZEP_VECTOR_CLONES void AccumulateRow(const float* w, const float* const* cand,
                                     const float* const* self, int planes, float* total,
                                     float* const* sums, int n) {
  AccumulateRowOf(w, cand, self, planes, total, sums, n);
}
}  // namespace nlmrows

namespace {
// Columns of a tile: its running sums and accumulators stay in the core's caches.
constexpr int kTileWidth = 128;

bool AllFinite(const matrix& m) {
  bool finite = true;
  for (int32_t k = 0; k < m.n; ++k) finite &= std::isfinite(m.x[k]);
  return finite;
}

// Whether every sum of squared differences is exact in single precision: integer samples
// under 2^24 whose spread keeps planes * t^2 * spread^2 below 2^24.
bool ExactInSingle(const std::vector<matrix>& padded, int t) {
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  bool integral = true;
  for (const matrix& p : padded) {
    for (int32_t k = 0; k < p.n; ++k) {
      const float v = p.x[k];
      integral &= v == std::trunc(v);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  const double limit = 16777216.0, spread = double(hi) - double(lo);
  return integral && std::max(std::fabs(lo), std::fabs(hi)) < limit &&
         double(padded.size()) * t * t * spread * spread < limit;
}

// Filters the rows [y0, y1) of the output planes, a tile of columns at a time.
template <class Sum>
void FilterRows(const NlmSetup& s, int y0, int y1) {
  const int nx = s.nx, c = s.c, m = s.m, b = s.b, t = 2 * c + 1;
  const int rows = y1 - y0, tileWidth = std::min(nx, kTileWidth);
  const size_t candidates = size_t(m) * size_t(m);
  const size_t tilePixels = size_t(rows) * size_t(tileWidth);
  std::vector<float> weights(s.median ? size_t(rows) * size_t(nx) * candidates : 0);
  std::vector<float> total(s.median ? 0 : tilePixels);
  std::vector<float> sums(s.median ? 0 : tilePixels * size_t(s.planes));
  // A ring of t + 1 rows of squared differences: the row entering and the one leaving.
  const size_t span = size_t(tileWidth + 2 * c);
  std::vector<Sum> ring(span * size_t(t + 1)), down(span), spanA(span), spanB(span), h(span);
  std::vector<float> weightRow(static_cast<size_t>(tileWidth));
  const bool fastExp = !std::is_same_v<Sum, Cell> && s.weight == &WeightExp;
  std::vector<int> columns(size_t(8 * b + 2));
  for (int x0 = 0; x0 < nx; x0 += tileWidth) {
    const int x1 = std::min(nx, x0 + tileWidth);
    for (int dx = -2 * b; dx <= 2 * b; ++dx) {
      Run(dx, x0, x1, b, m, nx, columns[size_t(2 * (dx + 2 * b))],
          columns[size_t(2 * (dx + 2 * b) + 1)]);
    }
    std::fill(total.begin(), total.end(), 0.0f);
    std::fill(sums.begin(), sums.end(), 0.0f);
    int ra, rb;
    for (int dy = -2 * b; dy <= 2 * b; ++dy) {
      Run(dy, y0, y1, b, m, s.ny, ra, rb);
      if (ra >= rb) continue;
      for (int dx = -2 * b; dx <= 2 * b; ++dx) {
        const int ca = columns[size_t(2 * (dx + 2 * b))];
        const int cb = columns[size_t(2 * (dx + 2 * b) + 1)];
        if (ca >= cb) continue;
        const int width = cb - ca, samples = width + 2 * c;
        const bool self = dy == 0 && dx == 0;
        std::fill(down.begin(), down.end(), Sum{});
        // Padded row r + c holds the patch row r; padded column ca + p the patch column
        // ca + p - c. Down the rows: each patch column's sum over t rows, a row entering
        // and one leaving; along the row: the t columns of each patch.
        for (int r = ra - c; r < rb + c; ++r) {
          const int i = r - (ra - c);
          Sum* fresh = &ring[size_t(i % (t + 1)) * span];
          const float *ref[3], *cand[3];
          for (int k = 0; k < s.planes; ++k) {
            ref[k] = s.padded[k]->z[r + c] + ca;
            cand[k] = s.padded[k]->z[r + dy + c] + ca + dx;
          }
          nlmrows::SquaredRow(ref, cand, s.planes, fresh, samples);
          nlmrows::SlideRow(down.data(), fresh,
                            i >= t ? &ring[size_t((i - t) % (t + 1)) * span] : nullptr, samples);
          if (i < t - 1) continue;
          const int y = r - c;
          nlmrows::WindowRow(down.data(), spanA.data(), spanB.data(), h.data(), width, t);
          if constexpr (!std::is_same_v<Sum, Cell>) {
            if (fastExp) nlmrows::ExpWeights(h.data(), s.q, weightRow.data(), width);
          }
          if (!fastExp) {
            for (int x = 0; x < width; ++x) {
              const float arg = static_cast<float>(Value(h[size_t(x)]) * double(s.q));
              weightRow[size_t(x)] = static_cast<float>(s.weight(arg));
            }
          }
          if (self && s.modification) {
            for (int x = 0; x < width; ++x) weightRow[size_t(x)] *= 1e-8f;
          }
          if (s.median) {
            const int wy = dy - (WindowStart(y, b, m, s.ny) - y);
            for (int x = ca; x < cb; ++x) {
              const int wx = dx - (WindowStart(x, b, m, nx) - x);
              const size_t pix = size_t(y - y0) * size_t(nx) + size_t(x);
              weights[pix * candidates + size_t(wy) * size_t(m) + size_t(wx)] =
                  weightRow[size_t(x - ca)];
            }
            continue;
          }
          // Differences from the pixel's own value, so that equal candidates leave it
          // exactly as it was (a constant image stays constant to the last bit).
          const float *candRow[3], *selfRow[3];
          float* sumRow[3];
          const size_t at = size_t(y - y0) * size_t(tileWidth) + size_t(ca - x0);
          for (int k = 0; k < s.planes; ++k) {
            candRow[k] = s.padded[k]->z[y + dy + c] + ca + dx + c;
            selfRow[k] = s.padded[k]->z[y + c] + ca + c;
            sumRow[k] = &sums[size_t(k) * tilePixels + at];
          }
          nlmrows::AccumulateRow(weightRow.data(), candRow, selfRow, s.planes, &total[at],
                                 sumRow, width);
        }
      }
    }
    if (s.median) continue;
    for (int k = 0; k < s.planes; ++k) {
      for (int y = y0; y < y1; ++y) {
        const size_t row = size_t(y - y0) * size_t(tileWidth);
        for (int x = x0; x < x1; ++x) {
          const size_t at = row + size_t(x - x0);
          s.out[k]->z[y][x] =
              s.padded[k]->z[y + c][x + c] + sums[size_t(k) * tilePixels + at] / total[at];
        }
      }
    }
  }
  if (!s.median) return;
  std::vector<float> values(candidates);
  std::vector<int> index(candidates);
  for (int y = y0; y < y1; ++y) {
    const int sy = WindowStart(y, b, m, s.ny);
    for (int x = 0; x < nx; ++x) {
      const int sx = WindowStart(x, b, m, nx);
      float* w = &weights[(size_t(y - y0) * size_t(nx) + size_t(x)) * candidates];
      float sum = 0.0f;
      for (size_t k = 0; k < candidates; ++k) sum += w[k];
      const float scale = 1.0f / sum;
      for (size_t k = 0; k < candidates; ++k) w[k] *= scale;
      for (int k = 0; k < s.planes; ++k) {
        for (int i = 0; i < m; ++i) {
          const float* row = s.padded[k]->z[sy + i + c] + sx + c;
          std::copy(row, row + m, values.begin() + ptrdiff_t(i) * m);
        }
        s.out[k]->z[y][x] = WeightedMedianOf(w, values.data(), int(candidates), index.data());
      }
    }
  }
}

// One pass over the planes together, one progress tick per row.
void FilterPlanes(NlmSetup s, matrix* const* planes, int count) {
  std::vector<matrix> padded(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) {
    padded[size_t(k)].mirrorpad(*planes[k], s.c);
    s.padded[k] = &padded[size_t(k)];
    s.out[k] = planes[k];
  }
  s.planes = count;
  // Bands of rows: the running sums restart at each band, so a band of several rows pays
  // the patch height once; the median keeps every weight of its band, so its bands are
  // cut to some four million weights.
  const int64_t perRow = int64_t(s.nx) * s.m * s.m;
  const int64_t band = s.median ? std::max<int64_t>(1, 4'000'000 / perRow) : 16;
  const bool exact = ExactInSingle(padded, 2 * s.c + 1);
  bool finite = true;
  for (int k = 0; k < count; ++k) finite &= AllFinite(padded[size_t(k)]);
  if (ParallelBlocksTicking(s.ny, band, [&](int64_t y0, int64_t y1) {
        if (exact) {
          FilterRows<float>(s, int(y0), int(y1));
        } else if (finite) {
          FilterRows<double>(s, int(y0), int(y1));
        } else {
          FilterRows<Cell>(s, int(y0), int(y1));
        }
      })) {
    throw Cancelled{};
  }
}
}  // namespace

fpbuffer& fpbuffer::nlmeans(float h, int b, int c, bool median, int distribution, bool combined,
                            bool cond, bool modification) {
  const int64_t m = 2 * int64_t(b) + 1, t = 2 * int64_t(c) + 1;
  if (b < 1 || c < 1 || width < m || height < m || width < t || height < t) {
    throw TextException("Search and window radii must be smaller than half image dimensions.");
  }
  NlmSetup s{};
  s.weight = WeightExp;
  if (distribution == 1) s.weight = WeightInverseLinear;
  if (distribution == 2) s.weight = WeightExpSqrt;
  if (distribution == 4) s.weight = WeightBox;
  s.nx = width;
  s.ny = height;
  s.b = b;
  s.c = c;
  s.m = int(m);
  s.median = median;
  s.modification = modification;
  const double ht = double(h) * double(h) * double(t) * double(t);
  if (combined) {
    // One weight per candidate from the three colour channels; all three are written.
    const int count = std::min(channels, 3);
    matrix* planes[3] = {&plane[0], &plane[1], &plane[2]};
    s.q = static_cast<float>(1.0 / (count * ht));
    StartProgress(float(height));
    FilterPlanes(s, planes, count);
    return *this;
  }
  const OperationScope scope(*this, nullptr, cond, ScopeRule{ScopeChannels::ByCond, false});
  int processed = 0;
  for (int i = 0; i < channels; ++i) processed += scope.processes(i) ? 1 : 0;
  StartProgress(float(height) * float(processed));
  s.q = static_cast<float>(1.0 / ht);
  for (int i = 0; i < channels; ++i) {
    if (!scope.processes(i)) continue;
    matrix* one = &plane[i];
    FilterPlanes(s, &one, 1);
  }
  return *this;
}
