// Modified B-spline enlargement: B-spline coefficients expanded into blocks split along
// the local edge, then smoothed by box filters.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/mbs.h"
#include "numeric/planerows.h"
#include "numeric/scratchpool.h"
#include "numeric/vectorclones.h"
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

// One recursive B-spline prefilter of each of the columns [c0, c0 + width) of a plane, in
// double, the columns side by side: p holds ny rows of width causal sums, q one row of
// anticausal ones. The initial sums take ten terms of the column mirrored on its end
// samples, folded as often as a short column needs, so that short columns keep their
// constants too.
ZEP_VECTOR_CLONES void PrefilterColumns(matrix& m, int c0, int width, double* p, double* q) {
  constexpr int kHorizon = 10;
  const double z = std::sqrt(3.0) - 2.0;
  const double gain = -6.0 * z / (1.0 - z * z);
  const int n = m.ny;
  for (int j = 0; j < width; ++j) p[j] = q[j] = 0.0;
  double zk = 1.0;
  for (int k = 0; k < kHorizon; ++k) {
    const float* a = m.z[ReflectWhole(k, n)] + c0;
    const float* b = m.z[ReflectWhole(int64_t(n) - 1 - k, n)] + c0;
    for (int j = 0; j < width; ++j) {
      p[j] += zk * a[j];
      q[j] += zk * b[j];
    }
    zk *= z;
  }
  for (int k = 1; k < n; ++k) {
    const float* s = m.z[k] + c0;
    const double* before = p + size_t(k - 1) * width;
    double* now = p + size_t(k) * width;
    for (int j = 0; j < width; ++j) now[j] = s[j] + z * before[j];
  }
  for (int k = n - 1; k >= 0; --k) {
    float* s = m.z[k] + c0;
    const double* pk = p + size_t(k) * width;
    if (k < n - 1) {
      for (int j = 0; j < width; ++j) q[j] = s[j] + z * q[j];
    }
    for (int j = 0; j < width; ++j) s[j] = float(gain * (pk[j] + q[j] - double(s[j])));
  }
}

using Floats8 = float __attribute__((vector_size(32)));
using Ints8 = int32_t __attribute__((vector_size(32)));
using Bytes8 = uint8_t __attribute__((vector_size(8)));

// Block row w of the cells [0, count) for c = 3, eight cells at a time: corners[v][k] is the
// corner (0 TL, 1 TR, 2 BL, 3 BR) that sample v of a cell of class k takes on this row.
// Each cell's three samples are picked by selects, then the picks of eight cells are
// interleaved into their 24 samples of the row; a per-sample lookup cost more than the
// filters that follow it. Cells past the last whole eight go one by one.
ZEP_VECTOR_CLONES void BlocksOfThree(const float* top, const float* bottom, const uint8_t* cls,
                                     const int32_t* corners, int count, float* __restrict block) {
  Ints8 pick[3];
  for (int v = 0; v < 3; ++v) std::memcpy(&pick[v], corners + 8 * v, sizeof pick[v]);
  int l = 0;
  for (; l + 8 <= count; l += 8, block += 24) {
    Floats8 tl, tr, bl, br;
    std::memcpy(&tl, top + l, sizeof tl);
    std::memcpy(&tr, top + l + 1, sizeof tr);
    std::memcpy(&bl, bottom + l, sizeof bl);
    std::memcpy(&br, bottom + l + 1, sizeof br);
    Ints8 k{};
    if (cls) {
      Bytes8 b;
      std::memcpy(&b, cls + l, sizeof b);
      k = __builtin_convertvector(b, Ints8);
    }
    Floats8 o[3];
    for (int v = 0; v < 3; ++v) {
      const Ints8 p = __builtin_shuffle(pick[v], k);
      const Floats8 upper = (p & 1) != 0 ? tr : tl, lower = (p & 1) != 0 ? br : bl;
      o[v] = (p & 2) != 0 ? lower : upper;
    }
    // Sample v of cell j goes to 3 j + v of the 24.
    const Floats8 ab0 = __builtin_shuffle(o[0], o[1], Ints8{0, 8, 0, 1, 9, 1, 2, 10});
    const Floats8 ab1 = __builtin_shuffle(o[0], o[1], Ints8{0, 3, 11, 0, 4, 12, 0, 5});
    const Floats8 ab2 = __builtin_shuffle(o[0], o[1], Ints8{13, 0, 6, 14, 0, 7, 15, 0});
    const Floats8 out0 = __builtin_shuffle(ab0, o[2], Ints8{0, 1, 8, 3, 4, 9, 6, 7});
    const Floats8 out1 = __builtin_shuffle(ab1, o[2], Ints8{10, 1, 2, 11, 4, 5, 12, 7});
    const Floats8 out2 = __builtin_shuffle(ab2, o[2], Ints8{0, 13, 2, 3, 14, 5, 6, 15});
    std::memcpy(block, &out0, sizeof out0);
    std::memcpy(block + 8, &out1, sizeof out1);
    std::memcpy(block + 16, &out2, sizeof out2);
  }
  for (; l < count; ++l, block += 3) {
    const float corner[4] = {top[l], top[l + 1], bottom[l], bottom[l + 1]};
    const int k = cls ? cls[l] : 0;
    for (int v = 0; v < 3; ++v) block[v] = corner[corners[8 * v + k]];
  }
}

