#pragma once
// Unsharp Mask (modified), Xsharpen, Jensen Edge Enhancement, the Poisson Sharpener and
// Periodic Smoothing of the Blur/Sharpen menu (bindings.cpp).
class CImageView;

void OnUnsharpMask(CImageView& v, int id);
void OnXsharpen(CImageView& v, int id);
void OnPoissonSharpener(CImageView& v, int id);
void OnPeriodicSmoothing(CImageView& v, int id);
void OnJensenEdgeEnhancement(CImageView& v, int id);
