// Data-dependent Lanczos doubling: each new sample of a doubled plane is interpolated
// along the direction in which the source varies least there.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/ddl.h"
#include "numeric/hugepages.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "numeric/planerows.h"
#include "numeric/scratchpool.h"
#include "numeric/shift.h"
#include "numeric/vectorclones.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {

constexpr uint8_t kAntiDiagonal = 0x01;
constexpr uint8_t kHorizontalAlongV = 0x04;
constexpr uint8_t kVerticalAlongH = 0x10;

// The widest tap set reaches 9 samples of the doubled grid from the new sample.
constexpr int kPad = 9;

// The taps of an order: pair k (from 0) at distance 2k + 1 on the doubled grid weighs w[k].
struct Taps {
  int order = 0;
  int pairs = 0;  // 0: the order fills nothing
  std::array<double, 5> w{};
};

Taps TapsOf(int order) {
  Taps t;
  t.order = order;
  if (order < -5 || order > 5) return t;
  const int a = std::abs(order);
  if (a == 1) {
    t.pairs = 1;
    t.w[0] = 0.5;
    return t;
  }
  // Order 0 takes the order-2 pair (9/16, -1/16) on the four nearest samples.
  const int n = a == 0 ? 2 : a;
  double s = 0.0;
  for (int m = 1; m <= n; ++m) s += KernelLanczos(m - 0.5, n);
  s *= 2.0;
  for (int k = 1; k <= n; ++k) t.w[size_t(k - 1)] = KernelLanczos(k - 0.5, n) / s;
  t.pairs = a == 0 ? 1 : n;
  return t;
}

// The new sample from its chosen pairs, chosen(k, a, b) giving pair k's samples, and the
// perpendicular pair at distance 1 for order 0.
template <class Chosen, class Other>
inline float Interpolate(const Taps& t, Chosen chosen, Other other) {
  float a1, b1;
  chosen(0, a1, b1);
  if (t.order == 0) {
    float p, q;
    other(p, q);
    return float(t.w[0] * (double(a1) + b1) + t.w[1] * (double(p) + q));
  }
  double sum = t.w[0] * (double(a1) + b1);
  for (int k = 1; k < t.pairs; ++k) {
    float a, b;
    chosen(k, a, b);
    sum += t.w[size_t(k)] * (double(a) + b);
  }
  float v = float(sum);
  if (t.order < -1) v = std::clamp(v, std::min(a1, b1), std::max(a1, b1));
  return v;
}

// Interpolate over a run of n new samples at once: pair k of sample x is (a[k][x], b[k][x])
// with weight w[k], the first pair bounding the result when `clamp`. The terms come in
// Interpolate's order, so each sample gets the bits Interpolate gives it; order 0 passes
// its chosen and its perpendicular pair as two pairs. The samples come widened to double
// (exactly), once per row read instead of once per pair that reads them.
//
// Each sample's sum stays in a register over its pairs: one loop per pair count and clamp.
#define ZEP_PAIR(P, k) \
  if (P > k) sum += w##k * (double(a##k[x]) + b##k[x])
#define ZEP_INTERPOLATE_LOOP(P, CLAMP)                                                  \
  for (int x = 0; x < n; ++x) {                                                         \
    double sum = w0 * (double(a0[x]) + b0[x]);                                          \
    ZEP_PAIR(P, 1);                                                                     \
    ZEP_PAIR(P, 2);                                                                     \
    ZEP_PAIR(P, 3);                                                                     \
    ZEP_PAIR(P, 4);                                                                     \
    const float v = float(sum);                                                         \
    out[x] = CLAMP ? std::clamp(v, float(std::min(a0[x], b0[x])),                        \
                                float(std::max(a0[x], b0[x])))                          \
                   : v;                                                                 \
  }
#define ZEP_INTERPOLATE_CASE(P)      \
  case P:                            \
    if (clamp) {                     \
      ZEP_INTERPOLATE_LOOP(P, true)  \
    } else {                         \
      ZEP_INTERPOLATE_LOOP(P, false) \
    }                                \
    break;

ZEP_VECTOR_CLONES void InterpolateRun(const double* w, int pairs, bool clamp,
                                      const double* const* a, const double* const* b, int n,
                                      float* __restrict out) {
  // Pairs past the count read the first, never past the caller's lists.
  auto pick = [&](const double* const* p, int k) { return p[k < pairs ? k : 0]; };
  const double *a0 = a[0], *a1 = pick(a, 1), *a2 = pick(a, 2), *a3 = pick(a, 3), *a4 = pick(a, 4);
  const double *b0 = b[0], *b1 = pick(b, 1), *b2 = pick(b, 2), *b3 = pick(b, 3), *b4 = pick(b, 4);
  auto weight = [&](int k) { return k < pairs ? w[k] : 0.0; };
  const double w0 = w[0], w1 = weight(1), w2 = weight(2), w3 = weight(3), w4 = weight(4);
  switch (pairs) {
    ZEP_INTERPOLATE_CASE(1)
    ZEP_INTERPOLATE_CASE(2)
    ZEP_INTERPOLATE_CASE(3)
    ZEP_INTERPOLATE_CASE(4)
    ZEP_INTERPOLATE_CASE(5)
    default:
      break;
  }
}
#undef ZEP_INTERPOLATE_CASE
#undef ZEP_INTERPOLATE_LOOP
#undef ZEP_PAIR

