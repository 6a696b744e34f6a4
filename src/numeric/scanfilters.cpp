// Edge-preserving smoothing along the four scan paths: a one-dimensional filter runs over
// the whole plane read as one long sequence, so each pass costs a few operations per
// sample whatever the tolerance or radius. The backlash (hysteresis) keeps steps larger than
// its play and flattens the rest; the bilateral mean weights the neighbours of a sequence
// by distance and by similarity.
//
// The four paths of a combination are independent: the hysteresis runs them side by side
// and adds their results in path order, the bilateral mean spreads each path's positions
// over the threads. Either way the result does not depend on the thread count.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/fastexp.h"
#include "numeric/matching.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
constexpr float kBandStart = -1e16f;
constexpr int kPyramidLimit = 4;

// One direction of the backlash over x[i] for i = first, first + step, ...: the band
// [low, high] of width d moves only when a sample leaves it; out[i] (+)= low + high.
void BacklashPass(const float* x, float* out, int n, float d, bool forward, bool add) {
  float low = kBandStart, high = kBandStart;
  for (int k = 0; k < n; ++k) {
    const int i = forward ? k : n - 1 - k;
    const float v = x[i];
    if (v > high) {
      high = v;
      low = v - d;
    } else if (v < low) {
      low = v;
      high = v + d;
    }
    out[i] = add ? out[i] + (low + high) : low + high;
  }
}

// The 4r + 1 spatial taps of the bilateral mean: a Gaussian of sigma r reaching 2 sigma.
std::vector<float> SpatialTaps(int r) {
  std::vector<float> w(size_t(4 * r + 1));
  for (int j = 0; j <= 4 * r; ++j) {
    const double t = double(j - 2 * r) / r;
    w[size_t(j)] = float(std::exp(-t * t / 2.0));
  }
  return w;
}

// The bilateral mean runs over chunks of outputs: the taps in the outer loop and the outputs
// in the inner one, so that each output adds its taps in order whatever the chunking (and
// the thread count) while the inner loop vectorises. Weights and sums are single precision
// with the fast exponential, its argument held at -60 or above so that a far tap weighs
// nothing beside the centre's 1 yet stays a normal number (denormals are slow). The mean
// is formed as the centre plus the weighted mean of the differences, equal in exact
// arithmetic, so that a constant stays exactly constant and a step beyond the range keeps
// its levels.
//
// The tap at lag L of an output and the tap at lag -L of the output L further on weigh the
// same two samples, their differences of opposite sign and so of equal squares: the range
// factor of each pair is computed once, in a table of one row per lag, and both taps read
// it, which halves the exponentials and gives the same bits. The table holds 2r + 1 rows of
// a chunk and its 2r samples before; beyond kPairedRadius it would leave the caches, and
// each tap computes its own factor.
constexpr int kBilateralChunk = 512;
constexpr int kPairedRadius = 64;
constexpr float kWeightExponentFloor = -60.0f;

inline float RangeFactor(float squared, float scale) {
  return ExpNegative(std::max(-squared * scale, kWeightExponentFloor));
}

// Outputs out[0 .. m - 1] with the windows v[i .. i + 4r], centres v[i + 2r].
ZEP_WIDE_VECTOR_CLONES
void BilateralChunk(const float* v, float* out, int m, const float* w, int taps, int r,
                    float scale) {
  float num[kBilateralChunk], den[kBilateralChunk];
  const float* c = v + 2 * r;
  for (int i = 0; i < m; ++i) num[i] = den[i] = 0.0f;
  for (int j = 0; j < taps; ++j) {
    const float* h = v + j;
    const float wj = w[j];
    for (int i = 0; i < m; ++i) {
      const float d = h[i] - c[i];
      const float weight = wj * RangeFactor(d * d, scale);
      num[i] += weight * d;
      den[i] += weight;
    }
  }
  for (int i = 0; i < m; ++i) out[i] = c[i] + num[i] / den[i];
}

