#pragma once
// Content-aware resizing: the two Resize menu commands and the colour space of each
// energy type.
#include "image/colorspace.h"

class CImageView;
class fpbuffer;

// The colour space the energy of a type (0-11) is measured in: YCbCr for the even types
// up to 5 and RGB for the odd ones; YCbCr2 and Log RGB for 6 to 11. Visible bits clear.
CSpaceCode SeamEnergySpace(int type);

// Whether any pixel holds an avoidance or a removal mark.
bool HasSeamMarks(const fpbuffer& image);

// "Set F2/F3 to Draw Avoidance/Removal Regions": from the menu the window keeps a copy of
// its unmarked image and the command becomes the F2/F3 operation; F2 marks avoidance, F3
// removal.
void OnDrawSeamRegions(CImageView& v, int id);
// "Seam Carving" of the current layer to the size of the resize parameters.
void OnSeamCarving(CImageView& v, int id);