// out[j] = in[step j] in double, for j in [0, n): the rows the interpolation runs read.
ZEP_VECTOR_CLONES void Widen(const float* in, int step, int n, double* __restrict out) {
  if (step == 1) {
    for (int j = 0; j < n; ++j) out[j] = in[j];
  } else {
    for (int j = 0; j < n; ++j) out[j] = in[int64_t(step) * j];
  }
}

// out[2x] = the candidate the map bits `mask` of m[x] pick (second when set), for x in
// [0, n): without branches, since the picks follow the picture and mispredict.
ZEP_VECTOR_CLONES void PickEveryOther(const float* first, const float* second, const uint8_t* m,
                                      uint8_t mask, int n, float* __restrict out) {
  for (int x = 0; x < n; ++x) out[2 * x] = (m[x] & mask) != 0 ? second[x] : first[x];
}

// The same into out[x].
ZEP_VECTOR_CLONES void PickRun(const float* first, const float* second, const uint8_t* m,
                               uint8_t mask, int n, float* __restrict out) {
  for (int x = 0; x < n; ++x) out[x] = (m[x] & mask) != 0 ? second[x] : first[x];
}

// The same with the source sample in[x] before each pick: a whole stretch of an even row.
ZEP_VECTOR_CLONES void PickBesideSource(const float* in, const float* first, const float* second,
                                        const uint8_t* m, uint8_t mask, int n,
                                        float* __restrict out) {
  for (int x = 0; x < n; ++x) {
    out[2 * x] = in[x];
    out[2 * x + 1] = (m[x] & mask) != 0 ? second[x] : first[x];
  }
}

// The two candidates of a run of midpoints, the line along one direction and along the
// other, each from its own pairs; a map bit picks one per sample.
struct Candidates {
  std::array<const double*, 5> a1{}, b1{}, a2{}, b2{};
  std::vector<float> first, second;
  void Run(const Taps& t, int n) {
    first.resize(size_t(n));
    second.resize(size_t(n));
    const bool clamp = t.order < -1;
    if (t.order == 0) {
      // Order 0: the chosen nearest pair and the perpendicular one.
      const std::array<const double*, 2> fa{a1[0], a2[0]}, fb{b1[0], b2[0]};
      const std::array<const double*, 2> sa{a2[0], a1[0]}, sb{b2[0], b1[0]};
      const double w[2] = {t.w[0], t.w[1]};
      InterpolateRun(w, 2, false, fa.data(), fb.data(), n, first.data());
      InterpolateRun(w, 2, false, sa.data(), sb.data(), n, second.data());
      return;
    }
    InterpolateRun(t.w.data(), t.pairs, clamp, a1.data(), b1.data(), n, first.data());
    InterpolateRun(t.w.data(), t.pairs, clamp, a2.data(), b2.data(), n, second.data());
  }
};

// The diagonal difference d and the axial energies at one pixel from the rows above (um),
// its own (u0) and the two below, at columns jm, j0, j1, j2 (left, own, right, next).
inline void Energies(const float* um, const float* u0, const float* u1, const float* u2, int jm,
                     int j0, int j1, int j2, bool fourPoint, float& d, float& eh, float& ev) {
  double a, b, h, v;
  if (fourPoint) {
    a = double(um[jm]) - u2[j2] - 3.0 * (double(u0[j0]) - u1[j1]);
    b = double(u2[jm]) - um[j2] - 3.0 * (double(u1[j0]) - u0[j1]);
    h = double(u0[jm]) - u0[j2] - 3.0 * (double(u0[j0]) - u0[j1]);
    v = double(um[j0]) - u2[j0] - 3.0 * (double(u0[j0]) - u1[j0]);
  } else {
    a = double(u0[j0]) - u1[j1];
    b = double(u0[j1]) - u1[j0];
    h = double(u0[j0]) - u0[j1];
    v = double(u0[j0]) - u1[j0];
  }
  d = float(a * a - b * b);
  eh = float(h * h);
  ev = float(v * v);
}