// The same for three channels weighed together; out holds the interleaved triples.
ZEP_WIDE_VECTOR_CLONES
void ColourBilateralChunk(const float* v0, const float* v1, const float* v2, float* out, int m,
                          const float* w, int taps, int r, float scale) {
  float num0[kBilateralChunk], num1[kBilateralChunk], num2[kBilateralChunk];
  float den[kBilateralChunk];
  const float *c0 = v0 + 2 * r, *c1 = v1 + 2 * r, *c2 = v2 + 2 * r;
  for (int i = 0; i < m; ++i) num0[i] = num1[i] = num2[i] = den[i] = 0.0f;
  for (int j = 0; j < taps; ++j) {
    const float *h0 = v0 + j, *h1 = v1 + j, *h2 = v2 + j;
    const float wj = w[j];
    for (int i = 0; i < m; ++i) {
      const float d0 = h0[i] - c0[i], d1 = h1[i] - c1[i], d2 = h2[i] - c2[i];
      const float weight = wj * RangeFactor(d0 * d0 + d1 * d1 + d2 * d2, scale);
      num0[i] += weight * d0;
      num1[i] += weight * d1;
      num2[i] += weight * d2;
      den[i] += weight;
    }
  }
  for (int i = 0; i < m; ++i) {
    out[3 * i] = c0[i] + num0[i] / den[i];
    out[3 * i + 1] = c1[i] + num1[i] / den[i];
    out[3 * i + 2] = c2[i] + num2[i] / den[i];
  }
}

// The range factors of a chunk of m outputs with windows v[i .. i + 4r]. Row L - 1 (L = 1
// .. 2r) holds at p the factor of the pair v[p], v[p + L], for p in [2r - L, m + 2r); row 2r
// that of each centre with itself (1, or less for a sample that is not finite).
class PairFactors {
 public:
  explicit PairFactors(int r) : r_(r), span_(kBilateralChunk + 2 * r), e_(size_t(2 * r + 1) * size_t(span_)) {}

  // The factors of tap j of outputs 0, 1, ...
  const float* Tap(int j) const {
    if (j == 2 * r_) return Row(2 * r_);
    return j < 2 * r_ ? Row(2 * r_ - j - 1) + j : Row(j - 2 * r_ - 1) + 2 * r_;
  }
  float* Row(int k) { return e_.data() + size_t(k) * size_t(span_); }
  const float* Row(int k) const { return e_.data() + size_t(k) * size_t(span_); }
  int Span(int m) const { return m + 2 * r_; }

 private:
  int r_, span_;
  std::vector<float> e_;
};

ZEP_WIDE_VECTOR_CLONES
void FactorRow(const float* a, const float* b, float* __restrict row, int first, int end,
               float scale) {
  for (int p = first; p < end; ++p) {
    const float d = b[p] - a[p];
    row[p] = RangeFactor(d * d, scale);
  }
}

ZEP_WIDE_VECTOR_CLONES
void ColourFactorRow(const float* const* a, const float* const* b, float* __restrict row,
                     int first, int end, float scale) {
  const float *a0 = a[0], *a1 = a[1], *a2 = a[2], *b0 = b[0], *b1 = b[1], *b2 = b[2];
  for (int p = first; p < end; ++p) {
    const float d0 = b0[p] - a0[p], d1 = b1[p] - a1[p], d2 = b2[p] - a2[p];
    row[p] = RangeFactor(d0 * d0 + d1 * d1 + d2 * d2, scale);
  }
}

// Fills the factors of a chunk of m outputs from the channels v[0 .. channels - 1].
void FillPairFactors(PairFactors& f, const float* const* v, int channels, int m, int r,
                     float scale) {
  const int end = f.Span(m);
  for (int lag = 1; lag <= 2 * r; ++lag) {
    const float* b[3] = {v[0] + lag, channels == 3 ? v[1] + lag : nullptr,
                         channels == 3 ? v[2] + lag : nullptr};
    if (channels == 1) {
      FactorRow(v[0], b[0], f.Row(lag - 1), 2 * r - lag, end, scale);
    } else {
      ColourFactorRow(v, b, f.Row(lag - 1), 2 * r - lag, end, scale);
    }
  }
  // The centres with themselves: the pairs at lag 0, read from p = 2r on.
  float* centre = f.Row(2 * r) - 2 * r;
  if (channels == 1) {
    FactorRow(v[0], v[0], centre, 2 * r, end, scale);
  } else {
    ColourFactorRow(v, v, centre, 2 * r, end, scale);
  }
}

// One tap of weight g at difference d added to the sums of a mean.
inline void AddTap(float g, float d, float& num, float& den) {
  num += g * d;
  den += g;
}

