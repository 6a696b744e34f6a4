// The New DDL enlargement of the float image: the channels wait in scratch files while each
// is enlarged; the chrominance of a shortcut, and every channel without refinement, follow
// the direction maps of the first channel that decides them.
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "params/blocks.h"
#include "platform/errors.h"

fpbuffer& fpbuffer::newddl(int k, int reductionMethod, int baseMethod, int order, int shortcut,
                           float radius, float amount, int backProjections,
                           const PostProcessParams& params, bool presharpen) {
  if (k < 0 || k > 30) throw TextException(kDoublingsMessage);
  if (order < 0 || order > 5) throw TextException(kOrderMessage);
  CheckEnlargementKernels(1, reductionMethod, baseMethod);
  if (empty()) return *this;
  const CSpaceCode entry = code;
  const CSpaceCode space = ShortcutSpace(shortcut);
  if (space) convert(space);
  const bool refine = backProjections > 0 || presharpen;
  bytemaps shared;
  int done = 0;
  ForEachChannel(*this, true, DominantFirst(1, channels), [&](matrix& plane) {
    matrix source = std::move(plane);
    if (refine && (done++ == 0 || !space)) {
      plane.NewDdlChannel(source, k, reductionMethod, baseMethod, order, radius, amount,
                          backProjections, params.edgeSharpeningParam1, params.edgeSharpeningParam2,
                          params.jaggyRemoval, params.superRezIters, params.edgeSharpening,
                          presharpen);
    } else {
      // A list already holding k maps is used as it stands.
      plane.DdlEnlarge(source, order, k, true, true, false, false, shared, false);
    }
    return false;
  });
  if (space) convert(entry);
  if (mask.present() && k > 0) mask.resample(1 << k, 1 << k, 0, 0);
  return *this;
}
