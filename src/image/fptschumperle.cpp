// Tschumperle regularization of a colour image: every iteration adds trace(T H) to each
// colour channel, T a diffusion tensor built from the smoothed colour structure tensor,
// shared by the three channels, and H the channel's Hessian.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/border.h"
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

// The colour structure tensor of the three channels over the rectangle: mean products of
// the central differences along rows and columns (mode 1) or along the two diagonals.
void ColourTensor(const matrix* channels, const Rect& rect, bool axes, matrix& xx, matrix& xy,
                  matrix& yy) {
  const double scale = axes ? 1.0 / 12 : 1.0 / 24;
  ParallelBlocks(rect.h, BlockFor(60 * int64_t(rect.w)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      for (int c = 0; c < rect.w; ++c) {
        double sxx = 0, sxy = 0, syy = 0;
        for (int ch = 0; ch < 3; ++ch) {
          const Neighbourhood q = At(channels[ch], rect.x0 + c, rect.y0 + r);
          const double a = axes ? double(q.R()) - q.L() : double(q.DR()) - q.UL();
          const double b = axes ? double(q.D()) - q.U() : double(q.DL()) - q.UR();
          sxx += a * a;
          sxy += a * b;
          syy += b * b;
        }
        xx.z[r][c] = float(sxx * scale);
        xy.z[r][c] = float(sxy * scale);
        yy.z[r][c] = float(syy * scale);
      }
    }
  });
}

// The structure tensor becomes the diffusion tensor T = ce u u' + cb w w' (u along the
// edge, w across it), its off-diagonal stored doubled, where the mask (if any) is set.
void Coherence(matrix& xx, matrix& xy, matrix& yy, const bitmask* mask, float blurStep,
               float edgeStep, float blurParameter, float edgeParameter) {
  ParallelBlocks(xx.n, BlockFor(60), [&](int64_t i0, int64_t i1) {
    matrix work(2, 2);
    for (int64_t i = i0; i < i1; ++i) {
      if (mask && !mask->getbit(int(i))) continue;
      work.x[0] = xx.x[i];
      work.x[1] = xy.x[i];
      work.x[3] = yy.x[i];
      float smaller, larger;
      work.eig2x2(&smaller, &larger);
      const double ux = work.x[0], uy = work.x[1], wx = work.x[2], wy = work.x[3];
      const double s = double(larger) + smaller;
      const double ce = edgeStep / std::sqrt(edgeParameter + s);
      const double cb = blurStep / (blurParameter + s);
      xx.x[i] = float(ce * ux * ux + cb * wx * wx);
      xy.x[i] = float(2 * (cb * wx * wy + ce * ux * uy));
      yy.x[i] = float(cb * wy * wy + ce * uy * uy);
    }
  });
}

// increment = trace(T H) of the channel over the rectangle, from its current values.
void Increment(const matrix& channel, const Rect& rect, bool axes, const matrix& xx,
               const matrix& xy, const matrix& yy, const bitmask* mask, matrix& increment) {
  ParallelBlocks(rect.h, BlockFor(30 * int64_t(rect.w)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      for (int c = 0; c < rect.w; ++c) {
        const int64_t i = int64_t(r) * rect.w + c;
        if (mask && !mask->getbit(int(i))) continue;
        const Neighbourhood q = At(channel, rect.x0 + c, rect.y0 + r);
        const double centre = q.c();
        double hxx, hyy, hxy;
        if (axes) {
          hxx = double(q.R()) + q.L() - 2 * centre;
          hyy = double(q.D()) + q.U() - 2 * centre;
          hxy = (double(q.UL()) + q.DR() - q.DL() - q.UR()) / 4;
        } else {
          hxx = (double(q.UL()) + q.DR()) / 2 - centre;
          hyy = (double(q.DL()) + q.UR()) / 2 - centre;
          hxy = (double(q.U()) + q.D() - q.L() - q.R()) / 2;
        }
        increment.x[i] = float(xx.x[i] * hxx + xy.x[i] * hxy + yy.x[i] * hyy);
      }
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
