// Tschumperle regularization of a colour image: every iteration adds trace(T H) to each
// colour channel, T a diffusion tensor built from the smoothed colour structure tensor,
// shared by the three channels, and H the channel's Hessian.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/eigen2.h"
#include "numeric/border.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
// The working rectangle: the part of the image the planes cover.
struct Rect {
  int x0, y0, w, h;
};

// The eight neighbours of image pixel (k, j), reflected at the image's borders.
struct Neighbourhood {
  const float* up;
  const float* mid;
  const float* down;
  int l, k, r;
  float c() const { return mid[k]; }
  float L() const { return mid[l]; }
  float R() const { return mid[r]; }
  float U() const { return up[k]; }
  float D() const { return down[k]; }
  float UL() const { return up[l]; }
  float UR() const { return up[r]; }
  float DL() const { return down[l]; }
  float DR() const { return down[r]; }
};

Neighbourhood At(const matrix& p, int k, int j) {
  return {p.z[ReflectWhole(int64_t(j) - 1, p.ny)], p.z[j], p.z[ReflectWhole(int64_t(j) + 1, p.ny)],
          ReflectWhole(int64_t(k) - 1, p.nx),      k,      ReflectWhole(int64_t(k) + 1, p.nx)};
}

// Odd margin of about 4 sigma around the selection's bounding box; a margin wider than the
// image reaches no further than the image does, and a NaN sigma counts as 0.
int Margin(float sigma) {
  const double reach = 4.0 * double(sigma) + 0.5;
  int m = reach >= 0 ? int(std::min(reach, double(INT_MAX / 4))) : 0;
  if (m % 2 == 0) ++m;
  return m;
}

// Calls pixel(c) for the rectangle's columns c outside the image columns from .. to - 1,
// those whose neighbours are reflected.
template <class Pixel>
void EachBorderColumn(const Rect& rect, int from, int to, const Pixel& pixel) {
  const int inner0 = std::clamp(from - rect.x0, 0, rect.w);
  const int inner1 = std::max(inner0, std::min(to - rect.x0, rect.w));
  for (int c = 0; c < inner0; ++c) pixel(c);
  for (int c = inner1; c < rect.w; ++c) pixel(c);
}

// The colour structure tensor at one pixel from the differences of each channel along rows
// and columns (axes) or along the two diagonals.
struct TensorSums {
  double xx = 0, xy = 0, yy = 0;
  void add(double a, double b) {
    xx += a * a;
    xy += a * b;
    yy += b * b;
  }
};

// count pixels of one row of the tensor whose neighbours need no reflection: the three
// channels' rows above, at and below it, each from the first of those pixels. out: the three
// tensor rows from that pixel.
ZEP_VECTOR_CLONES void ColourTensorRow(const float* const* up, const float* const* mid,
                                       const float* const* down, int count, bool axes,
                                       double scale, float* __restrict xx, float* __restrict xy,
                                       float* __restrict yy) {
  const float *u0 = up[0], *u1 = up[1], *u2 = up[2], *m0 = mid[0], *m1 = mid[1], *m2 = mid[2];
  const float *d0 = down[0], *d1 = down[1], *d2 = down[2];
  if (axes) {
    for (int k = 0; k < count; ++k) {
      TensorSums t;
      t.add(double(m0[k + 1]) - m0[k - 1], double(d0[k]) - u0[k]);
      t.add(double(m1[k + 1]) - m1[k - 1], double(d1[k]) - u1[k]);
      t.add(double(m2[k + 1]) - m2[k - 1], double(d2[k]) - u2[k]);
      xx[k] = float(t.xx * scale);
      xy[k] = float(t.xy * scale);
      yy[k] = float(t.yy * scale);
    }
  } else {
    for (int k = 0; k < count; ++k) {
      TensorSums t;
      t.add(double(d0[k + 1]) - u0[k - 1], double(d0[k - 1]) - u0[k + 1]);
      t.add(double(d1[k + 1]) - u1[k - 1], double(d1[k - 1]) - u1[k + 1]);
      t.add(double(d2[k + 1]) - u2[k - 1], double(d2[k - 1]) - u2[k + 1]);
      xx[k] = float(t.xx * scale);
      xy[k] = float(t.xy * scale);
      yy[k] = float(t.yy * scale);
    }
  }
}

