#pragma once
// The steps of the structure tensor and of the shock filter's iteration, for the drivers that
// run them row by row.
#include <cstdint>

class matrix;

// The structure tensor of a plane before its smoothing: the products of the half-pixel
// differences (matrix::structuretensor without the Gaussian and the rescaling). in must not
// be one of the three planes.
void StructureTensorProducts(const matrix& in, matrix& xx, matrix& xy, matrix& yy);

// The major (or minor) unit eigenvectors (vx, vy) of count tensors [xx xy; xy yy].
void OneEigenvector(const float* xx, const float* xy, const float* yy, float* __restrict vx,
                    float* __restrict vy, int64_t count, bool major);

// The planes one shock-filter iteration works in, kept from one iteration to the next.
struct ShockScratch {
  matrix* xx;
  matrix* xy;
  matrix* yy;
  matrix* copy;
};

// One iteration of the shock filter on a whole plane, without a selection: the same bits as
// field.tensordirections(plane, 1, sigma) then plane.shockupdate(copy of plane, field,
// edgeFactor, step, none), with the field of each row made as the row's tensor is smoothed
// and used at once.
void ShockIteration(matrix& plane, float sigma, float edgeFactor, float step,
                    const ShockScratch& scratch);
