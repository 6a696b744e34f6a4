// Kernel decimation by an integer factor and its exact transpose, and the kernels it is
// used with.
//
// The row pass splits each padded row into f phases (samples t with t mod f = p), so that
// every output of a row is a weighted sum of contiguous lines, like the filters' inner loop.
// Windows that reach past an end fold back by whole-sample reflection, as often as needed.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
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

namespace {
// Outputs [c0, c1) of a kernel matrix whose windows lie inside the line, keep the same
// taps lo..hi with the same weights and start `step` inputs apart: along a row they are
// the weighted sums of the row's polyphase lines, one line per tap.
struct TapRun {
  int c0, c1;
  std::vector<int64_t> offset;  // of each tap's line in the phases buffer
  std::vector<double> weight;
};

struct RowReduction {
  int step = 0;
  int64_t phase = 0;           // samples per phase
  std::vector<TapRun> runs;    // the outputs on polyphase lines
  std::vector<int> singles;    // the others, summed one by one
  int64_t covered = 0;
};

bool SameTaps(const matrix& k, int a, int b, const TapWindow& ta, const TapWindow& tb) {
  return ta.lo == tb.lo && ta.hi == tb.hi &&
         std::memcmp(k.z[a] + ta.lo, k.z[b] + ta.lo, sizeof(float) * size_t(ta.hi - ta.lo)) == 0;
}

// phases[p * stride + q] = row[q f + p]: the row dealt into f lines. Factors 2 and 4 go
// four samples at a time through register shuffles.
void SplitPhases(const float* row, int length, int f, int64_t stride, float* phases) {
  int64_t q = 0;
#if defined(__SSE2__)
  if (f == 4) {
    for (; 4 * q + 16 <= length; q += 4) {
      __m128 a = _mm_loadu_ps(row + 4 * q), b = _mm_loadu_ps(row + 4 * q + 4);
      __m128 c = _mm_loadu_ps(row + 4 * q + 8), d = _mm_loadu_ps(row + 4 * q + 12);
      _MM_TRANSPOSE4_PS(a, b, c, d);
      _mm_storeu_ps(phases + q, a);
      _mm_storeu_ps(phases + stride + q, b);
      _mm_storeu_ps(phases + 2 * stride + q, c);
      _mm_storeu_ps(phases + 3 * stride + q, d);
    }
  } else if (f == 2) {
    for (; 2 * q + 8 <= length; q += 4) {
      const __m128 a = _mm_loadu_ps(row + 2 * q), b = _mm_loadu_ps(row + 2 * q + 4);
      _mm_storeu_ps(phases + q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_storeu_ps(phases + stride + q, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
  }
#endif
  for (int p = 0; p < f; ++p) {
    float* phase = phases + p * stride;
    for (int64_t k = q, i = q * f + p; i < length; ++k, i += f) phase[k] = row[i];
  }
}

RowReduction PlanRows(const matrix& k, const std::vector<TapWindow>& w, int length) {
  RowReduction plan;
  const auto inside = [&](int c) {
    return k.ip[c] >= 0 && int64_t(k.ip[c]) + k.nx <= length;
  };
  const int mid = k.ny / 2;
  if (k.ny >= 2) plan.step = k.ip[std::min(mid + 1, k.ny - 1)] - k.ip[std::min(mid, k.ny - 2)];
  if (plan.step < 1 || plan.step > length) {
    for (int c = 0; c < k.ny; ++c) plan.singles.push_back(c);
    return plan;
  }
  const int f = plan.step;
  plan.phase = (int64_t(length) + f - 1) / f;
  for (int c = 0; c < k.ny;) {
    if (!inside(c)) {
      plan.singles.push_back(c++);
      continue;
    }
    int e = c + 1;
    while (e < k.ny && inside(e) && int64_t(k.ip[e]) == int64_t(k.ip[e - 1]) + f &&
           SameTaps(k, c, e, w[size_t(c)], w[size_t(e)])) {
      ++e;
    }
    TapRun run{c, e, {}, {}};
    for (int j = w[size_t(c)].lo; j < w[size_t(c)].hi; ++j) {
      const int64_t at = int64_t(k.ip[c]) + j;
      run.offset.push_back((at % f) * plan.phase + at / f);
      run.weight.push_back(k.z[c][j]);
    }
    plan.covered += e - c;
    plan.runs.push_back(std::move(run));
    c = e;
  }
  return plan;
}
}  // namespace

matrix& ReduceByKernels(matrix& out, const matrix& input, const matrix& kx, const matrix& ky) {
  const int W = input.n ? input.nx : 0, H = input.n ? input.ny : 0;
  if (&input == &out || W == 0 || H == 0 || kx.ny == 0 || ky.ny == 0 || !kx.ip || !ky.ip ||
      kx.iplength() < kx.ny || ky.iplength() < ky.ny) {
    return ResampleSeparable(out, input, kx, ky);
  }
  std::vector<TapWindow> wx(size_t(kx.ny)), wy(size_t(ky.ny));
  for (int c = 0; c < kx.ny; ++c) wx[size_t(c)] = DroppedTapWindow(kx.z[c], kx.nx, kx.ip[c], W);
  for (int l = 0; l < ky.ny; ++l) wy[size_t(l)] = DroppedTapWindow(ky.z[l], ky.nx, ky.ip[l], H);
  const RowReduction plan = PlanRows(kx, wx, W);
  // Kernels that do not step evenly gain nothing here.
  if (2 * plan.covered < kx.ny) return ResampleSeparable(out, input, kx, ky);

  // Rows first, into a float plane, as the general engine rounds between its passes.
  matrix rows(kx.ny, H);
  const int f = plan.step;
  ParallelBlocks(H, BlockFor(W + int64_t(kx.ny) * kx.nx), [&](int64_t y0, int64_t y1) {
    std::vector<float> phases(static_cast<size_t>(f > 1 ? plan.phase * f : 0));
    std::vector<const float*> lines;
    for (int64_t y = y0; y < y1; ++y) {
      const float* row = input.z[y];
      const float* base = row;
      if (f > 1) {
        SplitPhases(row, W, f, plan.phase, phases.data());
        base = phases.data();
      }
      float* out = rows.z[y];
      for (const TapRun& run : plan.runs) {
        lines.resize(run.offset.size());
        for (size_t j = 0; j < lines.size(); ++j) lines[j] = base + run.offset[j];
        WeightedLines(lines.data(), run.weight.data(), lines.size(), run.c1 - run.c0,
                      {nullptr, out + run.c0, false});
      }
      for (int c : plan.singles) {
        out[c] = static_cast<float>(SumTapWindow(wx[size_t(c)], kx.z[c], kx.ip[c], row, 1));
      }
    }
  });

  // Then columns: an output row is a weighted sum of whole rows.
  out.dim(kx.ny, ky.ny);
  RowSources inside(size_t(ky.ny));
  std::vector<int> edges;
  for (int l = 0; l < ky.ny; ++l) {
    const TapWindow& t = wy[size_t(l)];
    if (ky.ip[l] < 0 || int64_t(ky.ip[l]) + ky.nx > H) {
      edges.push_back(l);
      continue;
    }
    for (int j = t.lo; j < t.hi; ++j) inside[size_t(l)].push_back({ky.ip[l] + j, ky.z[l][j]});
  }
  SumSourceRows(inside, rows.z, out.z, out.nx, false);
  // Rows whose window leaves the plane drop those taps and take the kept weights' sum.
  ParallelBlocks(int64_t(edges.size()), 1, [&](int64_t e0, int64_t e1) {
    for (int64_t e = e0; e < e1; ++e) {
      const int l = edges[size_t(e)];
      for (int c = 0; c < out.nx; ++c) {
        out.z[l][c] = static_cast<float>(
            SumTapWindow(wy[size_t(l)], ky.z[l], ky.ip[l], rows.x + c, rows.nx));
      }
    }
  });
  return out;
}
