#pragma once
// The handlers of the Mask menu and of the Layer menu's mask combinations.

class CImageView;

namespace ops::masks {
void Bind();
}

void OnCreateMask(CImageView& v, int id);
void OnMaskInvert(CImageView& v, int id);
void OnMaskErode(CImageView& v, int id);
void OnMaskEdgeToBorder(CImageView& v, int id);
void OnSmoothMask(CImageView& v, int id);
void OnClearSetMask(CImageView& v, int id);
void OnMaskByColor(CImageView& v, int id);
void OnMaskByEdgeDetection(CImageView& v, int id);
void OnFloodFill(CImageView& v, int id);
void OnDrawBarPattern(CImageView& v, int id);
void OnDrawLine(CImageView& v, int id);
void OnDrawEllipse(CImageView& v, int id);
void OnShowMaskedArea(CImageView& v, int id);
void OnShowUnmaskedArea(CImageView& v, int id);
// "Or", "And" and "Exclusive Or" with the other layer's mask.
void OnMaskCombine(CImageView& v, int id);