// BilateralChunk with the factors of the table. The taps go four at a time so that the
// sums stay in registers; each output still adds them one by one in order.
ZEP_WIDE_VECTOR_CLONES
void PairedChunk(const float* v, float* out, int m, const float* w, int taps, int r,
                 const PairFactors& f) {
  float num[kBilateralChunk], den[kBilateralChunk];
  const float* c = v + 2 * r;
  for (int i = 0; i < m; ++i) num[i] = den[i] = 0.0f;
  int j = 0;
  for (; j + 4 <= taps; j += 4) {
    const float *h0 = v + j, *h1 = v + j + 1, *h2 = v + j + 2, *h3 = v + j + 3;
    const float *e0 = f.Tap(j), *e1 = f.Tap(j + 1), *e2 = f.Tap(j + 2), *e3 = f.Tap(j + 3);
    const float w0 = w[j], w1 = w[j + 1], w2 = w[j + 2], w3 = w[j + 3];
    for (int i = 0; i < m; ++i) {
      float n = num[i], s = den[i];
      AddTap(w0 * e0[i], h0[i] - c[i], n, s);
      AddTap(w1 * e1[i], h1[i] - c[i], n, s);
      AddTap(w2 * e2[i], h2[i] - c[i], n, s);
      AddTap(w3 * e3[i], h3[i] - c[i], n, s);
      num[i] = n;
      den[i] = s;
    }
  }
  for (; j < taps; ++j) {
    const float* h = v + j;
    const float* e = f.Tap(j);
    const float wj = w[j];
    for (int i = 0; i < m; ++i) AddTap(wj * e[i], h[i] - c[i], num[i], den[i]);
  }
  for (int i = 0; i < m; ++i) out[i] = c[i] + num[i] / den[i];
}

// ColourBilateralChunk with the factors of the table, two taps at a time.
ZEP_WIDE_VECTOR_CLONES
void ColourPairedChunk(const float* const* v, float* out, int m, const float* w, int taps, int r,
                       const PairFactors& f) {
  float num0[kBilateralChunk], num1[kBilateralChunk], num2[kBilateralChunk];
  float den[kBilateralChunk];
  const float *c0 = v[0] + 2 * r, *c1 = v[1] + 2 * r, *c2 = v[2] + 2 * r;
  for (int i = 0; i < m; ++i) num0[i] = num1[i] = num2[i] = den[i] = 0.0f;
  int j = 0;
  for (; j + 2 <= taps; j += 2) {
    const float *a0 = v[0] + j, *a1 = v[1] + j, *a2 = v[2] + j;
    const float *e0 = f.Tap(j), *e1 = f.Tap(j + 1);
    const float w0 = w[j], w1 = w[j + 1];
    for (int i = 0; i < m; ++i) {
      float n0 = num0[i], n1 = num1[i], n2 = num2[i], s = den[i];
      const float g0 = w0 * e0[i];
      n0 += g0 * (a0[i] - c0[i]);
      n1 += g0 * (a1[i] - c1[i]);
      n2 += g0 * (a2[i] - c2[i]);
      s += g0;
      const float g1 = w1 * e1[i];
      n0 += g1 * (a0[i + 1] - c0[i]);
      n1 += g1 * (a1[i + 1] - c1[i]);
      n2 += g1 * (a2[i + 1] - c2[i]);
      s += g1;
      num0[i] = n0;
      num1[i] = n1;
      num2[i] = n2;
      den[i] = s;
    }
  }
  for (; j < taps; ++j) {
    const float *a0 = v[0] + j, *a1 = v[1] + j, *a2 = v[2] + j;
    const float* e = f.Tap(j);
    const float wj = w[j];
    for (int i = 0; i < m; ++i) {
      const float g = wj * e[i];
      num0[i] += g * (a0[i] - c0[i]);
      num1[i] += g * (a1[i] - c1[i]);
      num2[i] += g * (a2[i] - c2[i]);
      den[i] += g;
    }
  }
  for (int i = 0; i < m; ++i) {
    out[3 * i] = c0[i] + num0[i] / den[i];
    out[3 * i + 1] = c1[i] + num1[i] / den[i];
    out[3 * i + 2] = c2[i] + num2[i] / den[i];
  }
}

