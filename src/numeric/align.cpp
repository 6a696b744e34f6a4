// Registration on planes: the pyramid reduction, the masked difference costs, the six-tap
// shifts and their sub-pixel refinement, the block fields and the warp by fields.
#include "numeric/align.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/matrixarray.h"
#include "numeric/resample.h"
#include "numeric/shift.h"
#include "numeric/vectorclones.h"
#include "platform/errors.h"
#include "platform/parallel.h"

namespace {
// Lanczos-3 with exact zeros at the nonzero whole distances, where sin(pi k) in doubles is
// not quite 0: a whole shift must copy, also next to samples of very different size.
double Lanczos3(double x) {
  if (x != 0.0 && x == std::trunc(x)) return 0.0;
  return KernelLanczos(x, 3.0);
}

constexpr float kNoScore = std::numeric_limits<float>::infinity();

// Whether a mask's bit k excludes the pixel (no mask excludes nothing).
inline bool Excluded(const bitmask* m, int k) { return m != nullptr && m->getbit(k); }
}  // namespace

// The row loops of the shifts and the reduction, in both instruction sets (vectorclones.h).
// Every output sums its taps in double in tap order, as a plain loop over the taps would,
// so the vector forms give the same bits.
namespace alignrows {
// dst[q][x] = sum_k w_k src[q][x + k], six taps, for rows q < nrows.
ZEP_VECTOR_CLONES void TapsAlong(float* const* dst, const float* const* src, const Taps6& t,
                                 int nrows, int count) {
  const double w0 = t.w[0], w1 = t.w[1], w2 = t.w[2], w3 = t.w[3], w4 = t.w[4], w5 = t.w[5];
  for (int q = 0; q < nrows; ++q) {
    const float* __restrict in = src[q];
    float* __restrict out = dst[q];
    for (int x = 0; x < count; ++x) {
      double sum = 0.0;
      sum += w0 * in[x];
      sum += w1 * in[x + 1];
      sum += w2 * in[x + 2];
      sum += w3 * in[x + 3];
      sum += w4 * in[x + 4];
      sum += w5 * in[x + 5];
      out[x] = float(sum);
    }
  }
}

// (dst + q stride)[x] = sum_k w_k rows[q + k][x], six rows, for rows q < nrows.
void TapsAcross(float* dst, int64_t stride, const float* const* rows, const Taps6& t, int nrows,
                int count) {
  const double taps[6] = {t.w[0], t.w[1], t.w[2], t.w[3], t.w[4], t.w[5]};
  for (int q = 0; q < nrows; ++q) WeightedSix(rows + q, dst + q * stride, size_t(count), taps);
}

// acc[x] += w row[x]: one tap of a column filter whose sums are kept per sample.
ZEP_VECTOR_CLONES void AddTap(double* __restrict acc, const float* __restrict row, double w,
                              int count) {
  for (int x = 0; x < count; ++x) acc[x] += w * row[x];
}

// acc[i] += w row[2 i]: one tap of a halving row filter.
ZEP_VECTOR_CLONES void AddTapEven(double* __restrict acc, const float* __restrict row, double w,
                                  int count) {
  for (int i = 0; i < count; ++i) acc[i] += w * row[2 * i];
}

ZEP_VECTOR_CLONES void Narrow(float* __restrict dst, const double* __restrict acc, int count) {
  for (int x = 0; x < count; ++x) dst[x] = float(acc[x]);
}

// sums[k] += |ref[x] - seg[x + k]| for x < width, k < count: a row of a block against the
// candidates of a block search, each sum its own chain in x order. Eight chains at a time
// stay in registers; seg holds width - 1 + count rounded up to 8 samples.
ZEP_VECTOR_CLONES void AddAbsToEach(double* __restrict sums, const double* __restrict seg,
                                    const float* __restrict ref, int width, int count) {
  for (int k0 = 0; k0 < count; k0 += 8) {
    const int n = std::min(8, count - k0);
    double a[8];
    for (int q = 0; q < 8; ++q) a[q] = q < n ? sums[k0 + q] : 0.0;
    for (int x = 0; x < width; ++x) {
      const double t = ref[x];
      const double* v = seg + k0 + x;
      for (int q = 0; q < 8; ++q) a[q] += std::fabs(t - v[q]);
    }
    for (int q = 0; q < n; ++q) sums[k0 + q] = a[q];
  }
}
}  // namespace alignrows

int AlignLevelCount(int w, int h) {
  int f = std::min(w, h), levels = 1;
  while (f > 16) {
    f /= 2;
    ++levels;
  }
  return levels;
}

Taps6 SixTapShift(float s, int& g) {
  float f;
  if (s < 0.0f) {
    g = int(std::trunc(-s));
    f = -s - float(g);
  } else {
    g = -int(std::trunc(s)) - 1;
    f = 1.0f - (s - std::trunc(s));
  }
  Taps6 t;
  float sum = 0.0f;
  for (int k = 0; k < 6; ++k) {
    t.w[k] = float(Lanczos3(double(k) - 2.0 - double(f)));
    sum += t.w[k];
  }
  const float scale = 1.0f / sum;
  for (float& w : t.w) w *= scale;
  return t;
}