// Energies for the columns [from, to), whose neighbours all lie inside the row. The
// outputs never overlap the rows read, which lets the loops run as vectors.
#define ZEP_ENERGIES_RUN(name, fourPoint)                                                       \
  ZEP_VECTOR_CLONES void name(const float* __restrict um, const float* __restrict u0,           \
                              const float* __restrict u1, const float* __restrict u2, int from, \
                              int to, float* __restrict d, float* __restrict eh,                \
                              float* __restrict ev) {                                           \
    for (int j = from; j < to; ++j) {                                                           \
      Energies(um, u0, u1, u2, j - 1, j, j + 1, j + 2, fourPoint, d[j], eh[j], ev[j]);          \
    }                                                                                           \
  }
ZEP_ENERGIES_RUN(EnergiesFourRun, true)
ZEP_ENERGIES_RUN(EnergiesTwoRun, false)
#undef ZEP_ENERGIES_RUN

// m[j] gets `bit` where shifted[j] < energy[j], for j in [0, n).
ZEP_VECTOR_CLONES void DecideRun(const float* shifted, const float* energy, uint8_t* m, uint8_t bit,
                                 int n) {
  for (int j = 0; j < n; ++j) m[j] |= shifted[j] < energy[j] ? bit : uint8_t(0);
}

// Reflected indices of a line of `length` samples for offsets -pad .. length + pad - 1.
std::vector<int> ReflectedIndices(int length, int pad) {
  std::vector<int> idx(size_t(length) + 2 * size_t(pad));
  for (int k = -pad; k < length + pad; ++k) idx[size_t(k + pad)] = ReflectWhole(k, length);
  return idx;
}

// The energies' blur, and the rows a band of the decisions covers.
constexpr float kBlurSigma = 1.0f;
constexpr int kBand = 64;

// Runs the fill of every source row of `planes` planes of `rows` rows each as one loop, one
// tick per row; a cancel throws.
void FillRows(int planes, int rows, int64_t block, const PlaneRowsBody& body) {
  if (PlaneRowsTicking(planes, rows, block, body)) throw Cancelled{};
}
void TickRows(int planes, int rows) {
  FillRows(planes, rows, BlockFor(1), [](int, int64_t, int64_t) {});
}

}  // namespace

const matrix& matrix::ddldirections(cvector<uint8_t>& map, int order) const {
  ProgressCountingScope quiet(false);
  const int W = nx, H = ny;
  map.dim(n);
  if (n == 0) return *this;
  const bool fourPoint = std::abs(order) >= 2;
  const std::vector<int> cols = ReflectedIndices(W, 3), rows = ReflectedIndices(H, 3);
  const int f = GaussianLength(kBlurSigma, 3.0f) / 2;

  // The plane runs in bands of rows, each through buffers of a few rows instead of three
  // whole energy planes: a band takes the rows around it that its blurs and shifts read,
  // so every row it keeps is computed exactly as in the whole plane (rows a blur or shift
  // would see only near a band's cut are never kept).
  const int64_t bands = (int64_t(H) + kBand - 1) / kBand;
  ScratchPool<float> stores;
  ParallelBlocks(bands, BlockFor(int64_t(W) * kBand * 60), [&](int64_t k0, int64_t k1) {
    ScratchPool<float>::Lease lease(stores);
    std::vector<float>& store = *lease;
    for (int64_t k = k0; k < k1; ++k) {
      const int r0 = int(k * kBand), r1 = std::min(H, r0 + kBand);
      // Rows of the shifted energies the decisions read (one below, reflected).
      int s0 = H, s1 = 0;
      for (int i = r0; i < r1; ++i) {
        s0 = std::min(s0, rows[size_t(i + 4)]);
        s1 = std::max(s1, rows[size_t(i + 4)] + 1);
      }
      // Blurred rows: the shift reads 3 above and 2 below; raw rows: the blur's reach
      // above, and one more below, where a blur takes its last f + 1 rows as edge rows.
      const int b0 = std::max(0, std::min(s0 - 3, r0)), b1 = std::min(H, std::max(s1 + 2, r1));
      const int a0 = std::max(0, b0 - f), a1 = std::min(H, b1 + f + 1);
      const size_t rawRows = size_t(a1 - a0), keptRows = size_t(b1 - b0);
      // Room for a whole band and the rows its shifts and blurs reach at once, so that a
      // later, larger band does not move the store into fresh pages.
      store.reserve(size_t(W) * (3 * size_t(kBand + 2 * f + 8) + size_t(kBand + 6)));
      store.resize(size_t(W) * (3 * rawRows + keptRows));
      matrix d(store.data(), W, a1 - a0), eh(store.data() + size_t(W) * rawRows, W, a1 - a0),
          ev(store.data() + 2 * size_t(W) * rawRows, W, a1 - a0);
      for (int i = a0; i < a1; ++i) {
        const float *um = z[rows[size_t(i + 2)]], *u0 = z[i], *u1 = z[rows[size_t(i + 4)]],
                    *u2 = z[rows[size_t(i + 5)]];
        float *dd = d.z[i - a0], *hh = eh.z[i - a0], *vv = ev.z[i - a0];
        // Columns 1 .. W - 3 read no reflected neighbour; the ends go through the table.
        const int inner0 = std::min(1, W), inner1 = std::max(inner0, W - 2);
        auto ends = [&](int from, int to) {
          for (int j = from; j < to; ++j) {
            Energies(um, u0, u1, u2, cols[size_t(j + 2)], j, cols[size_t(j + 4)],
                     cols[size_t(j + 5)], fourPoint, dd[j], hh[j], vv[j]);
          }
        };
        ends(0, inner0);
        (fourPoint ? EnergiesFourRun : EnergiesTwoRun)(um, u0, u1, u2, inner0, inner1, dd, hh, vv);
        ends(inner1, W);
      }
      // The kept rows of each blurred plane, as views.
      auto kept = [&](matrix& m) {
        m.gaussblury(kBlurSigma, 0);
        return matrix(m.z[b0 - a0], W, b1 - b0);
      };
      matrix dk = kept(d), hk = kept(eh), vk = kept(ev);
      for (matrix* m : {&dk, &hk, &vk}) m->gaussblurx(kBlurSigma, 0);

      // Equal diagonal energies keep the main diagonal.
      for (int i = r0; i < r1; ++i) {
        const float* di = dk.z[i - b0];
        uint8_t* m = map.x + int64_t(i) * W;
        for (int j = 0; j < W; ++j) m[j] = di[j] > 0 ? kAntiDiagonal : 0;
      }
      // The shifted copy of one energy against the other energy at the next pixel
      // (reflected); strict, so equal energies keep the line along the midpoint's own axis.
      matrix shifted(store.data() + 3 * size_t(W) * rawRows, W, b1 - b0);
      auto decide = [&](const matrix& from, const matrix& energy, uint8_t bit) {
        ShiftHalfPixelNoCancel(from, shifted);
        for (int i = r0; i < r1; ++i) {
          const float* sh = shifted.z[rows[size_t(i + 4)] - b0];
          const float* e = energy.z[i - b0];
          uint8_t* m = map.x + int64_t(i) * W;
          // The neighbour of every column but the last lies inside the row.
          DecideRun(sh + 1, e, m, bit, W - 1);
          if (sh[cols[size_t(W - 1 + 4)]] < e[W - 1]) m[W - 1] |= bit;
        }
      };
      decide(vk, hk, kHorizontalAlongV);
      decide(hk, vk, kVerticalAlongH);
    }
  });
  return *this;
}

