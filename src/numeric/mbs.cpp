// Modified B-spline enlargement: B-spline coefficients expanded into blocks split along
// the local edge, then smoothed by box filters.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {

// The corner a block pixel (w, v) takes: 0 TL, 1 TR, 2 BL, 3 BR.
int Corner(int cls, int w, int v, int e, double h) {
  switch (cls) {
    case 1:
      return v < h ? (w - v > h ? 2 : 0) : (v - w > h ? 1 : 3);
    case 2:
      return w < h ? (v - w > h ? 1 : 0) : (w - v > h ? 2 : 3);
    case 3:
      return v < h ? (w + v > h ? 2 : 0) : (w + v > 3 * h ? 3 : 1);
    case 4:
      return w < h ? (w + v > h ? 1 : 0) : (w + v > 3 * h ? 3 : 2);
    default:  // nearest-neighbour quadrants
      return w <= e ? (v > e ? 1 : 0) : (v > e ? 3 : 2);
  }
}

// One recursive B-spline prefilter of a line of n samples `stride` apart, in double.
// The initial sums take ten terms of the line mirrored on its end samples, folded as often
// as a short line needs, so that short lines keep their constants too.
void PrefilterLine(float* s, int64_t stride, int n, std::vector<double>& p) {
  constexpr int kHorizon = 10;
  const double z = std::sqrt(3.0) - 2.0;
  const double gain = -6.0 * z / (1.0 - z * z);
  p.resize(size_t(n));
  double causal = 0.0, anticausal = 0.0, zk = 1.0;
  for (int k = 0; k < kHorizon; ++k) {
    causal += zk * s[ReflectWhole(k, n) * stride];
    anticausal += zk * s[ReflectWhole(int64_t(n) - 1 - k, n) * stride];
    zk *= z;
  }
  p[0] = causal;
  for (int k = 1; k < n; ++k) p[size_t(k)] = s[k * stride] + z * p[size_t(k - 1)];
  double q = anticausal;
  for (int k = n - 1; k >= 0; --k) {
    if (k < n - 1) q = s[k * stride] + z * q;
    const double v = s[k * stride];
    s[k * stride] = float(gain * (p[size_t(k)] + q - v));
  }
}

}  // namespace

const matrix& matrix::mbsclassify(cvector<uint8_t>& classes) const {
  classes.dim(n);
  std::fill(classes.x, classes.x + classes.n, uint8_t(0));
  const int cw = nx - 1, ch = ny - 1;
  if (cw < 1 || ch < 1) return *this;
  matrix gh(cw, ch), gv(cw, ch), gd(cw, ch), ga(cw, ch);
  ParallelBlocks(ch, BlockFor(int64_t(cw) * 8), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const float *top = z[k], *bottom = z[k + 1];
      for (int l = 0; l < cw; ++l) {
        const float tl = top[l], tr = top[l + 1], bl = bottom[l], br = bottom[l + 1];
        gh.z[k][l] = std::fabs((tr - tl) + (br - bl)) * 0.5f;
        gv.z[k][l] = std::fabs((bl - tl) + (br - tr)) * 0.5f;
        gd.z[k][l] = std::fabs(br - tl) * 0.7071f;
        ga.z[k][l] = std::fabs(tr - bl) * 0.7071f;
      }
    }
  });
  matrix across;
  for (matrix* g : {&gh, &gv, &gd, &ga}) g->smooth3x(across.smooth3y(*g));
  ParallelBlocks(int64_t(cw) * ch, BlockFor(4), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      classes.x[i] = uint8_t(1 + (gd.x[i] >= ga.x[i] ? 2 : 0) + (gh.x[i] <= gv.x[i] ? 1 : 0));
    }
  });
  return *this;
}

matrix& matrix::bsplineprefilter() {
  if (n == 0) return *this;
  ParallelBlocks(ny, BlockFor(int64_t(nx) * 12), [&](int64_t r0, int64_t r1) {
    std::vector<double> p;
    for (int64_t r = r0; r < r1; ++r) PrefilterLine(z[r], 1, nx, p);
  });
  ParallelBlocks(nx, BlockFor(int64_t(ny) * 12), [&](int64_t c0, int64_t c1) {
    std::vector<double> p;
    for (int64_t c = c0; c < c1; ++c) PrefilterLine(x + c, nx, ny, p);
  });
  return *this;
}

