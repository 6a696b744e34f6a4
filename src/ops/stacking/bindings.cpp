// The binding table of layer matching (Layer menu) and the brightness/contrast templates
// (Stacking menu). The rows keep the update handlers of their descriptors' enable rules.
#include "app/imageview.h"
#include "ops/stacking/stack.h"
#include "ops/stacking/stacking.h"

namespace ops::stacking {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::LsMatch2, OnLsMatch2, nullptr},
      {Id::LsMatch1, OnLsMatch1, nullptr},
      {Id::LadMatch1, OnLadMatch1, nullptr},
      {Id::WaveletMatch, OnWaveletMatch, nullptr},
      {Id::MatchLevels, OnMatchLevels, nullptr},
      {Id::CreateBrightnessContrastTemplate, OnCreateBrightnessContrastTemplate, nullptr},
      {Id::DestroyBrightnessContrastTemplate, OnDestroyBrightnessContrastTemplate, nullptr},
      {Id::Adjustment, OnAdjustment, nullptr},
      {Id::Stacking, OnStacking, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::stacking