// The fill of mbsfill one output row at a time: every row the nearest coefficient first
// (the bands), then the blocks where they reach, each pixel the corner its class gives.
class BlockFill {
 public:
  BlockFill(const matrix& coefficients, const cvector<uint8_t>& classes, int c)
      : co_(coefficients), c_(c), e_(c / 2), cw_(coefficients.nx - 1), ch_(coefficients.ny - 1) {
    if (cw_ >= 1 && ch_ >= 1 && classes.n >= int64_t(cw_) * ch_) classes_ = classes.x;
    // The corner of every (class, w, v), so that a block row is a lookup per pixel.
    pattern_.resize(size_t(5) * c * c);
    const double h = c / 2.0;
    for (int cls = 0; cls <= 4; ++cls) {
      for (int w = 0; w < c; ++w) {
        for (int v = 0; v < c; ++v) {
          pattern_[(size_t(cls) * c + w) * c + v] = uint8_t(Corner(cls, w, v, e_, h));
          if (c == 3) threes_[size_t(w)][size_t(8 * v + cls)] = Corner(cls, w, v, e_, h);
        }
      }
    }
  }

  // Output row y (c W samples).
  void Row(int y, float* out) const {
    const int c = c_, W = co_.nx;
    const float* in = co_.z[y / c];
    const int64_t yy = int64_t(y) - e_;
    if (cw_ < 1 || ch_ < 1 || yy < 0 || yy >= int64_t(c) * ch_) {
      for (int j = 0; j < W; ++j) std::fill(out + int64_t(j) * c, out + int64_t(j + 1) * c, in[j]);
      return;
    }
    // The blocks cover [e, e + c cw) of the row; only the bands either side keep the
    // nearest coefficient.
    std::fill(out, out + e_, in[0]);
    for (int64_t x = e_ + int64_t(c) * cw_; x < int64_t(c) * W; ++x) out[x] = in[x / c];
    const int k = int(yy / c), w = int(yy - int64_t(k) * c);
    const float *top = co_.z[k], *bottom = co_.z[k + 1];
    const uint8_t* cls = classes_ ? classes_ + int64_t(k) * cw_ : nullptr;
    float* block = out + e_;
    // The usual factors with the block width known to the compiler, which unrolls it.
    switch (c) {
      case 3:
        BlocksOfThree(top, bottom, cls, threes_[size_t(w)].data(), cw_, block);
        break;
      case 5:
        Blocks<5>(top, bottom, cls, w, block);
        break;
      default:
        Blocks<0>(top, bottom, cls, w, block);
        break;
    }
  }

 private:
  // The block row w of every cell along a row pair; kC is c, or 0 for any c.
  template <int kC>
  void Blocks(const float* top, const float* bottom, const uint8_t* cls, int w,
              float* block) const {
    const int c = kC > 0 ? kC : c_;
    for (int l = 0; l < cw_; ++l, block += c) {
      const float corners[4] = {top[l], top[l + 1], bottom[l], bottom[l + 1]};
      const uint8_t* p = pattern_.data() + (size_t(cls ? cls[l] : 0) * c + w) * c;
      for (int v = 0; v < c; ++v) block[v] = corners[p[v]];
    }
  }

