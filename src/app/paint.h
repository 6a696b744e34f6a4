#pragma once
// The toolkit-free pieces of an image window's picture: where a fitted image goes, the
// scalers of the fitted display and the rubber band of a crop drag. CImageView::Paint puts
// them together.
#include "image/rgbbuffer.h"
#include "numeric/matrix.h"

// An image of w x h fitted into a client of cw x ch: the zoom (image pixels per screen
// pixel), the lower-left corner of the picture counted from the client's lower-left, and
// the displayed size (at least one pixel each way).
struct FitGeometry {
  double zoom = 1.0;
  int originX = 0, originY = 0;
  int width = 0, height = 0;
};
FitGeometry FitImage(int w, int h, int cw, int ch);

// The fitted-display scaling codes of the view settings.
enum FitCode {
  kFitAreaAverage = 0,    // "Halftone"
  kFitTriangulation = 1,  // Lanczos-3 when shrinking, triangulation when enlarging
  kFitLanczos = 2,
  kFitBicubic = 3,
  kFitBilinear = 4,
  kFitBox = 5,
  kFitNearest = 6,  // "ColorOnColor"
};

// Scales a whole bitmap into out, which has the displayed size already, by a fit code.
// Painting must not take the cancel key of a running command: nothing here ticks.
void ScaleForDisplay(const rgbbuffer& source, rgbbuffer& out, int code, int lanczosOrder,
                     float bicubicParameter);

// Separable resampling of a bitmap with kernel matrices (kx one row per output column, ky
// one per output row; taps outside the image dropped and the rest renormalised). The
// columns are summed first, in float, straight from the bytes, and each output row is then
// summed along the row and rounded once by the byte rule: a fitted 24-megapixel picture
// has to be ready many times a second.
void ResampleForDisplay(const rgbbuffer& source, rgbbuffer& out, const matrix& kx,
                        const matrix& ky);

// Inverts every colour byte on the outline of the rectangle with corners (x1, y1) and
// (x2, y2) in window coordinates (y from the top) of a client-sized bottom-up bitmap: the
// top edge on row y1 - 1, the right edge on column x2, the bottom edge on row y2 - 1, the
// left edge on column x1, each one pixel short of its end, so each corner is inverted
// once and the same outline drawn twice restores the picture. Pixels outside are skipped.
void InvertRectangleOutline(DisplayBitmap& client, int x1, int y1, int x2, int y2);
