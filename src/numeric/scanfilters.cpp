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
#include "numeric/matching.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
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
  const double scale = 1.0 / (2.0 * double(s) * s);
  const int taps = 4 * r + 1;
  const int64_t count = int64_t(n) - 4 * r;
  ParallelBlocks(count, BlockFor(taps), [&](int64_t b, int64_t e) {
    for (int64_t p = b; p < e; ++p) {
      const float* h = copy.data() + p;
      const float c = h[2 * r];
      double num = 0.0, den = 0.0;
      for (int j = 0; j < taps; ++j) {
        const double t = double(c) - h[j];
        const float weight = float(w[size_t(j)] * std::exp(-t * t * scale));
        num += double(weight) * h[j];
        den += weight;
      }
      x[p + 2 * r] = den != 0.0 ? float(num / den) : 0.0f;
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
  const double scale = 1.0 / (6.0 * double(s) * s);
  const int taps = 4 * r + 1;
  ParallelBlocks(int64_t(n) - 4 * r, BlockFor(3 * taps), [&](int64_t b, int64_t e) {
    for (int64_t p = b; p < e; ++p) {
      const float* h = v + 3 * p;
      const float* c = h + 6 * r;
      double num[3] = {0.0, 0.0, 0.0}, den = 0.0;
      for (int j = 0; j < taps; ++j, h += 3) {
        double dist = 0.0;
        for (int q = 0; q < 3; ++q) {
          const double t = double(c[q]) - h[q];
          dist += t * t;
        }
        const float weight = float(w[size_t(j)] * std::exp(-dist * scale));
        for (int q = 0; q < 3; ++q) num[q] += double(weight) * h[q];
        den += weight;
      }
      float* o = out + 3 * (p + 2 * r);
      for (int q = 0; q < 3; ++q) o[q] = den != 0.0 ? float(num[q] / den) : 0.0f;
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