  const matrix& co_;
  const uint8_t* classes_ = nullptr;
  int c_, e_, cw_, ch_;
  std::vector<uint8_t> pattern_;
  // For c = 3, by block row: the corner of sample v for class k at 8 v + k.
  std::array<std::array<int32_t, 24>, 3> threes_{};
};

// Stores of four floats at a 16-byte aligned p that bypass the caches, and the fence that
// orders them before the stores after it; plain stores where there are none.
inline void StreamFour(float* p, const float* v) {
#if defined(__x86_64__)
  _mm_stream_ps(p, _mm_loadu_ps(v));
#else
  std::memcpy(p, v, 4 * sizeof(float));
#endif
}
inline void StreamFence() {
#if defined(__x86_64__)
  _mm_sfence();
#endif
}

// Eight floats for the vector loops; the baseline build splits them in halves.
inline void Load8(Floats8& v, const float* p) { std::memcpy(&v, p, sizeof v); }

// out[i] = the sum over t of w[t] line[t][i], in float, the terms added in list order:
// a sample's value does not depend on where its line was cut. Blocks of 32 outputs keep
// their sums in registers over all the lines.
//
// With `stream` the blocks of a 16-byte aligned output go past the caches: a plane far larger
// than the caches, written once, then costs no read of each line before its write.
ZEP_VECTOR_CLONES void WeightedFloatLines(const float* const* line, const float* w, int count,
                                          int n, float* out, bool stream = false) {
  constexpr int kBlock = 32;
  stream = stream && reinterpret_cast<uintptr_t>(out) % 16 == 0;
  int i0 = 0;
  for (; i0 + kBlock <= n; i0 += kBlock) {
    const float* l = line[0] + i0;
    Floats8 a0, a1, a2, a3, v0, v1, v2, v3;
    Load8(a0, l);
    Load8(a1, l + 8);
    Load8(a2, l + 16);
    Load8(a3, l + 24);
    a0 *= w[0];
    a1 *= w[0];
    a2 *= w[0];
    a3 *= w[0];
    for (int t = 1; t < count; ++t) {
      l = line[t] + i0;
      Load8(v0, l);
      Load8(v1, l + 8);
      Load8(v2, l + 16);
      Load8(v3, l + 24);
      const float wt = w[t];
      a0 += v0 * wt;
      a1 += v1 * wt;
      a2 += v2 * wt;
      a3 += v3 * wt;
    }
    if (stream) {
      float sums[kBlock];
      std::memcpy(sums, &a0, sizeof a0);
      std::memcpy(sums + 8, &a1, sizeof a1);
      std::memcpy(sums + 16, &a2, sizeof a2);
      std::memcpy(sums + 24, &a3, sizeof a3);
      for (int q = 0; q < kBlock; q += 4) StreamFour(out + i0 + q, sums + q);
      continue;
    }
    std::memcpy(out + i0, &a0, sizeof a0);
    std::memcpy(out + i0 + 8, &a1, sizeof a1);
    std::memcpy(out + i0 + 16, &a2, sizeof a2);
    std::memcpy(out + i0 + 24, &a3, sizeof a3);
  }
  // The streamed stores are weakly ordered: they are made visible before anything else.
  if (stream) StreamFence();
  for (int i = i0; i < n; ++i) {
    float acc = line[0][i] * w[0];
    for (int t = 1; t < count; ++t) acc += line[t][i] * w[t];
    out[i] = acc;
  }
}

// `passes` moving averages of width a (a/2 samples either side, over a) as one kernel:
// the passes are convolutions that commute with the mirroring of the ends, so the
// repeated average is the one kernel of their convolved taps on the mirrored line, and
// one pass each way replaces 2 passes passes.
class RepeatedBox {
 public:
  RepeatedBox(int a, int passes) {
    const int half = a / 2;
    std::vector<double> k{1.0};
    for (int p = 0; p < passes; ++p) {
      std::vector<double> next(k.size() + 2 * size_t(half), 0.0);
      for (size_t i = 0; i < k.size(); ++i) {
        for (int j = 0; j <= 2 * half; ++j) next[i + size_t(j)] += k[i];
      }
      k.swap(next);
    }
    const double total = std::pow(double(a), passes);
    for (double v : k) w_.push_back(float(v / total));
  }
  int taps() const { return int(w_.size()); }
  int reach() const { return taps() / 2; }
  const float* weights() const { return w_.data(); }

