#pragma once
// Unsharp Mask (modified) and Xsharpen of the Blur/Sharpen menu (bindings.cpp).
class CImageView;

void OnUnsharpMask(CImageView& v, int id);
void OnXsharpen(CImageView& v, int id);
