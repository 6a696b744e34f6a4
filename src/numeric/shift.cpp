#include "numeric/shift.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
using Taps = std::array<double, 6>;

constexpr Taps kHalfTaps = {9.0 / 368,   -50.0 / 368, 225.0 / 368,
                            225.0 / 368, -50.0 / 368, 9.0 / 368};

// Filters every line of one direction in place: out[j] = sum of taps[t] * x[j + first + t].
// Lines are copied into scratch with three mirrored samples at each end first, so the
// filter reads only the copy: one row at a time, or a strip of columns side by side.
// Without ticks the lines run in blocks on the parallel helper. With ticks, one per line
// and true when the user cancelled: per line the lines run one after the other, so exactly
// those before the cancel are shifted; in blocks they run on the helper and the blocks not
// run keep their lines.
enum class Ticks { none, perLine, blocks };

bool FilterLines(matrix& plane, bool alongRows, const Taps& taps, int first, Ticks ticks) {
  constexpr int kPad = 3;
  const int length = alongRows ? plane.nx : plane.ny;
  const int lines = alongRows ? plane.ny : plane.nx;
  const BlockBody rows = [&](int64_t l0, int64_t l1) {
    std::vector<float> scratch(static_cast<size_t>(length) + 2 * kPad);
    for (int64_t line = l0; line < l1; ++line) {
      float* p = plane.z[line];
      for (int k = -kPad; k < length + kPad; ++k)
        scratch[size_t(k + kPad)] = p[ReflectHalf(k, length)];
      for (int j = 0; j < length; ++j) {
        const float* s = scratch.data() + j + first + kPad;
        double sum = 0.0;
        for (int t = 0; t < 6; ++t) sum += taps[size_t(t)] * s[t];
        p[j] = static_cast<float>(sum);
      }
    }
  };
  const BlockBody columns = [&](int64_t c0, int64_t c1) {
    const size_t width = size_t(c1 - c0);
    std::vector<float> strip((static_cast<size_t>(length) + 2 * kPad) * width);
    for (int k = -kPad; k < length + kPad; ++k) {
      const float* from = plane.z[ReflectHalf(k, length)] + c0;
      std::copy(from, from + width, strip.begin() + std::ptrdiff_t(size_t(k + kPad) * width));
    }
    std::vector<double> sum(width);
    for (int j = 0; j < length; ++j) {
      std::fill(sum.begin(), sum.end(), 0.0);
      for (int t = 0; t < 6; ++t) {
        const float* s = strip.data() + size_t(j + first + kPad + t) * width;
        for (size_t c = 0; c < width; ++c) sum[c] += taps[size_t(t)] * s[c];
      }
      float* out = plane.z[j] + c0;
      for (size_t c = 0; c < width; ++c) out[c] = static_cast<float>(sum[c]);
    }
  };
  const BlockBody& body = alongRows ? rows : columns;
  const int64_t block = BlockFor(int64_t(length) * 8);
  switch (ticks) {
    case Ticks::none:
      ParallelBlocks(lines, block, body);
      return false;
    case Ticks::perLine:
      for (int line = 0; line < lines; ++line) {
        if (StepProgress()) return true;
        body(line, line + 1);
      }
      return false;
    case Ticks::blocks:
      break;
  }
  return ParallelBlocksTicking(lines, block, body);
}

bool FilterPlane(matrix& plane, bool x, bool y, const Taps& taps, int first, Ticks ticks) {
  if (plane.n == 0) return false;
  if (x && FilterLines(plane, true, taps, first, ticks)) return true;
  return y && FilterLines(plane, false, taps, first, ticks);
}
}  // namespace

bool ShiftHalfPixel(matrix& plane, bool x, bool y) {
  return FilterPlane(plane, x, y, kHalfTaps, -3, Ticks::perLine);
}

bool ShiftHalfPixelReverse(matrix& plane, bool x, bool y) {
  return FilterPlane(plane, x, y, kHalfTaps, -2, Ticks::perLine);
}

matrix& ShiftHalfPixelNoCancel(matrix& plane, bool x, bool y) {
  FilterPlane(plane, x, y, kHalfTaps, -3, Ticks::none);
  return plane;
}

matrix& ShiftHalfPixelReverseNoCancel(matrix& plane, bool x, bool y) {
  FilterPlane(plane, x, y, kHalfTaps, -2, Ticks::none);
  return plane;
}

matrix& ShiftHalfPixelSigned(matrix& plane, int dx, int dy) {
  if (dx < -1 || dx > 1 || dy < -1 || dy > 1) return plane;
  // The x pass runs first except for (-1, 1), where the forward y shift comes first; the
  // passes commute, so only the rounding would tell.
  if (dx == -1 && dy == 1) {
    ShiftHalfPixelNoCancel(plane, false, true);
    return ShiftHalfPixelReverseNoCancel(plane, true, false);
  }
  ShiftHalfPixelNoCancel(plane, dx == 1, dy == 1);
  return ShiftHalfPixelReverseNoCancel(plane, dx == -1, dy == -1);
}

matrix& ShiftQuarterPixel(matrix& plane, bool x, bool y) {
  Taps taps;
  double sum = 0.0;
  for (int t = 0; t < 6; ++t) {
    taps[size_t(t)] = KernelLanczos(t - 3 + 0.25, 3.0);
    sum += taps[size_t(t)];
  }
  for (double& t : taps) t /= sum;
  if (FilterPlane(plane, x, y, taps, -3, Ticks::blocks)) throw Cancelled{};
  return plane;
}
