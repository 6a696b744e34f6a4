#pragma once
// The handlers of the inpainting commands of the Paint menu and of seamless cloning.

class CImageView;

namespace ops::inpaint {
void Bind();
}

void OnTschumperleInpainting(CImageView& v, int id);
void OnMaskEnlargementForTschumperle(CImageView& v, int id);
void OnSeamlessCloning(CImageView& v, int id);
void OnRecordTexture(CImageView& v, int id);
void OnTextureInpainting(CImageView& v, int id);
