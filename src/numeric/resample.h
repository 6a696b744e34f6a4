#pragma once
// Kernel-matrix builders and the separable resampling engines.
//
// A resize is built once per direction as a kernel matrix (kernels.h): one row of taps per
// output sample, output i centred at input coordinate step*i + offset, where input sample k
// sits at k and covers k - 1/2 .. k + 1/2. With no shift the first and last pixels of input
// and output share their outer edges, so offset = (step - 1)/2; a shift is in output
// samples and adds step*shift. Each row has the kernel's taps plus two spare ones, so the
// window covers the support whatever the truncation of its centre.
//
// The for-scale builders take a scale factor (outputs = trunc(scale*n + 0.5), step =
// 1/scale in double); the for-sizes builders take both lengths (step = n/m, held in float).
// With antialias on and a reduction (step > 1) the kernel is stretched by the step and its
// tap count grows by ceil(step), so every input contributes; the for-sizes builders always
// antialias.
#include "numeric/matrix.h"

matrix& BuildLanczosKernelForScale(matrix& k, int order, int n, double scale, float shift,
                                   bool antialias);
matrix& BuildBicubicKernelForScale(matrix& k, double cubic, int n, double scale, float shift,
                                   bool antialias);
matrix& BuildBilinearKernelForScale(matrix& k, int n, double scale, float shift, bool antialias);
matrix& BuildBoxKernelForScale(matrix& k, int n, double scale, float shift, bool antialias);

matrix& BuildLanczosKernelForSizes(matrix& k, int order, int n, int m, float shift);
matrix& BuildBicubicKernelForSizes(matrix& k, double cubic, int n, int m, float shift);
matrix& BuildBilinearKernelForSizes(matrix& k, int n, int m, float shift);
matrix& BuildBoxKernelForSizes(matrix& k, int n, int m, float shift);

// out = input resampled along x by kx (one row per output column) and then along y by ky
// (one row per output row); out becomes kx.ny x ky.ny. With subtract the result is
// subtracted from out's present values (out must already have that size). Taps outside
// the input are dropped and the rest renormalised (border.h). out may be the input.
matrix& ResampleSeparable(matrix& out, const matrix& input, const matrix& kx, const matrix& ky,
                          bool subtract = false);

// The same in place, ticking the progress bar once per output column of the first pass and
// once per output row of the second (kx.ny + ky.ny ticks). True when the user cancelled:
// during the first pass the plane is untouched; during the second it already has the new
// size and only the rows done hold results, so the caller discards it.
bool ResampleSeparableInPlace(matrix& plane, const matrix& kx, const matrix& ky);
// The same from input into out, the input left as it is; a cancel leaves out partly
// written.
bool ResampleSeparableTicking(matrix& out, const matrix& input, const matrix& kx, const matrix& ky);
// out = ResampleSeparable(input, kx, ky), the same bits, for the kernels of a reduction by a
// whole factor (decimate.cpp): outputs whose rows repeat one set of taps a whole step apart
// are summed along polyphase lines of each row; any other kernel goes the general way.
matrix& ReduceByKernels(matrix& out, const matrix& input, const matrix& kx, const matrix& ky);

// The reductions of back-projection by an integer ratio, from n inputs to n / ratio outputs
// (the for-scale builders, no shift, antialiased). First pass: mode 0 box, 1 bilinear, 2
// the cubic with parameter +0.5, 3 Lanczos-2, 4 Lanczos-3. Second pass: 0 box, 1 bilinear,
// 2 Lanczos-2, 3 Lanczos-3, 4 Lanczos-5, 5 Lanczos-15. ReductionKernelId names the kernel
// a mode selects (equal ids build equal kernels), -1 outside the table; the builder then
// returns false and leaves k alone.
int ReductionKernelId(int mode, bool secondPass);
bool BuildReductionKernel(matrix& k, int mode, bool secondPass, int n, int ratio);
