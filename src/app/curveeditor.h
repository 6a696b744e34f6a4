#pragma once
// The custom-curve editor of an image window: the image it parks while open, the
// draggable control points, and the fitted curve shared with the command that applies it.
#include <vector>

#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"
#include "numeric/dmatrix.h"

struct BasicParams;

// Whether m lookup elements and c control points make a curve: m at least 3, c odd from 3
// to the record's maximum, and (m - 1) a multiple of (c - 1).
bool CurveCountsUsable(int m, int c);

// The curve fitted through the control values: m samples over [0, 1] smoothed by the
// difference penalty of the record's order. False, with an empty table, when the counts
// make no curve.
bool FitCustomCurve(const BasicParams& p, dmatrix& table);

struct CurveEditor {
  bool fitted = false;  // the fitted curve is edited
  bool preset = false;  // the preset curve is shown as it is
  // The layer whose image is parked and whose display bitmap shows the graph.
  int layer = 0;
  float dragFactor = 0;            // value change per pixel of vertical drag
  float threshold = 0;             // the smallest step the curve may take upwards
  std::vector<int> columns, rows;  // the control points' pixels
  // The last move of a left drag was within a handle's reach: the hand cursor shows.
  bool onHandle = false;
  // The layer's image and bitmap while the editor is open.
  fpbuffer parkedImage;
  DisplayBitmap parkedBitmap;

  bool open() const { return fitted || preset; }
};