  // out = the kernel along a line of n samples held at line + reach(), whose ends this
  // fills by mirroring on the end samples.
  void Row(float* line, int n, float* out) const {
    const int R = reach();
    float* mid = line + R;
    for (int k = -R; k < 0; ++k) mid[k] = mid[ReflectWhole(k, n)];
    for (int k = n; k < n + R; ++k) mid[k] = mid[ReflectWhole(k, n)];
    std::vector<const float*> lines(w_.size());
    for (size_t t = 0; t < w_.size(); ++t) lines[t] = line + t;
    WeightedFloatLines(lines.data(), w_.data(), taps(), n, out);
  }

 private:
  std::vector<float> w_;
};

// The rows a column pass of the kernel reads, 2 reach + 1 of them kept in slots by row
// index; a row read past an end is its mirror inside the plane, always among the kept.
class RowRing {
 public:
  RowRing(const RepeatedBox& box, int width)
      : box_(box),
        width_(width),
        slots_(box.taps()),
        data_(size_t(slots_) * size_t(width)),
        lines_(size_t(slots_)) {}

  // A ring for the outputs from row y on starts with the first row they read.
  void StartAt(int y) { next_ = std::max(0, y - box_.reach()); }

  // Makes rows up to y + reach (at most the last) present, load(k, slot) writing row k.
  template <class Load>
  void Advance(int y, int rows, const Load& load) {
    const int last = int(std::min<int64_t>(int64_t(y) + box_.reach(), rows - 1));
    for (; next_ <= last; ++next_) load(next_, Slot(next_));
  }

  // Output row y of the column pass; `stream` as WeightedFloatLines takes it.
  void Column(int y, int rows, float* out, bool stream = false) {
    for (int t = 0; t < slots_; ++t) {
      lines_[size_t(t)] = Slot(ReflectWhole(int64_t(y) + t - box_.reach(), rows));
    }
    WeightedFloatLines(lines_.data(), box_.weights(), slots_, width_, out, stream);
  }

 private:
  float* Slot(int k) { return data_.data() + size_t(k % slots_) * size_t(width_); }

  const RepeatedBox& box_;
  int width_, slots_, next_ = 0;
  std::vector<float> data_;
  std::vector<const float*> lines_;
};

// The four gradients of the cells of a row pair: horizontal, vertical, diagonal and
// anti-diagonal, weighted.
ZEP_VECTOR_CLONES void Gradients(const float* top, const float* bottom, int cw, float* __restrict h,
                                 float* __restrict v, float* __restrict d, float* __restrict a) {
  for (int l = 0; l < cw; ++l) {
    const float tl = top[l], tr = top[l + 1], bl = bottom[l], br = bottom[l + 1];
    h[l] = std::fabs((tr - tl) + (br - bl)) * 0.5f;
    v[l] = std::fabs((bl - tl) + (br - tr)) * 0.5f;
    d[l] = std::fabs(br - tl) * 0.7071f;
    a[l] = std::fabs(tr - bl) * 0.7071f;
  }
}

// The mean of three samples as the plane smoothing takes it, in double.
inline float MeanOfThree(float a, float b, float c) {
  return float((double(a) + double(b) + double(c)) * (1.0 / 3.0));
}

ZEP_VECTOR_CLONES void MeanOfThreeRows(const float* up, const float* mid, const float* down, int n,
                                       float* __restrict out) {
  for (int i = 0; i < n; ++i) out[i] = MeanOfThree(up[i], mid[i], down[i]);
}

// Interior samples the mean of their neighbours and themselves; the end samples kept.
ZEP_VECTOR_CLONES void MeanAlongRow(const float* in, int n, float* __restrict out) {
  out[0] = in[0];
  if (n < 3) {
    out[n - 1] = in[n - 1];
    return;
  }
  for (int i = 1; i < n - 1; ++i) out[i] = MeanOfThree(in[i - 1], in[i], in[i + 1]);
  out[n - 1] = in[n - 1];
}

