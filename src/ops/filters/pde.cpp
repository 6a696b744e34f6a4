// The orientation-steered filters of the image window: the page, F2, Ctrl and programs
// through RunFloatOperation, then the driver on the current layer with the painted
// selection (when it has storage) and the Cond flag. No message, no progress, no cancel.
#include "ops/filters/pde.h"
#include "ops/filters/selection.h"

#include "app/flags.h"
#include "app/imageview.h"
#include "params/settings.h"

namespace {
// F3 of these commands has no inverse to replay: it is the menu call, page and all, and a
// program step recorded with it neither keeps nor restores the settings.
class F3AsMenuCall {
 public:
  F3AsMenuCall() : f3_(Flags().F3Active, false) {}

 private:
  FlagScope f3_;
};
}  // namespace

void OnShockFilter(CImageView& v, int id) {
  const F3AsMenuCall menuCall;
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const RegularizationParams& p = LiveSettings().regularization;
    image.shockfilter(p.shockIterations, p.shockStdDev, p.shockEdgeFactor, p.shockStepSize,
                      PaintedSelection(v), LiveSettings().conditional != 0);
  });
}

void OnTschumperleRegularization(CImageView& v, int id) {
  const F3AsMenuCall menuCall;
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const RegularizationParams& p = LiveSettings().regularization;
    image.tschumperle(p.tschumperleIterations, p.tschumperleStdDev, p.tschumperleBlurStep,
                      p.tschumperleEdgeStep, p.tschumperleBlurParameter, p.tschumperleEdgeParameter,
                      p.tschumperleMode, p.tschumperleRecalcInterval, PaintedSelection(v));
  });
}

void OnIsophoteSmoothing(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.isophote(p.isophoteIterations, p.isophoteCoefficient, p.isophoteModulus, p.isophoteOffset,
                   p.isophoteMode, PaintedSelection(v), LiveSettings().conditional != 0);
  });
}
