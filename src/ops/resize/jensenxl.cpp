// Jensen-Xin Li: the Jensen edge model with one Xin Li doubling as its partner, pass by
// pass; the classic four-neighbour model or the twelve-coefficient one.
#include <algorithm>

#include "image/fpbuffer.h"
#include "ops/resize/resize.h"

fpbuffer& jensenxinli(fpbuffer& image, int passes, int dominantSetting, const XinLiModel& xl,
                      bool rotate, const JensenModel& edges, bool scratch) {
  JensenModel model = edges;
  // The edge model and the Xin Li fits read one channel, so both take the nearest one the
  // image has.
  model.dominant =
      std::clamp(image.dominantchannel(dominantSetting), 1, std::max(1, std::min(3, image.channels)));
  return JensenPasses(image, passes, rotate, model, scratch, [&] {
    if (xl.twelve) {
      image.XinLiEnlarge(xl.bias, xl.window, xl.taper, xl.normalization, model.dominant, 1, false,
                         xl.antialias);
    } else {
      image.xinlipasses(xl.bias, xl.window, xl.taper, xl.normalization, model.dominant, 1, false);
    }
  });
}
