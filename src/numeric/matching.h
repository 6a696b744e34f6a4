#pragma once
// Gains of one plane against another: y = g x over the elements of y's count.
#include "numeric/matrix.h"

// Least squares: sum(x y) / sum(x^2); 1 when there are no elements or sum(x^2) is 0.
float LeastSquaresGain(const matrix& x, const matrix& y);
// Least absolute deviations: the median of the ratios y/x weighted by |x|, over the pairs
// with x non-zero; 1 when there is none.
float LeastAbsoluteGain(const matrix& x, const matrix& y);
