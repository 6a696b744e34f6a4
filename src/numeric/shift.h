#pragma once
// Sub-pixel shifts of a plane in place, along rows (x) and then columns (y), with short
// fixed filters. The ends are mirrored with the edge sample repeated (x[-1] = x[0],
// x[N] = x[N-1]), so a constant plane stays constant up to its borders.
#include <cstdint>
#include <functional>
#include <vector>

#include "numeric/matrix.h"

// The value at j - 1/2: taps (9, -50, 225, 225, -50, 9)/368 on x[j-3] .. x[j+2], the
// Lanczos-3 kernel at half-sample distances normalised to sum 1. Ticks StepProgress
// before each row (x pass) and each column (y pass); true when cancelled, with the lines
// done before the cancel shifted and the rest untouched.
bool ShiftHalfPixel(matrix& plane, bool x, bool y);
// The value at j + 1/2: the same taps on x[j-2] .. x[j+3].
bool ShiftHalfPixelReverse(matrix& plane, bool x, bool y);
// The same two without ticks or cancel, the lines in blocks on the parallel helper.
matrix& ShiftHalfPixelNoCancel(matrix& plane, bool x, bool y);
matrix& ShiftHalfPixelReverseNoCancel(matrix& plane, bool x, bool y);
// ShiftHalfPixelNoCancel along both axes of `from` into `to`, which takes its shape (and may
// be `from`): the same bits without a copy first.
matrix& ShiftHalfPixelNoCancel(const matrix& from, matrix& to);
// Output rows [j0, j1) of ShiftHalfPixelNoCancel along both axes of a W x H plane that is
// never stored whole: row(m) gives its row m, each asked for once and in increasing order,
// and may return the same buffer every time. `buffer` is the caller's scratch, reused
// between calls. The same bits as the shift of the whole plane.
void ShiftHalfPixelRows(int W, int H, int64_t j0, int64_t j1,
                        const std::function<const float*(int)>& row, float* const* out,
                        std::vector<double>& buffer);
// out = in shifted to j - 1/2 along rows (x) or along columns, in leaving unchanged: the
// same bits as ShiftHalfPixelNoCancel(copy of in, x, !x), the rows in blocks on the
// parallel helper.
matrix& ShiftHalfPixelInto(matrix& out, const matrix& in, bool x);
// Per axis +1 samples at j - 1/2, -1 at j + 1/2 and 0 leaves the axis alone; any other
// value on either axis leaves the plane unchanged.
matrix& ShiftHalfPixelSigned(matrix& plane, int dx, int dy);
// The value at j - 1/4: the Lanczos-3 kernel at -2.75 .. 2.25 on x[j-3] .. x[j+2],
// normalised to sum 1. Ticks once per row and per column, the lines in blocks on the
// parallel helper; a cancel throws Cancelled.
matrix& ShiftQuarterPixel(matrix& plane, bool x, bool y);

// out[i] = the sum over t of taps[t] * src[t][i] for six source lines, in double and in
// the order of t (the same bits in every compiled form): the inner loop of the six-tap
// filters here and of the alignment's shifts.
void WeightedSix(const float* const* src, float* out, size_t n, const double* taps);
