#pragma once
// The fused fill and blur of the modified B-spline enlargement.
#include <cstdint>

#include "numeric/matrix.h"

template <class T>
class cvector;

// out.mbsfill(coefficients, classes, c).boxblur(c, 3) in one pass over the output: the
// filled plane is never stored, and the output gets the same bits and the same ticks.
matrix& MbsFillBlur(matrix& out, const matrix& coefficients, const cvector<uint8_t>& classes,
                    int c);
