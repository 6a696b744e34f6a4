#pragma once
// Stacking > Tone Map 1 and Tone Map 2: the command handlers (bound in bindings.cpp) over
// the fpbuffer drivers.
#include "image/fpbuffer.h"

class CImageView;

// The level count of Tone Map 2 for a w x h image: the requested count, lowered to (and 0
// or less taken as) the depth of the smaller side's halvings down to 32.
int ToneMap2Levels(int width, int height, int requested);

void OnToneMap1(CImageView& v, int id);
void OnToneMap2(CImageView& v, int id);
