// Seamless cloning: the other layer's differences are carried into the region and the
// values solved for by least squares, joined to the pixels around the region.
#include <algorithm>
#include <cmath>
#include <vector>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/cvector.h"
#include "platform/parallel.h"

void SeamlessClone(fpbuffer& destination, const fpbuffer& source, int iterations, float a, float w,
                   int mode, bitmask* selection) {
  // Another size has no pixel to pixel meaning; fewer channels clone those both have.
  if (destination.n == 0 || source.width != destination.width ||
      source.height != destination.height) {
    return;
  }
  const OperationScope scope(destination, selection, false, {ScopeChannels::All, true, true});
  if (scope.mask() == nullptr) return;
  const bitmask& region = *scope.mask();
  cvector<int> outer, inner, ih, iv, bh, bv, pixels;
  region.ringlist(outer, false).ringlist(inner, true).pairlists(ih, iv, bh, bv);
  region.indices(pixels);
  const bool compensate = mode == 3 || mode == 4;
  const bool mixAll = mode == 1, mixBoundary = mode == 2 || mode == 4;
  const int channels = std::min(destination.channels, source.channels);
  // A channel's ring values and targets, its region set to the source's values.
  struct Targets {
    matrix e, gih, giv, gbh, gbv;
  };
  std::vector<Targets> targets(size_t(std::max(channels, 0)));
  const auto prepare = [&](int c) {
    Targets& t = targets[size_t(c)];
    matrix& e = t.e;
    matrix& gih = t.gih;
    matrix& giv = t.giv;
    matrix& gbh = t.gbh;
    matrix& gbv = t.gbv;
    matrix own, listed;
    matrix& d = destination.plane[c];
    const matrix& s = source.plane[c];
    d.listgather(1.0f, outer, e);
    s.listdiffx(ih, gih, 1.0f).listdiffy(iv, giv, 1.0f).listdiffx(bh, gbh, 1.0f);
    s.listdiffy(bv, gbv, 1.0f);
    float factor = 1.0f;
    if (compensate && inner.n > 0) {
      s.listgather(1.0f, inner, listed);
      const double mean = listed.sum() / inner.n;
      // An empty outer ring or a mean of 0 leaves no finite factor: none is applied.
      if (mean != 0.0) factor = float(e.sum() / (double(outer.n) * mean));
      if (!std::isfinite(factor)) factor = 1.0f;
    }
    if (factor != 1.0f) {
      for (matrix* g : {&gih, &giv, &gbh, &gbv}) g->mulscalar(factor);
    }
    // Where the destination's own difference is the stronger, it is kept.
    if (mixAll) {
      d.listdiffx(ih, own, 1.0f);
      gih.keeplarger(own);
      d.listdiffy(iv, own, 1.0f);
      giv.keeplarger(own);
    }
    if (mixAll || mixBoundary) {
      d.listdiffx(bh, own, 1.0f);
      gbh.keeplarger(own);
      d.listdiffy(bv, own, 1.0f);
      gbv.keeplarger(own);
    }
    s.listgather(factor, pixels, listed);
    for (int k = 0; k < pixels.n; ++k) d.x[pixels.x[k]] = listed.x[k];
  };
  // Each channel's solve writes only its own plane; a solve's passes are too short to share
  // out, so the channels are solved side by side, each on one thread (its bands inline). A
  // solve holds several working planes of the region's size, so on very large images the
  // channels take turns, each solve's row bands shared out.
  const auto clone = [&](int c) {
    prepare(c);
    Targets& t = targets[size_t(c)];
    destination.plane[c].poissoncg(iterations, a, outer, t.e, ih, t.gih, iv, t.giv, w, bh, t.gbh,
                                   bv, t.gbv);
    t = Targets();
  };
  if (int64_t(destination.n) > (int64_t(1) << 24)) {
    for (int c = 0; c < channels; ++c) clone(c);
    return;
  }
  ParallelBlocks(channels, 1, [&](int64_t c0, int64_t c1) {
    for (int64_t c = c0; c < c1; ++c) clone(int(c));
  });
}
