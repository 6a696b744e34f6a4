#pragma once
// Triangulation resampling: every cell of four neighbouring samples is split into two
// triangles along the diagonal across which the image changes least, and each output
// sample interpolates linearly inside its triangle. So a plane that is linear in x and y
// is reproduced exactly, and diagonal edges stay sharp when enlarged.
//
// The diagonal mask has the plane's size; the bit of sample (c, r) describes the cell with
// corners (c, r), (c+1, r), (c, r+1), (c+1, r+1): set, it is split along (c, r)-(c+1, r+1);
// clear, along (c+1, r)-(c, r+1). Bits of the last row and column are unused.
#include <cmath>
#include <cstdint>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"

// The diagonal choice on samples read through value(c, r), for a width x height grid: the
// mask is dimensioned and cleared, each inner cell compares the absolute differences along
// both diagonal directions over its 4 x 4 neighbourhood, and the outer cells copy their
// inner neighbours. Shared by the float and the 24-bit forms.
template <class Value>
bitmask& ChooseDiagonals(bitmask& mask, int width, int height, Value value) {
  mask.dim(width, height);
  for (int32_t w = 0; w < mask.words; ++w) mask.bits[w] = 0;
  for (int r = 1; r <= height - 3; ++r) {
    for (int c = 1; c <= width - 3; ++c) {
      double across = 0.0, along = 0.0;
      for (int i = r - 1; i <= r + 1; ++i) {
        for (int j = c - 1; j <= c + 1; ++j) {
          across += std::fabs(double(value(j, i + 1)) - double(value(j + 1, i)));
          along += std::fabs(double(value(j, i)) - double(value(j + 1, i + 1)));
        }
      }
      // Set when the image varies less along the main diagonal; a tie stays clear.
      if (across - along > 0) mask.set(c, r, true);
    }
  }
  for (int r = 0; r < height; ++r) {
    if (width >= 2) mask.set(0, r, mask.get(1, r));
    if (width >= 3) mask.set(width - 2, r, mask.get(width - 3, r));
  }
  for (int c = 0; c < width; ++c) {
    if (height >= 2 && mask.get(c, 1)) mask.set(c, 0, true);
    if (height >= 3) mask.set(c, height - 2, mask.get(c, height - 3));
  }
  return mask;
}

// The diagonal choice of a float plane.
bitmask& ChooseTriangleDiagonals(bitmask& mask, const matrix& plane);

// out = input resampled by sx, sy with shifts dx, dy in output samples (output column j
// samples x = (1/sx - 1)/2 + dx/sx + j/sx), interpolated on the triangles the diagonal mask
// chooses; out becomes trunc(w sx + 0.5) x trunc(h sy + 0.5). Positions beyond the sample
// grid extrapolate the nearest cell's triangle. Ticks StepProgress per output row; true
// when cancelled, out then partly written. A mask of another size counts as all clear.
// Not cancellable, it neither ticks nor polls and always completes.
bool ResampleTriangulation(matrix& out, const matrix& input, const bitmask& diagonals, double sx,
                           double sy, double dx, double dy, bool cancellable = true);
