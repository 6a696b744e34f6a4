#pragma once
// The handlers of the CSpace, Queue and Basic menus' colour and point commands, and the
// Layer menu's Difference Statistics.
#include "image/fpbuffer.h"

class CImageView;

namespace ops::basic {
void Bind();
}

// Enters the colour of the scope that colourOf gives as the current colour and pushes it
// on the queue with the point of the newest entry.
using ColourOfScope = fpbuffer::Colour (fpbuffer::*)(bitmask*, bool);
void EnterColour(CImageView& v, int id, ColourOfScope colourOf);

// Colour spaces and channels (colour.cpp).
void OnColourSpace(CImageView& v, int id);
void OnChannelToggle(CImageView& v, int id);
void OnRotateChannels(CImageView& v, int id);
// The colour queue and the colour commands (colour.cpp).
void OnQueueEntry(CImageView& v, int id);
void OnEnterAverageColor(CImageView& v, int id);
void OnEnterMedianColor(CImageView& v, int id);
void OnEnterWmmrColor(CImageView& v, int id);
void OnSetImageToColor(CImageView& v, int id);
void OnAddSubtractColor(CImageView& v, int id);
void OnInterpolateExtrapolateColor(CImageView& v, int id);
// Point operations (point.cpp).
void OnAddSubtractConstant(CImageView& v, int id);
void OnMultiplyDivideByConstant(CImageView& v, int id);
void OnGammaAdjustment(CImageView& v, int id);
void OnChangeMinimumKeepMaximum(CImageView& v, int id);
void OnClear(CImageView& v, int id);
void OnNegative(CImageView& v, int id);
void OnGradient(CImageView& v, int id);
void OnClipNegativeValuesToZero(CImageView& v, int id);
void OnHistogramEqualization(CImageView& v, int id);
void OnScaleAndShift(CImageView& v, int id);
void OnDifferenceStatistics(CImageView& v, int id);
// The custom curve (curve.cpp): the editor opens and closes; the curve applies under F2/F3.
void OnCustomCurve(CImageView& v, int id);
void OnApplyCurve(CImageView& v, int id);
