// The pseudo-inverse prefilter: the low-resolution filter that makes a fixed separable base
// enlargement reduce back to its input under a chosen reduction kernel, solved once on a
// fixed model so that its cost does not depend on the image.
#include <cmath>

#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "platform/errors.h"
#include "platform/progress.h"

namespace {
// Samples of the model the prefilter is solved on: long enough that its ends do not reach
// the middle sample for any kernel of the lists.
constexpr int kModel = 99;
// Taps whose pair of magnitudes stays below this are cut from the prefilter's tails.
constexpr float kTail = 0.00002f;
}  // namespace

matrix& matrix::pseudoinversekernel(int a, int reductionType, int baseType, float radius,
                                    float amount) {
  matrix s, c, S, C, At;
  s.DownscaleKernel(a, reductionType, radius, amount);
  c.DownscaleKernel(a, baseType, 0.0f, 0.0f);
  S.decimationmatrix(s, a, kModel);
  C.decimationmatrix(c, a, kModel);
  // A = C^T S; SolveLinear takes rows (g A^T = e), so it is given the transpose.
  At.transposeproduct(C, S);
  matrix e(kModel, 1);
  e.zero();
  e.x[kModel / 2] = 1.0f;
  matrix g;
  SolveLinear(g, e, At);
  NormaliseSum(g);
  int first = kModel / 2;
  for (int i = 0; i < kModel / 2; ++i) {
    if (std::fabs(g.x[i]) + std::fabs(g.x[kModel - 1 - i]) > kTail) {
      first = i;
      break;
    }
  }
  dim(kModel - 2 * first, 1);
  for (int i = 0; i < n; ++i) x[i] = g.x[first + i];
  NormaliseSum(*this);
  return *this;
}

namespace {
// The prefiltered low plane into out, true; false, out untouched, when the prefilter is not
// shorter than the plane's smaller side and the plane stays as it is.
bool Prefilter(matrix& out, const matrix& low, int a, int reductionType, int baseType,
               matrix& cache, float radius, float amount) {
  if (cache.empty()) cache.pseudoinversekernel(a, reductionType, baseType, radius, amount);
  if (cache.n >= std::min(low.nx, low.ny)) return false;
  out.correlatexy(cache, cache, low);
  return true;
}
}  // namespace

matrix& matrix::pseudoinverseprefilter(int a, int reductionType, int baseType, matrix& cache,
                                       float radius, float amount) {
  Prefilter(*this, *this, a, reductionType, baseType, cache, radius, amount);
  return *this;
}

matrix& matrix::pseudoinverseenlarge(const matrix& low, int a, int reductionType, int baseType,
                                     matrix& cache, bool subtract, float radius, float amount,
                                     bool skipPrefilter) {
  StepProgressOrThrow();
  const int w = low.nx, h = low.ny;
  const int W = SaturatedProduct(a, w), H = SaturatedProduct(a, h);
  // -4 and -5 are reduction kernels only; no base enlargement is made of them.
  if (baseType < -3 || baseType > 64) throw TextException(kUnknownBaseMessage);
  const auto build = [baseType, a](matrix& k, int n) {
    const int N = SaturatedProduct(a, n);
    switch (baseType) {
      case 0:
        BuildBoxKernelForSizes(k, n, N, 0.0f);
        break;
      case 1:
        BuildBilinearKernelForSizes(k, n, N, 0.0f);
        break;
      case -1:
      case -2:
      case -3:
        BuildBicubicKernelForSizes(k, baseType == -1 ? -0.5 : baseType == -2 ? -1.0 : 0.0, n, N,
                                   0.0f);
        break;
      default:
        BuildLanczosKernelForSizes(k, baseType, n, N, 0.0f);
    }
  };
  // A square plane has one kernel matrix for both directions.
  matrix kx, ky;
  build(kx, w);
  if (h == w) {
    ky = kx;
  } else {
    build(ky, h);
  }
  if (nx != W || ny != H) {
    dim(W, H);
    if (subtract) zero();
  }
  // The prefilter reads the low plane and writes a plane of its own: no copy of the input.
  matrix prefiltered;
  const bool filtered =
      !skipPrefilter &&
      Prefilter(prefiltered, low, a, reductionType, baseType, cache, radius, amount);
  StepProgressOrThrow();
  ResampleSeparable(*this, filtered ? prefiltered : low, kx, ky, subtract);
  StepProgressOrThrow();
  return *this;
}