bitmask FrameMask(int w, int h, int left, int right, int bottom, int top) {
  bitmask m(w, h);
  for (int y = 0; y < h; ++y) {
    const bool whole = y < bottom || y >= h - top;
    const int64_t l = whole ? w : std::clamp<int64_t>(left, 0, w);
    const int64_t r = whole ? w : std::clamp<int64_t>(int64_t(w) - right, 0, w);
    for (int64_t x = 0; x < l; ++x) m.set(int(x), y, true);
    for (int64_t x = std::max(l, r); x < w; ++x) m.set(int(x), y, true);
  }
  return m;
}

// --- Pyramid ---

namespace {
// The outputs [i0, i1) of a line of `outputs` whose taps from factor*i - lead on, K of
// them, all lie inside a line of `length` samples.
void InteriorOutputs(int outputs, int length, int factor, int lead, int K, int& i0, int& i1) {
  i0 = 0;
  while (i0 < outputs && int64_t(factor) * i0 - lead < 0) ++i0;
  i1 = outputs;
  while (i1 > i0 && int64_t(factor) * (i1 - 1) - lead + K > length) --i1;
}
}  // namespace

matrix& matrix::downsample(const matrix& input, const matrix& kernel, int factor) {
  if (factor < 1 || kernel.n < 1) return *this;
  if (&input == this) {
    const matrix copy(input);
    return downsample(copy, kernel, factor);
  }
  const int w = input.nx, h = input.ny, ow = w / factor, oh = h / factor, K = kernel.n;
  const int lead = (K - factor) / 2;
  int i0, i1;
  InteriorOutputs(ow, w, factor, lead, K, i0, i1);
  // Sample i of input row y along x, into out[0, ow).
  auto alongRow = [&](int64_t y, float* out, std::vector<double>& acc) {
    const float* in = input.x + y * w;
    for (int i = 0; i < ow; ++i) {
      if (i == i0 && factor == 2) {
        // The inner outputs with every tap inside the row, as a vector loop per tap.
        std::fill(acc.begin(), acc.begin() + (i1 - i0), 0.0);
        for (int j = 0; j < K; ++j)
          alignrows::AddTapEven(acc.data(), in + 2 * i0 - lead + j, double(kernel.x[j]), i1 - i0);
        alignrows::Narrow(out + i0, acc.data(), i1 - i0);
        i = i1 - 1;
        continue;
      }
      double s = 0.0;
      for (int j = 0; j < K; ++j)
        s += double(kernel.x[j]) * in[ReflectWhole(int64_t(factor) * i - lead + j, w)];
      out[i] = float(s);
    }
  };
  dim(ow, oh);
  if (n == 0) return *this;
  // Strips of output rows, each filtering along x only the input rows it reaches.
  const int64_t strip = std::max<int64_t>(BlockFor(int64_t(ow) * K), 32);
  ParallelBlocks(oh, strip, [&](int64_t begin, int64_t end) {
    const int64_t p0 = int64_t(factor) * begin - lead, p1 = int64_t(factor) * (end - 1) - lead + K;
    std::vector<float> rows(size_t(p1 - p0) * size_t(ow));
    std::vector<double> acc(static_cast<size_t>(ow));
    for (int64_t q = p0; q < p1; ++q)
      alongRow(ReflectWhole(q, h), rows.data() + (q - p0) * ow, acc);
    for (int64_t i = begin; i < end; ++i) {
      std::fill(acc.begin(), acc.end(), 0.0);
      for (int j = 0; j < K; ++j) {
        const int64_t q = int64_t(factor) * i - lead + j;
        alignrows::AddTap(acc.data(), rows.data() + (q - p0) * ow, double(kernel.x[j]), ow);
      }
      alignrows::Narrow(this->x + i * ow, acc.data(), ow);
    }
  });
  return *this;
}

namespace {
void ReduceLevels(matrixarray& p, const matrix& kernel) {
  for (int k = 1; k < p.n; ++k) p[k].downsample(p[k - 1], kernel, 2);
}
}  // namespace

matrixarray& matrixarray::reducepyramid(const matrix& base, int levels, const matrix& kernel) {
  resize(std::max(levels, 0));
  if (n == 0) return *this;
  m[0] = base;
  ReduceLevels(*this, kernel);
  return *this;
}

void ReduceAlignLevels(matrixarray& pyramid) {
  matrix kernel;
  kernel.DownscaleKernel(2, 3, 0.0f, 0.0f);  // Lanczos-3 halving
  ReduceLevels(pyramid, kernel);
}

// --- Costs ---

namespace {
// The mean of term(candidate, reference) over the pixels not excluded; no score when
// there is none or the planes do not match.
template <class Term>
float MaskedMean(const matrix& a, const bitmask* exclude, const matrix& reference, Term term) {
  if (reference.n != a.n || (exclude != nullptr && exclude->n != a.n)) return kNoScore;
  double s = 0.0;
  int64_t count = 0;
  for (int k = 0; k < a.n; ++k) {
    if (Excluded(exclude, k)) continue;
    s += term(double(a.x[k]) - double(reference.x[k]));
    ++count;
  }
  return count == 0 ? kNoScore : float(s / double(count));
}
}  // namespace

float matrix::maskedmse(const bitmask* exclude, const matrix& reference) const {
  return MaskedMean(*this, exclude, reference, [](double d) { return d * d; });
}

float matrix::maskedmad(const bitmask* exclude, const matrix& reference) const {
  return MaskedMean(*this, exclude, reference, [](double d) { return std::fabs(d); });
}

