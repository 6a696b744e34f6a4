#pragma once
// The local window filters of the Blur/Sharpen menu: Fast 3x3 Average, Lens Blur, Median,
// Weighted Majority with Minimum Range, Bilateral Filter and NL Means.
class CImageView;

void OnFastAverage(CImageView& v, int id);
void OnLensBlur(CImageView& v, int id);
void OnMedian(CImageView& v, int id);
void OnWeightedMajority(CImageView& v, int id);
void OnBilateralFilter(CImageView& v, int id);
void OnNlMeans(CImageView& v, int id);
