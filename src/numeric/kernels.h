#pragma once
// One-dimensional interpolation kernels, the weight functions of the edge-preserving
// filters, kernel matrices and the program's own random generator.
//
// A kernel matrix is a `matrix` used as a one-dimensional resampling operator: row i
// holds the taps of output i, tap j weighs input ip[i] + j, and ip holds one entry per
// row (the first input index, which may lie outside the input near the borders). The
// resamplers apply a row with ApplyKernelRow, which drops the taps outside the input.
#include <cstddef>
#include <cstdint>

#include "numeric/border.h"
#include "numeric/matrix.h"

// Interpolation kernels of an offset x in input samples and one parameter.
double Sinc(double x);
double KernelLanczos(double x, double a);   // Sinc(x) Sinc(x/a) for |x| < a
double KernelTriangle(double x, double s);  // linear, half-width s
double KernelBox(double x, double s);       // 1 on [-s/2, s/2), half-open
double KernelCubic(double x, double a);     // Keys cubic of parameter a
double KernelGaussian(double x, double s);  // exp(-(x/s)^2/2)

using KernelFunction = double (*)(double, double);

// Weight functions, selected by number by the filters that use them: the first six are
// edge-stopping weights of a normalised difference, the last three similarity weights of a
// distance.
double WeightInverseQuadratic(float x);  // 1/(1+x^2)
double WeightExpAbs(float x);            // exp(-|x|)
double WeightGaussian(float x);          // exp(-x^2)
double WeightBox(float x);               // 1 for |x| <= 1
double WeightInverseRoot(float x);       // 1/sqrt(1+x^2)
double WeightInversePower(float x);      // 1/(1+x^2)^0.4
double WeightInverseLinear(float x);     // 1/(1+x)
double WeightExpSqrt(float x);           // exp(-sqrt(x))
double WeightExp(float x);               // exp(-x)

// The value of row i of kernel matrix k applied to a line of `length` samples spaced
// `stride` apart (the dropped-taps border rule).
template <class Sample>
double ApplyKernelRow(const matrix& k, int i, const Sample* line, std::ptrdiff_t stride,
                      int length) {
  return SumDroppedTaps(k.z[i], k.nx, k.ip[i], line, stride, length);
}

// The program's pseudo-random generator: three counters and the last value. Its sequence
// is fixed, so random results repeat from run to run.
class randgen {
 public:
  uint32_t s0 = 971;
  uint32_t s1 = 11113;
  uint32_t s2 = 104322;
  uint32_t s3 = 4181;

  // The next integer in 0 .. 9999.
  uint32_t next();
  // A double in (0, 1) from two draws, with 10^8 distinct values; never 0 or 1.
  double uniform();
};

// The process-wide generator, started from the fixed values and never reseeded.
randgen& GlobalRandom();
// GlobalRandom().uniform().
double RandomUniform();