namespace {
// A doubled plane of a megapixel picture is just under the size that the plane allocator
// keeps and places in huge pages.
void PreferHugePages(const matrix& m) { ::PreferHugePages(m.x, m.n); }

// One plane of a doubling: the source, the plane of its diagonal midpoints and the output.
// Every plane of a doubling has the shape of the map.
struct Doubled {
  const matrix* source;
  matrix* out;
  matrix diagonal{};
};

// The diagonal midpoints of the doubling of each source into its `diagonal`, W x H: (i, j)
// holds the new sample at (2i + 1, 2j + 1) of the doubled grid. The diagonals are views of
// one block that `store` takes, in huge pages where they fit: fresh small pages for every
// plane faulted in at more cost than the fill itself. Orders without taps leave them unset.
// Every source sample is read from the source, never from the doubled plane.
void FillDiagonal(std::vector<Doubled>& planes, const cvector<uint8_t>& map, int order,
                  matrix& store) {
  const int W = planes[0].source->nx, H = planes[0].source->ny, count = int(planes.size());
  if (int64_t(W) * H == 0) return;
  const Taps t = TapsOf(order);
  if (t.pairs == 0) {
    TickRows(count, H);
    return;
  }
  store.dim(W, SaturatedLength(int64_t(count) * H));
  PreferHugePages(store);
  for (int k = 0; k < count; ++k) planes[size_t(k)].diagonal.attach(store.z[int64_t(k) * H], W, H);
  const int nx = 2 * W, ny = 2 * H;
  const std::vector<int> cols = ReflectedIndices(nx, kPad), rows = ReflectedIndices(ny, kPad);
  // Columns whose pairs all lie inside the row run as vectors; the few at the ends read
  // through the reflected indices (reflection on the doubled grid keeps a position's
  // parity, so an even row and column is source sample (row / 2, column / 2)).
  const int jlo = t.pairs - 1, jhi = std::max(jlo, W - t.pairs);
  ScratchPool<double> wides;
  FillRows(count, H, BlockFor(int64_t(W) * t.pairs * 4), [&](int plane, int64_t i0, int64_t i1) {
    const matrix& source = *planes[size_t(plane)].source;
    matrix& diagonal = planes[size_t(plane)].diagonal;
    Candidates run;
    // The source rows the block's vector runs read, widened: rows lo .. hi.
    ScratchPool<double>::Lease lease(wides);
    std::vector<double>& wide = *lease;
    int lo = H, hi = -1;
    if (jhi > jlo) {
      for (int i = int(i0); i < int(i1); ++i) {
        for (int k = 0; k < t.pairs; ++k) {
          for (int r : {rows[size_t(2 * i + 1 - (2 * k + 1) + kPad)] / 2,
                        rows[size_t(2 * i + 1 + (2 * k + 1) + kPad)] / 2}) {
            lo = std::min(lo, r);
            hi = std::max(hi, r);
          }
        }
      }
      wide.resize(size_t(hi - lo + 1) * size_t(W));
      for (int r = lo; r <= hi; ++r) Widen(source.z[r], 1, W, wide.data() + size_t(r - lo) * W);
    }
    for (int i = int(i0); i < int(i1); ++i) {
      const int r = 2 * i + 1;
      // The source rows of rows r - d and r + d for d = 2k + 1.
      std::array<const float*, 5> above{}, below{};
      for (int k = 0; k < 5; ++k) {
        above[size_t(k)] = source.z[rows[size_t(r - (2 * k + 1) + kPad)] / 2];
        below[size_t(k)] = source.z[rows[size_t(r + (2 * k + 1) + kPad)] / 2];
      }
      const int* cx = cols.data() + kPad;
      float* out = diagonal.z[i];
      const uint8_t* m = map.x + int64_t(i) * W;
      auto at = [&](int j) {
        const int c = 2 * j + 1;
        const bool anti = (m[j] & 0x03) != 0;
        auto mainPair = [&](int k, float& a, float& b) {
          const int d = 2 * k + 1;
          a = above[size_t(k)][cx[c - d] / 2];
          b = below[size_t(k)][cx[c + d] / 2];
        };
        auto antiPair = [&](int k, float& a, float& b) {
          const int d = 2 * k + 1;
          a = above[size_t(k)][cx[c + d] / 2];
          b = below[size_t(k)][cx[c - d] / 2];
        };
        out[j] = anti ? Interpolate(t, antiPair, [&](float& a, float& b) { mainPair(0, a, b); })
                      : Interpolate(t, mainPair, [&](float& a, float& b) { antiPair(0, a, b); });
      };
      for (int j = 0; j < std::min(jlo, W); ++j) at(j);
      for (int j = jhi; j < W; ++j) at(j);
      if (jhi <= jlo) continue;
      // The even rows of the doubled plane are source rows.
      for (int k = 0; k < t.pairs; ++k) {
        const double* up = wide.data() + size_t(rows[size_t(r - (2 * k + 1) + kPad)] / 2 - lo) * W;
        const double* down =
            wide.data() + size_t(rows[size_t(r + (2 * k + 1) + kPad)] / 2 - lo) * W;
        run.a1[size_t(k)] = up + (jlo - k);
        run.b1[size_t(k)] = down + (jlo + k + 1);
        run.a2[size_t(k)] = up + (jlo + k + 1);
        run.b2[size_t(k)] = down + (jlo - k);
      }
      run.Run(t, jhi - jlo);
      PickRun(run.first.data(), run.second.data(), m + jlo, 0x03, jhi - jlo, out + jlo);
    }
  });
}

// The rows of the doubled plane one at a time, from the source (the even positions) and the
// diagonal midpoints: each row with its horizontal or vertical midpoints, which read only
// those two, so that any row can be made at any time and as often as wanted. One object per
// block of rows.
class DoubledRows {
 public:
  DoubledRows(const matrix& source, const matrix& diagonal, const cvector<uint8_t>& map,
              const Taps& t, const std::vector<int>& cols, const std::vector<int>& rows,
              std::vector<double>& gathered)
      : source_(source),
        diagonal_(diagonal),
        map_(map),
        t_(t),
        W_(source.nx),
        jlo_(t.pairs),
        jhi_(std::max(t.pairs, source.nx - t.pairs)),
        cx_(cols.data() + kPad),
        ry_(rows.data() + kPad),
        gathered_(gathered) {}

