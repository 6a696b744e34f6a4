// Kernel decimation by an integer factor and its exact transpose, and the kernels it is
// used with.
//
// The row pass splits each padded row into f phases (samples t with t mod f = p), so that
// every output of a row is a weighted sum of contiguous lines, like the filters' inner loop.
// Windows that reach past an end fold back by whole-sample reflection, as often as needed.
#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
struct Geometry {
  int f = 1;
  int off = 0;    // the window of output j starts at input j f - off
  int64_t len;    // padded samples a row of w outputs reads: (w - 1) f + n
  int64_t phase;  // samples per phase: ceil(len / f)
};

Geometry Measure(int f, int n, int w) {
  Geometry g;
  g.f = f;
  g.off = (n - f) / 2;
  g.len = int64_t(std::max(w, 1) - 1) * f + n;
  g.phase = (g.len + f - 1) / f;
  return g;
}

// For each of `count` outputs, the lines (index, weight) its window reads among `lines`
// lines; with transpose, for each line the outputs that read it. Both in a fixed order.
RowSources WindowSources(const Geometry& g, const matrix& kernel, int count, int lines,
                         bool transpose) {
  RowSources s(static_cast<size_t>(transpose ? lines : count));
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < kernel.n; ++k) {
      if (kernel.x[k] == 0.0f) continue;
      const int r = ReflectWhole(int64_t(i) * g.f - g.off + k, lines);
      if (transpose) {
        s[size_t(r)].push_back({i, kernel.x[k]});
      } else {
        s[size_t(i)].push_back({r, kernel.x[k]});
      }
    }
  }
  return s;
}

// t (w x H) = the rows of in (W x H) decimated.
void DecimateRows(const Geometry& g, const matrix& kernel, const matrix& in, matrix& t) {
  const int W = in.nx, w = t.nx, f = g.f;
  ParallelBlocks(in.ny, BlockFor(g.len + int64_t(w) * kernel.n), [&](int64_t y0, int64_t y1) {
    std::vector<float> phases(static_cast<size_t>(g.phase * f));
    Lines lines;
    for (int k = 0; k < kernel.n; ++k) {
      if (kernel.x[k] != 0.0f) lines.push(phases.data() + (k % f) * g.phase + k / f, kernel.x[k]);
    }
    for (int64_t y = y0; y < y1; ++y) {
      const float* row = in.z[y];
      for (int ph = 0; ph < f; ++ph) {
        float* phase = phases.data() + ph * g.phase;
        for (int64_t q = 0, p = ph; p < g.len; ++q, p += f)
          phase[q] = row[ReflectWhole(p - g.off, W)];
      }
      lines.apply(w, {nullptr, t.z[y], false});
    }
  });
}

// out (W x H) = the transpose of DecimateRows applied to t (w x H). Padded sample
// q f + p gathers kernel(p + m f) t(q - m) over m; each is then folded onto its sample.
void DecimateRowsAdjoint(const Geometry& g, const matrix& kernel, const matrix& t, matrix& out) {
  const int W = out.nx, w = t.nx, f = g.f;
  const int64_t reach = (kernel.n - 1) / f + 1;  // the largest m, plus one
  const int64_t zlen = w + 2 * reach;
  ParallelBlocks(t.ny, BlockFor(g.len * 2 + int64_t(w) * kernel.n), [&](int64_t y0, int64_t y1) {
    std::vector<float> zeroed(static_cast<size_t>(zlen), 0.0f);
    std::vector<double> phases(static_cast<size_t>(g.phase * f)), acc(static_cast<size_t>(W));
    std::vector<Lines> lines(static_cast<size_t>(f));
    for (int k = 0; k < kernel.n; ++k) {
      if (kernel.x[k] != 0.0f)
        lines[size_t(k % f)].push(zeroed.data() + reach - k / f, kernel.x[k]);
    }
    for (int64_t y = y0; y < y1; ++y) {
      std::copy(t.z[y], t.z[y] + w, zeroed.begin() + reach);
      for (int p = 0; p < f; ++p) {
        lines[size_t(p)].apply(int(g.phase), {phases.data() + p * g.phase, nullptr, false});
      }
      std::fill(acc.begin(), acc.end(), 0.0);
      for (int ph = 0; ph < f; ++ph) {
        const double* phase = phases.data() + ph * g.phase;
        for (int64_t q = 0, p = ph; p < g.len; ++q, p += f) {
          acc[size_t(ReflectWhole(p - g.off, W))] += phase[q];
        }
      }
      float* row = out.z[y];
      for (int x = 0; x < W; ++x) row[x] = static_cast<float>(acc[size_t(x)]);
    }
  });
}

int Factor(int f, int large, int small) {
  if (f <= 0) f = small > 0 ? large / small : 1;
  return std::max(f, 1);
}

// Scales the kernel to sum 1 (unless its sum is 0).
matrix& Normalise(matrix& k) {
  double s = 0.0;
  for (int i = 0; i < k.n; ++i) s += k.x[i];
  if (s != 0.0) {
    for (int i = 0; i < k.n; ++i) k.x[i] = static_cast<float>(k.x[i] / s);
  }
  return k;
}

// n taps of kernel((k - c) / scale, parameter), c = (n - 1) / 2, scaled to sum 1.
matrix& Sampled(matrix& k, int n, double scale, KernelFunction kernel, double parameter) {
  k.dim(std::max(n, 1), 1);
  const double c = (k.n - 1) / 2.0;
  for (int i = 0; i < k.n; ++i) k.x[i] = static_cast<float>(kernel((i - c) / scale, parameter));
  return Normalise(k);
}
}  // namespace

matrix& matrix::decimate(const matrix& input, const matrix& kernel, int f) {
  if (&input == this || &kernel == this) {
    const matrix in(input), k(kernel);
    return decimate(in, k, f);
  }
  if (n == 0) return *this;
  if (input.n == 0 || kernel.n == 0) return zero();
  const Geometry g = Measure(Factor(f, input.nx, nx), kernel.n, nx);
  matrix rows(nx, input.ny);
  DecimateRows(g, kernel, input, rows);
  SumSourceRows(WindowSources(g, kernel, ny, input.ny, false), rows.z, z, nx, false);
  return *this;
}

matrix& matrix::decimateadj(const matrix& input, const matrix& kernel, int f) {
  if (&input == this || &kernel == this) {
    const matrix in(input), k(kernel);
    return decimateadj(in, k, f);
  }
  if (n == 0) return *this;
  if (input.n == 0 || kernel.n == 0) return zero();
  const Geometry g = Measure(Factor(f, nx, input.nx), kernel.n, input.nx);
  matrix columns(input.nx, ny);
  SumSourceRows(WindowSources(g, kernel, input.ny, ny, true), input.z, columns.z, columns.nx,
                false);
  DecimateRowsAdjoint(g, kernel, columns, *this);
  return *this;
}

matrix& matrix::lanczosdecimationkernel(int a, int f) {
  f = std::max(f, 1);
  a = std::max(a, 1);
  return Sampled(*this, 2 * a * f - f % 2, f, KernelLanczos, a);
}

matrix& matrix::cubicdecimationkernel(float a, int f) {
  f = std::max(f, 1);
  return Sampled(*this, 4 * f - f % 2, f, KernelCubic, a);
}

matrix& matrix::triangledecimationkernel(int f) {
  f = std::max(f, 1);
  // KernelTriangle takes the offset unscaled and its half-width.
  return Sampled(*this, 2 * f - f % 2, 1.0, KernelTriangle, f);
}
