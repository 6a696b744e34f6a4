#pragma once
// Gaussian Blur and Motion Blur: their channel drivers and command handlers.
#include "image/fpbuffer.h"

class CImageView;
class bitmask;

// The Gaussian blur of every channel the operation scope names (Cond, the image mask and
// the selection, which Cond may reduce in place): columns by sy, rows by sx; unmasked the
// borders are renormalised, masked the tile around the mask is mirrored.
void gaussblur(fpbuffer& image, float sx, float sy, bitmask* selection, bool cond);
// The motion blur of those channels, `passes` times over.
void motionblur(fpbuffer& image, int passes, float length, float angle, bool maskedInput,
                bitmask* selection, bool cond);

// The handlers of the Blur/Sharpen menu's Gaussian Blur and Motion Blur (bindings.cpp).
void OnGaussianBlur(CImageView& v, int id);
void OnMotionBlur(CImageView& v, int id);
