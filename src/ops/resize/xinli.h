#pragma once
// The pass structure the two Xin Li models share.
#include <functional>

#include "image/fpbuffer.h"

// Runs `passes` doublings of the image, pass(image, copy, turn) making the image the 2x
// enlargement of a copy of it (the copy carries no mask), turn set for the second pass when
// rotate is. With rotate and at least two passes the result is turned back by 180 degrees.
// The mask is set aside meanwhile and comes back resampled by the growth of the image.
// Nothing changes for an empty image, no passes, or a dominant channel the image lacks.
fpbuffer& XinLiPasses(fpbuffer& image, int dominant, int passes, bool rotate,
                      const std::function<void(fpbuffer& image, fpbuffer& copy, bool turn)>& pass);
