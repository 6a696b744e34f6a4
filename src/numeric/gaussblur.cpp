// The Gaussian blur: two one-dimensional passes of the kernel gaussian(sigma, 3), and the
// masked blur that works on a mirrored tile around the mask.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "numeric/bitmask.h"
#include "numeric/gaussrows.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
struct PassKernel {
  std::vector<float> taps;
  std::vector<double> weights;  // the taps as the weights of WeightedLines
  int f = 0;
  // For lines of borderLength samples: the sum of the inside taps' weights of each sample
  // BorderSums computes, in its order (see KeepBorderWeights).
  int borderLength = -1;
  std::vector<double> borderWeights;
  int length() const { return int(taps.size()); }
};

// The kernel for lines of `length` samples. A kernel longer than 2 length + 1 renormalises
// every sample and meets none beyond offset length - 1, so only those central taps are
// made: an absurd sigma costs no more than a wide one, and the scale of the taps cancels.
PassKernel MakeKernel(float sigma, int length) {
  PassKernel k;
  const int full = GaussianLength(sigma, 3.0f);
  if (full <= 2 * int64_t(length) + 1) {
    matrix g;
    g.gaussian(sigma, 3.0f);
    k.taps.assign(g.x, g.x + g.n);
  } else {
    k.taps.resize(size_t(2 * length - 1));
    for (int i = 0; i < k.length(); ++i) {
      k.taps[size_t(i)] = float(KernelGaussian(i - (length - 1), sigma));
    }
  }
  k.f = k.length() / 2;
  k.weights.assign(k.taps.begin(), k.taps.end());
  return k;
}

// The taps j whose sample p - f + j lies inside a line of n, and the sum of their weights.
struct InsideTaps {
  int lo, hi;
  double weight = 0.0;
  InsideTaps(const PassKernel& k, int p, int n, bool sumWeights = true)
      : lo(std::max(0, k.f - p)), hi(int(std::min<int64_t>(k.length(), int64_t(n) + k.f - p))) {
    if (!sumWeights) return;
    for (int j = lo; j < hi; ++j) weight += k.taps[size_t(j)];
  }
};

// Whether sample p of a line of n takes the plain sum (all taps inside, not one of the
// last f + 1).
bool Plain(const PassKernel& k, int p, int n) { return p >= k.f && p <= n - k.f - 2; }

// Calls sample(p) for the first f and the last f + 1 samples p of a line of n, in order.
template <class Sample>
void EachBorderSample(const PassKernel& k, int n, const Sample& sample) {
  for (int p = 0; p < n; ++p) {
    if (Plain(k, p, n)) {
      p = n - k.f - 2;
      continue;
    }
    sample(p);
  }
}

// Sums the inside taps' weights once for every line of n: a line's own sums of them cost
// as much as its border samples.
void KeepBorderWeights(PassKernel& k, int n) {
  k.borderLength = n;
  k.borderWeights.clear();
  EachBorderSample(k, n, [&](int p) { k.borderWeights.push_back(InsideTaps(k, p, n).weight); });
}

// The first f and the last f + 1 samples of a line b of n: the taps inside, renormalised.
template <class T>
void BorderSums(const PassKernel& k, const T* b, float* out, int n) {
  size_t i = 0;
  EachBorderSample(k, n, [&](int p) {
    const bool kept = k.borderLength == n;
    const InsideTaps t(k, p, n, !kept);
    const double weight = kept ? k.borderWeights[i++] : t.weight;
    double s = 0.0;
    for (int j = t.lo; j < t.hi; ++j) s += double(k.taps[size_t(j)]) * b[p - k.f + j];
    out[p] = float(s / weight);
  });
}

// One line along a row: b holds its original samples, out receives the results.
void RowPass(const PassKernel& k, int flag, const float* b, float* out, int n) {
  const int plain = n - k.length();
  if (plain > 0) {
    std::vector<const float*> lines(size_t(k.length()));
    for (int j = 0; j < k.length(); ++j) lines[size_t(j)] = b + j;
    WeightedLines(lines.data(), k.weights.data(), lines.size(), plain, Sink{nullptr, out + k.f});
  }
  if (flag == 0) BorderSums(k, b, out, n);
}

