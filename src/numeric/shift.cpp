#include "numeric/shift.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/scratchpool.h"
#include "numeric/vectorclones.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

// The six-tap sums are most of a shift's time: they get an AVX-512 form too, which gives
// the same bits as the others since this file is built without fused multiply-adds.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_SHIFT_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define ZEP_SHIFT_CLONES
#endif

// The six-tap sum of every sample, from lines of In into Out through Round. The forms from
// lines already in double serve the one-sweep shift: a float widened once where it is
// stored instead of six times where it is read, and the same bits. WeightedSixRow rounds
// each sum to float as the row pass must, and keeps it widened for the column pass.
#define ZEP_WEIGHTED_SIX(name, In, Out, Round)                                                   \
  ZEP_SHIFT_CLONES void name(const In* const* src, Out* __restrict out, size_t n,               \
                             const double* taps) {                                              \
    const In *s0 = src[0], *s1 = src[1], *s2 = src[2], *s3 = src[3], *s4 = src[4],              \
             *s5 = src[5];                                                                      \
    const double t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3], t4 = taps[4],          \
                 t5 = taps[5];                                                                  \
    for (size_t i = 0; i < n; ++i) {                                                            \
      double sum = 0.0;                                                                         \
      sum += t0 * s0[i];                                                                        \
      sum += t1 * s1[i];                                                                        \
      sum += t2 * s2[i];                                                                        \
      sum += t3 * s3[i];                                                                        \
      sum += t4 * s4[i];                                                                        \
      sum += t5 * s5[i];                                                                        \
      out[i] = Round(sum);                                                                      \
    }                                                                                           \
  }
#define ZEP_TO_FLOAT(v) static_cast<float>(v)
#define ZEP_THROUGH_FLOAT(v) static_cast<double>(static_cast<float>(v))
ZEP_WEIGHTED_SIX(WeightedSix, float, float, ZEP_TO_FLOAT)