ZEP_VECTOR_CLONES void ClassesOfRow(const float* h, const float* v, const float* d, const float* a,
                                    int n, uint8_t* __restrict out) {
  for (int l = 0; l < n; ++l) out[l] = uint8_t(1 + (d[l] >= a[l] ? 2 : 0) + (h[l] <= v[l] ? 1 : 0));
}

}  // namespace

const matrix& matrix::mbsclassify(cvector<uint8_t>& classes) const {
  classes.dim(n);
  std::fill(classes.x, classes.x + classes.n, uint8_t(0));
  const int cw = nx - 1, ch = ny - 1;
  if (cw < 1 || ch < 1) return *this;
  // Bands of cell rows, each with the cell row above and below that the vertical means
  // read: the rows a band keeps are smoothed exactly as in whole gradient planes, which
  // are never made.
  constexpr int kBand = 64;
  const int64_t bands = (int64_t(ch) + kBand - 1) / kBand;
  ScratchPool<float> stores;
  ParallelBlocks(bands, BlockFor(int64_t(cw) * kBand * 20), [&](int64_t b0, int64_t b1) {
    // The band buffers of earlier blocks serve again, already paged in.
    ScratchPool<float>::Lease lease(stores);
    std::vector<float>& store = *lease;
    for (int64_t b = b0; b < b1; ++b) {
      const int k0 = int(b * kBand), k1 = std::min(ch, k0 + kBand);
      const int g0 = std::max(0, k0 - 1), g1 = std::min(ch, k1 + 1), rows = g1 - g0;
      // Four gradient planes of the band's rows, then five rows: one for the vertical
      // means and one for each smoothed gradient.
      const size_t plane = size_t(rows) * size_t(cw), line = size_t(cw);
      store.resize(4 * plane + 5 * line);
      float* g[4];
      for (int e = 0; e < 4; ++e) g[e] = store.data() + size_t(e) * plane;
      float* down = store.data() + 4 * plane;
      float* smooth[4];
      for (int e = 0; e < 4; ++e) smooth[e] = down + size_t(e + 1) * line;
      for (int k = g0; k < g1; ++k) {
        const size_t at = size_t(k - g0) * line;
        Gradients(z[k], z[k + 1], cw, g[0] + at, g[1] + at, g[2] + at, g[3] + at);
      }
      // The 3 x 3 means of each gradient along a kept row, as the vertical then the
      // horizontal pass give them over the band (its first and last rows, like the
      // first and last column, keep their values).
      for (int k = k0; k < k1; ++k) {
        const int r = k - g0;
        for (int e = 0; e < 4; ++e) {
          const float* mid = g[e] + size_t(r) * line;
          if (r == 0 || r == rows - 1) {
            std::copy(mid, mid + cw, down);
          } else {
            MeanOfThreeRows(mid - line, mid, mid + line, cw, down);
          }
          MeanAlongRow(down, cw, smooth[e]);
        }
        ClassesOfRow(smooth[0], smooth[1], smooth[2], smooth[3], cw, classes.x + int64_t(k) * cw);
      }
    }
  });
  return *this;
}

matrix& matrix::bsplineprefilter() {
  matrix* const self = this;
  BsplinePrefilter(&self, 1);
  return *this;
}

