#pragma once
// The Layer menu's two-layer commands: second layer, exchange, copy, the pixel-by-pixel
// combinations, the gradient lens blur, canvas sizes, tiling and the normal-view switch.
class CImageView;

namespace ops::layers {
void OnCreateSecondLayer(CImageView& v, int id);
void OnExchangeLayers(CImageView& v, int id);
void OnTopLayerEqualsBottomLayer(CImageView& v, int id);
void OnAddSubtractLayers(CImageView& v, int id);
void OnInterpolateExtrapolateLayers(CImageView& v, int id);
void OnMinimumMaximum(CImageView& v, int id);  // Minimum and Maximum
void OnGradientLensBlur(CImageView& v, int id);
void OnMatchCanvasSizes(CImageView& v, int id);
void OnTilingTopIntoBottom(CImageView& v, int id);
void OnToggleNormalView(CImageView& v, int id);
}  // namespace ops::layers
