// The Layer menu's two-layer operations. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"
#include "ops/layers/layers.h"

namespace ops::layers {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::CreateSecondLayer, OnCreateSecondLayer, nullptr},
      {Id::ExchangeLayers, OnExchangeLayers, nullptr},
      {Id::TopLayerEqualsBottomLayer, OnTopLayerEqualsBottomLayer, nullptr},
      {Id::AddSubtractLayers, OnAddSubtractLayers, nullptr},
      {Id::InterpolateExtrapolateLayers, OnInterpolateExtrapolateLayers, nullptr},
      {Id::Minimum, OnMinimumMaximum, nullptr},
      {Id::Maximum, OnMinimumMaximum, nullptr},
      {Id::MatchCanvasSizes, OnMatchCanvasSizes, nullptr},
      {Id::GradientLensBlur, OnGradientLensBlur, nullptr},
      {Id::TilingTopIntoBottom, OnTilingTopIntoBottom, nullptr},
      {Id::ToggleNormalView, OnToggleNormalView, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::layers
