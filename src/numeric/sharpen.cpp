// Unsharp masking, Xsharpen and the Mexican-hat (negative Laplacian of Gaussian) filter
// with its zero-crossing edge marks; the Poisson sharpener in the gradient domain.
#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/gaussrows.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
void SmoothGaussian(matrix& m, int r, const bitmask* mask, bool) { m.gaussbluri(r, mask); }
void SmoothMedian(matrix& m, int r, const bitmask* mask, bool flag) { m.discmedian(r, mask, flag); }
void SmoothWmmr(matrix& m, int r, const bitmask* mask, bool flag) { m.discwmmr(r, mask, flag); }
void SmoothMean(matrix& m, int r, const bitmask* mask, bool flag) { m.discmean(r, mask, flag); }
void SmoothLoG(matrix& m, int r, const bitmask* mask, bool flag) { m.logresponse(r, mask, flag); }

const bitmask* Covering(const bitmask* mask, const matrix& m) {
  return mask != nullptr && mask->covers(m.nx, m.ny) ? mask : nullptr;
}

bool UsableSigma(float sigma) { return std::isfinite(sigma) && sigma > 0; }
}  // namespace

Smoother UnsharpSmoother(int mode) {
  switch (mode) {
    case 1:
      return SmoothMedian;
    case 2:
      return SmoothWmmr;
    case 3:
      return SmoothMean;
    case 4:
      return SmoothLoG;
    default:
      return SmoothGaussian;
  }
}

float UnsharpResponse(float d, float amount, float t1, float t2, float t3) {
  const float m = std::fabs(d);
  if (m < t1) return amount > 1 ? -d : -amount * d;
  if (t2 <= m && m < t3) return amount * d;
  return 0;
}

namespace {
// The default response over a row, select by select: the same floats as a call per pixel
// (the change -d is d times -1, and every other case the same product).
ZEP_VECTOR_CLONES void UnsharpDefaultRow(float* __restrict row, const float* __restrict smoothed,
                                         int count, float amount, float t1, float t2, float t3) {
  const float blur = amount > 1 ? -1.0f : -amount;
  for (int c = 0; c < count; ++c) {
    const float d = row[c] - smoothed[c];
    const float m = std::fabs(d);
    const float change = m < t1 ? blur * d : (t2 <= m && m < t3 ? amount * d : 0.0f);
    row[c] += change;
  }
}

struct UnsharpRowRule {
  UnsharpResponseFn response;
  float amount, t1, t2, t3;
  const bitmask* mask;
  bool detailIsSmoothed;

  void apply(float* row, const float* s, int nx, int64_t y) const {
    if (response == UnsharpResponse && mask == nullptr && !detailIsSmoothed) {
      UnsharpDefaultRow(row, s, nx, amount, t1, t2, t3);
      return;
    }
    for (int c = 0; c < nx; ++c) {
      if (mask != nullptr && !mask->get(c, int(y))) continue;
      const float d = detailIsSmoothed ? s[c] : row[c] - s[c];
      row[c] += response(d, amount, t1, t2, t3);
    }
  }
};
}  // namespace

matrix& matrix::unsharp(Smoother smoother, int radius, UnsharpResponseFn response, float amount,
                        float t1, float t2, float t3, const bitmask* mask) {
  if (n == 0) return *this;
  mask = Covering(mask, *this);
  const UnsharpRowRule rule{response, amount, t1, t2, t3, mask, smoother == SmoothLoG};
  if (smoother == SmoothGaussian && mask == nullptr) {
    // Each row of the blur is used as it is made: no smoothed plane is kept.
    GaussianBlurRows(*this, float(radius),
                     [&](int64_t y, const float* s) { rule.apply(z[y], s, nx, y); });
    return *this;
  }
  matrix smoothed(*this);
  smoother(smoothed, radius, mask, false);
  ParallelBlocks(ny, BlockFor(nx), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) rule.apply(z[y], smoothed.z[y], nx, y);
  });
  return *this;
}