// Runs the chunks of outputs 2r .. n - 2r - 1 of the channels v (1 or 3) over the threads;
// chunk(p, m, factors) writes outputs p + 2r .. p + 2r + m - 1, factors being null beyond
// kPairedRadius.
template <class Chunk>
void BilateralChunks(const float* const* v, int channels, int n, int r, float scale,
                     Chunk chunk) {
  const int taps = 4 * r + 1;
  const bool paired = r <= kPairedRadius;
  ParallelBlocks(int64_t(n) - 4 * r, BlockFor(channels * taps), [&](int64_t b, int64_t e) {
    std::optional<PairFactors> factors;
    if (paired) factors.emplace(r);
    for (int64_t p = b; p < e; p += kBilateralChunk) {
      const int m = int(std::min<int64_t>(kBilateralChunk, e - p));
      if (paired) {
        const float* at[3] = {v[0] + p, channels == 3 ? v[1] + p : nullptr,
                              channels == 3 ? v[2] + p : nullptr};
        FillPairFactors(*factors, at, channels, m, r, scale);
        chunk(p, m, &*factors);
      } else {
        chunk(p, m, nullptr);
      }
    }
  });
}

// Sequences too short for one full window, or radii that could not index one, are left
// alone.
bool BilateralFits(int n, int r) { return r >= 1 && r <= (1 << 28) && int64_t(n) > 4 * int64_t(r); }

// Positions 2r .. n - 2r - 1 of the bilateral mean of v[0 .. n - 1], a sequence that fits,
// written into out.
void BilateralInto(const float* v, float* out, int n, float s, int r) {
  const std::vector<float> w = SpatialTaps(r);
  const float scale = float(1.0 / (2.0 * double(s) * s));
  const int taps = 4 * r + 1;
  BilateralChunks(&v, 1, n, r, scale, [&](int64_t p, int m, const PairFactors* f) {
    if (f != nullptr) {
      PairedChunk(v + p, out + p + 2 * r, m, w.data(), taps, r, *f);
    } else {
      BilateralChunk(v + p, out + p + 2 * r, m, w.data(), taps, r, scale);
    }
  });
}

// The filter written into plane `out` along path k from the input plane.
void HysteresisAlong(const matrix& input, matrix& out, ScanOrder k, float d) {
  matrix seq;
  seq.gatherscan(input, k).hysteresis1d(d);
  out.dim(input.nx, input.ny);
  seq.scatterscan(out, k);
}

// The four directional backlash results, computed side by side.
void HysteresisPaths(const matrix& input, matrix (&out)[4], float d) {
  ParallelBlocks(4, 1, [&](int64_t b, int64_t e) {
    for (int64_t k = b; k < e; ++k) HysteresisAlong(input, out[k], ScanOrder(k), d);
  });
}

// The bounding box of a mask of the plane's size; false when the mask is absent or empty.
bool MaskBox(const bitmask* mask, const matrix& plane, int& x, int& y, int& w, int& h) {
  if (mask == nullptr || !mask->covers(plane.nx, plane.ny)) return false;
  int count = 0;
  mask->bounds(count, x, y, w, h);
  return count > 0;
}

// Keeps, element by element, the value of smallest magnitude; the current one wins ties.
inline void KeepSmaller(float& a, float b) {
  if (std::fabs(b) < std::fabs(a)) a = b;
}
}  // namespace

matrix& matrix::hysteresis1d(float d) {
  if (n == 0) return *this;
  const std::vector<float> copy(x, x + n);
  BacklashPass(copy.data(), x, n, d, false, false);
  BacklashPass(copy.data(), x, n, d, true, true);
  return *this;
}

matrix& matrix::bilateral1d(float s, int r) {
  if (!BilateralFits(n, r)) return *this;
  const std::vector<float> copy(x, x + n);
  BilateralInto(copy.data(), x, n, s, r);
  return *this;
}