// Columns of a strip are this many wide: the rows the kernel meets stay in cache.
constexpr int kStrip = 256;
}  // namespace

matrix& matrix::gaussblurx(float sigma, int flag) {
  if (!(sigma > 0.0f) || n == 0) return *this;
  PassKernel k = MakeKernel(sigma, nx);
  if (flag == 0) KeepBorderWeights(k, nx);
  ParallelBlocks(ny, BlockFor(int64_t(nx) * k.length()), [&](int64_t j0, int64_t j1) {
    std::vector<float> line(static_cast<size_t>(nx));
    for (int64_t j = j0; j < j1; ++j) {
      std::copy(z[j], z[j] + nx, line.begin());
      RowPass(k, flag, line.data(), z[j], nx);
    }
  });
  return *this;
}

matrix& matrix::gaussblury(float sigma, int flag) {
  if (!(sigma > 0.0f) || n == 0) return *this;
  const PassKernel k = MakeKernel(sigma, ny);
  const int64_t strips = (int64_t(nx) + kStrip - 1) / kStrip;
  const int L = k.length(), f = k.f, slots = f + 1;
  ParallelBlocks(strips, BlockFor(int64_t(kStrip) * ny * L), [&](int64_t s0, int64_t s1) {
    // The originals of the last f + 1 rows: the rows above p are still in the plane.
    std::vector<float> ring(size_t(slots) * kStrip);
    std::vector<const float*> lines(static_cast<size_t>(L));
    std::vector<double> sums(static_cast<size_t>(kStrip));
    for (int64_t s = s0; s < s1; ++s) {
      const int c0 = int(s * kStrip), w = std::min(kStrip, nx - c0);
      int p = 0;
      const auto row = [&](int r) -> const float* {
        return r <= p ? ring.data() + size_t(r % slots) * kStrip : z[r] + c0;
      };
      for (; p < ny; ++p) {
        std::copy(z[p] + c0, z[p] + c0 + w, ring.begin() + ptrdiff_t(p % slots) * kStrip);
        if (Plain(k, p, ny)) {
          for (int j = 0; j < L; ++j) lines[size_t(j)] = row(p - f + j);
          WeightedLines(lines.data(), k.weights.data(), size_t(L), w, Sink{nullptr, z[p] + c0});
        } else if (flag == 0) {
          const InsideTaps t(k, p, ny);
          for (int j = t.lo; j < t.hi; ++j) lines[size_t(j - t.lo)] = row(p - f + j);
          WeightedLines(lines.data(), k.weights.data() + t.lo, size_t(t.hi - t.lo), w,
                        Sink{sums.data()});
          for (int c = 0; c < w; ++c) z[p][c0 + c] = float(sums[size_t(c)] / t.weight);
        }
      }
    }
  });
  return *this;
}

matrix& matrix::gaussblur(float sx, float sy, const bitmask* mask) {
  if (mask == nullptr || !mask->covers(nx, ny)) return gaussblury(sy, 0).gaussblurx(sx, 0);
  int count = 0, bx = 0, by = 0, bw = 0, bh = 0;
  mask->bounds(count, bx, by, bw, bh);
  if (count == 0 || n == 0) return *this;
  const int fx = GaussianLength(sx, 3.0f) / 2, fy = GaussianLength(sy, 3.0f) / 2;
  // fx columns and fy rows before the box, fx + 1 and fy + 1 after it: flag 1 then computes
  // exactly the box.
  matrix tile(bw + 2 * fx + 1, bh + 2 * fy + 1);
  tile.extract(*this, bx - fx, by - fy);
  tile.gaussblury(sy, 1).gaussblurx(sx, 1);
  return pasteinner(bx, by, tile, mask, fx, fx + 1, fy, fy + 1);
}

matrix& matrix::gaussbluri(int sigma, const bitmask* mask) {
  return gaussblur(float(sigma), float(sigma), mask);
}