namespace xsharpenrows {
// The window extremes are formed from pieces: every merge keeps its left (earlier) operand
// on a tie, so the extreme of a window is its first extreme sample in reading order, as a
// scan of the window would find it, signed zeros included. Samples are clamped to +-1e10
// first, the scan's starting values, which also drops NaN (it never wins a comparison).
constexpr float kHuge = 1e10f;

// hi[j] = the larger of a[j] and b[j], lo[j] the smaller, both clamped.
ZEP_VECTOR_CLONES void ClampedPairs(const float* a, const float* b, float* __restrict hi,
                                    float* __restrict lo, int count) {
  for (int j = 0; j < count; ++j) {
    hi[j] = std::max(std::max(-kHuge, a[j]), std::max(-kHuge, b[j]));
    lo[j] = std::min(std::min(kHuge, a[j]), std::min(kHuge, b[j]));
  }
}

// hi[j] = max(ha[j], hb[j]), lo[j] = min(la[j], lb[j]) into other rows.
ZEP_VECTOR_CLONES void Merge(const float* ha, const float* hb, const float* la, const float* lb,
                             float* __restrict hi, float* __restrict lo, int count) {
  for (int j = 0; j < count; ++j) {
    hi[j] = std::max(ha[j], hb[j]);
    lo[j] = std::min(la[j], lb[j]);
  }
}

// The same in place: hi[j] = max(hi[j], hb[j]), lo[j] = min(lo[j], lb[j]).
ZEP_VECTOR_CLONES void MergeInto(float* hi, float* lo, const float* hb, const float* lb,
                                 int count) {
  for (int j = 0; j < count; ++j) {
    hi[j] = std::max(hi[j], hb[j]);
    lo[j] = std::min(lo[j], lb[j]);
  }
}

// The sharpening of one row's visited pixels from the extremes of the two halves of their
// windows (ha|la above hb|lb in reading order): a pixel far enough from both moves towards
// the nearer, the maximum on a tie.
ZEP_VECTOR_CLONES void SharpenRow(const float* ha, const float* hb, const float* la,
                                  const float* lb, float* row, int count, float threshold,
                                  float amount, float keep) {
  for (int j = 0; j < count; ++j) {
    const float hi = std::max(ha[j], hb[j]), lo = std::min(la[j], lb[j]);
    const float v = row[j];
    const float target = hi - v > v - lo ? lo : hi;
    const float moved = v * keep + amount * target;
    row[j] = hi - v >= threshold && v - lo >= threshold ? moved : v;
  }
}
}  // namespace xsharpenrows

namespace {
// The extremes of the w samples from every column j < count of the row x of length nx,
// by doubling runs: runs of 2, 4, ... samples, then two overlapping runs make the window.
// a and b are scratch rows of 2 nx.
void RowExtremes(const float* x, int nx, int w, int count, float* hi, float* lo, float* a,
                 float* b) {
  using namespace xsharpenrows;
  if (w == 1) {
    ClampedPairs(x, x, hi, lo, count);
    return;
  }
  int len = nx - 2, p = 2;  // the last column is never read
  ClampedPairs(x, x + 1, a, a + nx, len);
  for (; 2 * p <= w; p *= 2) {
    Merge(a, a + p, a + nx, a + nx + p, b, b + nx, len - p);
    len -= p;
    std::swap(a, b);
  }
  Merge(a, a + (w - p), a + nx, a + nx + (w - p), hi, lo, count);
}

// Xsharpen of the windows starting at rows [i0, i1): the rows' horizontal extremes, merged
// down the columns by doubling in place, then the pass over the windows' centres.
void XsharpenStrip(const float* const* rows, float* const* out, int nx, int w, int64_t i0,
                   int64_t i1, float threshold, float amount, const bitmask* mask) {
  using namespace xsharpenrows;
  const int count = nx - w, half = w / 2;
  const int nrows = int(i1 - i0) + w - 1;
  std::vector<float> hi(size_t(nrows) * count), lo(size_t(nrows) * count), scratch(4 * size_t(nx));
  const auto hrow = [&](int r) { return hi.data() + size_t(r) * count; };
  const auto lrow = [&](int r) { return lo.data() + size_t(r) * count; };
  for (int r = 0; r < nrows; ++r) {
    RowExtremes(rows[i0 + r], nx, w, count, hrow(r), lrow(r), scratch.data(),
                scratch.data() + 2 * nx);
  }
  int live = nrows, p = 1;
  for (; 2 * p <= w; p *= 2) {
    for (int r = 0; r + p < live; ++r) MergeInto(hrow(r), lrow(r), hrow(r + p), lrow(r + p), count);
    live -= p;
  }
  const float keep = 1.0f - amount;
  for (int64_t i = i0; i < i1; ++i) {
    const int r = int(i - i0), cy = int(i) + half;
    float* row = out[cy] + half;
    if (mask == nullptr) {
      SharpenRow(hrow(r), hrow(r + w - p), lrow(r), lrow(r + w - p), row, count, threshold, amount,
                 keep);
      continue;
    }
    // Masked: the whole row computed aside, only the masked pixels taken.
    float* moved = scratch.data();
    std::copy(row, row + count, moved);
    SharpenRow(hrow(r), hrow(r + w - p), lrow(r), lrow(r + w - p), moved, count, threshold, amount,
               keep);
    for (int j = 0; j < count; ++j) {
      if (mask->get(j + half, cy)) row[j] = moved[j];
    }
  }
}
}  // namespace

