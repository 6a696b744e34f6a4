#pragma once
// Noise profiles and Fast Noise Removal of the Blur/Sharpen menu: a profile is measured on a
// homogeneous patch of one image, may be saved and loaded, and thresholds the a-trous levels
// of any image.
class CImageView;

void OnCreateNoiseProfile(CImageView& v, int id);
void OnFastNoiseRemoval(CImageView& v, int id);
void OnSaveNoiseProfile(CImageView& v, int id);
void OnLoadNoiseProfile(CImageView& v, int id);
