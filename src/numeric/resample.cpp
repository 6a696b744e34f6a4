#include "numeric/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// A count from a double, kept inside int range so that an absurd request reaches the
// allocation (which refuses it with its message) instead of overflowing on the way.
int ClampCount(double v) {
  if (!(v > 0.0)) return 0;
  return v >= double(INT32_MAX - 2) ? INT32_MAX - 2 : static_cast<int>(v);
}

// The tap count of a kernel: `narrow` taps, or perStep * ceil(step) when an antialiased
// reduction stretches the kernel by the step.
int TapCount(int narrow, int perStep, double step, bool antialias) {
  if (step > 1.0 && antialias) {
    const double c = std::ceil(step);
    if (c != 1.0) return ClampCount(perStep * c);
  }
  return narrow;
}

matrix& BuildKernel(matrix& k, KernelFunction kernel, double parameter, int outputs, int taps,
                    double step, double offset, bool antialias) {
  k.dim(ClampCount(double(taps) + 2), outputs);
  return k.kernelmatrix(kernel, parameter, step, offset, antialias);
}

struct ScaleGrid {
  int outputs;
  double step, offset;
};

ScaleGrid ForScale(int n, double scale, float shift) {
  const double step = 1.0 / scale;
  return {ClampCount(std::trunc(scale * n + 0.5)), step, step * double(shift) + (step - 1) / 2};
}

// The for-sizes grid: the step held in single precision, and the offset too (its centring
// term from the exact ratio, its shift term from the rounded step).
ScaleGrid ForSizes(int n, int m, float shift) {
  if (n <= 0 || m <= 0) return {m > 0 ? m : 0, 1.0, 0.0};
  const double ratio = double(n) / m;
  const float step = static_cast<float>(ratio);
  const float offset = static_cast<float>((ratio - 1) / 2 + double(step) * shift);
  return {m, step, offset};
}

void CheckKernel(const matrix& k) {
  if (k.ny > 0 && (!k.ip || k.iplength() < k.ny)) {
    throw std::invalid_argument("kernel matrix without first indices");
  }
}

std::vector<TapWindow> Windows(const matrix& k, int length) {
  std::vector<TapWindow> w(static_cast<size_t>(k.ny));
  for (int i = 0; i < k.ny; ++i) w[size_t(i)] = DroppedTapWindow(k.z[i], k.nx, k.ip[i], length);
  return w;
}

// Input rows transposed at once in the first pass: one block of sums of the AVX2 path.
constexpr int kStrip = 32;

// The first pass for input rows [m0, m1). The strip is transposed so that each input
// column is a line of the strip's samples; an output column is then the weighted sum of the
// lines its taps read, in the tap order of the single-sample rule and so with its result.
void ColumnsPass(matrix& temp, const matrix& input, const matrix& kx,
                 const std::vector<TapWindow>& wx, int m0, int m1) {
  const int rows = m1 - m0, w = input.nx;
  std::vector<float> columns(size_t(w) * size_t(rows));
  for (int r = 0; r < rows; ++r) {
    const float* line = input.z[m0 + r];
    for (int x = 0; x < w; ++x) columns[size_t(x) * size_t(rows) + size_t(r)] = line[x];
  }
  std::vector<double> sums(static_cast<size_t>(rows));
  // The outputs column by column, then back into the rows of temp a tile of columns at a
  // time: stored straight into rows a power of two apart, they would evict one another.
  std::vector<float> outputs(size_t(kx.ny) * size_t(rows));
  Lines lines;
  for (int c = 0; c < kx.ny; ++c) {
    const TapWindow& t = wx[size_t(c)];
    lines.clear();
    for (int j = t.lo; j < t.hi; ++j) {
      lines.push(columns.data() + size_t(kx.ip[c] + j) * size_t(rows), kx.z[c][j]);
    }
    lines.apply(rows, {sums.data(), nullptr, false});
    float* column = outputs.data() + size_t(c) * size_t(rows);
    for (int r = 0; r < rows; ++r) {
      const double v = sums[size_t(r)];
      column[r] = static_cast<float>(t.divisor == 1.0 ? v : v / t.divisor);
    }
  }
  constexpr int kTile = 64;
  for (int c0 = 0; c0 < kx.ny; c0 += kTile) {
    const int c1 = std::min(kx.ny, c0 + kTile);
    for (int r = 0; r < rows; ++r) {
      float* row = temp.z[m0 + r];
      for (int c = c0; c < c1; ++c) row[c] = outputs[size_t(c) * size_t(rows) + size_t(r)];
    }
  }
}

// The second pass for output row l. The taps of a row apply to whole rows of the
// temporary, so the sum runs row by row over every column at once, again in the tap order.
void RowPass(float* out, const matrix& temp, const matrix& ky, const TapWindow& t, int l,
             std::vector<double>& acc, Lines& lines, bool subtract) {
  const int width = static_cast<int>(acc.size());
  lines.clear();
  for (int j = t.lo; j < t.hi; ++j) lines.push(temp.z[ky.ip[l] + j], ky.z[l][j]);
  lines.apply(width, {acc.data(), nullptr, false});
  for (int c = 0; c < width; ++c) {
    const double v = t.divisor == 1.0 ? acc[size_t(c)] : acc[size_t(c)] / t.divisor;
    if (subtract) {
      out[c] -= static_cast<float>(v);
    } else {
      out[c] = static_cast<float>(v);
    }
  }
}
}  // namespace