matrix& matrix::xsharpen(int w, float threshold, float amount, const bitmask* mask) {
  if (w < 1 || nx <= w || ny <= w) return *this;
  mask = Covering(mask, *this);
  // Strips of rows of some 128 thousand samples, at least two windows high (a strip holds
  // the extremes of its rows and the w - 1 below them). A strip reads the rows of its
  // windows before it writes its centres; the rows next to a strip boundary are read by
  // one strip and written by the other, so those are read from copies.
  const int windows = ny - w;
  const int64_t block = std::max<int64_t>(2 * int64_t(w), (int64_t(1) << 17) / nx);
  std::vector<const float*> rows(z, z + ny);
  std::vector<int> shared;
  for (int64_t b = block; b < windows; b += block) {
    for (int64_t y = std::max<int64_t>(b, shared.empty() ? 0 : shared.back() + 1);
         y < std::min<int64_t>(b + w - 1, ny); ++y) {
      shared.push_back(int(y));
    }
  }
  std::vector<float> copies(shared.size() * size_t(nx));
  for (size_t k = 0; k < shared.size(); ++k) {
    float* copy = copies.data() + k * size_t(nx);
    std::copy(z[shared[k]], z[shared[k]] + nx, copy);
    rows[size_t(shared[k])] = copy;
  }
  ParallelBlocks(windows, block, [&](int64_t i0, int64_t i1) {
    XsharpenStrip(rows.data(), z, nx, w, i0, i1, threshold, amount, mask);
  });
  return *this;
}

namespace {
// g(x)h(y) + h(x)g(y).
void HatPlane(const matrix& g, const matrix& h, matrix& work) {
  matrix other;
  other.outer(h, g);
  work.outer(g, h).add(other);
}
}  // namespace

void MexicanHatKernels(float sigma, matrix& g, matrix& h, bool zeroMean, matrix& work) {
  // Six sigma wide, like the Gaussian blur's kernel.
  const int n = GaussianLength(sigma, 3.0f);
  g.dim(n, 1);
  h.dim(n, 1);
  if (!UsableSigma(sigma)) {
    // No width: g the identity and no hat, so the response is 0.
    std::fill(g.x, g.x + n, 0.0f);
    std::fill(h.x, h.x + n, 0.0f);
    g.x[n / 2] = 1;
    HatPlane(g, h, work);
    return;
  }
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const double t = (i - (n - 1) / 2) / double(sigma);
    const double gi = std::exp(-t * t / 2);
    g.x[i] = float(gi);
    h.x[i] = float(gi * (1 - t * t) / 2);
    sum += g.x[i];
  }
  g.mulscalar(float(1 / sum));
  if (zeroMean) {
    HatPlane(g, h, work);
    const double shift = work.sum() / (2.0 * n);
    for (int i = 0; i < n; ++i) h.x[i] = float(h.x[i] - shift);
  }
  HatPlane(g, h, work);
  double l1 = 0;
  for (int k = 0; k < work.n; ++k) l1 += std::fabs(double(work.x[k]));
  if (l1 > 0) h.mulscalar(float(1 / l1));
}

