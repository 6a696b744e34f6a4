// The pseudo-inverse enlargement of the float image and the test reduction that goes with
// it: the channels wait in scratch files while each is enlarged, so that only one low- and
// one high-resolution plane are in memory at a time.
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "params/blocks.h"
#include "platform/errors.h"
#include "platform/messages.h"

void CheckEnlargementKernels(int factor, int reductionType, int baseType) {
  if (factor < 1) throw TextException(kFactorMessage);
  if (!IsReductionType(reductionType)) throw TextException(kUnknownReductionMessage);
  if (!IsBaseType(baseType)) throw TextException(kUnknownBaseMessage);
}

CSpaceCode ShortcutSpace(int shortcut) {
  return shortcut == 1 ? cspace::kYCbCr : shortcut == 2 ? cspace::kYCbCr2 : 0;
}

matrix& SuperRez(matrix& plane, const matrix& low, matrix& cache, int a, int reductionType,
                 int baseType, const PostProcessParams& params, float radius, float amount) {
  return plane.superrez(low, cache, a, reductionType, baseType, params.edgeSharpeningParam1,
                        params.edgeSharpeningParam2, params.jaggyRemoval, params.superRezIters,
                        params.edgeSharpening, radius, amount);
}

fpbuffer& fpbuffer::pseudoinverseenlarge(int a, int reductionType, int baseType, int shortcut,
                                         float radius, float amount,
                                         const PostProcessParams& superRes) {
  CheckEnlargementKernels(a, reductionType, baseType);
  if (empty()) return *this;
  // Solved before anything changes, so that a singular model leaves the image as it was.
  matrix cache;
  cache.pseudoinversekernel(a, reductionType, baseType, radius, amount);
  const CSpaceCode entry = code;
  const CSpaceCode space = ShortcutSpace(shortcut);
  if (space) convert(space);
  int done = 0;
  ForEachChannel(*this, true, DominantFirst(1, channels), [&](matrix& plane) {
    const matrix low = std::move(plane);
    plane.pseudoinverseenlarge(low, a, reductionType, baseType, cache, false, radius, amount,
                               false);
    // With a shortcut only the luminance is refined.
    if (done++ == 0 || !space) {
      SuperRez(plane, low, cache, a, reductionType, baseType, superRes, radius, amount);
    }
    return false;
  });
  if (space) convert(entry);
  if (mask.present()) mask.resample(a, a, 0, 0);
  return *this;
}

fpbuffer& fpbuffer::reducetest(int a, int reductionType, float radius, float amount) {
  CheckEnlargementKernels(a, reductionType, 0);
  if (width % a != 0 || height % a != 0) {
    ShowMessage("The dimensions of the test image must be exactly divisible by the scale factor");
    return *this;
  }
  matrix kernel;
  kernel.DownscaleKernel(a, reductionType, radius, amount);
  for (int c = 0; c < channels; ++c) {
    matrix small(width / a, height / a);
    small.decimate(plane[c], kernel, a);
    plane[c] = std::move(small);
  }
  syncviews();
  if (mask.present()) mask.resample(1.0 / a, 1.0 / a, 0, 0);
  return *this;
}
