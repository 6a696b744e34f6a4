// The binding table of the inpainting and cloning commands. The rows keep the update handlers of
// their descriptors' enable rules.
#include "app/imageview.h"
#include "ops/inpaint/inpaint.h"

namespace ops::inpaint {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::TschumperleInpainting, OnTschumperleInpainting, nullptr},
      {Id::MaskEnlargementForTschumperle, OnMaskEnlargementForTschumperle, nullptr},
      {Id::SeamlessCloning, OnSeamlessCloning, nullptr},
      {Id::RecordTexture, OnRecordTexture, nullptr},
      {Id::TextureInpainting, OnTextureInpainting, nullptr},
  };
  CImageView::RegisterCommands(rows);
}
}  // namespace ops::inpaint