float matrix::maskedmedianad(const bitmask* exclude, const matrix& reference) const {
  if (reference.n != n || (exclude != nullptr && exclude->n != n)) return kNoScore;
  std::vector<float> d;
  d.reserve(size_t(n));
  for (int k = 0; k < n; ++k) {
    if (!Excluded(exclude, k)) d.push_back(std::fabs(x[k] - reference.x[k]));
  }
  if (d.empty()) return kNoScore;
  matrix values(d.data(), int(d.size()), 1);
  return values.median();
}

// --- Six-tap shifts ---

namespace {
// The samples [lo, hi) of a line of `length` whose six taps from y + g - 2 on all lie
// inside it; the others read reflected samples and are marked.
void InsideTaps(int length, int g, int& lo, int& hi) {
  lo = int(std::clamp<int64_t>(2 - int64_t(g), 0, length));
  hi = int(std::clamp<int64_t>(int64_t(length) - 3 - int64_t(g), lo, length));
}

// One sample of a line with its taps reflected once at the ends.
float ShiftSample(const float* line, int64_t step, int length, int y, int g, const Taps6& t) {
  const int64_t first = int64_t(y) + g - 2;
  double sum = 0.0;
  for (int k = 0; k < 6; ++k) sum += double(t.w[k]) * line[ReflectOnce(first + k, length) * step];
  return float(sum);
}

// out = in shifted by s along x (rows) or along y (columns).
void ShiftPlane(float* out, const float* in, int w, int h, bool alongX, float s, bitmask* marks) {
  int g = 0;
  const Taps6 t = SixTapShift(s, g);
  int lo, hi;
  InsideTaps(alongX ? w : h, g, lo, hi);
  ParallelBlocks(h, BlockFor(int64_t(w) * 6), [&](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) {
      float* dst = out + y * w;
      if (alongX) {
        const float* src = in + y * w;
        for (int x = 0; x < lo; ++x) dst[x] = ShiftSample(src, 1, w, x, g, t);
        if (hi > lo) {
          float* d = dst + lo;
          const float* from = src + lo + g - 2;
          alignrows::TapsAlong(&d, &from, t, 1, hi - lo);
        }
        for (int x = hi; x < w; ++x) dst[x] = ShiftSample(src, 1, w, x, g, t);
      } else {
        const float* rows[6];
        for (int k = 0; k < 6; ++k) rows[k] = in + int64_t(ReflectOnce(y + g - 2 + k, h)) * w;
        alignrows::TapsAcross(dst, 0, rows, t, 1, w);
      }
    }
  });
  if (marks == nullptr) return;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = alongX ? x : y;
      if (i < lo || i >= hi) marks->setbit(int(int64_t(y) * w + x), true);
    }
}

void PrepareMarks(bitmask* marks, const matrix& input) {
  if (marks != nullptr && !marks->covers(input.nx, input.ny)) marks->dim(input.nx, input.ny);
}
}  // namespace

matrix& matrix::shiftx(const matrix& input, float s, bitmask* marks) {
  matrix out(input.nx, input.ny);
  PrepareMarks(marks, input);
  ShiftPlane(out.x, input.x, input.nx, input.ny, true, s, marks);
  return *this = std::move(out);
}

matrix& matrix::shifty(const matrix& input, float s, bitmask* marks) {
  matrix out(input.nx, input.ny);
  PrepareMarks(marks, input);
  ShiftPlane(out.x, input.x, input.nx, input.ny, false, s, marks);
  return *this = std::move(out);
}

// --- Sub-pixel refinement ---

ShiftRefiner::ShiftRefiner(const matrix* const* planes, const matrix* const* references, int count,
                           const bitmask* exclude)
    : planes_(planes, planes + std::max(count, 0)),
      refs_(references, references + std::max(count, 0)) {
  if (count < 1) return;
  nx_ = planes[0]->nx;
  ny_ = planes[0]->ny;
  for (int c = 0; c < count; ++c) {
    valid_.push_back(planes[c]->nx == nx_ && planes[c]->ny == ny_ &&
                     references[c]->n == planes[c]->n);
  }
  // A mask of another pixel count is none; one of the same count is read by index.
  const int64_t n = int64_t(nx_) * ny_;
  const bitmask* m =
      exclude != nullptr && exclude->present() && exclude->n == n ? exclude : nullptr;
  rowStart_.assign(size_t(ny_) + 1, 0);
  lo_ = nx_;
  hi_ = 0;
  for (int y = 0; y < ny_; ++y) {
    rowStart_[size_t(y)] = int64_t(runs_.size());
    if (m == nullptr) {
      if (nx_ > 0) runs_.emplace_back(0, nx_);
      continue;
    }
    const int64_t row = int64_t(y) * nx_;
    int x = 0;
    while (x < nx_) {
      // Whole words at once where they lie inside the row.
      const int64_t k = row + x;
      if ((k & 31) == 0 && x + 32 <= nx_ && m->bits[k >> 5] == ~0u) {
        x += 32;
        continue;
      }
      if (m->getbit(int(k))) {
        ++x;
        continue;
      }
      const int x0 = x;
      while (x < nx_) {
        const int64_t q = row + x;
        if ((q & 31) == 0 && x + 32 <= nx_ && m->bits[q >> 5] == 0u) {
          x += 32;
        } else if (!m->getbit(int(q))) {
          ++x;
        } else {
          break;
        }
      }
      runs_.emplace_back(x0, x);
    }
  }
  rowStart_[size_t(ny_)] = int64_t(runs_.size());
  for (const auto& r : runs_) {
    lo_ = std::min(lo_, r.first);
    hi_ = std::max(hi_, r.second);
  }
  runRow0_ = ny_;
  runRow1_ = 0;
  for (int y = 0; y < ny_; ++y) {
    if (rowStart_[size_t(y)] == rowStart_[size_t(y) + 1]) continue;
    runRow0_ = std::min(runRow0_, y);
    runRow1_ = y + 1;
  }
}

