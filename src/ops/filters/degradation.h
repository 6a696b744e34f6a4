#pragma once
// The degradation operators of regularized restoration: twelve pairs of a forward operator
// and its exact transpose, as LinearOp functions that read their parameters from one
// process-wide record. A size-preserving pair maps a plane to a plane of its size; a
// decimating pair maps f w x f h to w x h and back, the caller dimensioning the output.
#include "numeric/matrix.h"

struct PsfParameters {
  int discRadius = 2;
  float sigmaH = 1.0f;
  float sigmaV = 1.0f;
  int uniformWidth = 3;
  int uniformHeight = 3;
  float bicubicA = -0.5f;
  // Borrowed from the command for the length of a run; null is the one-tap identity.
  const matrix* customRow = nullptr;
  const matrix* customColumn = nullptr;
  // The factor of a decimating pair whose larger width is not a multiple of the smaller
  // (a convolution to round(W / f) columns); an exact quotient always wins.
  int decimationFactor = 2;
};

PsfParameters& CurrentPsfParameters();
void SetDiscRadius(int r);
void SetGaussianSigmas(float horizontal, float vertical);
void SetUniformSize(int width, int height);
void SetBicubicParameter(float a);
void SetCustomKernels(const matrix* row, const matrix* column);
void SetDecimationFactor(int f);

// The factor of a decimating pair between widths `large` and `small`.
int DecimationFactor(int large, int small);

matrix& PsfIdentity(matrix& out, const matrix& in);
matrix& PsfLensBlur(matrix& out, const matrix& in);
matrix& PsfLensBlurAdj(matrix& out, const matrix& in);
matrix& PsfGaussian(matrix& out, const matrix& in);
matrix& PsfGaussianAdj(matrix& out, const matrix& in);
matrix& PsfUniform(matrix& out, const matrix& in);
matrix& PsfUniformAdj(matrix& out, const matrix& in);
matrix& PsfDecimate(matrix& out, const matrix& in);
matrix& PsfDecimateAdj(matrix& out, const matrix& in);
matrix& PsfBoxDecimate(matrix& out, const matrix& in);
matrix& PsfBoxDecimateAdj(matrix& out, const matrix& in);
matrix& PsfLanczos3Decimate(matrix& out, const matrix& in);
matrix& PsfLanczos3DecimateAdj(matrix& out, const matrix& in);
matrix& PsfLanczos2Decimate(matrix& out, const matrix& in);
matrix& PsfLanczos2DecimateAdj(matrix& out, const matrix& in);
matrix& PsfBilinearDecimate(matrix& out, const matrix& in);
matrix& PsfBilinearDecimateAdj(matrix& out, const matrix& in);
matrix& PsfLanczos15Decimate(matrix& out, const matrix& in);
matrix& PsfLanczos15DecimateAdj(matrix& out, const matrix& in);
matrix& PsfCustom(matrix& out, const matrix& in);
matrix& PsfCustomAdj(matrix& out, const matrix& in);
matrix& PsfBicubicDecimate(matrix& out, const matrix& in);
matrix& PsfBicubicDecimateAdj(matrix& out, const matrix& in);

struct PsfPair {
  LinearOp forward;
  LinearOp adjoint;
  bool decimating;
};

// The pair of degradation type 0 to 11 (the order of the "Point Spread Function" choices);
// any other type is the identity.
PsfPair PsfOperators(int type);

// The one-direction kernels: Gaussian of sigma (a copy when sigma <= 0) and the moving
// average of a length (a copy when the length is at most 1).
matrix GaussianPsfKernel(float sigma);
matrix UniformPsfKernel(int length);
// The 1-D kernel that types 4 to 9 and 11 decimate with, for the factor f.
matrix DecimationKernel(int type, int f);
