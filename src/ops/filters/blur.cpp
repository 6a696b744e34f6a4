// Gaussian Blur and Motion Blur of the image window: the common operation pattern on the
// current layer, with the painted selection when there is one.
#include "ops/filters/blur.h"
#include "ops/filters/selection.h"

#include "app/imageview.h"
#include "image/opscope.h"
#include "numeric/bitmask.h"
#include "params/settings.h"

namespace {
BlurParams& Params() { return LiveSettings().blur; }
bool Cond() { return LiveSettings().conditional != 0; }
}  // namespace

void gaussblur(fpbuffer& image, float sx, float sy, bitmask* selection, bool cond) {
  const OperationScope scope(image, selection, cond);
  for (int c = 0; c < scope.channels(); ++c) {
    if (scope.processes(c)) image.plane[c].gaussblur(sx, sy, scope.mask());
  }
}

void motionblur(fpbuffer& image, int passes, float length, float angle, bool maskedInput,
                bitmask* selection, bool cond) {
  const OperationScope scope(image, selection, cond);
  for (int c = 0; c < scope.channels(); ++c) {
    if (!scope.processes(c)) continue;
    for (int i = 0; i < passes; ++i) {
      image.plane[c].motionblur(length, angle, scope.mask(), maskedInput);
    }
  }
}

void OnGaussianBlur(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    gaussblur(image, Params().gaussianSx, Params().gaussianSy, PaintedSelection(v), Cond());
  });
}

void OnMotionBlur(CImageView& v, int id) {
  // The page opens on the motion rows.
  v.RunFloatOperation(
      id,
      [&v](fpbuffer& image) {
        const BlurParams& p = Params();
        motionblur(image, p.lensBlurIterations, p.motionBlurDistance, p.motionBlurAngle,
                   p.lensBlurMaskedInput != 0, PaintedSelection(v), Cond());
      },
      4);
}
