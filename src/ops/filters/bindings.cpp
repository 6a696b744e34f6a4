// The Blur/Sharpen menu's binding table. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"
#include "ops/filters/blur.h"

namespace ops::filters {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      // Gaussian and motion blur (blur.cpp)
      {Id::GaussianBlur, OnGaussianBlur, nullptr},
      {Id::MotionBlur, OnMotionBlur, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::filters
