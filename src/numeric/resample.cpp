#include "numeric/resample.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
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

// The first pass for output columns [c0, c1): every input row resampled along x.
void ColumnsPass(matrix& temp, const matrix& input, const matrix& kx,
                 const std::vector<TapWindow>& wx, int c0, int c1) {
  for (int m = 0; m < input.ny; ++m) {
    const float* line = input.z[m];
    float* out = temp.z[m];
    for (int c = c0; c < c1; ++c) {
      out[c] = static_cast<float>(SumTapWindow(wx[size_t(c)], kx.z[c], kx.ip[c], line, 1));
    }
  }
}

// The second pass for output row l. The taps of a row apply to whole rows of the
// temporary, so the sum runs row by row over every column at once, in the tap order of the
// single-column rule and so with the same result.
void RowPass(float* out, const matrix& temp, const matrix& ky, const TapWindow& t, int l,
             std::vector<double>& acc, bool subtract) {
  const int width = static_cast<int>(acc.size());
  std::fill(acc.begin(), acc.end(), 0.0);
  for (int j = t.lo; j < t.hi; ++j) {
    const double w = ky.z[l][j];
    const float* row = temp.z[ky.ip[l] + j];
    for (int c = 0; c < width; ++c) acc[size_t(c)] += w * double(row[c]);
  }
  for (int c = 0; c < width; ++c) {
    const double v = t.divisor == 1.0 ? acc[size_t(c)] : acc[size_t(c)] / t.divisor;
    if (subtract) {
      out[c] -= static_cast<float>(v);
    } else {
      out[c] = static_cast<float>(v);
    }
  }
}

constexpr int kColumnsPerTickBlock = 32;
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
// pass into it. poll() is asked before each output column and row; true stops the work.
template <class Poll>
bool Resample(matrix& out, const matrix& input, const matrix& kx, const matrix& ky, bool subtract,
              Poll poll) {
  CheckKernel(kx);
  CheckKernel(ky);
  // A plane without elements may still carry a width or height: it has no rows to read.
  const int inW = input.n ? input.nx : 0, inH = input.n ? input.ny : 0;
  const std::vector<TapWindow> wx = Windows(kx, inW);
  const std::vector<TapWindow> wy = Windows(ky, inH);
  matrix temp(kx.ny, inH);
  for (int c0 = 0; c0 < kx.ny; c0 += kColumnsPerTickBlock) {
    const int c1 = std::min(kx.ny, c0 + kColumnsPerTickBlock);
    for (int c = c0; c < c1; ++c) {
      if (poll()) return true;
    }
    if (temp.n) ColumnsPass(temp, input, kx, wx, c0, c1);
  }
  // A subtracting target of another size has no values to subtract from: start it at 0.
  const bool fresh = out.nx != kx.ny || out.ny != ky.ny;
  out.dim(kx.ny, ky.ny);
  if (out.n == 0) return false;
  if (subtract && fresh) out.zero();
  std::vector<double> acc(static_cast<size_t>(kx.ny));
  for (int l = 0; l < ky.ny; ++l) {
    if (poll()) return true;
    RowPass(out.z[l], temp, ky, wy[size_t(l)], l, acc, subtract);
  }
  return false;
}
}  // namespace

matrix& ResampleSeparable(matrix& out, const matrix& input, const matrix& kx, const matrix& ky,
                          bool subtract) {
  Resample(out, input, kx, ky, subtract, [] { return false; });
  return out;
}

bool ResampleSeparableInPlace(matrix& plane, const matrix& kx, const matrix& ky) {
  return Resample(plane, plane, kx, ky, false, [] { return StepProgress(); });
}