  // Widens the rows of the doubled grid that the rows [r0, r1) read, which are
  // reflected inside the plane: source rows on the even rows, diagonal midpoints on the
  // odd ones.
  void Prepare(int r0, int r1) {
    lo_ = 2 * source_.ny;
    int hi = -1;
    const int P = t_.pairs;
    for (int r = r0; r < r1; ++r) {
      const int rr = ry_[r];
      for (int k = 0; k < P; ++k) {
        const int d = 2 * k + 1;
        for (int q : {ry_[rr - d], ry_[rr + d]}) {
          lo_ = std::min(lo_, q);
          hi = std::max(hi, q);
        }
      }
      lo_ = std::min(lo_, rr);
      hi = std::max(hi, rr);
    }
    if (P == 0 || jhi_ <= jlo_ || hi < lo_) return;
    gathered_.resize(size_t(hi - lo_ + 1) * size_t(W_));
    for (int r = lo_; r <= hi; ++r) {
      const matrix& from = r % 2 == 0 ? source_ : diagonal_;
      Widen(from.z[r / 2], 1, W_, gathered_.data() + size_t(r - lo_) * size_t(W_));
    }
  }

  // Row r of the doubled plane (2 W samples) into out; the rows it reads prepared.
  void Row(int r, float* out) {
    const int i = r / 2;
    const float* in = source_.z[i];
    if (t_.pairs == 0) {
      // No taps: the source samples beside zeros.
      if (r % 2 == 1) {
        std::fill(out, out + 2 * int64_t(W_), 0.0f);
        return;
      }
      for (int j = 0; j < W_; ++j) {
        out[2 * j] = in[j];
        out[2 * j + 1] = 0.0f;
      }
      return;
    }
    if (r % 2 == 0) {
      Even(r, in, out);
    } else {
      Odd(r, out);
    }
  }

