// The binding table of the colour-space, queue and point commands. The rows keep the
// update handlers of their descriptors' enable rules.
#include "app/imageview.h"
#include "ops/basic/basic.h"

namespace ops::basic {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::Rgb, OnColourSpace, nullptr},
      {Id::Cmy, OnColourSpace, nullptr},
      {Id::YCbCr, OnColourSpace, nullptr},
      {Id::YCbCr2, OnColourSpace, nullptr},
      {Id::Yuv, OnColourSpace, nullptr},
      {Id::Hsv, OnColourSpace, nullptr},
      {Id::Hsi, OnColourSpace, nullptr},
      {Id::LogRgb, OnColourSpace, nullptr},
      {Id::LogCmy, OnColourSpace, nullptr},
      {Id::Lab, OnColourSpace, nullptr},
      {Id::RgbGammaX, OnColourSpace, nullptr},
      {Id::YCbCrGammaX, OnColourSpace, nullptr},
      {Id::XChannel, OnChannelToggle, nullptr},
      {Id::YChannel, OnChannelToggle, nullptr},
      {Id::ZChannel, OnChannelToggle, nullptr},
      {Id::RotateXyz, OnRotateChannels, nullptr},
      {Id::PointColor1, OnQueueEntry, nullptr},
      {Id::PointColor2, OnQueueEntry, nullptr},
      {Id::PointColor3, OnQueueEntry, nullptr},
      {Id::PointColor4, OnQueueEntry, nullptr},
      {Id::PointColor5, OnQueueEntry, nullptr},
      {Id::EnterAverageColor, OnEnterAverageColor, nullptr},
      {Id::EnterMedianColor, OnEnterMedianColor, nullptr},
      {Id::EnterWmmrColor, OnEnterWmmrColor, nullptr},
      {Id::SetImageToColor, OnSetImageToColor, nullptr},
      {Id::AddSubtractColor, OnAddSubtractColor, nullptr},
      {Id::InterpolateExtrapolateColor, OnInterpolateExtrapolateColor, nullptr},
      {Id::AddSubtractConstant, OnAddSubtractConstant, nullptr},
      {Id::MultiplyDivideByConstant, OnMultiplyDivideByConstant, nullptr},
      {Id::GammaAdjustment, OnGammaAdjustment, nullptr},
      {Id::ChangeMinimumKeepMaximum, OnChangeMinimumKeepMaximum, nullptr},
      {Id::Clear, OnClear, nullptr},
      {Id::Negative, OnNegative, nullptr},
      {Id::Gradient, OnGradient, nullptr},
      {Id::ClipNegativeValuesToZero, OnClipNegativeValuesToZero, nullptr},
      {Id::HistogramEqualization, OnHistogramEqualization, nullptr},
      {Id::ScaleAndShiftTo0255, OnScaleAndShift, nullptr},
      {Id::DifferenceStatistics, OnDifferenceStatistics, nullptr},
      {Id::CustomCurve, OnCustomCurve, nullptr},
      {Id::ApplyCurve, OnApplyCurve, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::basic