// The row-at-a-time blur: the column pass of a block of rows reads a ring of the source
// rows converted to double once each (the column pass above converts every sample once per
// tap), and its row goes straight into the row pass. Every sum adds the same exact products
// (float taps times float samples fit a double) in the same order as the two passes above,
// so the rows are the same bits.
namespace {
// dst[x] = double(float(sum over k of weight[k] * line[k][x])), or of that sum / divisor.
void ColumnSumsPortable(const double* const* line, const double* weight, int count, int n,
                        double divisor, double* dst) {
  for (int x = 0; x < n; ++x) {
    double s = 0.0;
    for (int k = 0; k < count; ++k) s += weight[k] * line[k][x];
    dst[x] = double(float(divisor == 1.0 ? s : s / divisor));
  }
}

// The column pass works on chunks of kChunk rows in strips of kStripColumns: the source rows
// of a strip stay in the first-level cache for every row of the chunk, where a whole row at
// a time reads the ring of L rows from further away for each row.
constexpr int kChunk = 8, kStripColumns = 64;

// out[p] for the plain samples p in [f, n - f - 1) of a line d of n samples.
void RowSumsPortable(const double* d, const double* weight, int length, int n, float* out) {
  const int f = length / 2;
  for (int p = f; p < n - f - 1; ++p) {
    double s = 0.0;
    for (int j = 0; j < length; ++j) s += weight[j] * d[p - f + j];
    out[p] = float(s);
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZEP_GAUSS_AVX2 1
// 32 sums at a time in eight registers, as in WeightedLines.
__attribute__((target("avx2,fma"))) void ColumnSumsAvx2(const double* const* line,
                                                        const double* weight, int count, int n,
                                                        double divisor, double* dst) {
  constexpr int kVectors = 8, kBlock = 4 * kVectors;
  const __m256d div = _mm256_set1_pd(divisor);
  int x = 0;
  for (; x + kBlock <= n; x += kBlock) {
    __m256d s[kVectors];
    for (__m256d& v : s) v = _mm256_setzero_pd();
    for (int k = 0; k < count; ++k) {
      const double* src = line[k] + x;
      const __m256d wt = _mm256_set1_pd(weight[k]);
      for (int v = 0; v < kVectors; ++v) {
        s[v] = _mm256_fmadd_pd(wt, _mm256_loadu_pd(src + 4 * v), s[v]);
      }
    }
    for (int v = 0; v < kVectors; ++v) {
      const __m256d q = divisor == 1.0 ? s[v] : _mm256_div_pd(s[v], div);
      _mm256_storeu_pd(dst + x + 4 * v, _mm256_cvtps_pd(_mm256_cvtpd_ps(q)));
    }
  }
  for (; x < n; ++x) {
    double s = 0.0;
    for (int k = 0; k < count; ++k) s += weight[k] * line[k][x];
    dst[x] = double(float(divisor == 1.0 ? s : s / divisor));
  }
}

__attribute__((target("avx2,fma"))) void RowSumsAvx2(const double* d, const double* weight,
                                                     int length, int n, float* out) {
  constexpr int kVectors = 8, kBlock = 4 * kVectors;
  const int f = length / 2, end = n - f - 1;
  int p = f;
  for (; p + kBlock <= end; p += kBlock) {
    __m256d s[kVectors];
    for (__m256d& v : s) v = _mm256_setzero_pd();
    for (int j = 0; j < length; ++j) {
      const double* src = d + (p - f + j);
      const __m256d wt = _mm256_set1_pd(weight[j]);
      for (int v = 0; v < kVectors; ++v) {
        s[v] = _mm256_fmadd_pd(wt, _mm256_loadu_pd(src + 4 * v), s[v]);
      }
    }
    for (int v = 0; v < kVectors; ++v) _mm_storeu_ps(out + p + 4 * v, _mm256_cvtpd_ps(s[v]));
  }
  for (; p < end; ++p) {
    double s = 0.0;
    for (int j = 0; j < length; ++j) s += weight[j] * d[p - f + j];
    out[p] = float(s);
  }
}
#endif

void ColumnSums(const double* const* line, const double* weight, int count, int n,
                double divisor, double* dst) {
#ifdef ZEP_GAUSS_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) return ColumnSumsAvx2(line, weight, count, n, divisor, dst);
#endif
  ColumnSumsPortable(line, weight, count, n, divisor, dst);
}

// BorderSums of a line d of n samples that has f zeros before it and f after: every
// border sample adds all L taps, the zeros too, in a loop that vectorises. The terms beyond
// the line are +0 and a sum that starts at +0 is never -0, so each adds nothing: the same
// sums, divided by the kept weights.
ZEP_VECTOR_CLONES void PaddedBorderSums(const PassKernel& k, const double* d, float* out, int n) {
  const int L = k.length(), f = k.f;
  const double* weight = k.weights.data();
  const double* kept = k.borderWeights.data();
  constexpr int kMost = 64;
  double s[kMost];
  // The first f samples, then the last f + 1.
  for (int side = 0; side < 2; ++side) {
    const int first = side == 0 ? 0 : std::max(f, n - f - 1);
    const int end = side == 0 ? std::min(f, n) : n;
    for (int p0 = first; p0 < end; p0 += kMost) {
      const int count = std::min(kMost, end - p0);
      const double* line = d + p0 - f;
      for (int i = 0; i < count; ++i) s[i] = 0.0;
      for (int j = 0; j < L; ++j) {
        const double wt = weight[j];
        for (int i = 0; i < count; ++i) s[i] += wt * line[i + j];
      }
      const double* divisor = kept + (side == 0 ? p0 : std::min(f, n) + (p0 - first));
      for (int i = 0; i < count; ++i) out[p0 + i] = float(s[i] / divisor[i]);
    }
  }
}

// Widens a row of n floats into d.
ZEP_VECTOR_CLONES void Widen(const float* src, double* __restrict d, int n) {
  for (int i = 0; i < n; ++i) d[i] = src[i];
}

// The row pass of gaussblurx (flag 0) over a line already in double, with f zeros on each
// side.
void RowSums(const PassKernel& k, const double* d, int n, float* out) {
#ifdef ZEP_GAUSS_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) {
    RowSumsAvx2(d, k.weights.data(), k.length(), n, out);
  } else {
    RowSumsPortable(d, k.weights.data(), k.length(), n, out);
  }
#else
  RowSumsPortable(d, k.weights.data(), k.length(), n, out);
#endif
  PaddedBorderSums(k, d, out, n);
}
}  // namespace

void GaussianBlurRows(matrix& plane, float sigma,
                      const std::function<void(int64_t y, const float* row)>& sink) {
  if (plane.n == 0) return;
  const int nx = plane.nx, ny = plane.ny;
  float* const* z = plane.z;
  const int L = GaussianLength(sigma, 3.0f);
  // Each worker keeps a ring of the L + kChunk - 1 source rows of a chunk in double: beyond
  // 16 MB (a sigma of some 80 on rows of 4000) a copy of the plane costs less.
  const bool ringFits = (int64_t(L) + kChunk - 1) * nx <= (int64_t{1} << 21);
  if (!(sigma > 0.0f) || !std::isfinite(sigma) || L >= nx || L >= ny || !ringFits) {
    // Lines not longer than the kernel, or a very wide one: the two passes on a copy.
    matrix blurred(plane);
    blurred.gaussblur(sigma, sigma, nullptr);
    ParallelBlocks(ny, BlockFor(nx), [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y) sink(y, blurred.z[y]);
    });
    return;
  }
  PassKernel k = MakeKernel(sigma, ny);  // the whole kernel: L < nx and L < ny
  KeepBorderWeights(k, nx);
  const int f = k.f, w = nx;
  // Blocks of at least 6 L rows keep the rows read twice (each block's first and last f
  // and its start-up) a small part of the work.
  const int64_t block = std::max<int64_t>(BlockFor(int64_t(w) * L * 2), 6 * int64_t(L));
  const int64_t blocks = (ny + block - 1) / block;
  // The sink may overwrite a block's rows while the neighbouring blocks still need them:
  // the f rows on each side of every boundary between blocks are kept first.
  const int64_t halo = 2 * int64_t(f);
  // The buffers are written before they are read: not cleared first.
  const auto halos = std::make_unique_for_overwrite<float[]>(
      size_t(std::max<int64_t>(0, blocks - 1) * halo) * size_t(w));
  const auto haloRow = [&](int64_t boundary, int64_t r) {
    return halos.get() + size_t((boundary - 1) * halo + (r - (boundary * block - f))) * size_t(w);
  };
  ParallelBlocks(blocks - 1, 1, [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0 + 1; b <= b1; ++b) {
      const int64_t top = std::min<int64_t>(b * block + f, ny);
      for (int64_t r = b * block - f; r < top; ++r) std::copy(z[r], z[r] + w, haloRow(b, r));
    }
  });
  const int ringRows = kChunk + L - 1;
  ParallelBlocks(blocks, 1, [&](int64_t b0, int64_t b1) {
    const auto ring = std::make_unique_for_overwrite<double[]>(size_t(ringRows) * size_t(w));
    // Each row of sums has f zeros on either side for the border samples of the row pass.
    const size_t padded = size_t(w) + 2 * size_t(f);
    const auto sums = std::make_unique<double[]>(size_t(kChunk) * padded);
    const auto out = std::make_unique_for_overwrite<float[]>(size_t(w));
    std::vector<const double*> lines(static_cast<size_t>(L));
    struct ChunkRow {
      bool plain = true;
      int first = 0, count = 0;
      double divisor = 1.0;
      std::vector<const double*> lines;
    };
    std::vector<ChunkRow> rows(kChunk);
    for (ChunkRow& c : rows) c.lines.resize(size_t(L));
    const auto slot = [&](int64_t r) { return ring.get() + size_t(r % ringRows) * size_t(w); };
    for (int64_t b = b0; b < b1; ++b) {
      const int64_t y0 = b * block, y1 = std::min<int64_t>(y0 + block, ny);
      const auto source = [&](int64_t r) -> const float* {
        if (r < y0) return haloRow(b, r);
        if (r >= y1) return haloRow(b + 1, r);
        return z[r];
      };
      int64_t next = std::max<int64_t>(0, y0 - f);
      for (int64_t p0 = y0; p0 < y1; p0 += kChunk) {
        const int64_t p1 = std::min<int64_t>(p0 + kChunk, y1);
        for (; next <= std::min<int64_t>(p1 - 1 + f, ny - 1); ++next) {
          Widen(source(next), slot(next), w);
        }
        // The ring rows each output row of the chunk reads, found once for all strips.
        for (int64_t p = p0; p < p1; ++p) {
          ChunkRow& c = rows[size_t(p - p0)];
          c.plain = Plain(k, int(p), ny);
          const InsideTaps t(k, int(p), ny, !c.plain);  // all L taps when plain
          c.first = t.lo;
          c.count = t.hi - t.lo;
          c.divisor = c.plain ? 1.0 : t.weight;
          for (int j = 0; j < c.count; ++j) c.lines[size_t(j)] = slot(p - f + c.first + j);
        }
        for (int c0 = 0; c0 < w; c0 += kStripColumns) {
          const int cw = std::min(kStripColumns, w - c0);
          for (int64_t p = p0; p < p1; ++p) {
            const ChunkRow& c = rows[size_t(p - p0)];
            double* dst = sums.get() + size_t(p - p0) * padded + size_t(f) + size_t(c0);
            for (int j = 0; j < c.count; ++j) lines[size_t(j)] = c.lines[size_t(j)] + c0;
            ColumnSums(lines.data(), k.weights.data() + c.first, c.count, cw, c.divisor, dst);
          }
        }
        for (int64_t p = p0; p < p1; ++p) {
          RowSums(k, sums.get() + size_t(p - p0) * padded + size_t(f), w, out.get());
          sink(p, out.get());
        }
      }
    }
  });
}