 private:
  const double* line(int r) const { return gathered_.data() + size_t(r - lo_) * size_t(W_); }
  // The diagonal midpoint at an odd row and column of the doubled grid.
  float diagonalAt(int row, int col) const { return diagonal_.z[row / 2][col / 2]; }

  // Horizontal midpoints (re, 2j + 1) between two source samples of the row, beside them.
  void Even(int re, const float* in, float* even) {
    const int W = W_, jlo = jlo_, jhi = jhi_;
    const int* cx = cx_;
    const int* ry = ry_;
    const uint8_t* m = map_.x + int64_t(re / 2) * W;
    auto at = [&](int j) {
      const int c = 2 * j + 1;
      auto alongRow = [&](int k, float& a, float& b) {
        const int d = 2 * k + 1;
        a = in[cx[c - d] / 2];
        b = in[cx[c + d] / 2];
      };
      auto alongCol = [&](int k, float& a, float& b) {
        const int d = 2 * k + 1;
        a = diagonalAt(ry[re - d], c);
        b = diagonalAt(ry[re + d], c);
      };
      even[2 * j] = in[j];
      even[c] = (m[j] & 0x0C) != 0
                    ? Interpolate(t_, alongCol, [&](float& a, float& b) { alongRow(0, a, b); })
                    : Interpolate(t_, alongRow, [&](float& a, float& b) { alongCol(0, a, b); });
    };
    for (int j = 0; j < std::min(jlo, W); ++j) at(j);
    for (int j = jhi; j < W; ++j) at(j);
    if (jhi <= jlo) return;
    // Along the row, or along the column through diagonal midpoints.
    for (int k = 0; k < t_.pairs; ++k) {
      const int d = 2 * k + 1;
      run_.a1[size_t(k)] = line(re) + (jlo - k);
      run_.b1[size_t(k)] = line(re) + (jlo + k + 1);
      run_.a2[size_t(k)] = line(ry[re - d]) + jlo;
      run_.b2[size_t(k)] = line(ry[re + d]) + jlo;
    }
    run_.Run(t_, jhi - jlo);
    // The row in one sweep: each source sample beside its midpoint.
    PickBesideSource(in + jlo, run_.first.data(), run_.second.data(), m + jlo, 0x0C, jhi - jlo,
                     even + 2 * jlo);
  }

  // Vertical midpoints (ro, 2j) between two source samples of the column, beside the
  // diagonal midpoints.
  void Odd(int ro, float* odd) {
    const int W = W_, jlo = jlo_, jhi = jhi_;
    const int* cx = cx_;
    const int* ry = ry_;
    const uint8_t* m = map_.x + int64_t(ro / 2) * W;
    const float* diagonal = diagonal_.z[ro / 2];
    for (int j = 0; j < W; ++j) odd[2 * j + 1] = diagonal[j];
    auto at = [&](int j) {
      const int e = 2 * j;
      auto downCol = [&](int k, float& a, float& b) {
        const int d = 2 * k + 1;
        a = source_.z[ry[ro - d] / 2][j];
        b = source_.z[ry[ro + d] / 2][j];
      };
      auto acrossRow = [&](int k, float& a, float& b) {
        const int d = 2 * k + 1;
        a = diagonal[cx[e - d] / 2];
        b = diagonal[cx[e + d] / 2];
      };
      odd[e] = (m[j] & 0x30) != 0
                   ? Interpolate(t_, acrossRow, [&](float& a, float& b) { downCol(0, a, b); })
                   : Interpolate(t_, downCol, [&](float& a, float& b) { acrossRow(0, a, b); });
    };
    for (int j = 0; j < std::min(jlo, W); ++j) at(j);
    for (int j = jhi; j < W; ++j) at(j);
    if (jhi <= jlo) return;
    // Down the column, or across the row through diagonal midpoints.
    for (int k = 0; k < t_.pairs; ++k) {
      const int d = 2 * k + 1;
      run_.a1[size_t(k)] = line(ry[ro - d]) + jlo;
      run_.b1[size_t(k)] = line(ry[ro + d]) + jlo;
      run_.a2[size_t(k)] = line(ro) + (jlo - k - 1);
      run_.b2[size_t(k)] = line(ro) + (jlo + k);
    }
    run_.Run(t_, jhi - jlo);
    PickEveryOther(run_.first.data(), run_.second.data(), m + jlo, 0x30, jhi - jlo, odd + 2 * jlo);
  }

