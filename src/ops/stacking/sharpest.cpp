// Combine Sharpest Features: the current layer keeps, pixel by pixel, the stronger of its
// own and the other layer's gradients and is rebuilt from them.
#include "ops/stacking/sharpest.h"

#include <algorithm>
#include <vector>

#include "app/imageview.h"
#include "image/opscope.h"
#include "numeric/pyramid.h"
#include "params/settings.h"
#include "platform/progress.h"

namespace {
constexpr int kPyramidLimit = 4;
}  // namespace

fpbuffer& fpbuffer::combinesharpest(const fpbuffer& other, int iterations, bool usePyramid,
                                    bool cond) {
  if (n == 0) return *this;
  // A fourth channel of a four-channel space may have no plane: only channels both images
  // hold whole are merged.
  const OperationScope scope(*this, nullptr, cond, ScopeRule{ScopeChannels::ByCond, false});
  std::vector<int> merged;
  for (int c = 0; c < std::min(channels, other.channels); ++c) {
    const matrix& a = plane[c];
    const matrix& b = other.plane[c];
    if (scope.processes(c) && a.n == n && b.nx == a.nx && b.ny == a.ny) merged.push_back(c);
  }
  StartProgress(float(iterations) * float(merged.size()));
  for (const int c : merged) {
    matrix& a = plane[c];
    const matrix& b = other.plane[c];
    if (usePyramid) {
      matrixarray gauss, a1, a2, b1, b2;
      a.gradpyramid(gauss, a1, a2, kPyramidLimit, true);
      b.gradpyramid(gauss, b1, b2, kPyramidLimit, true);
      a1.keeplargergradients(a2, b1, b2);
      a.pyramidcg(iterations, a1, a2, kPyramidLimit, true);
    } else {
      matrix a1, a2, b1, b2;
      a.diagdiff(a1, a2, false);
      b.diagdiff(b1, b2, false);
      KeepLargerGradients(a1, a2, b1, b2);
      a.poissoncg(iterations, a1, a2);
    }
  }
  return *this;
}

void OnCombineSharpestFeatures(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const LayerParams& p = LiveSettings().layer;
    image.combinesharpest(v.otherLayer(), p.cloningIterations, p.usePyramid != 0,
                          LiveSettings().conditional != 0);
  });
}