// The colour structure tensor of the three channels over the rectangle: mean products of
// the central differences along rows and columns (mode 1) or along the two diagonals.
void ColourTensor(const matrix* channels, const Rect& rect, bool axes, matrix& xx, matrix& xy,
                  matrix& yy) {
  const double scale = axes ? 1.0 / 12 : 1.0 / 24;
  const int width = channels[0].nx;
  // The rectangle's columns whose neighbours lie inside the image.
  const int from = std::max(rect.x0, 1), to = std::min(rect.x0 + rect.w, width - 1);
  ParallelBlocks(rect.h, BlockFor(30 * int64_t(rect.w)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      const int j = rect.y0 + r;
      const auto pixel = [&](int c) {
        TensorSums t;
        for (int ch = 0; ch < 3; ++ch) {
          const Neighbourhood q = At(channels[ch], rect.x0 + c, j);
          t.add(axes ? double(q.R()) - q.L() : double(q.DR()) - q.UL(),
                axes ? double(q.D()) - q.U() : double(q.DL()) - q.UR());
        }
        xx.z[r][c] = float(t.xx * scale);
        xy.z[r][c] = float(t.xy * scale);
        yy.z[r][c] = float(t.yy * scale);
      };
      const float* up[3];
      const float* mid[3];
      const float* down[3];
      for (int ch = 0; ch < 3; ++ch) {
        const Neighbourhood q = At(channels[ch], 0, j);
        up[ch] = q.up + from;
        mid[ch] = q.mid + from;
        down[ch] = q.down + from;
      }
      if (from < to) {
        const int c = from - rect.x0;
        ColourTensorRow(up, mid, down, to - from, axes, scale, xx.z[r] + c, xy.z[r] + c,
                        yy.z[r] + c);
      }
      EachBorderColumn(rect, from, to, pixel);
    }
  });
}

// The structure tensor becomes the diffusion tensor T = ce u u' + cb w w' (u along the
// edge, w across it), its off-diagonal stored doubled.
struct Steps {
  double blurStep, edgeStep, blurParameter, edgeParameter;
};

[[gnu::always_inline]] inline void Diffusion(float& xx, float& xy, float& yy, const Steps& p) {
  const Eigen2 e = EigenOf(xx, xy, yy);
  const double ux = e.minor[0], uy = e.minor[1], wx = e.major[0], wy = e.major[1];
  const double s = double(e.larger) + e.smaller;
  const double ce = p.edgeStep / std::sqrt(p.edgeParameter + s);
  const double cb = p.blurStep / (p.blurParameter + s);
  xx = float(ce * ux * ux + cb * wx * wx);
  xy = float(2 * (cb * wx * wy + ce * ux * uy));
  yy = float(cb * wy * wy + ce * uy * uy);
}

ZEP_VECTOR_CLONES void DiffusionRun(float* __restrict xx, float* __restrict xy,
                                    float* __restrict yy, int64_t count, const Steps& steps) {
  const Steps p = steps;
  for (int64_t i = 0; i < count; ++i) Diffusion(xx[i], xy[i], yy[i], p);
}

// The diffusion tensor where the mask (if any) is set.
void Coherence(matrix& xx, matrix& xy, matrix& yy, const bitmask* mask, float blurStep,
               float edgeStep, float blurParameter, float edgeParameter) {
  const Steps steps{blurStep, edgeStep, blurParameter, edgeParameter};
  ParallelBlocks(xx.n, BlockFor(60), [&](int64_t i0, int64_t i1) {
    if (mask == nullptr) {
      DiffusionRun(xx.x + i0, xy.x + i0, yy.x + i0, i1 - i0, steps);
      return;
    }
    for (int64_t i = i0; i < i1; ++i)
      if (mask->getbit(int(i))) Diffusion(xx.x[i], xy.x[i], yy.x[i], steps);
  });
}

// trace(T H) at one pixel from its neighbourhood: the Hessian along rows and columns (axes) or
// along the diagonals.
struct Hessian {
  double xx, yy, xy;
};

[[gnu::always_inline]] inline Hessian HessianOf(bool axes, double centre, double L, double R,
                                                double U, double D, double UL, double UR,
                                                double DL, double DR) {
  if (axes) return {R + L - 2 * centre, D + U - 2 * centre, (UL + DR - DL - UR) / 4};
  return {(UL + DR) / 2 - centre, (DL + UR) / 2 - centre, (U + D - L - R) / 2};
}

[[gnu::always_inline]] inline float Trace(float txx, float txy, float tyy, const Hessian& h) {
  return float(txx * h.xx + txy * h.xy + tyy * h.yy);
}

// count pixels of one row whose neighbours need no reflection, the channel's rows from the
// first of them; the tensor and the increment rows from the same pixel.
ZEP_VECTOR_CLONES void IncrementRow(const float* up, const float* mid, const float* down,
                                    int count, bool axes, const float* txx, const float* txy,
                                    const float* tyy, float* __restrict out) {
  if (axes) {
    for (int k = 0; k < count; ++k) {
      const Hessian h = HessianOf(true, mid[k], mid[k - 1], mid[k + 1], up[k], down[k],
                                  up[k - 1], up[k + 1], down[k - 1], down[k + 1]);
      out[k] = Trace(txx[k], txy[k], tyy[k], h);
    }
  } else {
    for (int k = 0; k < count; ++k) {
      const Hessian h = HessianOf(false, mid[k], mid[k - 1], mid[k + 1], up[k], down[k],
                                  up[k - 1], up[k + 1], down[k - 1], down[k + 1]);
      out[k] = Trace(txx[k], txy[k], tyy[k], h);
    }
  }
}

