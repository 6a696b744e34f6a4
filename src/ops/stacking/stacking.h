#pragma once
// The Stacking menu's brightness/contrast templates and the Layer menu's matching of the
// current layer to the other one: the command handlers and the drivers that run the plane
// matches over an image's channels.
#include <array>

#include "image/fpbuffer.h"

class CImageView;

namespace ops::stacking {
// The matches of image to reference channel by channel. With cond the visible channels,
// else every channel; the pairs of the fits are those whose reference value lies in
// [minimum, maximum] and, with cond and the image's own mask present, whose mask bit is
// set. With onlyMaskInput the mask limits only the pairs and the whole channel is
// corrected. Images of different sizes are left alone.
void lsmatch2(fpbuffer& image, const fpbuffer& reference, float minimum, float maximum, bool cond,
              bool onlyMaskInput);
// The same with one gain per channel; the gains of channels 0-2, 0 for one not matched.
std::array<float, 3> lsmatch1(fpbuffer& image, const fpbuffer& reference, float minimum,
                              float maximum, bool cond, bool onlyMaskInput);
std::array<float, 3> ladmatch1(fpbuffer& image, const fpbuffer& reference, float minimum,
                               float maximum, bool cond, bool onlyMaskInput);
// The levels match of the channels cond chooses, as above.
void matchlevels(fpbuffer& image, const fpbuffer& reference, float percentile, float increment,
                 bool cond);
}  // namespace ops::stacking

// Layer > Match Top to Bottom (bound in bindings.cpp).
void OnLsMatch2(CImageView& v, int id);
void OnLsMatch1(CImageView& v, int id);
void OnLadMatch1(CImageView& v, int id);
void OnWaveletMatch(CImageView& v, int id);
void OnMatchLevels(CImageView& v, int id);

// Stacking > brightness/contrast templates.
void OnCreateBrightnessContrastTemplate(CImageView& v, int id);
void OnDestroyBrightnessContrastTemplate(CImageView& v, int id);
void OnAdjustment(CImageView& v, int id);
