#pragma once
// Printing's arithmetic, apart from the printer: where the picture lands on the page and in
// the page setup's sample, the page data kept between prints, and the picture resampled to
// the printer's dots.
#include "image/rgbbuffer.h"
#include "platform/ui.h"

// The picture's rectangle on the page in printer dots, from the printable area's corner.
struct PrintPlacement {
  int x0 = 0, y0 = 0, width = 0, height = 0;
};

// The largest rectangle of the picture's aspect ratio (W x H pixels) inside the margins;
// the spare room is split evenly only along a direction whose centring flag is set.
PrintPlacement PlaceOnPage(const PageSetup& page, int W, int H, bool horizontalCentering,
                           bool verticalCentering);

// The same placement drawn in a page setup sample of sheetWidth x sheetHeight pixels that
// stands for the whole sheet of paper.
PixelRect PlaceOnSample(const PageSetup& page, int sheetWidth, int sheetHeight, int W, int H,
                        bool horizontalCentering, bool verticalCentering);

// The page data of the last confirmed page setup, for the whole process, so that F2/F3
// replays and program steps print without dialogs.
PageSetup& LastPageSetup();

// Resamples source into the pre-sized out for print mode 1 (Lanczos of order 3 for a
// reduction, triangulation for an enlargement) or 2 (Lanczos of the given order), with the
// progress bar. True when the user cancelled.
bool ResampleForPrint(const DisplayBitmap& source, DisplayBitmap& out, int mode, int order);

// The bitmap as the seam passes it.
BitmapView ViewOf(const DisplayBitmap& bitmap);
