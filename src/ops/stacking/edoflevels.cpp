// Level helpers of "Extended DOF 2": the largest coefficient over a stack of pyramids, and
// the mean of the coefficients that lie close to the chosen one.
#include <algorithm>
#include <cmath>

#include "numeric/cvector.h"
#include "numeric/matrixarray.h"
#include "ops/stacking/edof.h"

namespace ops::stacking {
void KeepMaxAbs(matrixarray& fused, const matrixarray& other, int levels) {
  const int count = std::min(levels == 0 ? fused.n : levels, std::min(fused.n, other.n));
  // Exponent -1 is the "largest magnitude" rule; a tie keeps the coefficient already held.
  for (int i = 0; i < count; ++i) fused[i].addsignedpower(other[i], -1.0f);
}

void AccumulateWithin(matrix& sum, const matrix& candidate, const matrix& reference,
                      cvector<int32_t>& counts, float t) {
  const int count = std::min({sum.n, candidate.n, reference.n, counts.n});
  for (int i = 0; i < count; ++i) {
    if (t >= std::fabs(reference.x[i] - candidate.x[i])) {
      sum.x[i] += candidate.x[i];
      ++counts.x[i];
    }
  }
}

void AccumulateWithin(matrixarray& sums, const matrix& plane, const matrixarray& reference,
                      intmaps& counts, float tolerance, float attenuation, int limit) {
  matrixarray candidate;
  candidate.pyramid(plane, limit, true);
  float t = tolerance;
  for (int i = 0; i < std::min({sums.n, reference.n, candidate.n, counts.n}); ++i) {
    AccumulateWithin(sums[i], candidate[i], reference[i], counts.row[i], t);
    t *= attenuation;
  }
}

void DivideCounts(matrixarray& sums, const intmaps& counts) {
  for (int i = 0; i < std::min(sums.n, counts.n); ++i) {
    matrix& s = sums[i];
    const cvector<int32_t>& k = counts.row[i];
    for (int j = 0; j < std::min(s.n, k.n); ++j) {
      if (k.x[j] != 0) s.x[j] = float(double(s.x[j]) / k.x[j]);
    }
  }
}

void AssignLevels(matrixarray& levels, const matrixarray& source) {
  if (levels.n == 0) {
    levels.copy(source);
    return;
  }
  for (int i = 0; i < std::min(levels.n, source.n); ++i) {
    // A level of the same element count keeps its own shape.
    if (levels[i].n == source[i].n) {
      levels[i].copyfrom(source[i].x);
    } else {
      levels[i] = source[i];
    }
  }
}
}  // namespace ops::stacking
