// The binding table of the mask commands. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"
#include "ops/masks/masks.h"

namespace ops::masks {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::CreateMask, OnCreateMask, nullptr},
      {Id::InvertMask, OnMaskInvert, nullptr},
      {Id::Erode, OnMaskErode, nullptr},
      {Id::EdgeToBorder, OnMaskEdgeToBorder, nullptr},
      {Id::SmoothMask, OnSmoothMask, nullptr},
      {Id::ClearSetMask, OnClearSetMask, nullptr},
      {Id::MaskByColor, OnMaskByColor, nullptr},
      {Id::MaskByEdgeDetection, OnMaskByEdgeDetection, nullptr},
      {Id::FloodFill, OnFloodFill, nullptr},
      {Id::DrawBarPattern, OnDrawBarPattern, nullptr},
      {Id::DrawLine, OnDrawLine, nullptr},
      {Id::DrawEllipse, OnDrawEllipse, nullptr},
      {Id::ShowMaskedArea, OnShowMaskedArea, nullptr},
      {Id::ShowUnmaskedArea, OnShowUnmaskedArea, nullptr},
      {Id::MaskOr, OnMaskCombine, nullptr},
      {Id::MaskAnd, OnMaskCombine, nullptr},
      {Id::MaskExclusiveOr, OnMaskCombine, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::masks
