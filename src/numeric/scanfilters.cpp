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
constexpr int kBilateralChunk = 256;
constexpr float kWeightExponentFloor = -60.0f;

// Outputs out[0 .. m - 1] with the windows v[i .. i + 4r], centres v[i + 2r].
ZEP_VECTOR_CLONES
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
      const float weight = wj * ExpNegative(std::max(-(d * d) * scale, kWeightExponentFloor));
      num[i] += weight * d;
      den[i] += weight;
    }
  }
  for (int i = 0; i < m; ++i) out[i] = c[i] + num[i] / den[i];
}

// The same for three channels weighed together; out holds the interleaved triples.
ZEP_VECTOR_CLONES
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
      const float dist = d0 * d0 + d1 * d1 + d2 * d2;
      const float weight = wj * ExpNegative(std::max(-dist * scale, kWeightExponentFloor));
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

// Sequences too short for one full window, or radii that could not index one, are left
// alone.
bool BilateralFits(int n, int r) { return r >= 1 && r <= (1 << 28) && int64_t(n) > 4 * int64_t(r); }

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
  const std::vector<float> w = SpatialTaps(r);
  const std::vector<float> copy(x, x + n);
  const float scale = float(1.0 / (2.0 * double(s) * s));
  const int taps = 4 * r + 1;
  const int64_t count = int64_t(n) - 4 * r;
  ParallelBlocks(count, BlockFor(taps), [&](int64_t b, int64_t e) {
    for (int64_t p = b; p < e; p += kBilateralChunk) {
      const int m = int(std::min<int64_t>(kBilateralChunk, e - p));
      BilateralChunk(copy.data() + p, x + p + 2 * r, m, w.data(), taps, r, scale);
    }
  });
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
  std::copy(v, v + 3 * size_t(std::max(n, 0)), out);
  if (!BilateralFits(n, r)) return;
  const std::vector<float> w = SpatialTaps(r);
  // The channels apart, so that the chunks read them as rows.
  std::vector<float> planes(3 * size_t(n));
  float* const channel[3] = {planes.data(), planes.data() + n, planes.data() + 2 * size_t(n)};
  for (int p = 0; p < n; ++p) {
    for (int q = 0; q < 3; ++q) channel[q][p] = v[3 * size_t(p) + q];
  }
  const float scale = float(1.0 / (6.0 * double(s) * s));
  const int taps = 4 * r + 1;
  ParallelBlocks(int64_t(n) - 4 * r, BlockFor(3 * taps), [&](int64_t b, int64_t e) {
    for (int64_t p = b; p < e; p += kBilateralChunk) {
      const int m = int(std::min<int64_t>(kBilateralChunk, e - p));
      ColourBilateralChunk(channel[0] + p, channel[1] + p, channel[2] + p, out + 3 * (p + 2 * r), m,
                           w.data(), taps, r, scale);
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
  matrix seq;
  for (ScanOrder k = 0; k < 4; ++k) {
    seq.gatherscan(input, k).bilateral1d(s, r);
    if (k == 0)
      seq.scatterscan(*this, k);
    else
      seq.addscan(*this, k);
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
