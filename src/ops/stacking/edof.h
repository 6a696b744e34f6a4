#pragma once
// The focus-stacking modes of the stacking load loop: "Extended DOF" (a-trous levels
// merged by signed power means), "Extended DOF 2" (Laplacian pyramids, the coefficient of
// largest magnitude, optionally averaged with those close to it) and "Extended DOF 3"
// (the strongest gradients of every pyramid level, rebuilt by conjugate gradients).
#include "numeric/cvector.h"
#include "numeric/matrixarray.h"
#include "ops/stacking/stack.h"

namespace ops::stacking {
bool ExtendedDofMode(int mode);

// The steps of mode 4, 7 or 8 with the stacking block as it stands. The state they share,
// and the run's scratch files (removed by name), live as long as the steps.
StackSteps ExtendedDofSteps(CImageView& v, int mode);

// Level helpers of "Extended DOF 2" (edoflevels.cpp).
// Over the first `levels` levels (all for 0) the coefficient of larger magnitude; a tie keeps
// the one held.
void KeepMaxAbs(matrixarray& fused, const matrixarray& other, int levels);
// Where t >= |reference - candidate|, sum += candidate and the count grows.
void AccumulateWithin(matrix& sum, const matrix& candidate, const matrix& reference,
                      cvector<int32_t>& counts, float t);
// The same level by level against the Laplacian pyramid of the plane (limit), with t_0 =
// tolerance and t_i+1 = t_i * attenuation.
void AccumulateWithin(matrixarray& sums, const matrix& plane, const matrixarray& reference,
                      intmaps& counts, float tolerance, float attenuation, int limit);
// sum /= count where the count is not 0.
void DivideCounts(matrixarray& sums, const intmaps& counts);
// Level i takes the source level's values (keeping its shape when the counts agree); an
// empty array becomes a copy.
void AssignLevels(matrixarray& levels, const matrixarray& source);
}  // namespace ops::stacking
