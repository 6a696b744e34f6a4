// The local window filters of the image window: the pages, F2/F3, Ctrl and programs through
// RunFloatOperation, then the filter on the current layer with the window's painted
// selection (when it has one) and the Cond flag.
#include "ops/filters/local.h"
#include "ops/filters/selection.h"

#include "app/imageview.h"
#include "params/settings.h"

namespace {
BlurParams& Params() { return LiveSettings().blur; }

bool Cond() { return LiveSettings().conditional != 0; }
}  // namespace

void OnFastAverage(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    for (int pass = 0; pass < Params().averageIterations; ++pass) image.average3x3();
  });
}

void OnLensBlur(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = Params();
    image.lensblur(p.lensBlurIterations, p.lensBlurRadius, p.lensBlurMaskedInput != 0,
                   PaintedSelection(v), Cond());
  });
}

void OnMedian(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = Params();
    image.median(p.medianIterations, p.medianRadius, p.medianMaskedInput != 0, PaintedSelection(v),
                 Cond(), p.medianGaussianWeighted != 0);
  });
}

void OnWeightedMajority(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = Params();
    image.wmmr(p.wmmrIterations, p.wmmrRadius, p.wmmrMaskedInput != 0, PaintedSelection(v), Cond());
  });
}

void OnBilateralFilter(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = Params();
    image.bilateral(p.bilateralSpreadFactor, p.bilateralIterations, p.bilateralWindowSize,
                    p.bilateralDistribution, PaintedSelection(v), Cond(),
                    p.bilateralUseMedian != 0);
  });
}

void OnNlMeans(CImageView& v, int id) {
  v.RunFloatOperation(
      id,
      [](fpbuffer& image) {
        const BlurParams& p = Params();
        image.nlmeans(p.nlMeansThreshold, p.nlMeansSearchRadius, p.nlMeansWindowRadius,
                      p.nlMeansUseMedian != 0, p.nlMeansDistribution,
                      p.nlMeansCombinedChannels != 0, Cond(), p.nlMeansUseModification != 0);
      },
      3);
}
