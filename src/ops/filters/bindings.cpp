// The Blur/Sharpen menu's binding table. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"
#include "ops/filters/blur.h"
#include "ops/filters/deconv.h"
#include "ops/filters/local.h"
#include "ops/filters/noise.h"
#include "ops/filters/pde.h"
#include "ops/filters/sharpen.h"
#include "ops/filters/smoothing.h"

namespace ops::filters {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      // Gaussian and motion blur (blur.cpp)
      {Id::GaussianBlur, OnGaussianBlur, nullptr},
      {Id::MotionBlur, OnMotionBlur, nullptr},
      {Id::Fast3x3Average, OnFastAverage, nullptr},
      {Id::LensBlur, OnLensBlur, nullptr},
      {Id::Median, OnMedian, nullptr},
      {Id::WeightedMajorityWithMinimumRange, OnWeightedMajority, nullptr},
      {Id::BilateralFilter, OnBilateralFilter, nullptr},
      // Sharpeners (sharpen.cpp)
      {Id::UnsharpMask, OnUnsharpMask, nullptr},
      {Id::Xsharpen, OnXsharpen, nullptr},
      {Id::NlMeans, OnNlMeans, nullptr},
      {Id::JensenEdgeEnhancement, OnJensenEdgeEnhancement, nullptr},
      {Id::PoissonSharpener, OnPoissonSharpener, nullptr},
      {Id::PeriodicSmoothing, OnPeriodicSmoothing, nullptr},
      // Regularized deconvolution (deconv.cpp)
      {Id::RegularizedDeconvolution, OnRegularizedDeconvolution, nullptr},
      // Scan-path smoothing (smoothing.cpp)
      {Id::HysteresisSmoothing, OnHysteresisSmoothing, nullptr},
      {Id::FastBilateralApproximation, OnFastBilateralApproximation, nullptr},
      // Noise profiles and Fast Noise Removal (noise.cpp)
      {Id::CreateNoiseProfile, OnCreateNoiseProfile, nullptr},
      {Id::FastNoiseRemoval, OnFastNoiseRemoval, nullptr},
      {Id::SaveNoiseProfile, OnSaveNoiseProfile, nullptr},
      {Id::LoadNoiseProfile, OnLoadNoiseProfile, nullptr},
      // Orientation-steered filters (pde.cpp)
      {Id::ShockFilter, OnShockFilter, nullptr},
      {Id::TschumperleRegularization, OnTschumperleRegularization, nullptr},
      {Id::IsophoteSmoothing, OnIsophoteSmoothing, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::filters
