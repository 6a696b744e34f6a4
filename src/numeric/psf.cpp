// The disc mean (lens blur) and its transpose, and the one-direction pieces the blurs are
// assembled from. Borders fold by whole-sample reflection, so a disc wider than the plane
// still reads real samples, and the transpose sends each contribution back to the sample
// that was read.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// The disc of radius r split into an inscribed square of side s (centred, handled as a
// separable box when s >= 3) and the cells around it, each at offset (dy, dx).
struct DiscSplit {
  int cells = 1;  // v: every cell of the disc
  int square = 0;
  std::vector<std::pair<int, int>> ring;
};

DiscSplit SplitDisc(int r) {
  DiscSplit d;
  const int side = 2 * r + 1;
  cmatrix disc(side, side);
  d.cells = disc.disk();
  int first = 0;
  while (first < side && !disc.rows[first][first]) ++first;
  d.square = side - 2 * first;
  const bool separable = d.square >= 3;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      if (!disc.rows[i][j]) continue;
      const bool inSquare =
          i >= first && i <= side - 1 - first && j >= first && j <= side - 1 - first;
      if (separable && inSquare) continue;
      d.ring.push_back({i - r, j - r});
    }
  }
  return d;
}

// The square's one-direction kernel: s taps of 1/sqrt(v), so rows then columns weigh
// each cell 1/v.
matrix SquareKernel(const DiscSplit& d) {
  matrix k(d.square, 1);
  k.fill(static_cast<float>(1.0 / std::sqrt(double(d.cells))));
  return k;
}

// out = the sum over the ring cells of input(m(y + dy), m(x + dx)) / v. Each block pads the
// rows it reads, r before and r after its own, by reflection.
void RingForward(const DiscSplit& d, int r, const matrix& in, matrix& out) {
  const int w = in.nx, h = in.ny;
  const int64_t padw = int64_t(w) + 2 * r;
  const double weight = 1.0 / d.cells;
  ParallelBlocks(h, BlockFor(int64_t(w) * int64_t(d.ring.size())), [&](int64_t y0, int64_t y1) {
    const int64_t rows = y1 - y0 + 2 * r;
    std::vector<float> padded(static_cast<size_t>(rows * padw));
    for (int64_t t = 0; t < rows; ++t) {
      const float* src = in.z[ReflectWhole(y0 - r + t, h)];
      float* row = padded.data() + t * padw;
      for (int64_t p = 0; p < r; ++p) row[p] = src[ReflectWhole(p - r, w)];
      std::copy(src, src + w, row + r);
      for (int64_t p = r + w; p < padw; ++p) row[p] = src[ReflectWhole(p - r, w)];
    }
    Lines lines;
    for (int64_t y = y0; y < y1; ++y) {
      lines.clear();
      for (const auto& [dy, dx] : d.ring) {
        lines.push(padded.data() + (y - y0 + r + dy) * padw + r + dx, weight);
      }
      lines.apply(w, {nullptr, out.z[y], false});
    }
  });
}

// out += the transpose of RingForward applied to in. Padded position (py, px), with py in
// -r .. h + r - 1 and px alike, gathers in(py - dy, px - dx) / v over the cells (zero
// outside the plane); each padded row is then folded onto the sample it stands for.
void RingAdjoint(const DiscSplit& d, int r, const matrix& in, matrix& out) {
  const int w = in.nx, h = in.ny;
  const int64_t zw = int64_t(w) + 4 * r, padw = int64_t(w) + 2 * r;
  // The padded rows that fold onto each row, in a fixed order.
  std::vector<std::vector<int>> sources(static_cast<size_t>(h));
  for (int py = -r; py < h + r; ++py) sources[size_t(ReflectWhole(py, h))].push_back(py);
  const double weight = 1.0 / d.cells;
  // A row gathers (h + 2r) / h padded rows on average.
  const int64_t cost = padw * int64_t(d.ring.size()) * (h + 2 * int64_t(r)) / h;
  ParallelBlocks(h, BlockFor(cost), [&](int64_t y0, int64_t y1) {
    // The input rows the block reads, with 2r zeros either side of each.
    int lo = h, hi = -1;
    for (int64_t y = y0; y < y1; ++y) {
      for (const int py : sources[size_t(y)]) {
        lo = std::min(lo, std::max(0, py - r));
        hi = std::max(hi, std::min(h - 1, py + r));
      }
    }
    const int64_t rows = std::max(0, hi - lo + 1);
    std::vector<float> zeroed(static_cast<size_t>(rows * zw), 0.0f);
    for (int64_t t = 0; t < rows; ++t) {
      std::copy(in.z[lo + t], in.z[lo + t] + w, zeroed.data() + t * zw + 2 * r);
    }
    std::vector<double> padded(static_cast<size_t>(padw)), acc(static_cast<size_t>(w));
    Lines lines;
    for (int64_t y = y0; y < y1; ++y) {
      std::fill(acc.begin(), acc.end(), 0.0);
      for (const int py : sources[size_t(y)]) {
        lines.clear();
        for (const auto& [dy, dx] : d.ring) {
          const int src = py - dy;
          if (src >= 0 && src < h) lines.push(zeroed.data() + (src - lo) * zw + r - dx, weight);
        }
        if (lines.line.empty()) continue;
        lines.apply(int(padw), {padded.data(), nullptr, false});
        for (int64_t p = 0; p < padw; ++p) acc[size_t(ReflectWhole(p - r, w))] += padded[size_t(p)];
      }
      float* row = out.z[y];
      for (int x = 0; x < w; ++x) row[x] = static_cast<float>(row[x] + acc[size_t(x)]);
    }
  });
}
}  // namespace

matrix& matrix::discpsf(int r, const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return discpsf(r, copy);
  }
  dim(input.nx, input.ny);
  if (n == 0) return *this;
  r = std::max(r, 0);
  const DiscSplit d = SplitDisc(r);
  if (d.ring.empty()) {
    zero();
  } else {
    RingForward(d, r, input, *this);
  }
  if (d.square >= 3) {
    const matrix k = SquareKernel(d);
    matrix columns;
    columns.correlatey(k, input);
    correlatexadd(k, columns);
  }
  return *this;
}

matrix& matrix::discpsfadj(int r, const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return discpsfadj(r, copy);
  }
  if (n == 0 || nx != input.nx || ny != input.ny) return *this;
  r = std::max(r, 0);
  const DiscSplit d = SplitDisc(r);
  if (!d.ring.empty()) RingAdjoint(d, r, input, *this);
  if (d.square >= 3) {
    const matrix k = SquareKernel(d);
    scatterxy(k, k, input);
  }
  return *this;
}

matrix& matrix::setdiscpsfadj(int r, const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return setdiscpsfadj(r, copy);
  }
  dim(input.nx, input.ny).zero();
  return discpsfadj(r, input);
}
