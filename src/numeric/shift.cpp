#include "numeric/shift.h"

#include <array>
#include <cstddef>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "platform/progress.h"

namespace {
using Taps = std::array<double, 6>;

constexpr Taps kHalfTaps = {9.0 / 368,   -50.0 / 368, 225.0 / 368,
                            225.0 / 368, -50.0 / 368, 9.0 / 368};

// Filters every line of one direction in place: out[j] = sum of taps[t] * x[j + first + t].
// A line is copied into a scratch line with three mirrored samples at each end first, so
// the filter reads only the copy. Poll is asked before each line; true stops the pass.
template <class Poll>
bool FilterLines(matrix& plane, bool alongRows, const Taps& taps, int first, Poll poll) {
  const int length = alongRows ? plane.nx : plane.ny;
  const int lines = alongRows ? plane.ny : plane.nx;
  const std::ptrdiff_t step = alongRows ? 1 : plane.nx;
  constexpr int kPad = 3;
  std::vector<float> scratch(static_cast<size_t>(length) + 2 * kPad);
  for (int line = 0; line < lines; ++line) {
    if (poll()) return true;
    float* p = alongRows ? plane.z[line] : plane.x + line;
    for (int k = -kPad; k < length + kPad; ++k) {
      scratch[size_t(k + kPad)] = p[ReflectHalf(k, length) * step];
    }
    for (int j = 0; j < length; ++j) {
      const float* s = scratch.data() + j + first + kPad;
      double sum = 0.0;
      for (int t = 0; t < 6; ++t) sum += taps[size_t(t)] * s[t];
      p[j * step] = static_cast<float>(sum);
    }
  }
  return false;
}

template <class Poll>
bool FilterPlane(matrix& plane, bool x, bool y, const Taps& taps, int first, Poll poll) {
  if (plane.n == 0) return false;
  if (x && FilterLines(plane, true, taps, first, poll)) return true;
  return y && FilterLines(plane, false, taps, first, poll);
}

bool NoPoll() { return false; }
}  // namespace

bool ShiftHalfPixel(matrix& plane, bool x, bool y) {
  return FilterPlane(plane, x, y, kHalfTaps, -3, StepProgress);
}

bool ShiftHalfPixelReverse(matrix& plane, bool x, bool y) {
  return FilterPlane(plane, x, y, kHalfTaps, -2, StepProgress);
}

matrix& ShiftHalfPixelNoCancel(matrix& plane, bool x, bool y) {
  FilterPlane(plane, x, y, kHalfTaps, -3, NoPoll);
  return plane;
}

matrix& ShiftHalfPixelReverseNoCancel(matrix& plane, bool x, bool y) {
  FilterPlane(plane, x, y, kHalfTaps, -2, NoPoll);
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
  FilterPlane(plane, x, y, taps, -3, [] {
    StepProgressOrThrow();
    return false;
  });
  return plane;
}
