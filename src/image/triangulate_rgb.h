#pragma once
// The triangle diagonals of a 24-bit buffer, chosen on its green bytes.
#include "image/rgbbuffer.h"
#include "numeric/bitmask.h"

// Dimensions the mask to the image and sets the bit of every cell to be split along the
// diagonal from (u, o) to (u+1, o+1) (numeric/triangulate.h), deciding on the green bytes.
bitmask& ChooseTriangleDiagonalsRgb(bitmask& mask, const rgbbuffer& image);
