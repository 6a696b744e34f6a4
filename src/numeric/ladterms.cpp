// The element-wise terms of the least-absolute-deviation solver. Each runs over whole
// planes in fixed blocks, so the results do not depend on the number of threads.
#include <algorithm>
#include <vector>

#include "numeric/blocksum.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
template <class Body>
void EachElement(const matrix& m, Body body) {
  ParallelBlocks(m.n, BlockFor(4), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) body(size_t(i));
  });
}
}  // namespace

matrix& matrix::ladweights(const matrix& z, const matrix& u) {
  EachElement(*this, [&](size_t i) {
    const double z2 = double(z.x[i]) * z.x[i], u2 = double(u.x[i]) * u.x[i];
    x[i] = static_cast<float>(z2 * u2 / (z2 + u2));
  });
  return *this;
}

matrix& matrix::ladgapterm(const matrix& z, const matrix& u) {
  EachElement(*this, [&](size_t i) {
    const double z2 = double(z.x[i]) * z.x[i], u2 = double(u.x[i]) * u.x[i];
    x[i] = static_cast<float>((double(z.x[i]) - u.x[i]) * x[i] / (z2 + u2));
  });
  return *this;
}

matrix& matrix::ladmaxratio(float* F, const matrix& z, const matrix& u) {
  if (n <= 0) return *this;
  const int64_t block = BlockFor(4);
  std::vector<float> most(size_t((n + block - 1) / block), *F);
  ParallelBlocks(n, block, [&](int64_t i0, int64_t i1) {
    float m = *F;
    for (int64_t i = i0; i < i1; ++i) {
      m = std::max(m, std::max(-x[i] / z.x[i], x[i] / u.x[i]));
    }
    most[size_t(i0 / block)] = m;
  });
  for (const float m : most) *F = std::max(*F, m);
  return *this;
}

double matrix::weightsq(const matrix& w) {
  return BlockSum(size_t(std::max(n, 0)), [&](size_t i) {
    const double t = x[i];
    x[i] = static_cast<float>(t * w.x[i]);
    return double(w.x[i]) * t * t;
  });
}

matrix& matrix::scaleweighted(float s, const matrix& w) {
  EachElement(*this, [&](size_t i) { x[i] = static_cast<float>(double(s) * w.x[i] * x[i]); });
  return *this;
}
