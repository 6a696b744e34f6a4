// Unsharp masking, Xsharpen and the Mexican-hat (negative Laplacian of Gaussian) filter
// with its zero-crossing edge marks; the Poisson sharpener in the gradient domain.
#include <algorithm>
#include <cmath>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
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

matrix& matrix::unsharp(Smoother smoother, int radius, UnsharpResponseFn response, float amount,
                        float t1, float t2, float t3, const bitmask* mask) {
  if (n == 0) return *this;
  mask = Covering(mask, *this);
  matrix smoothed(*this);
  smoother(smoothed, radius, mask, false);
  const bool detailIsSmoothed = smoother == SmoothLoG;
  ParallelBlocks(ny, BlockFor(nx), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* row = z[y];
      const float* s = smoothed.z[y];
      for (int c = 0; c < nx; ++c) {
        if (mask != nullptr && !mask->get(c, int(y))) continue;
        const float d = detailIsSmoothed ? s[c] : row[c] - s[c];
        row[c] += response(d, amount, t1, t2, t3);
      }
    }
  });
  return *this;
}

matrix& matrix::xsharpen(int w, float threshold, float amount, const bitmask* mask) {
  if (w < 1 || nx <= w || ny <= w) return *this;
  mask = Covering(mask, *this);
  const matrix copy(*this);
  const int half = w / 2;
  const float keep = 1.0f - amount;
  ParallelBlocks(ny - w, BlockFor(int64_t(nx) * w * w), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const int cy = int(i) + half;
      for (int j = 0; j + w < nx; ++j) {
        const int cx = j + half;
        if (mask != nullptr && !mask->get(cx, cy)) continue;
        float hi = -1e10f, lo = 1e10f;
        for (int r = 0; r < w; ++r) {
          const float* src = copy.z[i + r] + j;
          for (int c = 0; c < w; ++c) {
            hi = std::max(hi, src[c]);
            lo = std::min(lo, src[c]);
          }
        }
        const float v = copy.z[cy][cx];
        if (hi - v >= threshold && v - lo >= threshold) {
          const float target = hi - v > v - lo ? lo : hi;
          z[cy][cx] = v * keep + amount * target;
        }
      }
    }
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
