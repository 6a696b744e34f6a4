// The binding table of layer matching (Layer menu) and the brightness/contrast templates
// (Stacking menu). The rows keep the update handlers of their descriptors' enable rules.
#include "app/imageview.h"
#include "ops/stacking/align.h"
#include "ops/stacking/stack.h"
#include "ops/stacking/stacking.h"
#include "ops/stacking/sharpest.h"
#include "ops/stacking/tonemap.h"

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
      // Alignment (align.cpp)
      {Id::CreateAlignmentTemplate, OnCreateAlignmentTemplate, nullptr},
      {Id::DestroyAlignmentTemplate, OnDestroyAlignmentTemplate, nullptr},
      {Id::FastTranslational, OnFastTranslational, nullptr},
      {Id::BlockAlign, OnBlockAlign, nullptr},
      {Id::BlockAlignLayers, OnBlockAlignLayers, nullptr},
      {Id::Align2Pt, OnAlign2Pt, nullptr},
      {Id::ToneMap1, OnToneMap1, nullptr},
      {Id::ToneMap2, OnToneMap2, nullptr},
      {Id::CombineSharpestFeatures, OnCombineSharpestFeatures, nullptr},
      {Id::Stacking, OnStacking, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::stacking
