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

// Running sums of squared differences that keep NaN and infinity apart, so that a patch
// holding one reports it while the sums of the patches past it stay exact.
struct Cell {
  double sum = 0.0;
  int nan = 0, inf = 0;
  void add(double v, int sign) {
    if (std::isnan(v)) {
      nan += sign;
    } else if (std::isinf(v)) {
      inf += sign;
    } else {
      sum += sign * v;
    }
  }
  void add(const Cell& o, int sign) {
    sum += sign * o.sum;
    nan += sign * o.nan;
    inf += sign * o.inf;
  }
  double value() const {
    if (nan) return std::numeric_limits<double>::quiet_NaN();
    if (inf) return std::numeric_limits<double>::infinity();
    return sum;
  }
};

// Filters the rows [y0, y1) of the output planes.
// The same sums when no sample is NaN or infinite: the additions are those of Cell, without
// the tests that keep such values apart.
struct FiniteCell {
  double sum = 0.0;
  void add(double v, int sign) { sum += sign * v; }
  void add(const FiniteCell& o, int sign) { sum += sign * o.sum; }
  double value() const { return sum; }
};

static_assert(sizeof(FiniteCell) == sizeof(double));
}  // namespace

// The weights of a row of finite distances (the sums of FiniteCell), in both instruction
// sets (vectorclones.h).
namespace nlmrows {
ZEP_VECTOR_CLONES void ExpWeights(const double* distance, double q, float* w, int count) {
  for (int i = 0; i < count; ++i) w[i] = ExpNegative(-static_cast<float>(distance[i] * q));
}
}  // namespace nlmrows

namespace {
bool AllFinite(const matrix& m) {
  bool finite = true;
  for (int32_t k = 0; k < m.n; ++k) finite &= std::isfinite(m.x[k]);
  return finite;
}

template <class Sum>
void FilterRows(const NlmSetup& s, int y0, int y1) {
  const int nx = s.nx, c = s.c, m = s.m, b = s.b, t = 2 * c + 1;
  const int rows = y1 - y0;
  const size_t pixels = size_t(rows) * size_t(nx);
  const size_t candidates = size_t(m) * size_t(m);
  std::vector<float> total(pixels, 0.0f), sums(s.median ? 0 : pixels * size_t(s.planes), 0.0f);
  std::vector<float> weights(s.median ? pixels * candidates : 0);
  // Band of rows y0 - c .. y1 - 1 + c, each summed along its patch rows.
  std::vector<Sum> along(size_t(rows + 2 * c) * size_t(nx)), line(size_t(nx + 2 * c));
  std::vector<Sum> down(static_cast<size_t>(nx));
  std::vector<float> weightRow(static_cast<size_t>(nx));
  const bool fastExp = std::is_same_v<Sum, FiniteCell> && s.weight == &WeightExp;
  std::vector<int> columns(size_t(8 * b + 2));
  for (int dx = -2 * b; dx <= 2 * b; ++dx) {
    Run(dx, 0, nx, b, m, nx, columns[size_t(2 * (dx + 2 * b))],
        columns[size_t(2 * (dx + 2 * b) + 1)]);
  }
  int ra, rb;
  for (int dy = -2 * b; dy <= 2 * b; ++dy) {
    Run(dy, y0, y1, b, m, s.ny, ra, rb);
    if (ra >= rb) continue;
    for (int dx = -2 * b; dx <= 2 * b; ++dx) {
      const int ca = columns[size_t(2 * (dx + 2 * b))], cb = columns[size_t(2 * (dx + 2 * b) + 1)];
      if (ca >= cb) continue;
      const int width = cb - ca;
      // Along the rows: the sum over the t columns of the patch row, for the rows
      // ra - c .. rb - 1 + c and the columns ca .. cb - 1.
      for (int r = ra - c; r < rb + c; ++r) {
        Sum running;
        Sum* a = &along[size_t(r - (y0 - c)) * size_t(nx)];
        for (int p = 0; p < width + 2 * c; ++p) {
          // Padded column ca + p of padded row r + c, beside its candidate.
          Sum d;
          for (int k = 0; k < s.planes; ++k) {
            const float* ref = s.padded[k]->z[r + c];
            const float* cand = s.padded[k]->z[r + dy + c];
            const double e = double(ref[ca + p]) - double(cand[ca + p + dx]);
            d.add(e * e, 1);
          }
          line[size_t(p)] = d;
          running.add(d, 1);
          if (p >= t) running.add(line[size_t(p - t)], -1);
          if (p >= t - 1) a[ca + p - (t - 1)] = running;
        }
      }
      // Down the columns: the patch sums of the rows ra .. rb - 1, a row at a time so the
      // loops run along memory; each column adds and drops the same terms in the same order
      // as a column at a time would.
      const bool self = dy == 0 && dx == 0;
      std::fill(down.begin(), down.begin() + width, Sum{});
      for (int r = ra - c; r < rb + c; ++r) {
        const Sum* in = &along[size_t(r - (y0 - c)) * size_t(nx)];
        const Sum* out =
            r - (ra - c) >= t ? &along[size_t(r - t - (y0 - c)) * size_t(nx)] : nullptr;
        for (int x = ca; x < cb; ++x) {
          down[size_t(x - ca)].add(in[x], 1);
          if (out) down[size_t(x - ca)].add(out[x], -1);
        }
        if (r - (ra - c) < t - 1) continue;
        const int y = r - c;
        const size_t rowStart = size_t(y - y0) * size_t(nx);
        if (fastExp) {
          // Finite distances and the exponential weight: a loop the compiler vectorises.
          nlmrows::ExpWeights(reinterpret_cast<const double*>(down.data()), double(s.q),
                              weightRow.data(), width);
        } else {
          for (int i = 0; i < width; ++i) {
            const float arg = static_cast<float>(down[size_t(i)].value() * double(s.q));
            weightRow[size_t(i)] = static_cast<float>(s.weight(arg));
          }
        }
        for (int x = ca; x < cb; ++x) {
          float w = weightRow[size_t(x - ca)];
          if (self && s.modification) w *= 1e-8f;
          const size_t pix = rowStart + size_t(x);
          if (s.median) {
            const int i = dy - (WindowStart(y, b, m, s.ny) - y);
            const int j = dx - (WindowStart(x, b, m, nx) - x);
            weights[pix * candidates + size_t(i) * size_t(m) + size_t(j)] = w;
            continue;
          }
          total[pix] += w;
          // Differences from the pixel's own value, so that equal candidates leave it
          // exactly as it was (a constant image stays constant to the last bit).
          for (int k = 0; k < s.planes; ++k) {
            const float* const* z = s.padded[k]->z;
            sums[size_t(k) * pixels + pix] += w * (z[y + dy + c][x + dx + c] - z[y + c][x + c]);
          }
        }
      }
    }
  }
  if (!s.median) {
    for (int k = 0; k < s.planes; ++k) {
      for (int y = y0; y < y1; ++y) {
        for (int x = 0; x < nx; ++x) {
          const size_t pix = size_t(y - y0) * size_t(nx) + size_t(x);
          s.out[k]->z[y][x] =
              s.padded[k]->z[y + c][x + c] + sums[size_t(k) * pixels + pix] / total[pix];
        }
      }
    }
    return;
  }
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
  bool finite = true;
  for (int k = 0; k < count; ++k) finite &= AllFinite(padded[size_t(k)]);
  if (ParallelBlocksTicking(s.ny, band, [&](int64_t y0, int64_t y1) {
        if (finite) {
          FilterRows<FiniteCell>(s, int(y0), int(y1));
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
