// Modified B-spline enlargement of the float image: one class map from the dominant
// channel serves every channel.
#include <vector>

#include "numeric/mbs.h"
#include "ops/resize/resize.h"

fpbuffer& mbs(fpbuffer& image, int dominantSetting, int s, bool scratch) {
  if (s <= 2 || s % 2 == 0) return image;
  // Checked before the mask is resampled, so that a refusal leaves mask and image of one
  // size.
  const int d = image.dominantchannel(dominantSetting);
  if (d < 1 || d > 3 || d > image.channels) return image;
  image.mask.resample(s, s, 0, 0);
  cvector<uint8_t> classes;
  image.plane[d - 1].mbsclassify(classes);
  std::vector<matrix*> planes;
  for (int c = 0; c < image.channels; ++c) planes.push_back(&image.plane[c]);
  BsplinePrefilter(planes.data(), int(planes.size()));
  if (!scratch) {
    // In memory the channels fill side by side, sharing the loop.
    std::vector<matrix> coefficients;
    coefficients.reserve(planes.size());
    std::vector<const matrix*> from;
    for (matrix* plane : planes) {
      coefficients.push_back(std::move(*plane));
      from.push_back(&coefficients.back());
    }
    AllChannelsAtOnce(
        image, [&] { MbsFillBlur(planes.data(), from.data(), int(planes.size()), classes, s); });
    return image;
  }
  ForEachChannel(image, scratch, [&](matrix& plane) {
    const matrix coefficients = std::move(plane);
    MbsFillBlur(plane, coefficients, classes, s);
    return false;
  });
  return image;
}
