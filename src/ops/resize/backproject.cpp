// Iterative back-projection: an enlargement is corrected until its reduction by the
// assumed model reproduces the low-resolution plane it was made from.
#include <cmath>

#include "numeric/cvector.h"
#include "numeric/matching.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"

namespace {
// The reduction of the estimate's size to the input's by one mode's kernels.
struct Reduction {
  matrix kx, ky;
  bool Build(int mode, bool second, int w, int h, int ratio) {
    return BuildReductionKernel(kx, mode, second, w * ratio, ratio) &&
           BuildReductionKernel(ky, mode, second, h * ratio, ratio);
  }
  matrix& Apply(matrix& out, const matrix& in) const { return ReduceByKernels(out, in, kx, ky); }
};

float Rms(const matrix& r) {
  return r.n > 0 ? float(std::sqrt(r.sumsq() / double(r.n))) : 0.0f;
}

// Up to `iterations` corrections of x against the residual r of the reduction; r always
// ends as the residual of the x that is kept.
void Refine(matrix& x, matrix& r, const Reduction& reduce, int iterations, int passes,
            int order, bool scratch, float regularization, float exitTolerance) {
  float previous = 2e16f;
  matrix q, s, before;
  for (int it = 0; it < iterations; ++it) {
    bytemaps maps;
    q.DdlEnlarge(r, order, passes, true, true, scratch, false, maps, true);
    if (regularization != 0) q.dejaggy(regularization, x);
    reduce.Apply(s, q);
    const float gain = LeastSquaresGain(s, r);
    before = r;
    r.axpy(-gain, s);
    const float rms = Rms(r);
    if (!(rms < previous)) {
      // The estimate does not take this step, so the residual must not either: a later
      // pass starts from what the estimate really leaves.
      r = std::move(before);
      break;
    }
    x.axpy(gain, q);
    previous = rms;
    if (rms <= exitTolerance) break;
  }
}
}  // namespace

matrix& matrix::BackProject(const matrix& input, float exitTolerance, bool scratch, int mode1,
                            int order, int iterations1, float regularization,
                            int sharpenIterations, float sharpenAmount, float edgeRejection,
                            int mode2, int iterations2) {
  const int w = input.nx, h = input.ny;
  if (w <= 0 || h <= 0 || n == 0) return *this;
  const int ratio = nx / w;
  int passes = 0;
  while ((1 << passes) < ratio && passes < 30) ++passes;
  // Only an enlargement by 2^passes in both directions matches the residual's doublings.
  const bool fits = (1 << passes) == ratio && nx == w * ratio && ny == h * ratio;

  matrix r;
  Reduction first;
  const bool firstRan = fits && iterations1 > 0 && first.Build(mode1, false, w, h, ratio);
  if (firstRan) {
    first.Apply(r, *this);
    r.scaleadd(-1, input);
    Refine(*this, r, first, iterations1, passes, order, scratch, regularization, exitTolerance);
  }

  const bool sharpened = sharpenAmount != 0 && sharpenIterations > 0;
  if (sharpened) {
    // The field steers the estimate's own pixels, so it is taken from the estimate, with
    // the smoothing the input's grid would have had.
    matrix field, step;
    field.tensordirections(*this, 1.0f, float(ratio));
    for (int it = 0; it < sharpenIterations; ++it) {
      step.shockstep(*this, field, edgeRejection, sharpenAmount, 0, 0);
      add(step);
    }
  }

  Reduction second;
  if (fits && iterations2 > 0 && second.Build(mode2, true, w, h, ratio)) {
    // The first pass's residual serves only when it belongs to this estimate and this
    // reduction.
    if (!firstRan || sharpened || ReductionKernelId(mode1, false) != ReductionKernelId(mode2, true)) {
      second.Apply(r, *this);
      r.scaleadd(-1, input);
    }
    Refine(*this, r, second, iterations2, passes, order, scratch, 0, exitTolerance);
  }
  return *this;
}