matrix& matrix::mbsfill(const matrix& coefficients, const cvector<uint8_t>& classes, int c) {
  const int W = coefficients.nx, H = coefficients.ny;
  dim(SaturatedLength(int64_t(c) * W), SaturatedLength(int64_t(c) * H));
  if (n == 0 || c < 1) return *this;
  const int e = c / 2;
  const double h = c / 2.0;
  const int cw = W - 1, ch = H - 1;

  // Border bands: the top and bottom c rows and the left and right c columns of the rows
  // between take the nearest input sample; the blocks below cover everything else.
  ParallelBlocks(ny, BlockFor(int64_t(nx)), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* in = coefficients.z[y / c];
      float* out = z[y];
      const bool band = y < c || y >= int64_t(ny) - c;
      for (int x = 0; x < nx; ++x) {
        if (band || x < c || x >= nx - c) out[x] = in[x / c];
      }
    }
  });
  if (cw < 1 || ch < 1) {
    for (int k = 0; k < std::max(ch, 0); ++k) StepProgressOrThrow();
    return *this;
  }
  const bool classified = classes.n >= int64_t(cw) * ch;
  if (ParallelBlocksTicking(ch, BlockFor(int64_t(cw) * c * c), [&](int64_t k0, int64_t k1) {
        for (int64_t k = k0; k < k1; ++k) {
          const float *top = coefficients.z[k], *bottom = coefficients.z[k + 1];
          for (int w = 0; w < c; ++w) {
            float* out = z[k * c + e + w] + e;
            for (int l = 0; l < cw; ++l) {
              const float corners[4] = {top[l], top[l + 1], bottom[l], bottom[l + 1]};
              const int cls = classified ? classes.x[k * cw + l] : 0;
              float* block = out + int64_t(l) * c;
              for (int v = 0; v < c; ++v) block[v] = corners[Corner(cls, w, v, e, h)];
            }
          }
        }
      })) {
    throw Cancelled{};
  }
  return *this;
}

matrix& matrix::boxblur(int a, int passes) {
  if (a < 1 || std::min(nx, ny) < a) return *this;
  const int half = a / 2;
  for (int pass = 0; pass < passes; ++pass) {
    // Along rows: one running sum per row.
    if (ParallelBlocksTicking(ny, BlockFor(int64_t(nx) * 3), [&](int64_t r0, int64_t r1) {
          // The row with its mirrored ends, so that the running sum reads it directly.
          std::vector<float> line(static_cast<size_t>(nx) + 2 * size_t(half) + 1);
          float* mid = line.data() + half;
          for (int64_t r = r0; r < r1; ++r) {
            float* s = z[r];
            for (int k = -half; k <= nx + half; ++k) mid[k] = s[ReflectWhole(k, nx)];
            double sum = 0.0;
            for (int k = -half; k <= half; ++k) sum += mid[k];
            for (int i = 0; i < nx; ++i) {
              s[i] = float(sum / a);
              sum += mid[i + half + 1];
              sum -= mid[i - half];
            }
          }
        })) {
      throw Cancelled{};
    }
    // Along columns: a strip of columns at a time, the running sums side by side.
    if (ParallelBlocksTicking(nx, BlockFor(int64_t(ny) * 3), [&](int64_t c0, int64_t c1) {
          const int width = int(c1 - c0);
          std::vector<float> strip(size_t(width) * ny);
          std::vector<double> sum(static_cast<size_t>(width));
          for (int r = 0; r < ny; ++r)
            std::copy_n(z[r] + c0, width, strip.data() + size_t(r) * width);
          auto row = [&](int64_t r) { return strip.data() + size_t(ReflectWhole(r, ny)) * width; };
          for (int k = -half; k <= half; ++k) {
            const float* in = row(k);
            for (int j = 0; j < width; ++j) sum[size_t(j)] += in[j];
          }
          for (int r = 0; r < ny; ++r) {
            float* out = z[r] + c0;
            const float *enter = row(int64_t(r) + half + 1), *leave = row(int64_t(r) - half);
            for (int j = 0; j < width; ++j) {
              out[j] = float(sum[size_t(j)] / a);
              sum[size_t(j)] += enter[j];
              sum[size_t(j)] -= leave[j];
            }
          }
        })) {
      throw Cancelled{};
    }
  }
  return *this;
}