void BsplinePrefilter(matrix* const* planes, int count) {
  // The rows in groups of kGroup, each group turned on its side so that the column code
  // runs the rows' recursions side by side; alone, each row waits on its own previous step.
  // The groups of all the planes share one loop, and then their strips of columns another:
  // a plane of a picture gives each thread only a few short blocks.
  constexpr int kGroup = 16;
  // The first item of each plane in a loop's list, and after the last the item count.
  auto firsts = [&](auto itemsOf) {
    std::vector<int64_t> first(size_t(count) + 1, 0);
    for (int p = 0; p < count; ++p) {
      first[size_t(p) + 1] = first[size_t(p)] + (planes[p]->n == 0 ? 0 : itemsOf(*planes[p]));
    }
    return first;
  };
  // The plane of an item and the item's place in it.
  auto locate = [&](const std::vector<int64_t>& first, int64_t item, int64_t& within) {
    const int p = int(std::upper_bound(first.begin(), first.end(), item) - first.begin()) - 1;
    within = item - first[size_t(p)];
    return p;
  };
  int64_t widest = 0;
  for (int p = 0; p < count; ++p) {
    widest = std::max<int64_t>(widest, planes[p]->nx);
  }
  const std::vector<int64_t> groups =
      firsts([](const matrix& m) { return (int64_t(m.ny) + kGroup - 1) / kGroup; });
  // The blocks' buffers, each set up once and then reused by later blocks: clearing fresh
  // ones for every block cost a good part of the filter.
  ScratchPool<float> sides;
  ScratchPool<double> sums;
  ParallelBlocks(groups.back(), BlockFor(widest * 12 * kGroup), [&](int64_t g0, int64_t g1) {
    ScratchPool<float>::Lease sideLease(sides);
    ScratchPool<double>::Lease sumLease(sums);
    sideLease->resize(std::max(sideLease->size(), size_t(widest) * kGroup));
    sumLease->resize(std::max(sumLease->size(), size_t(widest) * kGroup + kGroup));
    float* const side = sideLease->data();
    double* const p = sumLease->data();
    for (int64_t g = g0; g < g1; ++g) {
      int64_t within = 0;
      matrix& m = *planes[locate(groups, g, within)];
      const int nx = m.nx;
      double* const q = p + size_t(nx) * kGroup;
      const int r0 = int(within * kGroup), width = std::min(kGroup, m.ny - r0);
      matrix turned(side, width, nx);
      float* const* rows = m.z + r0;
      float* at = side;
      for (int i = 0; i < nx; ++i, at += width) {
        for (int k = 0; k < width; ++k) at[k] = rows[k][i];
      }
      PrefilterColumns(turned, 0, width, p, q);
      at = side;
      for (int i = 0; i < nx; ++i, at += width) {
        for (int k = 0; k < width; ++k) rows[k][i] = at[k];
      }
    }
  });
  // The columns of a strip side by side, so that every step of the recursion reads and
  // writes along a row; a column gets the very operations a row gets. Strips are whole
  // vectors wide, with no columns left over for a scalar tail.
  auto stripOf = [](const matrix& m) {
    return (BlockFor(int64_t(m.ny) * 12) + kGroup - 1) / kGroup * kGroup;
  };
  const std::vector<int64_t> strips =
      firsts([&](const matrix& m) { return (int64_t(m.nx) + stripOf(m) - 1) / stripOf(m); });
  ParallelBlocks(strips.back(), 1, [&](int64_t s0, int64_t s1) {
    ScratchPool<double>::Lease lease(sums);
    for (int64_t s = s0; s < s1; ++s) {
      int64_t within = 0;
      matrix& m = *planes[locate(strips, s, within)];
      const int64_t strip = stripOf(m), c0 = within * strip;
      const int64_t c1 = std::min<int64_t>(m.nx, c0 + strip);
      const size_t width = size_t(c1 - c0), rows = size_t(m.ny);
      lease->resize(std::max(lease->size(), width * rows + width));
      PrefilterColumns(m, int(c0), int(c1 - c0), lease->data(), lease->data() + width * rows);
    }
  });
}

matrix& matrix::mbsfill(const matrix& coefficients, const cvector<uint8_t>& classes, int c) {
  const int W = coefficients.nx, H = coefficients.ny;
  dim(SaturatedLength(int64_t(c) * W), SaturatedLength(int64_t(c) * H));
  if (n == 0 || c < 1) return *this;
  const BlockFill fill(coefficients, classes, c);
  if (ParallelBlocksTicking(
          ny, BlockFor(int64_t(nx) * 2),
          [&](int64_t y0, int64_t y1) {
            for (int64_t y = y0; y < y1; ++y) fill.Row(int(y), z[y]);
          },
          std::max(H - 1, 0))) {
    throw Cancelled{};
  }
  return *this;
}

