#pragma once
// Hysteresis Smoothing and Fast Bilateral Approximation of the Blur/Sharpen menu: smoothing
// along the four scan paths.
class CImageView;

void OnHysteresisSmoothing(CImageView& v, int id);
void OnFastBilateralApproximation(CImageView& v, int id);
