#include "ops/filters/degradation.h"

#include <algorithm>

namespace {
PsfParameters slots;

const matrix& KernelOrIdentity(const matrix* k) {
  static const matrix identity = [] {
    matrix m(1, 1);
    m.x[0] = 1.0f;
    return m;
  }();
  return k && k->n > 0 ? *k : identity;
}

// The separable blurs: columns first, then rows; the transpose the other way round.
matrix& Separable(matrix& out, const matrix& in, const matrix& kx, const matrix& ky) {
  matrix columns;
  columns.correlatey(ky, in);
  return out.correlatex(kx, columns);
}

matrix& SeparableAdj(matrix& out, const matrix& in, const matrix& kx, const matrix& ky) {
  matrix rows;
  rows.correlatexadj(kx, in);
  return out.correlateyadj(ky, rows);
}

// Decimating pairs: out is w x h for the forward, W x H for the adjoint.
matrix& Decimate(int type, matrix& out, const matrix& in) {
  const int f = DecimationFactor(in.nx, out.nx);
  return out.decimate(in, DecimationKernel(type, f), f);
}

matrix& DecimateAdj(int type, matrix& out, const matrix& in) {
  const int f = DecimationFactor(out.nx, in.nx);
  return out.decimateadj(in, DecimationKernel(type, f), f);
}
}  // namespace

PsfParameters& CurrentPsfParameters() { return slots; }
void SetDiscRadius(int r) { slots.discRadius = r; }
void SetGaussianSigmas(float horizontal, float vertical) {
  slots.sigmaH = horizontal;
  slots.sigmaV = vertical;
}
void SetUniformSize(int width, int height) {
  slots.uniformWidth = width;
  slots.uniformHeight = height;
}
void SetBicubicParameter(float a) { slots.bicubicA = a; }
void SetCustomKernels(const matrix* row, const matrix* column) {
  slots.customRow = row;
  slots.customColumn = column;
}
void SetDecimationFactor(int f) { slots.decimationFactor = f; }

int DecimationFactor(int large, int small) {
  if (small > 0 && large >= small && large % small == 0) return large / small;
  return std::max(slots.decimationFactor, 1);
}

matrix GaussianPsfKernel(float sigma) {
  matrix k;
  return k.gaussian(sigma, 2.0f);
}

matrix UniformPsfKernel(int length) {
  if (length <= 1) return matrix(1, 1).fill(1.0f);
  // An even length gets half taps at both ends, so that the window stays centred.
  const int taps = length % 2 ? length : length + 1;
  matrix k(taps, 1);
  k.fill(static_cast<float>(1.0 / length));
  if (length % 2 == 0) k.x[0] = k.x[taps - 1] = static_cast<float>(0.5 / length);
  return k;
}

matrix DecimationKernel(int type, int f) {
  matrix k;
  switch (type) {
    case 4:  // the sample at f/2 of each block
      k.dim(f, 1).zero();
      k.x[f / 2] = 1.0f;
      return k;
    case 5:  // the block's mean
      return k.dim(f, 1).fill(static_cast<float>(1.0 / f));
    case 6:
      return k.lanczosdecimationkernel(3, f);
    case 7:
      return k.lanczosdecimationkernel(2, f);
    case 8:
      return k.triangledecimationkernel(f);
    case 9:
      return k.lanczosdecimationkernel(15, f);
    case 11:
      return k.cubicdecimationkernel(slots.bicubicA, f);
    default:
      return k.dim(1, 1).fill(1.0f);
  }
}

matrix& PsfIdentity(matrix& out, const matrix& in) { return out.assign(in); }

matrix& PsfLensBlur(matrix& out, const matrix& in) { return out.discpsf(slots.discRadius, in); }
matrix& PsfLensBlurAdj(matrix& out, const matrix& in) {
  return out.setdiscpsfadj(slots.discRadius, in);
}

matrix& PsfGaussian(matrix& out, const matrix& in) {
  return Separable(out, in, GaussianPsfKernel(slots.sigmaH), GaussianPsfKernel(slots.sigmaV));
}

matrix& PsfGaussianAdj(matrix& out, const matrix& in) {
  return SeparableAdj(out, in, GaussianPsfKernel(slots.sigmaH), GaussianPsfKernel(slots.sigmaV));
}

matrix& PsfUniform(matrix& out, const matrix& in) {
  return Separable(out, in, UniformPsfKernel(slots.uniformWidth),
                   UniformPsfKernel(slots.uniformHeight));
}

matrix& PsfUniformAdj(matrix& out, const matrix& in) {
  return SeparableAdj(out, in, UniformPsfKernel(slots.uniformWidth),
                      UniformPsfKernel(slots.uniformHeight));
}

matrix& PsfCustom(matrix& out, const matrix& in) {
  return out.correlatexy(KernelOrIdentity(slots.customRow), KernelOrIdentity(slots.customColumn),
                         in);
}

matrix& PsfCustomAdj(matrix& out, const matrix& in) {
  return out.setscatterxy(KernelOrIdentity(slots.customRow), KernelOrIdentity(slots.customColumn),
                          in);
}

#define ZEP_DECIMATING_PSF(name, type)                                            \
  matrix& name(matrix& out, const matrix& in) { return Decimate(type, out, in); } \
  matrix& name##Adj(matrix& out, const matrix& in) { return DecimateAdj(type, out, in); }

ZEP_DECIMATING_PSF(PsfDecimate, 4)
ZEP_DECIMATING_PSF(PsfBoxDecimate, 5)
ZEP_DECIMATING_PSF(PsfLanczos3Decimate, 6)
ZEP_DECIMATING_PSF(PsfLanczos2Decimate, 7)
ZEP_DECIMATING_PSF(PsfBilinearDecimate, 8)
ZEP_DECIMATING_PSF(PsfLanczos15Decimate, 9)
ZEP_DECIMATING_PSF(PsfBicubicDecimate, 11)

PsfPair PsfOperators(int type) {
  static const PsfPair kPairs[] = {
      {PsfIdentity, PsfIdentity, false},
      {PsfLensBlur, PsfLensBlurAdj, false},
      {PsfGaussian, PsfGaussianAdj, false},
      {PsfUniform, PsfUniformAdj, false},
      {PsfDecimate, PsfDecimateAdj, true},
      {PsfBoxDecimate, PsfBoxDecimateAdj, true},
      {PsfLanczos3Decimate, PsfLanczos3DecimateAdj, true},
      {PsfLanczos2Decimate, PsfLanczos2DecimateAdj, true},
      {PsfBilinearDecimate, PsfBilinearDecimateAdj, true},
      {PsfLanczos15Decimate, PsfLanczos15DecimateAdj, true},
      {PsfCustom, PsfCustomAdj, false},
      {PsfBicubicDecimate, PsfBicubicDecimateAdj, true},
  };
  return type >= 0 && type < 12 ? kPairs[type] : kPairs[0];
}
