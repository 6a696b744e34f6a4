#pragma once
// Layer > Combine Sharpest Features: the command handler (bound in bindings.cpp) over
// fpbuffer::combinesharpest.
class CImageView;

void OnCombineSharpestFeatures(CImageView& v, int id);