  const matrix& source_;
  const matrix& diagonal_;
  const cvector<uint8_t>& map_;
  const Taps& t_;
  int W_, jlo_, jhi_;
  const int* cx_;
  const int* ry_;
  std::vector<double>& gathered_;
  int lo_ = 0;
  Candidates run_;
};

// The doubled plane `out` (2W x 2H) of the source and its diagonal midpoints, each row
// written once: with `turn` turned by 180 degrees (the rows in reverse order, each
// reversed), then with `shift` shifted by half an output sample along both axes on the way
// (ShiftHalfPixelNoCancel's bits). The rows a block's shift reads beyond its own are made
// again there instead of waiting for the neighbouring block. One tick per source row.
void FillRowsOf(const std::vector<Doubled>& planes, const cvector<uint8_t>& map, int order,
                bool turn, bool shift) {
  const int W = planes[0].source->nx, H = planes[0].source->ny, count = int(planes.size());
  const Taps t = TapsOf(order);
  if (int64_t(W) * H == 0) {
    TickRows(count, H);
    return;
  }
  const int nx = 2 * W, ny = 2 * H;
  const std::vector<int> cols = ReflectedIndices(nx, kPad), rows = ReflectedIndices(ny, kPad);
  // A shifted block makes three rows past each of its ends: blocks of a few dozen source
  // rows keep that to a few percent.
  const int64_t rowCost = int64_t(W) * std::max(t.pairs, 1) * 8;
  const int64_t block = shift ? std::max<int64_t>(BlockFor(rowCost), 32) : BlockFor(rowCost);
  // Row r of the doubled plane as the turn leaves it, and back.
  auto turned = [&](int r) { return turn ? ny - 1 - r : r; };
  ScratchPool<double> lines, sweeps;
  ScratchPool<float> rowStore;
  FillRows(count, H, block, [&](int plane, int64_t i0, int64_t i1) {
    const matrix& source = *planes[size_t(plane)].source;
    matrix& out = *planes[size_t(plane)].out;
    ScratchPool<double>::Lease lease(lines);
    DoubledRows doubled(source, planes[size_t(plane)].diagonal, map, t, cols, rows, *lease);
    // Doubled row r into `to`, turned when asked.
    auto make = [&](int r, float* to) {
      doubled.Row(r, to);
      if (turn) std::reverse(to, to + nx);
    };
    const int r0 = int(2 * i0), r1 = int(2 * i1);
    if (!shift) {
      doubled.Prepare(r0, r1);
      for (int r = r0; r < r1; ++r) make(r, out.z[turned(r)]);
      return;
    }
    // The block's output rows [o0, o1); the shift of row o reads rows o - 3 .. o + 2.
    const int o0 = turn ? ny - r1 : r0, o1 = turn ? ny - r0 : r1;
    const int p0 = std::max(0, o0 - 3), p1 = std::min(ny, o1 + 3);
    doubled.Prepare(turn ? ny - p1 : p0, turn ? ny - p0 : p1);
    ScratchPool<float>::Lease row(rowStore);
    row->resize(size_t(nx));
    ScratchPool<double>::Lease sweep(sweeps);
    ShiftHalfPixelRows(
        nx, ny, o0, o1,
        [&](int m) -> const float* {
          make(turned(m), row->data());
          return row->data();
        },
        out.z, *sweep);
  });
}

// The doubling of each source into its output, turned and shifted as FillRowsOf takes them,
// all the planes sharing each loop.
void Doubling(std::vector<Doubled>& planes, const cvector<uint8_t>& map, int order, bool turn,
              bool shift) {
  matrix diagonals;
  FillDiagonal(planes, map, order, diagonals);
  for (Doubled& d : planes) {
    d.out->dim(SaturatedLength(2 * int64_t(d.source->nx)),
               SaturatedLength(2 * int64_t(d.source->ny)));
    PreferHugePages(*d.out);
  }
  FillRowsOf(planes, map, order, turn, shift);
}

// Pass p of the enlargement of `count` planes by 2^passes: outs[k] becomes the doubling of
// from[k] (which may be outs[k] itself), the first plane deciding the map of the pass when
// the list holds none that fits it. The turns and the half-pixel shift that recentres the
// result run inside the doublings they follow, so that each doubled plane is written once,
// already turned and shifted: the plane turns after the first doubling and back after the
// last.
void DoublingPass(int p, matrix* const* outs, const matrix* const* from, int count, int order,
                  int passes, bool rotate, bool recentre, cvectorlist<uint8_t>& maps,
                  bool releaseMaps) {
  cvector<uint8_t>& map = maps[p];
  // A reused map that does not fit this plane is decided again rather than read past.
  const matrix& lead = *from[0];
  if (map.n != lead.n || lead.n == 0) lead.ddldirections(map, order);
  const bool last = p == passes - 1;
  const bool turn = rotate && passes >= 2 && (p == 0 || last);
  const bool shift = recentre && last;
  // A plane doubled into itself is read from where it was moved to.
  std::vector<matrix> before;
  before.reserve(size_t(count));
  std::vector<Doubled> planes;
  for (int k = 0; k < count; ++k) {
    const matrix* source = from[k];
    if (source == outs[k]) {
      before.push_back(std::move(*outs[k]));
      source = &before.back();
    }
    planes.push_back({source, outs[k]});
  }
  Doubling(planes, map, order, turn, shift);
  if (releaseMaps) map.free();
}
}  // namespace

