// Tschumperle regularization of a colour image: every iteration adds trace(T H) to each
// colour channel, T a diffusion tensor built from the smoothed colour structure tensor,
// shared by the three channels, and H the channel's Hessian.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/border.h"
#include "numeric/eigen2.h"
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
void Coherence(matrix& xx, matrix& xy, matrix& yy, const bitmask* mask, const Steps& steps) {
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

// The three channels += trace(T H) over the rectangle, each from its own values before the
// update, in one sweep down the rows: the increments of a row are kept until those of the
// row below, the last to read it, are taken, and are then added while still in cache. The
// rows on either side of each block, which the neighbouring block may update first, are
// copied before the blocks run.
class ChannelUpdate {
 public:
  ChannelUpdate(matrix* channels, const Rect& rect, bool axes, const bitmask* mask)
      : channels_(channels),
        rect_(rect),
        axes_(axes),
        mask_(mask),
        width_(channels[0].nx),
        height_(channels[0].ny),
        c0_(std::max(0, rect.x0 - 1)),
        c1_(std::min(width_, rect.x0 + rect.w + 1)),
        block_(std::max<int64_t>(32, BlockFor(20 * 3 * int64_t(rect.w)))),
        blocks_((rect.h + block_ - 1) / block_),
        saved_(size_t(2 * blocks_ * 3) * size_t(width_)) {}

  void operator()(const matrix& xx, const matrix& xy, const matrix& yy) {
    for (int64_t b = 0; b < blocks_; ++b) {
      for (int side = 0; side < 2; ++side) {
        const int q = Outer(b, side);
        if (!InRect(q)) continue;
        for (int ch = 0; ch < 3; ++ch)
          std::copy(channels_[ch].z[q] + c0_, channels_[ch].z[q] + c1_, Saved(b, side, ch) + c0_);
      }
    }
    ParallelBlocks(blocks_, 1, [&](int64_t b0, int64_t b1) {
      // The increments of two rows of the three channels.
      std::vector<float> increments(size_t(2 * 3) * size_t(rect_.w));
      for (int64_t b = b0; b < b1; ++b) Block(b, increments.data(), xx, xy, yy);
    });
  }

 private:
  // The row just above block b (side 0) or just below it (side 1).
  int Outer(int64_t b, int side) const {
    return side == 0 ? rect_.y0 + int(b * block_) - 1
                     : rect_.y0 + int(std::min<int64_t>((b + 1) * block_, rect_.h));
  }
  bool InRect(int q) const { return q >= rect_.y0 && q < rect_.y0 + rect_.h; }
  float* Saved(int64_t b, int side, int ch) {
    return saved_.data() + size_t((b * 2 + side) * 3 + ch) * size_t(width_);
  }
  float* Increments(float* buffer, int j, int ch) const {
    return buffer + size_t((j % 2) * 3 + ch) * size_t(rect_.w);
  }

  void Add(int j, float* buffer) {
    const int64_t row = int64_t(j - rect_.y0) * rect_.w;
    for (int ch = 0; ch < 3; ++ch) {
      float* out = channels_[ch].z[j] + rect_.x0;
      const float* add = Increments(buffer, j, ch);
      if (mask_) {
        for (int c = 0; c < rect_.w; ++c)
          if (mask_->getbit(int(row + c))) out[c] += add[c];
      } else {
        for (int c = 0; c < rect_.w; ++c) out[c] += add[c];
      }
    }
  }

  void Block(int64_t b, float* buffer, const matrix& xx, const matrix& xy, const matrix& yy) {
    const int first = Outer(b, 0) + 1, end = Outer(b, 1);
    const int from = std::max(rect_.x0, 1), to = std::min(rect_.x0 + rect_.w, width_ - 1);
    // Image row q as it was before the sweep: rows of this block are updated one row late.
    const auto source = [&](int ch, int q) -> const float* {
      if (!InRect(q) || (q >= first && q < end)) return channels_[ch].z[q];
      return Saved(b, q < first ? 0 : 1, ch);
    };
    for (int j = first; j < end; ++j) {
      const int64_t row = int64_t(j - rect_.y0) * rect_.w;
      const int qUp = ReflectWhole(int64_t(j) - 1, height_);
      const int qDown = ReflectWhole(int64_t(j) + 1, height_);
      for (int ch = 0; ch < 3; ++ch) {
        const float* up = source(ch, qUp);
        const float* mid = channels_[ch].z[j];
        const float* down = source(ch, qDown);
        float* out = Increments(buffer, j, ch);
        const auto pixel = [&](int c) {
          const int k = rect_.x0 + c;
          const int l = ReflectWhole(int64_t(k) - 1, width_);
          const int r = ReflectWhole(int64_t(k) + 1, width_);
          const Hessian h = HessianOf(axes_, mid[k], mid[l], mid[r], up[k], down[k], up[l], up[r],
                                      down[l], down[r]);
          const int64_t i = row + c;
          out[c] = Trace(xx.x[i], xy.x[i], yy.x[i], h);
        };
        if (mask_) {
          for (int c = 0; c < rect_.w; ++c)
            if (mask_->getbit(int(row + c))) pixel(c);
          continue;
        }
        if (from < to) {
          const int c = from - rect_.x0;
          IncrementRow(up + from, mid + from, down + from, to - from, axes_, xx.x + row + c,
                       xy.x + row + c, yy.x + row + c, out + c);
        }
        EachBorderColumn(rect_, from, to, pixel);
      }
      // Row j - 1 has been read for the last time.
      if (j > first) Add(j - 1, buffer);
    }
    if (end > first) Add(end - 1, buffer);
  }

  matrix* channels_;
  Rect rect_;
  bool axes_;
  const bitmask* mask_;
  int width_, height_, c0_, c1_;
  int64_t block_, blocks_;
  std::vector<float> saved_;
};
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
  const Steps steps{blurStep, edgeStep, blurParameter, edgeParameter};
  matrix xx(rect.w, rect.h), xy(rect.w, rect.h), yy(rect.w, rect.h);
  ChannelUpdate update(plane, rect, axes, within);
  for (int t = 0; t < iterations; ++t) {
    if (t % interval == 0) {
      ColourTensor(plane, rect, axes, xx, xy, yy);
      for (matrix* p : {&xx, &xy, &yy}) {
        p->gaussblury(sigma, 0);
        p->gaussblurx(sigma, 0);
      }
      Coherence(xx, xy, yy, within, steps);
    }
    update(xx, xy, yy);
  }
  return *this;
}
