#pragma once
// The fixed tables of the windowless Xin Li model (windowless.cpp): the two stencils and
// the prior weights of the direction classes.
#include <cstdint>

namespace windowless {

// An offset (row, column) on the doubled grid from the predicted sample.
struct Offset {
  int dy, dx;
};
// Planes 0-3 the inner four, clockwise from the top left; planes 4-15 the outer ring,
// clockwise from its top-left corner. The axial stencil is the diagonal one turned by 45
// degrees (plane 0 left, 1 up, 2 right, 3 down).
extern const Offset kDiagonal[16];
extern const Offset kAxial[16];
// The prior weights of direction class 0, 1 or 2 (another class reads as 0) for the
// 16- or 4-weight model: the Lanczos-2 doubling written in the stencil. Each set sums to 1.
void Prior(int cls, bool sixteen, float* out);
// The regulariser stencil of each edge class, [row + 1][column + 1].
extern const float kClassStencil[9][3][3];

}  // namespace windowless