matrix& matrix::mexicanhat(float sigma, const matrix& input, float gain, bool zeroMean) {
  matrix g, h, work;
  MexicanHatKernels(sigma, g, h, zeroMean, work);
  if (gain != 1) {
    const float root = std::sqrt(gain);
    g.mulscalar(root);
    h.mulscalar(root);
  }
  // Both column passes read the input before this plane, which may be the input, is written.
  matrix across, along;
  across.correlatey(h, input);
  along.correlatey(g, input);
  correlatex(g, across);
  return correlatexadd(h, along);
}

matrix& matrix::logfilter(float sigma, const bitmask* mask) {
  if (n == 0) return *this;
  mask = Covering(mask, *this);
  if (mask == nullptr) return mexicanhat(sigma, *this, 1, true);
  int count = 0, bx = 0, by = 0, bw = 0, bh = 0;
  mask->bounds(count, bx, by, bw, bh);
  if (count == 0) return *this;
  const int taps = GaussianLength(sigma, 3.0f), d = taps / 2;
  matrix tile(bw + taps, bh + taps);
  tile.extract(*this, bx - d, by - d);
  tile.mexicanhat(sigma, tile, 1, true);
  return pasteinner(bx, by, tile, mask, d, d, d, d);
}

matrix& matrix::logresponse(int radius, const bitmask* mask, bool) {
  return logfilter(float(radius), mask);
}

void matrix::edgemask(float sigma, float threshold, bitmask* mask, bool zeroMean) const {
  if (mask == nullptr || !mask->covers(nx, ny)) return;
  matrix response;
  response.mexicanhat(sigma, *this, 1, zeroMean);
  response.zerocrossings(*mask, threshold);
}

void matrix::zerocrossings(bitmask& mask, float threshold) const {
  if (!mask.covers(nx, ny)) return;
  constexpr double kDiagonal = 0.707106781373095;
  // Neighbouring pixels share mask words, so the bits are set by one thread.
  for (int y = 1; y + 1 < ny; ++y) {
    const float* below = z[y - 1];
    const float* row = z[y];
    const float* above = z[y + 1];
    for (int c = 1; c + 1 < nx; ++c) {
      double strength = 0;
      const auto pair = [&strength](float a, float b, double weight) {
        if (a * b < 0) strength = std::max(strength, std::fabs(a - b) * weight);
      };
      pair(row[c - 1], row[c + 1], 1);
      pair(above[c], below[c], 1);
      pair(above[c - 1], below[c + 1], kDiagonal);
      pair(below[c - 1], above[c + 1], kDiagonal);
      if (strength > threshold) mask.set(c, y, true);
    }
  }
}

float PoissonLevelGain(float amount, float scale, int level) {
  float g = amount;
  for (int i = 1; i <= level; ++i) g = scale > 0 ? scale * g + 1.0f : 1.0f;
  return g;
}

matrix& matrix::poissonsharpen(int iterations, float amount, float scale) {
  if (iterations <= 0 || n == 0) return *this;
  constexpr int kLimit = 4;
  matrixarray gauss, d1, d2;
  gradpyramid(gauss, d1, d2, kLimit, true);
  gauss = matrixarray();
  for (int i = 0; i < std::min(d1.n, d2.n); ++i) {
    const float g = PoissonLevelGain(amount, scale, i);
    d1[i].mulscalar(g);
    d2[i].mulscalar(g);
  }
  // The solver starts from this plane and writes it only at its end.
  matrix u(*this);
  u.pyramidcg(iterations, d1, d2, kLimit, true);
  return assign(u);
}