void ColourHysteresis1d(float* v, int n, float t) {
  if (n <= 0) return;
  const float c = float(t * std::sqrt(3.0) * 0.5);
  const std::vector<float> copy(v, v + 3 * size_t(n));
  for (int pass = 0; pass < 2; ++pass) {
    float centre[3] = {-1000.0f, -1000.0f, -1000.0f};
    for (int k = 0; k < n; ++k) {
      const size_t i = 3 * size_t(pass == 0 ? k : n - 1 - k);
      double delta[3], u = 0.0;
      for (int q = 0; q < 3; ++q) {
        delta[q] = double(copy[i + q]) - centre[q];
        u += delta[q] * delta[q];
      }
      u = std::sqrt(u);
      // The centre is pulled along until the sample lies on its sphere of radius c.
      if (u > c) {
        for (int q = 0; q < 3; ++q) centre[q] = float(copy[i + q] - (c / u) * delta[q]);
      }
      for (int q = 0; q < 3; ++q) v[i + q] = pass == 0 ? centre[q] : v[i + q] + centre[q];
    }
  }
}

void ColourBilateral1d(const float* v, float* out, int n, float s, int r) {
  if (!BilateralFits(n, r)) {
    std::copy(v, v + 3 * size_t(std::max(n, 0)), out);
    return;
  }
  // The 2r triples at each end keep their values; the chunks write the rest.
  std::copy(v, v + 6 * size_t(r), out);
  std::copy(v + 3 * (size_t(n) - 2 * r), v + 3 * size_t(n), out + 3 * (size_t(n) - 2 * r));
  const std::vector<float> w = SpatialTaps(r);
  // The channels apart, so that the chunks read them as rows (filled by the threads, not
  // zeroed first).
  const std::unique_ptr<float[]> planes(new float[3 * size_t(n)]);
  float* const channel[3] = {planes.get(), planes.get() + n, planes.get() + 2 * size_t(n)};
  ParallelBlocks(n, BlockFor(3), [&](int64_t b, int64_t e) {
    for (int64_t p = b; p < e; ++p) {
      for (int q = 0; q < 3; ++q) channel[q][p] = v[3 * size_t(p) + q];
    }
  });
  const float scale = float(1.0 / (6.0 * double(s) * s));
  const int taps = 4 * r + 1;
  BilateralChunks(channel, 3, n, r, scale, [&](int64_t p, int m, const PairFactors* f) {
    const float* at[3] = {channel[0] + p, channel[1] + p, channel[2] + p};
    if (f != nullptr) {
      ColourPairedChunk(at, out + 3 * (p + 2 * r), m, w.data(), taps, r, *f);
    } else {
      ColourBilateralChunk(at[0], at[1], at[2], out + 3 * (p + 2 * r), m, w.data(), taps, r,
                           scale);
    }
  });
}

matrix& matrix::hysteresis4(matrix& input, float d) {
  matrix paths[4];
  HysteresisPaths(input, paths, d);
  dim(input.nx, input.ny);
  assign(paths[0]);
  for (int k = 1; k < 4; ++k) add(paths[k]);
  return RescaleToInput(*this, input);
}

matrix& RescaleToInput(matrix& result, matrix& input) {
  if (result.n == 0 || input.n != result.n) return result;
  const float mi = float(input.sum() / input.n);
  const float mr = float(result.sum() / result.n);
  input.subscalar(mi);
  result.subscalar(mr);
  const float g = LeastSquaresGain(result, input);
  return result.affine(g, mi);
}

matrix& matrix::bilateral4(const matrix& input, float s, int r) {
  dim(input.nx, input.ny);
  matrix seq, filtered;
  for (ScanOrder k = 0; k < 4; ++k) {
    seq.gatherscan(input, k);
    const matrix* result = &seq;
    if (BilateralFits(seq.n, r)) {
      // Filtered into a second sequence rather than in place on a copy: only the ends
      // that keep their values are copied.
      filtered.dim(seq.n, 1);
      std::copy(seq.x, seq.x + 2 * r, filtered.x);
      std::copy(seq.x + seq.n - 2 * r, seq.x + seq.n, filtered.x + seq.n - 2 * r);
      BilateralInto(seq.x, filtered.x, seq.n, s, r);
      result = &filtered;
    }
    if (k == 0)
      result->scatterscan(*this, k);
    else
      result->addscan(*this, k);
  }
  return mulscalar(0.25f);
}

matrix& matrix::hysteresisrepeat(int count, float d, const bitmask* mask) {
  int bx = 0, by = 0, bw = 0, bh = 0;
  if (mask != nullptr) {
    if (!MaskBox(mask, *this, bx, by, bw, bh)) return *this;
    matrix tile(bw, bh);
    tile.extract(*this, bx, by).hysteresisrepeat(count, d, nullptr);
    return pasteinner(bx, by, tile, mask, 0, 0, 0, 0);
  }
  for (int i = 0; i < count; ++i) {
    matrix copy(*this);
    hysteresis4(copy, d);
  }
  return *this;
}