namespace {
// sums[k] += |v[k][x] - ref[x]| over x, each sum a chain of its own in x order; the chains
// run side by side.
template <int K>
void AddAbsChains(double* sums, const float* const* v, const float* ref, int count) {
  double a[K];
  for (int k = 0; k < K; ++k) a[k] = sums[k];
  for (int x = 0; x < count; ++x) {
    const double r = ref[x];
    for (int k = 0; k < K; ++k) a[k] += std::fabs(double(v[k][x]) - r);
  }
  for (int k = 0; k < K; ++k) sums[k] = a[k];
}

void AddAbs(double* sums, const float* const* v, const float* ref, int chains, int count) {
  for (int k = 0; k < chains; k += 3) {
    switch (std::min(chains - k, 3)) {
      case 1:
        AddAbsChains<1>(sums + k, v + k, ref, count);
        break;
      case 2:
        AddAbsChains<2>(sums + k, v + k, ref, count);
        break;
      default:
        AddAbsChains<3>(sums + k, v + k, ref, count);
        break;
    }
  }
}
}  // namespace

namespace {
// The working buffers of a refinement, kept by each thread between calls.
struct RefineScratch {
  std::vector<float> ring, vals;
  std::vector<int64_t> slotRow;
  std::vector<float*> dst;
  std::vector<const float*> src, chains;
  std::vector<int> active;
  std::vector<double> sums, chainSums;
};
RefineScratch& Scratch() {
  thread_local RefineScratch scratch;
  return scratch;
}
}  // namespace