matrix& BuildLanczosKernelForScale(matrix& k, int order, int n, double scale, float shift,
                                   bool antialias) {
  const ScaleGrid g = ForScale(n, scale, shift);
  return BuildKernel(k, KernelLanczos, order, g.outputs,
                     TapCount(2 * order + 1, 2 * order, g.step, antialias), g.step, g.offset,
                     antialias);
}

matrix& BuildBicubicKernelForScale(matrix& k, double cubic, int n, double scale, float shift,
                                   bool antialias) {
  const ScaleGrid g = ForScale(n, scale, shift);
  return BuildKernel(k, KernelCubic, cubic, g.outputs, TapCount(5, 4, g.step, antialias), g.step,
                     g.offset, antialias);
}

matrix& BuildBilinearKernelForScale(matrix& k, int n, double scale, float shift, bool antialias) {
  const ScaleGrid g = ForScale(n, scale, shift);
  return BuildKernel(k, KernelTriangle, 1.0, g.outputs, TapCount(3, 2, g.step, antialias), g.step,
                     g.offset, antialias);
}

matrix& BuildBoxKernelForScale(matrix& k, int n, double scale, float shift, bool antialias) {
  const ScaleGrid g = ForScale(n, scale, shift);
  return BuildKernel(k, KernelBox, 1.0, g.outputs, TapCount(3, 2, g.step, antialias), g.step,
                     g.offset, antialias);
}

matrix& BuildLanczosKernelForSizes(matrix& k, int order, int n, int m, float shift) {
  const ScaleGrid g = ForSizes(n, m, shift);
  return BuildKernel(k, KernelLanczos, order, g.outputs,
                     TapCount(2 * order + 1, 2 * order, g.step, true), g.step, g.offset, true);
}

matrix& BuildBicubicKernelForSizes(matrix& k, double cubic, int n, int m, float shift) {
  const ScaleGrid g = ForSizes(n, m, shift);
  return BuildKernel(k, KernelCubic, cubic, g.outputs, TapCount(5, 4, g.step, true), g.step,
                     g.offset, true);
}

matrix& BuildBilinearKernelForSizes(matrix& k, int n, int m, float shift) {
  const ScaleGrid g = ForSizes(n, m, shift);
  return BuildKernel(k, KernelTriangle, 1.0, g.outputs, TapCount(3, 2, g.step, true), g.step,
                     g.offset, true);
}

matrix& BuildBoxKernelForSizes(matrix& k, int n, int m, float shift) {
  const ScaleGrid g = ForSizes(n, m, shift);
  return BuildKernel(k, KernelBox, 1.0, g.outputs, TapCount(3, 2, g.step, true), g.step, g.offset,
                     true);
}

namespace {
// Both engines: the first pass into a temporary, then the target dimensioned and the second
// pass into it. With ticking, one tick per output column of the first pass and one per
// output row of the second, polling the cancel keys; true when cancelled.
bool Resample(matrix& out, const matrix& input, const matrix& kx, const matrix& ky, bool subtract,
              bool ticking) {
  CheckKernel(kx);
  CheckKernel(ky);
  // A plane without elements may still carry a width or height: it has no rows to read.
  const int inW = input.n ? input.nx : 0, inH = input.n ? input.ny : 0;
  const std::vector<TapWindow> wx = Windows(kx, inW);
  const std::vector<TapWindow> wy = Windows(ky, inH);
  matrix temp(kx.ny, inH);
  const auto loop = [ticking](int64_t count, int64_t block, int64_t ticks, const BlockBody& body) {
    if (!ticking) {
      ParallelBlocks(count, block, body);
      return false;
    }
    if (count == 0) {  // nothing to compute, the ticks all the same
      for (int64_t i = 0; i < ticks; ++i) {
        if (StepProgress()) return true;
      }
      return false;
    }
    return ParallelBlocksTicking(count, block, body, ticks);
  };
  const int strips = temp.n ? (inH + kStrip - 1) / kStrip : 0;
  if (loop(strips, 1, kx.ny, [&](int64_t s0, int64_t s1) {
        for (int64_t s = s0; s < s1; ++s) {
          const int m0 = int(s) * kStrip;
          ColumnsPass(temp, input, kx, wx, m0, std::min(inH, m0 + kStrip));
        }
      })) {
    return true;
  }
  // A subtracting target of another size has no values to subtract from: start it at 0.
  const bool fresh = out.nx != kx.ny || out.ny != ky.ny;
  out.dim(kx.ny, ky.ny);
  if (out.n == 0) return false;
  if (subtract && fresh) out.zero();
  const int64_t taps = std::max(1, ky.nx);
  return loop(ky.ny, BlockFor(taps * kx.ny), ky.ny, [&](int64_t l0, int64_t l1) {
    std::vector<double> acc(static_cast<size_t>(kx.ny));
    Lines lines;
    for (int64_t l = l0; l < l1; ++l) {
      RowPass(out.z[l], temp, ky, wy[size_t(l)], int(l), acc, lines, subtract);
    }
  });
}
}  // namespace

matrix& ResampleSeparable(matrix& out, const matrix& input, const matrix& kx, const matrix& ky,
                          bool subtract) {
  Resample(out, input, kx, ky, subtract, false);
  return out;
}

bool ResampleSeparableInPlace(matrix& plane, const matrix& kx, const matrix& ky) {
  return Resample(plane, plane, kx, ky, false, true);
}

bool ResampleSeparableTicking(matrix& out, const matrix& input, const matrix& kx,
                              const matrix& ky) {
  return Resample(out, input, kx, ky, false, true);
}
