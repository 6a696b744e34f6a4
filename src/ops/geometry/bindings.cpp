// The Geom menu's binding table, with the roll keys. The rows keep the update handlers of
// their descriptors' enable rules.
#include "app/imageview.h"
#include "ops/geometry/geometry.h"

namespace ops::geometry {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::Crop, OnCrop, nullptr},
      {Id::SetForCroppingTwoLayers, OnSetForCroppingTwoLayers, nullptr},
      {Id::Rotate90Degrees, OnRotate90Degrees, nullptr},
      {Id::SelectRotate90, OnSelectRotate90, nullptr},
      {Id::VerticalFlip, OnVerticalFlip, nullptr},
      {Id::HorizontalFlip, OnHorizontalFlip, nullptr},
      {Id::CreateBlankImage, OnCreateBlankImage, nullptr},
      {Id::ManualOnePointRegistration, OnManualOnePointRegistration, nullptr},
      {Id::RotateArbitraryAngle, OnRotateArbitraryAngle, nullptr},
      {Id::ManualTwoPointRegistration, OnManualTwoPointRegistration, nullptr},
      {Id::ManualFourPointRegistration, OnManualFourPointRegistration, nullptr},
      {Id::RollLeft, OnRoll, nullptr},
      {Id::RollRight, OnRoll, nullptr},
      {Id::RollUp, OnRoll, nullptr},
      {Id::RollDown, OnRoll, nullptr},
      {Id::RollBottomLeft, OnRoll, nullptr},
      {Id::RollBottomRight, OnRoll, nullptr},
      {Id::RollBottomUp, OnRoll, nullptr},
      {Id::RollBottomDown, OnRoll, nullptr},
      {Id::RollLeft10, OnRoll, nullptr},
      {Id::RollRight10, OnRoll, nullptr},
      {Id::RollUp10, OnRoll, nullptr},
      {Id::RollDown10, OnRoll, nullptr},
      {Id::RollBottomLeft10, OnRoll, nullptr},
      {Id::RollBottomRight10, OnRoll, nullptr},
      {Id::RollBottomUp10, OnRoll, nullptr},
      {Id::RollBottomDown10, OnRoll, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::geometry