void ShiftRefiner::score(int i, const float* o, int m, const Shift1D* across, const Shift1D* down,
                         bool scored, float* costs) const {
  const int count = int(planes_.size());
  const int gx = across[i].g;
  const Taps6& tx = across[i].t;
  int xa, xb;
  InsideTaps(nx_, gx, xa, xb);
  const int c0 = std::max(xa, lo_), c1 = std::min(xb, hi_), width = c1 - c0;
  if (width <= 0) return;  // no pixel: every candidate of this column keeps no score
  struct Candidate {
    int j, g, ya, yb;
    Taps6 t;
    int64_t n;
  };
  std::vector<Candidate> cands;
  for (int j = 0; j < m; ++j) {
    if (scored && o[i] == 0.0f && o[j] == 0.0f) continue;
    Candidate c{j, down[j].g, 0, 0, down[j].t, 0};
    InsideTaps(ny_, c.g, c.ya, c.yb);
    c.ya = std::max(c.ya, runRow0_);
    c.yb = std::min(c.yb, runRow1_);
    if (c.ya < c.yb) cands.push_back(c);
  }
  if (cands.empty()) return;
  int y0 = ny_, y1 = 0, gmin = cands[0].g, gmax = cands[0].g;
  for (const Candidate& c : cands) {
    y0 = std::min(y0, c.ya);
    y1 = std::max(y1, c.yb);
    gmin = std::min(gmin, c.g);
    gmax = std::max(gmax, c.g);
  }
  const int nc = int(cands.size());
  // Bands of B rows. The x-shifted rows live in a ring of S slots (row r in slot r mod S),
  // enough for every row a band's y-shifts read, so each is made once.
  const int B = int(std::clamp<int64_t>(8192 / width, 1, 64));
  const int S = int(std::min<int64_t>(int64_t(B) + gmax - gmin + 5, ny_));
  RefineScratch& w = Scratch();
  w.ring.resize(size_t(S) * count * width);
  w.vals.resize(size_t(nc) * count * B * width);
  w.slotRow.assign(size_t(S), -1);
  w.sums.assign(size_t(nc) * count, 0.0);
  auto ringRow = [&](int64_t r, int c) {
    return w.ring.data() + (size_t(r % S) * count + size_t(c)) * width;
  };
  auto valsRow = [&](int a, int c, int q) {
    return w.vals.data() + ((size_t(a) * count + c) * B + q) * width;
  };
  for (int yb = y0; yb < y1; yb += B) {
    const int ye = std::min(yb + B, y1);
    // The x-shifted rows this band reads that the ring does not hold yet.
    const int64_t lo = std::max<int64_t>(0, int64_t(yb) + gmin - 2),
                  hi = std::min<int64_t>(ny_, int64_t(ye) + gmax + 3);
    for (int c = 0; c < count; ++c) {
      if (!valid_[size_t(c)]) continue;
      w.dst.clear();
      w.src.clear();
      for (int64_t r = lo; r < hi; ++r) {
        if (w.slotRow[size_t(r % S)] == r) continue;
        w.dst.push_back(ringRow(r, c));
        w.src.push_back(planes_[size_t(c)]->x + r * nx_ + c0 + gx - 2);
      }
      alignrows::TapsAlong(w.dst.data(), w.src.data(), tx, int(w.dst.size()), width);
    }
    for (int64_t r = lo; r < hi; ++r) w.slotRow[size_t(r % S)] = r;
    // The y-shifts of every candidate over the band's rows it scores.
    for (int a = 0; a < nc; ++a) {
      const Candidate& cand = cands[size_t(a)];
      const int r0 = std::max(yb, cand.ya), r1 = std::min(ye, cand.yb);
      if (r0 >= r1) continue;
      for (int c = 0; c < count; ++c) {
        if (!valid_[size_t(c)]) continue;
        w.src.clear();
        for (int64_t r = int64_t(r0) + cand.g - 2; r < int64_t(r1) + cand.g + 3; ++r)
          w.src.push_back(ringRow(r, c));
        alignrows::TapsAcross(valsRow(a, c, r0 - yb), width, w.src.data(), cand.t, r1 - r0, width);
      }
    }
    for (int y = yb; y < ye; ++y) {
      // This row's runs inside [c0, c1).
      int64_t q0 = rowStart_[size_t(y)], q1 = rowStart_[size_t(y) + 1];
      while (q0 < q1 && runs_[size_t(q0)].second <= c0) ++q0;
      while (q1 > q0 && runs_[size_t(q1) - 1].first >= c1) --q1;
      if (q0 == q1) continue;
      w.active.clear();
      for (int a = 0; a < nc; ++a)
        if (cands[size_t(a)].ya <= y && y < cands[size_t(a)].yb) w.active.push_back(a);
      if (w.active.empty()) continue;
      int64_t inRow = 0;
      for (int64_t q = q0; q < q1; ++q)
        inRow += std::min(runs_[size_t(q)].second, c1) - std::max(runs_[size_t(q)].first, c0);
      for (int a : w.active) cands[size_t(a)].n += inRow;
      // The differences of every active candidate, side by side, run by run.
      for (int c = 0; c < count; ++c) {
        if (!valid_[size_t(c)]) continue;
        const float* ref = refs_[size_t(c)]->x + int64_t(y) * nx_;
        w.chainSums.clear();
        for (int a : w.active) w.chainSums.push_back(w.sums[size_t(a) * count + c]);
        for (int64_t q = q0; q < q1; ++q) {
          const int u0 = std::max(runs_[size_t(q)].first, c0),
                    u1 = std::min(runs_[size_t(q)].second, c1);
          w.chains.clear();
          for (int a : w.active) w.chains.push_back(valsRow(a, c, y - yb) + (u0 - c0));
          AddAbs(w.chainSums.data(), w.chains.data(), ref + u0, int(w.active.size()), u1 - u0);
        }
        for (size_t k = 0; k < w.active.size(); ++k)
          w.sums[size_t(w.active[k]) * count + c] = w.chainSums[k];
      }
    }
  }
  // The planes' mean, as a sum of the per-plane means in double.
  const float scale = count == 3 ? 0.33333334f : 1.0f / float(count);
  for (int a = 0; a < nc; ++a) {
    const Candidate& cand = cands[size_t(a)];
    double total = 0.0;
    for (int c = 0; c < count; ++c) {
      const bool none = !valid_[size_t(c)] || cand.n == 0;
      total += none ? kNoScore : float(w.sums[size_t(a) * count + c] / double(cand.n));
    }
    costs[cand.j] = float(total) * scale;
  }
}

void ShiftRefiner::stage(const float* o, int m, float& sx, float& sy, float& best,
                         bool scored) const {
  if (m <= 0 || planes_.empty()) return;
  const float bx = sx, by = sy;
  std::vector<Shift1D> across(static_cast<size_t>(m)), down(static_cast<size_t>(m));
  for (int k = 0; k < m; ++k) {
    across[size_t(k)].t = SixTapShift(bx + o[k], across[size_t(k)].g);
    down[size_t(k)].t = SixTapShift(by + o[k], down[size_t(k)].g);
  }
  std::vector<float> costs(size_t(m) * size_t(m), kNoScore);
  ParallelBlocks(m, 1, [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i)
      score(int(i), o, m, across.data(), down.data(), scored, costs.data() + i * m);
  });
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      const float cost = costs[size_t(i) * m + j];
      if (cost < best) {
        best = cost;
        sx = bx + o[i];
        sy = by + o[j];
      }
    }
}

const matrix& matrix::refineshift(const matrix& offsets, const matrix& reference, float& sx,
                                  float& sy, float& best, const bitmask* exclude,
                                  bool reset) const {
  if (reset) best = 1e16f;
  const matrix* planes[1] = {this};
  const matrix* refs[1] = {&reference};
  ShiftRefiner(planes, refs, 1, exclude).stage(offsets.x, offsets.n, sx, sy, best, false);
  return *this;
}

// --- Integer shift search ---