matrix& matrix::bilateralrepeat(int count, float s, int r, const bitmask* mask) {
  int bx = 0, by = 0, bw = 0, bh = 0;
  if (mask != nullptr) {
    if (!MaskBox(mask, *this, bx, by, bw, bh)) return *this;
    // r samples before the box and r + 1 after it on each axis, mirrored at the borders.
    matrix tile(bw + 2 * r + 1, bh + 2 * r + 1);
    tile.extract(*this, bx - r, by - r).bilateralrepeat(count, s, r, nullptr);
    return pasteinner(bx, by, tile, mask, r, r + 1, r, r + 1);
  }
  for (int i = 0; i < count; ++i) {
    const matrix copy(*this);
    bilateral4(copy, s, r);
  }
  return *this;
}

matrix& matrix::minabs(const matrix& other) {
  const int count = std::min(n, other.n);
  for (int k = 0; k < count; ++k) KeepSmaller(x[k], other.x[k]);
  return *this;
}

matrix& matrix::minabs5(const matrix& a, const matrix& b, const matrix& c, const matrix& d) {
  return minabs(a).minabs(b).minabs(c).minabs(d);
}

matrixarray& matrixarray::minabs(const matrixarray& other, int levels) {
  const int count = std::min({levels, n, other.n});
  for (int i = 0; i < count; ++i) m[i].minabs(other[i]);
  return *this;
}

matrixarray& matrixarray::minabs5(const matrixarray& a, const matrixarray& b, const matrixarray& c,
                                  const matrixarray& d, int levels) {
  const int count = std::min({levels, n, a.n, b.n, c.n, d.n});
  for (int i = 0; i < count; ++i) m[i].minabs5(a[i], b[i], c[i], d[i]);
  return *this;
}

matrix& matrix::hysteresismultiscale(const matrix& input, float d, matrix (&out)[4]) {
  HysteresisPaths(input, out, d);
  matrix four(input);
  four.mulscalar(4.0f);
  matrixarray p, q[4];
  p.pyramid(four, kPyramidLimit, true);
  for (int k = 0; k < 4; ++k) q[k].pyramid(out[k], kPyramidLimit, true);
  const int last = p.n - 1;
  p.minabs5(q[0], q[1], q[2], q[3], last);
  // The coarsest level holds the means, not details: the four directions are averaged.
  matrix& coarse = p[last];
  coarse.assign(q[0][last]);
  for (int k = 1; k < 4; ++k) coarse.add(q[k][last]);
  coarse.mulscalar(0.25f);
  p.collapse();
  dim(input.nx, input.ny);
  extend(p[0]);
  return mulscalar(0.25f);
}

matrix& matrix::hysteresispass(const matrix& input, float d, int halo, int flag) {
  matrix out[4];
  hysteresismultiscale(input, d, out);
  if (halo <= 0) return *this;
  matrix four(input);
  four.mulscalar(4.0f);
  if (flag == 0) {
    matrix g1, g2, h1, h2;
    four.diagdiff(g1, g2, false);
    for (const matrix& o : out) {
      o.diagdiff(h1, h2, false);
      KeepSmallerGradients(g1, g2, h1, h2);
    }
    g1.mulscalar(0.25f);
    g2.mulscalar(0.25f);
    return poissoncg(halo, g1, g2);
  }
  matrixarray gauss, g1, g2, h1, h2;
  four.gradpyramid(gauss, g1, g2, kPyramidLimit, true);
  for (const matrix& o : out) {
    o.gradpyramid(gauss, h1, h2, kPyramidLimit, true);
    g1.keepsmallergradients(g2, h1, h2);
  }
  g1.mulscalar(0.25f);
  g2.mulscalar(0.25f);
  return pyramidcg(halo, g1, g2, kPyramidLimit, true);
}

matrix& matrix::hysteresissmooth(int count, float d, int halo, int flag) {
  for (int i = 0; i < count; ++i) {
    const matrix copy(*this);
    hysteresispass(copy, d, halo, flag);
  }
  return *this;
}
