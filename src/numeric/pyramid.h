#pragma once
// Level counts and sizes of pyramids, and the gradient helpers that work level by level.
// The reductions, expansion, differences and pyramids themselves are members of `matrix`
// and `matrixarray`.
#include <vector>

#include "numeric/matrixarray.h"

inline int HalfUp(int a) { return a / 2 + a % 2; }

// 1 + the number of times a can be replaced by HalfUp(a) while a >= limit.
int PyramidDepth(int a, int limit);

// The level count L of a pyramid of a w x h plane: 1 + the number of HalfUp steps of both
// sides while both exceed the limit. widths/heights receive the sizes its levels have: with
// more than one level each level is made even, with one level w x h.
int PyramidLevelSizes(int w, int h, int limit, std::vector<int>& widths, std::vector<int>& heights);

// plane = the transpose of taking the Gaussian pyramid and then the differences of every
// level, applied to g1, g2; scratch holds the levels on the way.
void PyramidGradientsT(matrix& plane, matrixarray& scratch, const matrixarray& g1,
                       const matrixarray& g2, bool diagonal);

// The operator of multiresolutioncg: the planar differences of `count` levels, level 0
// the plane and level k the renormalising reduction of level k-1 across, then down
// (`levels` receives them).
void MultiresolutionGradients(const matrix& plane, int count, matrixarray& levels, matrixarray& g1,
                              matrixarray& g2, bool diagonal);
// Its transpose into plane, which gives the level-0 size; scratch holds the levels.
void MultiresolutionGradientsT(matrix& plane, matrixarray& scratch, const matrixarray& g1,
                               const matrixarray& g2, bool diagonal);

// Element by element, where b1^2 + b2^2 > a1^2 + a2^2 (strictly) a1, a2 become b1, b2;
// KeepSmallerGradients where a1^2 + a2^2 > b1^2 + b2^2.
void KeepLargerGradients(matrix& a1, matrix& a2, const matrix& b1, const matrix& b2);
void KeepSmallerGradients(matrix& a1, matrix& a2, const matrix& b1, const matrix& b2);

// Gradients weighed by the plane w of their level: diagonal differences by the mean of the
// four pixels of their cell, forward ones by the mean of the two pixels they join. Planes
// of another size than w's differences are left alone.
void WeightGradients(const matrix& w, matrix& g1, matrix& g2, bool diagonal);

// Where the old magnitude is > 0, g1 and g2 are scaled by new / old.
void RescaleGradients(const matrix& oldMagnitude, const matrix& newMagnitude, matrix& g1,
                      matrix& g2);