matrix& matrix::boxblur(int a, int passes) {
  if (a < 1 || std::min(nx, ny) < a || passes < 1) return *this;
  const RepeatedBox box(a, passes);
  const int R = box.reach();
  // Along rows: each row through a copy with its mirrored ends.
  if (ParallelBlocksTicking(
          ny, BlockFor(int64_t(nx) * box.taps()),
          [&](int64_t r0, int64_t r1) {
            std::vector<float> line(size_t(nx) + 2 * size_t(R));
            for (int64_t r = r0; r < r1; ++r) {
              std::copy(z[r], z[r] + nx, line.begin() + R);
              box.Row(line.data(), nx, z[r]);
            }
          },
          int64_t(passes) * ny)) {
    throw Cancelled{};
  }
  // Along columns: strips of kStrip columns, each strip's rows kept in a ring until the
  // last output that reads them is written. One tick per column.
  constexpr int kStrip = 256;
  const int64_t strips = (int64_t(nx) + kStrip - 1) / kStrip;
  if (ParallelBlocksTicking(
          strips, BlockFor(int64_t(kStrip) * ny * box.taps()),
          [&](int64_t s0, int64_t s1) {
            for (int64_t s = s0; s < s1; ++s) {
              const int c0 = int(s * kStrip), width = std::min(kStrip, nx - c0);
              RowRing ring(box, width);
              for (int r = 0; r < ny; ++r) {
                ring.Advance(r, ny, [&](int k, float* slot) {
                  std::copy(z[k] + c0, z[k] + c0 + width, slot);
                });
                ring.Column(r, ny, z[r] + c0);
              }
            }
          },
          int64_t(passes) * nx)) {
    throw Cancelled{};
  }
  return *this;
}

matrix& MbsFillBlur(matrix& out, const matrix& coefficients, const cvector<uint8_t>& classes,
                    int c) {
  matrix* const outs = &out;
  const matrix* const from = &coefficients;
  MbsFillBlur(&outs, &from, 1, classes, c);
  return out;
}

void MbsFillBlur(matrix* const* outs, const matrix* const* coefficients, int count,
                 const cvector<uint8_t>& classes, int c) {
  constexpr int kPasses = 3;
  if (count <= 0) return;
  const int W = coefficients[0]->nx, H = coefficients[0]->ny;
  if (c < 1 || std::min(W, H) < 1) {
    for (int k = 0; k < count; ++k) {
      outs[k]->mbsfill(*coefficients[k], classes, c).boxblur(c, kPasses);
    }
    return;
  }
  for (int k = 0; k < count; ++k) {
    outs[k]->dim(SaturatedLength(int64_t(c) * W), SaturatedLength(int64_t(c) * H));
  }
  if (outs[0]->n == 0) return;
  const int nx = outs[0]->nx, ny = outs[0]->ny;
  // The fill's rows go straight through the row pass into the ring of the column pass, so
  // the filled plane is never written: each output row gets the bits of the two steps.
  std::vector<BlockFill> fills;
  fills.reserve(size_t(count));
  for (int k = 0; k < count; ++k) fills.emplace_back(*coefficients[k], classes, c);
  const RepeatedBox box(c, kPasses);
  const int R = box.reach();
  const int64_t ticks = std::max(H - 1, 0) + int64_t(kPasses) * (int64_t(nx) + ny);
  // A block fills and filters 2 R rows past its own and sets up its ring, so blocks take
  // many rows: a hundred or more keep that work to a few percent, and leave a picture
  // enough blocks to share among the threads evenly. The planes share the loop.
  const int64_t block = std::max<int64_t>(BlockFor(int64_t(nx) * box.taps() * 3),
                                          std::max<int64_t>(16 * int64_t(R), 128));
  if (PlaneRowsTicking(
          count, ny, block,
          [&](int k, int64_t y0, int64_t y1) {
            std::vector<float> line(size_t(nx) + 2 * size_t(R));
            RowRing ring(box, nx);
            ring.StartAt(int(y0));
            const BlockFill& fill = fills[size_t(k)];
            float* const* out = outs[k]->z;
            for (int64_t y = y0; y < y1; ++y) {
              ring.Advance(int(y), ny, [&](int row, float* slot) {
                fill.Row(row, line.data() + R);
                box.Row(line.data(), nx, slot);
              });
              ring.Column(int(y), ny, out[y], true);
            }
          },
          ticks * count)) {
    throw Cancelled{};
  }
}
