#pragma once
// The Gaussian blur handed out a row at a time, for filters that use each blurred row once.
#include <cstdint>
#include <functional>

class matrix;

// gaussblur(sigma, sigma, none) of the plane without storing it: sink(y, row) receives row y
// of the blurred plane, the bits gaussblur makes, and may overwrite row y of the plane (the
// rows the blur still needs are read from its own copies). Rows come in parallel blocks,
// in order within each block.
void GaussianBlurRows(matrix& plane, float sigma,
                      const std::function<void(int64_t y, const float* row)>& sink);
