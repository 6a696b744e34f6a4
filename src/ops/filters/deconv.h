#pragma once
// Regularized Deconvolution: restores each channel against a chosen degradation (or
// enlarges it by an integer factor) by least squares or least absolute deviations with the
// difference regularizers, or applies the degradation alone (Convolve).
#include <array>

#include "image/fpbuffer.h"
#include "numeric/matrix.h"
#include "ops/filters/degradation.h"
#include "params/blocks.h"

class CImageView;

// Fills the parameter slots of the degradation operators and the regularizers from the
// settings (the custom kernels built, normalised when asked); returns the degradation
// pair of the settings' type and its factor (1 unless the pair decimates).
PsfPair SetDeconvParameters(const DeconvParams& p, int& factor);

// One deconvolution: the degradation pair, its factor, the regularizer lists and the solver
// settings.
struct DeconvJob {
  LinearOp forward = nullptr;
  LinearOp adjoint = nullptr;
  LinearOpList forwards, adjoints;
  int factor = 1;
  bool leastSquares = true;
  int lsMinIterations = 50;
  int lsMaxIterations = 750;
  float lsTolerance = 1e-6f;
  int ladMaxIterations = 51;
  float ladTolerance = 0.001f;
  int shortcut = 0;  // 0 none, 1 solve the luminance in YCbCr, 2 in YCbCr2 (factor > 1)
  bool scratch = false;
  float tensorSigma = 1.0f;
  bool cond = false;
};

// The degradation applied to every channel (the visible ones with Cond at factor 1); at a
// factor above 1 the image becomes round(w / f) x round(h / f) and loses its mask.
void convolve(fpbuffer& image, LinearOp forward, bool cond, int factor);
// Solves every active channel into an estimate f times the image's size; returns the L1
// objective of each of the first three channels (0 after least squares). The image's mask
// is rescaled by f. A cancel or a failure leaves the image changed: the caller restores it.
std::array<float, 3> deconvolve(fpbuffer& image, const DeconvJob& job);

// The memory a deconvolution of a w x h image with `channels` channels needs, in bytes.
uint64_t DeconvMemory(int w, int h, int channels, const DeconvJob& job);

void OnRegularizedDeconvolution(CImageView& v, int id);
