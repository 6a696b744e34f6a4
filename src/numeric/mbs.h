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
// The same for `count` coefficient planes of one shape into outs[k], the planes sharing the
// loop: each output gets the bits of its own call, and the ticks of all the calls.
void MbsFillBlur(matrix* const* outs, const matrix* const* coefficients, int count,
                 const cvector<uint8_t>& classes, int c);

// bsplineprefilter of `count` planes at once, their rows and then their columns sharing the
// parallel loops: each plane gets the bits of its own call.
void BsplinePrefilter(matrix* const* planes, int count);