namespace {
// The scores of the candidates (cx0 + k, cy), k < K: the mean of (p(x + cx, y + cy) -
// t(x, y))^2 over the pixels whose partner lies inside p. Each sum runs row by row in x
// order, as a plain loop over one candidate would; the parts of the rows all candidates
// share run side by side.
template <int K>
void ShiftScores(const matrix& p, const matrix& t, int cx0, int cy, float* out) {
  const int w = t.nx, h = t.ny;
  const int y0 = std::max(0, -cy), y1 = std::min(h, p.ny - cy);
  int x0[K], x1[K];
  int X0 = 0, X1 = w;
  for (int k = 0; k < K; ++k) {
    x0[k] = std::max(0, -(cx0 + k));
    x1[k] = std::min(w, p.nx - (cx0 + k));
    X0 = std::max(X0, x0[k]);
    X1 = std::min(X1, x1[k]);
  }
  const bool shared = X0 < X1;
  double s[K] = {};
  for (int y = y0; y < y1; ++y) {
    const float* a[K];
    for (int k = 0; k < K; ++k) a[k] = p.x + int64_t(y + cy) * p.nx + (cx0 + k);
    const float* b = t.x + int64_t(y) * w;
    for (int k = 0; k < K; ++k) {
      const int end = shared ? X0 : x1[k];
      for (int x = x0[k]; x < end; ++x) {
        const double d = double(a[k][x]) - double(b[x]);
        s[k] += d * d;
      }
    }
    if (!shared) continue;
    for (int x = X0; x < X1; ++x) {
      const double bv = b[x];
      for (int k = 0; k < K; ++k) {
        const double d = double(a[k][x]) - bv;
        s[k] += d * d;
      }
    }
    for (int k = 0; k < K; ++k) {
      for (int x = X1; x < x1[k]; ++x) {
        const double d = double(a[k][x]) - double(b[x]);
        s[k] += d * d;
      }
    }
  }
  for (int k = 0; k < K; ++k) {
    out[k] = x0[k] >= x1[k] || y0 >= y1 ? kNoScore
                                        : float(s[k] / (double(x1[k] - x0[k]) * double(y1 - y0)));
  }
}

void SearchLevel(const matrix& p, const matrix& t, int r, int& dx, int& dy) {
  if (2 * r + 1 >= t.nx || 2 * r + 1 >= t.ny) return;
  const int side = 2 * r + 1;
  std::vector<float> scores(size_t(side) * size_t(side));
  // A row of candidates (one cy) per block, scored three at a time.
  ParallelBlocks(side, 1, [&](int64_t begin, int64_t end) {
    for (int64_t row = begin; row < end; ++row) {
      const int cy = dy - r + int(row);
      float* out = scores.data() + row * side;
      for (int k = 0; k < side; k += 3) {
        const int cx = dx - r + k;
        switch (std::min(side - k, 3)) {
          case 1:
            ShiftScores<1>(p, t, cx, cy, out + k);
            break;
          case 2:
            ShiftScores<2>(p, t, cx, cy, out + k);
            break;
          default:
            ShiftScores<3>(p, t, cx, cy, out + k);
            break;
        }
      }
    }
  });
  // The first strictly smaller score in loop order wins.
  float best = 1e32f;
  int bx = dx, by = dy;
  for (int64_t k = 0; k < int64_t(scores.size()); ++k) {
    if (scores[size_t(k)] < best) {
      best = scores[size_t(k)];
      bx = dx - r + int(k % side);
      by = dy - r + int(k / side);
    }
  }
  dx = bx;
  dy = by;
}
}  // namespace

const matrixarray& matrixarray::shiftsearch(const matrixarray& templ, int& dx, int& dy) const {
  dx = dy = 0;
  if (n == 0 || n != templ.n) return *this;
  const matrix& coarse = templ[n - 1];
  SearchLevel(m[n - 1], coarse, int(0.4f * float(std::min(coarse.nx, coarse.ny))), dx, dy);
  for (int k = n - 2; k >= 0; --k) {
    dx *= 2;
    dy *= 2;
    SearchLevel(m[k], templ[k], 1, dx, dy);
  }
  return *this;
}

// --- Warp by displacement fields ---

matrix& matrix::warpfield(const matrix& input, const matrix& dx, const matrix& dy,
                          const weighttable6& table, bitmask* marks) {
  assign(input);
  PrepareMarks(marks, input);
  if (table.count < 1) return *this;
  const int w = input.nx, h = input.ny;
  const int cw = std::min(w, dx.nx), ch = std::min(h, dx.ny);
  if (dy.nx != dx.nx || dy.ny != dx.ny) return *this;
  // The rows of marks are gathered per row so the parallel blocks never share a word.
  std::vector<uint8_t> left(size_t(w) * size_t(h), 0);
  ParallelBlocks(ch, 8, [&](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) {
      for (int x = 0; x < cw; ++x) {
        const int64_t fk = y * dx.nx + x;
        // Far positions are limited so the index arithmetic stays in range.
        const float u = std::clamp(float(x) - dx.x[fk], -16777216.0f, 16777216.0f);
        const float v = std::clamp(float(y) - dy.x[fk], -16777216.0f, 16777216.0f);
        if (std::isnan(u) || std::isnan(v)) {
          this->x[y * w + x] = 0.0f;
          left[size_t(y * w + x)] = 1;
          continue;
        }
        const int64_t bu = int64_t(std::trunc(u)), bv = int64_t(std::trunc(v));
        const Taps6& wu = table.at(u - float(bu));
        const Taps6& wv = table.at(v - float(bv));
        double sum = 0.0;
        for (int m = 0; m < 6; ++m) {
          const float* row = input.x + int64_t(ReflectOnce(bv - 2 + m, h)) * w;
          double line = 0.0;
          for (int k = 0; k < 6; ++k) line += double(wu.w[k]) * row[ReflectOnce(bu - 2 + k, w)];
          sum += double(wv.w[m]) * line;
        }
        this->x[y * w + x] = float(sum);
        if (bu - 2 < 0 || bu + 3 >= w || bv - 2 < 0 || bv + 3 >= h) left[size_t(y * w + x)] = 1;
      }
    }
  });
  if (marks != nullptr) {
    for (int64_t k = 0; k < int64_t(left.size()); ++k)
      if (left[size_t(k)]) marks->setbit(int(k), true);
  }
  return *this;
}