void DdlEnlargeTogether(matrix* const* planes, int count, int order, int passes, bool rotate,
                        bool recentre, bool negate, cvectorlist<uint8_t>& maps, bool releaseMaps) {
  if (count <= 0) return;
  if (negate) order = -order;
  passes = std::max(passes, 0);
  if (maps.n != passes || !maps.row) maps.dim(0, passes);
  for (int p = 0; p < passes; ++p) {
    DoublingPass(p, planes, planes, count, order, passes, rotate, recentre, maps, releaseMaps);
  }
}

matrix& matrix::ddlfilldiagonal(const matrix& source, const cvector<uint8_t>& map, int order) {
  std::vector<Doubled> one{{&source, this}};
  matrix store;
  FillDiagonal(one, map, order, store);
  const matrix& diagonal = one[0].diagonal;
  const int W = source.nx, H = source.ny;
  dim(SaturatedLength(2 * int64_t(W)), SaturatedLength(2 * int64_t(H)));
  if (n == 0) return *this;
  const bool taps = !diagonal.empty();
  ParallelBlocks(H, BlockFor(int64_t(W) * 4), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      float *even = z[2 * i], *odd = z[2 * i + 1];
      for (int j = 0; j < W; ++j) {
        even[2 * j] = source.z[i][j];
        even[2 * j + 1] = 0.0f;
        odd[2 * j] = 0.0f;
        odd[2 * j + 1] = taps ? diagonal.z[i][j] : 0.0f;
      }
    }
  });
  return *this;
}

matrix& matrix::ddlfillhv(const cvector<uint8_t>& map, int order) {
  const int W = nx / 2, H = ny / 2;
  if (TapsOf(order).pairs == 0 || W == 0 || H == 0) {
    TickRows(1, H);
    return *this;
  }
  // The source samples and the diagonal midpoints out of the plane, which the rows then
  // overwrite.
  matrix source(W, H), diagonal(W, H);
  for (int i = 0; i < H; ++i) {
    for (int j = 0; j < W; ++j) {
      source.z[i][j] = z[2 * i][2 * j];
      diagonal.z[i][j] = z[2 * i + 1][2 * j + 1];
    }
  }
  std::vector<Doubled> one{{&source, this, std::move(diagonal)}};
  FillRowsOf(one, map, order, false, false);
  return *this;
}

matrix& matrix::DdlEnlarge(matrix& source, int order, int passes, bool rotate, bool recentre,
                           bool scratch, bool negate, cvectorlist<uint8_t>& maps,
                           bool releaseMaps) {
  if (&source == this) {
    matrix copy = source;
    return DdlEnlarge(copy, order, passes, rotate, recentre, scratch, negate, maps, releaseMaps);
  }
  if (negate) order = -order;
  passes = std::max(passes, 0);
  if (maps.n != passes || !maps.row) maps.dim(0, passes);

  if (!scratch) {
    if (passes == 0) assign(source);
    matrix* const out = this;
    for (int p = 0; p < passes; ++p) {
      const matrix* const from = p == 0 ? &source : this;
      DoublingPass(p, &out, &from, 1, order, passes, rotate, recentre, maps, releaseMaps);
    }
  } else {
    const ScratchFiles files({"temp1.mat", "temp2.mat"});
    source.write(files[0]).write(files[1]).free();
    try {
      free();
      for (int p = 0; p < passes; ++p) {
        read(files[0]);
        matrix* const out = this;
        DoublingPass(p, &out, &out, 1, order, passes, rotate, recentre, maps, releaseMaps);
        write(files[0]).free();
      }
      read(files[0]);
      source.read(files[1]);
    } catch (...) {
      // The caller's plane comes back whatever failed; its file is the only copy.
      if (source.empty()) {
        try {
          source.read(files[1]);
        } catch (...) {
        }
      }
      throw;
    }
  }
  return *this;
}
