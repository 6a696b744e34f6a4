// Matching the current layer to the other layer of the window: least-squares and
// least-absolute-deviation gains, the wavelet match and the levels match.
#include <algorithm>
#include <functional>

#include "app/imageview.h"
#include "image/opscope.h"
#include "ops/stacking/stacking.h"
#include "params/settings.h"
#include "platform/format.h"

namespace ops::stacking {
namespace {
bool SameSize(const fpbuffer& a, const fpbuffer& b) {
  return a.width == b.width && a.height == b.height;
}

// f(c, mask) for every channel the Cond rule picks that the reference also has; mask is
// the image's own mask when Cond is on and it is present, else null.
template <class F>
void ForMatchedChannels(fpbuffer& image, const fpbuffer& reference, bool cond, F f) {
  if (image.empty() || !SameSize(image, reference)) return;
  const OperationScope scope(image, nullptr, cond);
  for (int c = 0; c < std::min(image.channels, reference.channels); ++c) {
    if (scope.processes(c)) f(c, scope.mask());
  }
}

template <class Match>
std::array<float, 3> MatchGains(fpbuffer& image, const fpbuffer& reference, bool cond,
                                Match match) {
  std::array<float, 3> gains{};
  ForMatchedChannels(image, reference, cond, [&](int c, const bitmask* mask) {
    const float g = match(image.plane[c], reference.plane[c], mask);
    if (c < 3) gains[size_t(c)] = g;
  });
  return gains;
}
}  // namespace

void lsmatch2(fpbuffer& image, const fpbuffer& reference, float minimum, float maximum, bool cond,
              bool onlyMaskInput) {
  ForMatchedChannels(image, reference, cond, [&](int c, const bitmask* mask) {
    double gain = 0, offset = 0;
    image.plane[c].lsmatch2(reference.plane[c], gain, offset, minimum, maximum, mask, onlyMaskInput,
                            true);
  });
}

std::array<float, 3> lsmatch1(fpbuffer& image, const fpbuffer& reference, float minimum,
                              float maximum, bool cond, bool onlyMaskInput) {
  return MatchGains(image, reference, cond, [&](matrix& x, const matrix& y, const bitmask* mask) {
    return x.lsmatch1(y, minimum, maximum, mask, onlyMaskInput);
  });
}

std::array<float, 3> ladmatch1(fpbuffer& image, const fpbuffer& reference, float minimum,
                               float maximum, bool cond, bool onlyMaskInput) {
  return MatchGains(image, reference, cond, [&](matrix& x, const matrix& y, const bitmask* mask) {
    return x.ladmatch1(y, minimum, maximum, mask, onlyMaskInput);
  });
}

void matchlevels(fpbuffer& image, const fpbuffer& reference, float percentile, float increment,
                 bool cond) {
  ForMatchedChannels(image, reference, cond, [&](int c, const bitmask*) {
    image.plane[c].matchlevels(reference.plane[c], percentile, increment);
  });
}
}  // namespace ops::stacking

namespace {
const LayerParams& Params() { return LiveSettings().layer; }
bool Cond() { return LiveSettings().conditional != 0; }

// The common pattern with the page opened on the command's row; the timer leaves the
// monitor alone.
void RunMatch(CImageView& v, int id, const std::function<void(fpbuffer&)>& match, int row) {
  if (v.PrepareOperation(id, nullptr, row)) v.RunOnFloat(match, false);
}

// The one-parameter matches report their gains in the pixel-information pane.
template <class Match>
void MatchWithGains(CImageView& v, int id, Match match) {
  RunMatch(
      v, id,
      [&](fpbuffer& image) {
        const LayerParams& p = Params();
        const std::array<float, 3> g = match(image, v.otherLayer(), p.minimumForInclusion,
                                             p.maximumForInclusion, Cond(), p.onlyMaskInput != 0);
        v.pixelInfoText = Format("coefs = [%f, %f, %f]", g[0], g[1], g[2]);
      },
      2);
}
}  // namespace

void OnLsMatch2(CImageView& v, int id) {
  RunMatch(
      v, id,
      [&](fpbuffer& image) {
        const LayerParams& p = Params();
        ops::stacking::lsmatch2(image, v.otherLayer(), p.minimumForInclusion, p.maximumForInclusion,
                                Cond(), p.onlyMaskInput != 0);
      },
      2);
}

void OnLsMatch1(CImageView& v, int id) { MatchWithGains(v, id, ops::stacking::lsmatch1); }

void OnLadMatch1(CImageView& v, int id) { MatchWithGains(v, id, ops::stacking::ladmatch1); }

void OnWaveletMatch(CImageView& v, int id) {
  RunMatch(
      v, id,
      [&](fpbuffer& image) {
        const fpbuffer& reference = v.otherLayer();
        const LayerParams& p = Params();
        // Channels 0-2 whatever Cond says.
        for (int c = 0; c < std::min({3, image.channels, reference.channels}); ++c) {
          image.plane[c].waveletmatch(reference.plane[c], p.waveletLevels, p.waveletMatchLad != 0);
        }
      },
      11);
}

void OnMatchLevels(CImageView& v, int id) {
  RunMatch(
      v, id,
      [&](fpbuffer& image) {
        const LayerParams& p = Params();
        ops::stacking::matchlevels(image, v.otherLayer(), p.levelsPercentile, p.levelsIncrement,
                                   Cond());
      },
      7);
}
