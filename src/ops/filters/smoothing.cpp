// The scan-path smoothers of the image window: the pages, F2/F3, Ctrl and programs through
// RunFloatOperation, then the smoother on the current layer.
#include "ops/filters/smoothing.h"
#include "ops/filters/selection.h"

#include "app/imageview.h"
#include "params/settings.h"

namespace {
BlurParams& Params() { return LiveSettings().blur; }
bool Cond() { return LiveSettings().conditional != 0; }
}  // namespace

// The painted selection is not used: the whole image is smoothed.
void OnHysteresisSmoothing(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const BlurParams& p = Params();
    const bool combine = p.hysteresisCombineChannels != 0;
    if (p.hysteresisArtifactReduction == 0) {
      image.hysteresis(p.hysteresisTolerance, p.hysteresisIterations, combine, Cond(), nullptr);
      return;
    }
    image.hysteresissmooth(p.hysteresisTolerance, p.hysteresisIterations,
                           p.hysteresisHaloIterations, combine, Cond());
    // The per-channel merge leaves the channels off their range: they are stretched back.
    if (!combine && p.hysteresisIterations > 0) image.scaleshift(0);
  });
}

void OnFastBilateralApproximation(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = Params();
    image.fastbilateral(p.fastBilateralRangeStdDev, p.fastBilateralRadius,
                        p.fastBilateralIterations, p.fastBilateralCombineChannels != 0, Cond(),
                        PaintedSelection(v));
  });
}
