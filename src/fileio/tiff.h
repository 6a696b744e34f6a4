#pragma once
// RGB TIFF files of 16 bits (unsigned) or 32 bits (IEEE float) per sample through libtiff,
// straight between the file and the float image.
#include <string>

#include "image/fpbuffer.h"

// Reads an RGB TIFF of three 16-bit unsigned or 32-bit float samples per pixel in strips of
// contiguous samples into image (its colour space kept). Returns 0 when read, 1 when the
// file is declined (not such a file, or unreadable), so that the general image library
// tries it; a declined file leaves the image as it was.
int ReadTiffFloat(fpbuffer& image, const std::string& path);

// Writes image as an uncompressed RGB TIFF, 32-bit floats as they are when is32, else
// 16-bit samples (x257). Returns null or the error text; a failure keeps any previous file.
const char* WriteTiffFloat(const fpbuffer& image, const std::string& path, bool is32);
