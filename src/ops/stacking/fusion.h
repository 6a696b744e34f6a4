#pragma once
// Stacking mode "Pyramid Fusion": every pixel of every exposure weighed by its local
// contrast, colour saturation and well-exposedness, the exposures' Laplacian pyramids
// blended with the Gaussian pyramids of the normalised weights, and optionally the
// luminance rebuilt from blended gradients.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "ops/stacking/stack.h"
#include "params/blocks.h"

class CImageView;

// The weight of a pixel: W = b c + c s + d e + a c s e, from its contrast c (raised to
// wc; wc < 0 is "Infinity", where the contrast plane already holds 0 or 1), saturation s
// (raised to ws) and well-exposedness e (a bell of width sigma x 255 about mid, raised to
// we). A term whose exponent is 0 or whose coefficients are both 0 is not in use: it adds
// nothing and counts 1 in the product.
struct FusionWeightParams {
  float wc = 1, ws = 1, we = 1;
  float a = 1, b = 0, c = 0, d = 0;
  float sigma = 0.1f, mid = 127.5f;
  int contrastMode = 0;

  bool contrastInUse() const { return wc != 0 && (b != 0 || a != 0); }
  bool saturationInUse() const { return ws != 0 && (c != 0 || a != 0); }
  bool exposureInUse() const { return we != 0 && (d != 0 || a != 0); }
};

namespace ops::stacking {
inline constexpr int kFusionPyramidLimit = 4;

// The weight parameters of the stacking block.
FusionWeightParams FusionWeightsOf(const StackParams& p);

// One run of the fusion. Each accepted image's channels (and contrast plane) wait in
// scratch files, so only one image and the blended pyramids are in memory at a time; the
// files go when the run ends, however it ends.
class ExposureFusion {
 public:
  using Status = std::function<void(const std::string&)>;
  // poissonIterations 0 skips the gradient pass; sharpening above 1 raises the finest
  // gradient levels.
  ExposureFusion(const FusionWeightParams& weights, int poissonIterations, float sharpening,
                 Status status);
  // The next accepted image (channels 0-2 in RGB; parked, not changed).
  void add(fpbuffer& image);
  // The blend of the images added so far into image, which has their size and is in RGB
  // (and stays in it). A cancel during the gradient pass ends that pass only: the result
  // is whole.
  void combine(fpbuffer& image);
  int count() const { return count_; }

 private:
  void show(const char* text, int k) const;

  FusionWeightParams p_;
  int iterations_;
  float sharpening_;
  Status status_;
  int count_ = 0;
  matrix runningMax_;
  std::deque<ScratchFiles> files_;
};

// One run over frames held in memory, each given to the run as the load loop would hand
// it over; the blend in RGB.
fpbuffer FuseFrames(const std::vector<fpbuffer>& frames, const FusionWeightParams& weights,
                    int poissonIterations, float sharpening);

// The load loop's steps of the mode for a window; remembered is the colour space the
// result returns to. Coefficients A, B, C, D all 0 make A 1 in the settings first.
StackSteps FusionSteps(CImageView& v, CSpaceCode remembered);
}  // namespace ops::stacking
