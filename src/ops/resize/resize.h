#pragma once
// The Resize menu: the linear kernels as one value, the start-up registration of the
// resize commands, and the pieces the enlargement commands will share.
#include <cstdint>

#include "image/fpbuffer.h"
#include "numeric/matrix.h"

// One of the four linear kernels with its parameter (the Keys parameter of the cubic, the
// order of the Lanczos kernel).
struct ResizeKernel {
  enum Kind { Box, Bilinear, Bicubic, Lanczos };
  Kind kind = Lanczos;
  double parameter = 3;

  // The kernel matrix for n input samples resized by scale with the shift in output
  // samples.
  matrix& build(matrix& k, int n, double scale, float shift, bool antialias) const;
};

// Joins the resize commands' handlers to the image window's command table.
void RegisterResizeCommands();

// trunc(scale x length + 0.5), the output length of every resize, saturated so that an
// absurd scale gives a size that the checks refuse instead of an overflow.
int32_t ResizedLength(int length, double scale);

// Brings every channel plane to w x h: rows and columns beyond the present ones repeat the
// last row and then the last column, surplus ones are dropped. The mask follows.
void RepeatEdgesTo(fpbuffer& image, int w, int h);
