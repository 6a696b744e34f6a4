#pragma once
// FITS images through CFITSIO: one image of three axes, width x height x 3 (the planes R,
// G and B), rows in the float image's order (row 0 first, no flip).
#include <fitsio.h>

#include <string>

#include "fileio/fileinfo.h"
#include "image/fpbuffer.h"

// Reads the first image of a FITS file (tile-compressed images included) into image, in
// the image's own colour space, and describes the file in info.text. Returns null, or the
// error text (also left in info.message); a failure leaves the image as it was. The text
// stays valid until the next FITS call of this thread.
const char* ReadFits(fpbuffer& image, const std::string& path, ImageFileInfo& info);

// Writes image as a FITS image of the sample type code (8, 16, 20 unsigned 16-bit, 32, 40
// unsigned 32-bit, 64, -32, -64), tile-compressed when compression is 1 (Rice), 2 (GZIP),
// 3 (Rice) or 4 (PLIO). Returns null or the error text; a failure keeps any previous file.
const char* WriteFits(const fpbuffer& image, const std::string& path, int type, int compression);

// The BSCALE and BZERO of the current HDU (1 and 0 when absent). Does nothing when status is
// already set; sets NOT_IMAGE when the HDU holds no image.
void GetFitsScaling(fitsfile* file, double& scale, double& zero, int& status);