// --- Block fields ---

namespace {
struct BlockRect {
  int x0, y0, x1, y1;
};
BlockRect Rect(const BlockGrid& g, int i, int j, int w, int h) {
  return {j * g.b, i * g.b, std::min(w, (j + 1) * g.b), std::min(h, (i + 1) * g.b)};
}
inline int Wrap(int v, int n) {
  v %= n;
  return v < 0 ? v + n : v;
}

void DimFields(BlockFields& f, const BlockGrid& g) {
  f.dx.dim(g.nbx, g.nby).zero();
  f.dy.dim(g.nbx, g.nby).zero();
  f.cost.dim(g.nbx, g.nby).fill(1e16f);
}

void RunBlocksTicking(const BlockGrid& g, const std::function<void(int i, int j)>& body) {
  if (ParallelBlocksTicking(int64_t(g.nbx) * g.nby, 1, [&](int64_t begin, int64_t end) {
        for (int64_t k = begin; k < end; ++k) body(int(k / g.nbx), int(k % g.nbx));
      }))
    throw Cancelled{};
}
}  // namespace

void BlockIntegerSearch(const matrix* const* planes, const matrix* const* references, int count,
                        int radius, const BlockGrid& grid, BlockFields& f) {
  DimFields(f, grid);
  const int w = references[0]->nx, h = references[0]->ny, side = 2 * radius + 1;
  RunBlocksTicking(grid, [&](int i, int j) {
    const BlockRect r = Rect(grid, i, j, w, h);
    const int bw = r.x1 - r.x0;
    const double pixels = double(bw) * double(r.y1 - r.y0) * count;
    // seg[q] is the row's sample at column x0 - radius + q (wrapped), so candidate cx reads
    // sample x - cx at seg[x - x0 + radius - cx]: its sum is sums[radius - cx].
    // Room for AddAbsToEach's eight chains at a time past the last candidate.
    std::vector<double> seg(static_cast<size_t>(bw) + static_cast<size_t>((side + 7) / 8 * 8));
    std::vector<double> sums(static_cast<size_t>(side));
    const size_t used = static_cast<size_t>(bw) + 2 * static_cast<size_t>(radius);
    const bool inside = r.x0 - radius >= 0 && r.x1 + radius <= w;
    float best = 1e16f;
    int bx = 0, by = 0;
    for (int cy = -radius; cy <= radius; ++cy) {
      std::fill(sums.begin(), sums.end(), 0.0);
      for (int c = 0; c < count; ++c) {
        const matrix& p = *planes[c];
        const matrix& t = *references[c];
        for (int y = r.y0; y < r.y1; ++y) {
          const float* src = p.x + int64_t(Wrap(y - cy, h)) * w;
          if (inside) {
            for (size_t q = 0; q < used; ++q)
              seg[q] = double(src[int64_t(r.x0) - radius + int64_t(q)]);
          } else {
            for (size_t q = 0; q < used; ++q) seg[q] = double(src[Wrap(r.x0 - radius + int(q), w)]);
          }
          alignrows::AddAbsToEach(sums.data(), seg.data(), t.x + int64_t(y) * w + r.x0, bw, side);
        }
      }
      for (int cx = -radius; cx <= radius; ++cx) {
        const float cost = float(sums[size_t(radius - cx)] / pixels);
        if (cost < best) {
          best = cost;
          bx = cx;
          by = cy;
        }
      }
    }
    const int k = i * grid.nbx + j;
    f.dx.x[k] = float(bx);
    f.dy.x[k] = float(by);
    f.cost.x[k] = best;
  });
}

void BlockIntegerSearchByRolling(const matrix* const* planes, const matrix* const* references,
                                 int count, int radius, const BlockGrid& grid, BlockFields& f) {
  DimFields(f, grid);
  const int w = references[0]->nx, h = references[0]->ny;
  std::vector<matrix> rolled(static_cast<size_t>(count));
  for (int cy = -radius; cy <= radius; ++cy) {
    for (int cx = -radius; cx <= radius; ++cx) {
      for (int c = 0; c < count; ++c)
        rolled[size_t(c)].rollfrom(*planes[c], Wrap(cx, w), Wrap(cy, h));
      for (int i = 0; i < grid.nby; ++i) {
        for (int j = 0; j < grid.nbx; ++j) {
          const BlockRect r = Rect(grid, i, j, w, h);
          double s = 0.0;
          for (int c = 0; c < count; ++c)
            for (int y = r.y0; y < r.y1; ++y)
              for (int x = r.x0; x < r.x1; ++x)
                s += std::fabs(double(references[c]->z[y][x]) - double(rolled[size_t(c)].z[y][x]));
          const float cost = float(s / (double(r.x1 - r.x0) * double(r.y1 - r.y0) * count));
          const int k = i * grid.nbx + j;
          if (cost < f.cost.x[k]) {
            f.cost.x[k] = cost;
            f.dx.x[k] = float(cx);
            f.dy.x[k] = float(cy);
          }
        }
      }
    }
  }
}

