#pragma once
// The orientation-steered filters of the Blur/Sharpen menu (bindings.cpp).
class CImageView;

void OnShockFilter(CImageView& v, int id);
void OnTschumperleRegularization(CImageView& v, int id);
void OnIsophoteSmoothing(CImageView& v, int id);