// increment = trace(T H) of the channel over the rectangle, from its current values.
void Increment(const matrix& channel, const Rect& rect, bool axes, const matrix& xx,
               const matrix& xy, const matrix& yy, const bitmask* mask, matrix& increment) {
  const int from = std::max(rect.x0, 1), to = std::min(rect.x0 + rect.w, channel.nx - 1);
  ParallelBlocks(rect.h, BlockFor(20 * int64_t(rect.w)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      const int64_t row = int64_t(r) * rect.w;
      const auto pixel = [&](int c) {
        const int64_t i = row + c;
        const Neighbourhood q = At(channel, rect.x0 + c, rect.y0 + r);
        const Hessian h =
            HessianOf(axes, q.c(), q.L(), q.R(), q.U(), q.D(), q.UL(), q.UR(), q.DL(), q.DR());
        increment.x[i] = Trace(xx.x[i], xy.x[i], yy.x[i], h);
      };
      if (mask) {
        for (int c = 0; c < rect.w; ++c)
          if (mask->getbit(int(row + c))) pixel(c);
        continue;
      }
      if (from < to) {
        const Neighbourhood q = At(channel, from, rect.y0 + r);
        const int64_t i = row + (from - rect.x0);
        IncrementRow(q.up + from, q.mid + from, q.down + from, to - from, axes, xx.x + i,
                     xy.x + i, yy.x + i, increment.x + i);
      }
      EachBorderColumn(rect, from, to, pixel);
    }
  });
}

void AddIncrement(matrix& channel, const Rect& rect, const matrix& increment, const bitmask* mask) {
  ParallelBlocks(rect.h, BlockFor(2 * int64_t(rect.w)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      float* row = channel.z[rect.y0 + r] + rect.x0;
      const float* add = increment.z[r];
      for (int c = 0; c < rect.w; ++c) {
        if (mask && !mask->getbit(r * rect.w + c)) continue;
        row[c] += add[c];
      }
    }
  });
}
}  // namespace

fpbuffer& fpbuffer::tschumperle(int iterations, float sigma, float blurStep, float edgeStep,
                                float blurParameter, float edgeParameter, int mode,
                                int recalculationInterval, bitmask* selection) {
  if (iterations <= 0 || width < 3 || height < 3 || channels < 3) return *this;
  for (int c = 0; c < 3; ++c)
    if (plane[c].n != n) return *this;
  // The colour tensor needs channels 0-2 whatever the visible bits; the image mask always
  // applies.
  ScopeRule rule;
  rule.channels = ScopeChannels::All;
  rule.maskWhateverCond = true;
  const OperationScope scope(*this, selection, false, rule);
  const bitmask* mask = scope.mask();
  Rect rect{0, 0, width, height};
  bitmask windowMask;
  if (mask) {
    int count, x, y, w, h;
    mask->bounds(count, x, y, w, h);
    // No pixel selected: none would change.
    if (count == 0) return *this;
    const int m = Margin(sigma);
    rect.x0 = std::max(0, x - m);
    rect.y0 = std::max(0, y - m);
    rect.w = int(std::min(int64_t(w) + 2 * int64_t(m), int64_t(width) - rect.x0));
    rect.h = int(std::min(int64_t(h) + 2 * int64_t(m), int64_t(height) - rect.y0));
    windowMask.dim(rect.w, rect.h);
    for (int r = 0; r < rect.h; ++r)
      for (int c = 0; c < rect.w; ++c) windowMask.set(c, r, mask->get(rect.x0 + c, rect.y0 + r));
  }
  const bitmask* within = mask ? &windowMask : nullptr;
  const bool axes = mode == 1;
  // Only an edited settings or program file can hold an interval below 1.
  const int interval = std::max(1, recalculationInterval);
  matrix xx(rect.w, rect.h), xy(rect.w, rect.h), yy(rect.w, rect.h), increment(rect.w, rect.h);
  increment.zero();
  for (int t = 0; t < iterations; ++t) {
    if (t % interval == 0) {
      ColourTensor(plane, rect, axes, xx, xy, yy);
      for (matrix* p : {&xx, &xy, &yy}) {
        p->gaussblury(sigma, 0);
        p->gaussblurx(sigma, 0);
      }
      Coherence(xx, xy, yy, within, blurStep, edgeStep, blurParameter, edgeParameter);
    }
    // Each channel's increments are all taken before any is added.
    for (int c = 0; c < 3; ++c) {
      Increment(plane[c], rect, axes, xx, xy, yy, within, increment);
      AddIncrement(plane[c], rect, increment, within);
    }
  }
  return *this;
}