namespace {
ZEP_WEIGHTED_SIX(WeightedSixRow, double, double, ZEP_THROUGH_FLOAT)
ZEP_WEIGHTED_SIX(WeightedSixColumn, double, float, ZEP_TO_FLOAT)
ZEP_SHIFT_CLONES void Widen(const float* in, double* __restrict out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = in[i];
}
#undef ZEP_THROUGH_FLOAT
#undef ZEP_TO_FLOAT
#undef ZEP_WEIGHTED_SIX

using Taps = std::array<double, 6>;

constexpr Taps kHalfTaps = {9.0 / 368,   -50.0 / 368, 225.0 / 368,
                            225.0 / 368, -50.0 / 368, 9.0 / 368};

// Pads a line of `length` samples into scratch (three mirrored samples at each end) and
// filters it into out, which may be the line itself.
void FilterRow(const float* p, int length, const Taps& taps, int first, float* scratch,
               float* out) {
  constexpr int kPad = 3;
  std::copy(p, p + length, scratch + kPad);
  for (int k = 1; k <= kPad; ++k) {
    scratch[kPad - k] = p[ReflectHalf(-k, length)];
    scratch[kPad + length - 1 + k] = p[ReflectHalf(length - 1 + k, length)];
  }
  const float* s = scratch + first + kPad;
  const float* src[6] = {s, s + 1, s + 2, s + 3, s + 4, s + 5};
  WeightedSix(src, out, size_t(length), taps.data());
}

// Filters every line of one direction in place: out[j] = sum of taps[t] * x[j + first + t].
// A row is copied into scratch with three mirrored samples at each end first, so the
// filter reads only the copy; a strip of columns keeps the rows it still reads in a ring.
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
      FilterRow(plane.z[line], length, taps, first, scratch.data(), plane.z[line]);
    }
  };
  // A strip of columns filters row by row in place. Output row j reads source rows
  // j + first .. j + first + 5 (reflected at the ends), never more than three rows above
  // it, so the original rows up to j are kept in a ring of four, and the output never
  // overwrites a row it still reads.
  const BlockBody columns = [&](int64_t c0, int64_t c1) {
    const size_t width = size_t(c1 - c0);
    constexpr int kRing = kPad + 1;
    std::vector<float> ring(kRing * width);
    for (int j = 0; j < length; ++j) {
      float* out = plane.z[j] + c0;
      std::copy(out, out + width, ring.begin() + std::ptrdiff_t(size_t(j % kRing) * width));
      const float* src[6];
      for (int t = 0; t < 6; ++t) {
        const int m = ReflectHalf(j + first + t, length);
        src[t] = m <= j ? ring.data() + size_t(m % kRing) * width : plane.z[m] + c0;
      }
      WeightedSix(src, out, width, taps.data());
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

// Output rows [j0, j1) of both passes of a six-tap filter over a W x H plane, into out: the
// rows filtered along x wait in a ring of eight, widened to double as the column pass
// reads them, and each output row is written as soon as the six it reads are there.
// original(m) gives row m of the plane as it was; the rows are asked for once each and in
// increasing order. `buffer` holds the widened row and the ring.
constexpr int kSweepRing = 8;
void SweepBoth(int W, int H, int64_t j0, int64_t j1, const Taps& taps, int first,
               const std::function<const float*(int)>& original, float* const* out,
               std::vector<double>& buffer) {
  constexpr int kPad = 3;
  const size_t width = size_t(W);
  buffer.resize(width + 2 * kPad + kSweepRing * width);
  double* const scratch = buffer.data();
  double* const ring = scratch + width + 2 * kPad;
  auto slot = [&](int m) { return ring + size_t(m % kSweepRing) * width; };
  // Row m filtered along x into its slot, through a widened copy with mirrored ends.
  auto rowPass = [&](int m) {
    const float* p = original(m);
    for (int k = 1; k <= kPad; ++k) {
      scratch[size_t(kPad - k)] = p[ReflectHalf(-k, W)];
      scratch[size_t(kPad + W - 1 + k)] = p[ReflectHalf(W - 1 + k, W)];
    }
    Widen(p, scratch + kPad, width);
    const double* s = scratch + first + kPad;
    const double* src[6] = {s, s + 1, s + 2, s + 3, s + 4, s + 5};
    WeightedSixRow(src, slot(m), width, taps.data());
  };
  // Rows below `next` are in the ring (those still needed); rows are filtered in order.
  int next = int(std::max<int64_t>(0, std::min<int64_t>(j0 + first, H - 1)));
  if (H <= kSweepRing) next = 0;
  for (int j = int(j0); j < int(j1); ++j) {
    const double* src[6];
    int last = 0;
    int rows[6];
    for (int t = 0; t < 6; ++t) {
      rows[t] = ReflectHalf(int64_t(j) + first + t, H);
      last = std::max(last, rows[t]);
    }
    for (; next <= last; ++next) rowPass(next);
    for (int t = 0; t < 6; ++t) src[t] = slot(rows[t]);
    WeightedSixColumn(src, out[j], width, taps.data());
  }
}

// Both passes in one sweep over the plane: a block of output rows keeps its rows filtered
// along x in a ring of eight and writes each output row as soon as the six it reads are
// there, so the plane is read and written once instead of twice. Each sample gets the
// operations of the row pass followed by the column pass; the ring holds the row pass's
// floats widened to double, as the column pass reads them. `to` may be `from`: the few
// rows next to each block's ends, which the neighbouring block may then already have
// overwritten, are copied aside before the blocks start.
void FilterBoth(const matrix& from, matrix& to, const Taps& taps, int first) {
  constexpr int kReach = 3;
  const int W = from.nx, H = from.ny;
  to.dim(W, H);
  const bool inPlace = &from == &to;
  // Blocks of at least 128 rows, so that the rows copied aside stay few.
  const int64_t block = std::max<int64_t>(BlockFor(int64_t(W) * 16), 128);
  const int64_t blocks = (int64_t(H) + block - 1) / block;
  // Rows [b - kReach, b + kReach) around every inner block start b, as they were.
  const size_t width = size_t(W);
  const int64_t boundaries = inPlace ? std::max<int64_t>(blocks - 1, 0) : 0;
  // Not cleared, and copied on all threads, so that little of the sweep runs on one.
  const std::unique_ptr<float[]> kept(new float[size_t(boundaries) * 2 * kReach * width]);
  auto keptRow = [&](int64_t boundary, int row) {
    return kept.get() +
           (size_t(boundary - 1) * 2 * kReach + size_t(row - (boundary * block - kReach))) * width;
  };
  ParallelBlocks(boundaries, BlockFor(int64_t(W) * 2 * kReach), [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0 + 1; b <= b1; ++b) {
      for (int row = int(b * block) - kReach; row < int(b * block) + kReach; ++row) {
        if (row >= 0 && row < H) std::copy(from.z[row], from.z[row] + W, keptRow(b, row));
      }
    }
  });
  // Each block's widened row and ring, cleared once and then reused by later blocks.
  ScratchPool<double> buffers;
  ParallelBlocks(H, block, [&](int64_t j0, int64_t j1) {
    ScratchPool<double>::Lease lease(buffers);
    // The row as it was before any block wrote to it.
    auto original = [&](int m) -> const float* {
      if (inPlace && m < j0) return keptRow(j0 / block, m);
      if (inPlace && m >= j1) return keptRow(j1 / block, m);
      return from.z[m];
    };
    SweepBoth(W, H, j0, j1, taps, first, original, to.z, *lease);
  });
}

bool FilterPlane(matrix& plane, bool x, bool y, const Taps& taps, int first, Ticks ticks) {
  if (plane.n == 0) return false;
  if (x && y && ticks == Ticks::none) {
    FilterBoth(plane, plane, taps, first);
    return false;
  }
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

matrix& ShiftHalfPixelNoCancel(const matrix& from, matrix& to) {
  if (from.n == 0) return to.assign(from);
  FilterBoth(from, to, kHalfTaps, -3);
  return to;
}

void ShiftHalfPixelRows(int W, int H, int64_t j0, int64_t j1,
                        const std::function<const float*(int)>& row, float* const* out,
                        std::vector<double>& buffer) {
  SweepBoth(W, H, j0, j1, kHalfTaps, -3, row, out, buffer);
}

matrix& ShiftHalfPixelReverseNoCancel(matrix& plane, bool x, bool y) {
  FilterPlane(plane, x, y, kHalfTaps, -2, Ticks::none);
  return plane;
}

matrix& ShiftHalfPixelInto(matrix& out, const matrix& in, bool x) {
  if (&out == &in) return ShiftHalfPixelNoCancel(out, x, !x);
  constexpr int kFirst = -3;
  out.dim(in.nx, in.ny);
  if (in.n == 0) return out;
  // Every output row reads the input alone: both passes go row by row over whole rows,
  // where the in-place column pass must keep the rows it still reads and so works on narrow
  // strips of columns.
  ParallelBlocks(in.ny, BlockFor(int64_t(in.nx) * 8), [&](int64_t j0, int64_t j1) {
    std::vector<float> scratch(x ? size_t(in.nx) + 6 : 0);
    for (int64_t j = j0; j < j1; ++j) {
      if (x) {
        FilterRow(in.z[j], in.nx, kHalfTaps, kFirst, scratch.data(), out.z[j]);
        continue;
      }
      const float* src[6];
      for (int t = 0; t < 6; ++t) src[t] = in.z[ReflectHalf(j + kFirst + t, in.ny)];
      WeightedSix(src, out.z[j], size_t(in.nx), kHalfTaps.data());
    }
  });
  return out;
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
