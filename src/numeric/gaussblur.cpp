// The Gaussian blur: two one-dimensional passes of the kernel gaussian(sigma, 3), and the
// masked blur that works on a mirrored tile around the mask.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
struct PassKernel {
  std::vector<float> taps;
  std::vector<double> weights;  // the taps as the weights of WeightedLines
  int f = 0;
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
  InsideTaps(const PassKernel& k, int p, int n)
      : lo(std::max(0, k.f - p)), hi(int(std::min<int64_t>(k.length(), int64_t(n) + k.f - p))) {
    for (int j = lo; j < hi; ++j) weight += k.taps[size_t(j)];
  }
};

// Whether sample p of a line of n takes the plain sum (all taps inside, not one of the
// last f + 1).
bool Plain(const PassKernel& k, int p, int n) { return p >= k.f && p <= n - k.f - 2; }

// One line along a row: b holds its original samples, out receives the results.
void RowPass(const PassKernel& k, int flag, const float* b, float* out, int n) {
  const int plain = n - k.length();
  if (plain > 0) {
    std::vector<const float*> lines(size_t(k.length()));
    for (int j = 0; j < k.length(); ++j) lines[size_t(j)] = b + j;
    WeightedLines(lines.data(), k.weights.data(), lines.size(), plain, Sink{nullptr, out + k.f});
  }
  if (flag != 0) return;
  for (int p = 0; p < n; ++p) {
    if (Plain(k, p, n)) {
      p = n - k.f - 2;
      continue;
    }
    const InsideTaps t(k, p, n);
    double s = 0.0;
    for (int j = t.lo; j < t.hi; ++j) s += double(k.taps[size_t(j)]) * b[p - k.f + j];
    out[p] = float(s / t.weight);
  }
}

// Columns of a strip are this many wide: the rows the kernel meets stay in cache.
constexpr int kStrip = 256;
}  // namespace

matrix& matrix::gaussblurx(float sigma, int flag) {
  if (!(sigma > 0.0f) || n == 0) return *this;
  const PassKernel k = MakeKernel(sigma, nx);
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
