#pragma once
// The handlers of the inpainting commands of the Paint menu.

class CImageView;

namespace ops::inpaint {
void Bind();
}

void OnTschumperleInpainting(CImageView& v, int id);
void OnMaskEnlargementForTschumperle(CImageView& v, int id);
