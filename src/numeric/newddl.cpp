// The New DDL enlargement of one plane: data-dependent Lanczos doublings, optionally of a
// prefiltered source, refined by back-projection against the reduction kernel.
#include <algorithm>

#include "numeric/cvector.h"
#include "numeric/matrix.h"

matrix& matrix::NewDdlChannel(const matrix& source, int k, int reductionMethod, int baseMethod,
                              int order, float radius, float amount, int backProjections,
                              float edgeParam1, float edgeParam2, float jaggy,
                              int superResIterations, int edgeType, bool presharpen) {
  if (&source == this) {
    const matrix copy(source);
    return NewDdlChannel(copy, k, reductionMethod, baseMethod, order, radius, amount,
                         backProjections, edgeParam1, edgeParam2, jaggy, superResIterations,
                         edgeType, presharpen);
  }
  // 2^k must fit an int; the planes' allocation refuses such sizes long before.
  k = std::clamp(k, 0, 30);
  const int f = 1 << k;
  matrix reduction, cache;
  reduction.DownscaleKernel(f, reductionMethod, radius, amount);
  bytemaps maps;
  // DdlEnlarge without scratch only reads its source.
  matrix& y = const_cast<matrix&>(source);
  // The prefilter's base is the enlargement the doublings approximate: the order read as a
  // base type (Lanczos of that order from 2 up).
  auto prefilter = [&](matrix& plane) {
    plane.pseudoinverseprefilter(f, reductionMethod, order, cache, radius, amount);
  };
  if (presharpen) {
    matrix sharpened(source);
    prefilter(sharpened);
    DdlEnlarge(sharpened, order, k, true, true, false, false, maps, false);
  } else {
    DdlEnlarge(y, order, k, true, true, false, false, maps, false);
  }
  if (backProjections <= 0 && !presharpen) return *this;
  matrix e, back;
  for (int round = 0; round < backProjections; ++round) {
    e.dim(source.nx, source.ny).decimate(*this, reduction, f);
    e.sub(source);
    prefilter(e);
    // The k maps of the first estimate are reused: the residual follows its edges.
    back.DdlEnlarge(e, order, k, true, true, false, false, maps, false);
    sub(back);
  }
  cache.free();
  return superrez(source, cache, f, reductionMethod, baseMethod, edgeParam1, edgeParam2, jaggy,
                  superResIterations, edgeType, radius, amount);
}