void BlockActivity(const matrix* const* references, int count, const BlockGrid& grid,
                   matrix& activity) {
  activity.dim(grid.nbx, grid.nby);
  const int w = references[0]->nx, h = references[0]->ny;
  ParallelBlocks(int64_t(grid.nbx) * grid.nby, 1, [&](int64_t begin, int64_t end) {
    for (int64_t k = begin; k < end; ++k) {
      const BlockRect r = Rect(grid, int(k / grid.nbx), int(k % grid.nbx), w, h);
      matrix block(r.x1 - r.x0, r.y1 - r.y0);
      double s = 0.0;
      for (int c = 0; c < count; ++c) {
        for (int y = r.y0; y < r.y1; ++y)
          for (int x = r.x0; x < r.x1; ++x) block.z[y - r.y0][x - r.x0] = references[c]->z[y][x];
        matrix sorted(block);
        const float m = sorted.median();
        for (int q = 0; q < block.n; ++q) s += std::fabs(double(block.x[q]) - double(m));
      }
      activity.x[k] = float(s / (double(block.n) * count));
    }
  });
}

matrix& matrix::smoothfield(const matrix& activity, float sigma) {
  if (!(sigma > 0.0f) || !std::isfinite(sigma) || n == 0) return *this;
  matrix k;
  k.gaussian(sigma, 3.0f);
  const int taps = k.n, half = taps / 2;
  // The window of a block never reaches past one reflection of the padded planes.
  matrix g(taps, taps);
  double total = 0.0;
  for (int a = 0; a < taps; ++a)
    for (int b = 0; b < taps; ++b) total += double(k.x[a]) * double(k.x[b]);
  for (int a = 0; a < taps; ++a)
    for (int b = 0; b < taps; ++b) g.z[a][b] = float(double(k.x[a]) * double(k.x[b]) / total);
  const int w = nx, h = ny;
  matrix field(*this);
  ParallelBlocks(int64_t(w) * h, 1, [&](int64_t begin, int64_t end) {
    matrix weights(taps, taps), values(taps, taps);
    for (int64_t q = begin; q < end; ++q) {
      const int bi = int(q / w), bj = int(q % w);
      double sum = 0.0;
      for (int a = 0; a < taps; ++a) {
        for (int b = 0; b < taps; ++b) {
          const int yy = ReflectHalf(bi - half + a, h), xx = ReflectHalf(bj - half + b, w);
          values.z[a][b] = field.z[yy][xx];
          weights.z[a][b] = g.z[a][b] * activity.z[yy][xx];
          sum += weights.z[a][b];
        }
      }
      if (sum > 0.0) {
        for (int e = 0; e < weights.n; ++e) weights.x[e] = float(weights.x[e] / sum);
        this->x[q] = WeightedMedian(weights, values);
      } else {
        // A flat neighbourhood has no preferred block: the plain median of the window.
        this->x[q] = values.median();
      }
    }
  });
  return *this;
}

void BlockRefine(const matrix* const* planes, const matrix* const* references, int count,
                 int radius, const BlockGrid& grid, BlockFields& f) {
  const int a = radius + 3, t = grid.b + 2 * a;
  const bitmask frame = FrameMask(t, t, a, a, a, a);
  RunBlocksTicking(grid, [&](int i, int j) {
    std::vector<matrix> tiles(static_cast<size_t>(count)), refs(static_cast<size_t>(count));
    std::vector<const matrix*> tp(static_cast<size_t>(count)), rp(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) {
      tiles[size_t(c)].dim(t, t).extract(*planes[c], j * grid.b - a, i * grid.b - a);
      refs[size_t(c)].dim(t, t).extract(*references[c], j * grid.b - a, i * grid.b - a);
      tp[size_t(c)] = &tiles[size_t(c)];
      rp[size_t(c)] = &refs[size_t(c)];
    }
    const ShiftRefiner refiner(tp.data(), rp.data(), count, &frame);
    const int k = i * grid.nbx + j;
    float sx = f.dx.x[k], sy = f.dy.x[k], best = 1e16f;
    // Four stages, 0.5 down to 0.0625; each later one starts from the pair the last chose.
    float o[3] = {-0.5f, 0.0f, 0.5f};
    for (int stage = 0; stage < 4; ++stage) {
      refiner.stage(o, 3, sx, sy, best, stage > 0);
      for (float& v : o) v *= 0.5f;
    }
    f.dx.x[k] = sx;
    f.dy.x[k] = sy;
    f.cost.x[k] = best;
  });
}

matrix& BlockFieldToPixels(matrix& out, const matrix& blocks, const BlockGrid& grid) {
  matrix kx, ky;
  BuildBilinearKernelForScale(kx, grid.nbx, double(grid.b), 0.0f, true);
  BuildBilinearKernelForScale(ky, grid.nby, double(grid.b), 0.0f, true);
  return ResampleSeparable(out, blocks, kx, ky);
}
