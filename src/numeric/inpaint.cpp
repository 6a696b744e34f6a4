// The initial fill of diffusion inpainting (mean propagation inward, then 3 x 3 averaging
// until it settles) and the lattice mask of the enlargement preparation.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
// Sweeps of the initial averaging before it gives up settling.
constexpr int kMaxSweeps = 10000;
}  // namespace

matrix& matrix::fillmasked(const bitmask& region) {
  if (n == 0 || !region.covers(nx, ny)) return *this;
  int count = 0, bx = 0, by = 0, bw = 0, bh = 0;
  region.bounds(count, bx, by, bw, bh);
  if (count == 0) return *this;
  // Border pixels are never changed here, so every pixel of the box has eight neighbours.
  const int x0 = std::max(bx, 1), x1 = std::min(bx + bw, nx - 1) - 1;
  const int y0 = std::max(by, 1), y1 = std::min(by + bh, ny - 1) - 1;
  if (x0 > x1 || y0 > y1) return *this;

  // The known pixels over the box and a margin of one: 1 known, 0 not yet.
  const int kw = x1 - x0 + 3, kh = y1 - y0 + 3;
  std::vector<uint8_t> known(size_t(kw) * size_t(kh));
  for (int j = 0; j < kh; ++j) {
    for (int i = 0; i < kw; ++i) known[size_t(j) * kw + i] = !region.get(x0 - 1 + i, y0 - 1 + j);
  }
  std::vector<uint8_t> filled(known.size());
  const int rows = y1 - y0 + 1, cols = x1 - x0 + 1;
  const int passes = std::max(nx, ny);
  for (int pass = 0; pass < passes; ++pass) {
    // Each pass reads the known set as it was at its start and writes only unknown pixels,
    // so its rows are independent.
    std::vector<uint8_t> pending(static_cast<size_t>(rows)), wrote(static_cast<size_t>(rows));
    ParallelBlocks(rows, BlockFor(9 * int64_t(cols)), [&](int64_t r0, int64_t r1) {
      for (int64_t r = r0; r < r1; ++r) {
        const int y = y0 + int(r);
        const uint8_t* k = known.data() + size_t(r + 1) * kw;
        uint8_t* f = filled.data() + size_t(r + 1) * kw;
        for (int c = 0; c < cols; ++c) {
          if (k[c + 1]) continue;
          pending[size_t(r)] = 1;
          double sum = 0.0;
          int m = 0;
          for (int dj = -1; dj <= 1; ++dj) {
            const uint8_t* kr = k + ptrdiff_t(dj) * kw;
            const float* pr = z[y + dj];
            for (int di = -1; di <= 1; ++di) {
              if (kr[c + 1 + di]) {
                sum += pr[x0 + c + di];
                ++m;
              }
            }
          }
          if (m == 0) continue;
          z[y][x0 + c] = float(sum / m);
          f[c + 1] = 1;
          wrote[size_t(r)] = 1;
        }
      }
    });
    if (std::find(pending.begin(), pending.end(), 1) == pending.end()) break;
    // A pass that reached nothing reaches nothing later either.
    if (std::find(wrote.begin(), wrote.end(), 1) == wrote.end()) break;
    // The pixels filled in this pass are known in the next. Growing the known set by a
    // dilation would miss pixels whose only known neighbours lie on the image border, and
    // the fill would stall there.
    for (size_t k = 0; k < known.size(); ++k) known[k] |= filled[k];
  }
  return *this;
}

matrix& matrix::inpaintinit(const bitmask& region, float tolerance) {
  if (n == 0 || !region.covers(nx, ny)) return *this;
  fillmasked(region);
  std::vector<int32_t> xs, ys;
  bool border = false;
  for (int y = 0; y < ny; ++y) {
    for (int x = 0; x < nx; ++x) {
      if (!region.get(x, y)) continue;
      xs.push_back(x);
      ys.push_back(y);
      border = border || x == 0 || y == 0 || x == nx - 1 || y == ny - 1;
    }
  }
  const int64_t count = int64_t(xs.size());
  if (count == 0) return *this;
  std::vector<float> next(xs.size());
  const int64_t block = BlockFor(9);
  const int64_t blocks = (count + block - 1) / block;
  std::vector<float> changes(static_cast<size_t>(blocks));
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    ParallelBlocks(count, block, [&](int64_t i0, int64_t i1) {
      float m = 0.0f;
      for (int64_t i = i0; i < i1; ++i) {
        const int x = xs[size_t(i)], y = ys[size_t(i)];
        double sum = 0.0;
        if (border) {
          for (int dj = -1; dj <= 1; ++dj) {
            const float* row = z[ReflectWhole(y + dj, ny)];
            for (int di = -1; di <= 1; ++di) sum += row[ReflectWhole(x + di, nx)];
          }
        } else {
          for (int dj = -1; dj <= 1; ++dj) {
            const float* row = z[y + dj];
            sum += double(row[x - 1]) + row[x] + row[x + 1];
          }
        }
        const float v = float(sum * (1.0 / 9.0));
        next[size_t(i)] = v;
        m = std::max(m, std::fabs(v - z[y][x]));
      }
      changes[size_t(i0 / block)] = m;
    });
    float m = 0.0f;
    for (float c : changes) m = std::max(m, c);
    for (int64_t i = 0; i < count; ++i) z[ys[size_t(i)]][xs[size_t(i)]] = next[size_t(i)];
    if (m <= tolerance) break;
  }
  return *this;
}

bitmask& bitmask::gridmask(int s, int w, int h, int offset) {
  dim(w, h);
  if (words > 0) std::memset(bits, 0, sizeof(uint32_t) * size_t(words));
  if (s >= 1) {
    int64_t d = s % 2 == 1 ? s / 2 : offset;
    // Lattice positions left of or below the image are skipped.
    if (d < 0) d += (-d + s - 1) / s * s;
    for (int64_t y = d; y < h; y += s) {
      for (int64_t x = d; x < w; x += s) set(int(x), int(y), true);
    }
  }
  return invert();
}
