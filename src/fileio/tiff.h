#pragma once
// RGB TIFF files of 16 bits (unsigned) or 32 bits (IEEE float) per sample through libtiff,
// straight between the file and the float image.
#include <cstdint>
#include <string>

#include "image/fpbuffer.h"

// The results of ReadTiffFloat.
enum TiffRead { kTiffRead = 0, kTiffDeclined = 1, kTiffOutOfMemory = 2 };

// Reads an RGB TIFF of three 16-bit unsigned or 32-bit float samples per pixel in strips,
// contiguous or in separate planes, into image (its colour space kept). Returns kTiffRead,
// or kTiffDeclined when the file is not such a file or unreadable, so that the general image
// library tries it, or kTiffOutOfMemory when the image with its float image and display
// bitmap does not fit the memory available. A file not read leaves the image as it was.
int ReadTiffFloat(fpbuffer& image, const std::string& path);

// Whether the general image library may be given a TIFF: kImagingOk, or the code of its
// refusal when the strips or tiles the first image declares reach past the end of the file
// (kImagingDataMissing) or its samples lie in separate planes of more than 8 bits, which
// that library would read only the first plane of (kImagingUnknownFormat).
uint32_t TiffCheckForGeneralLibrary(const std::string& path);

// Writes image as an uncompressed RGB TIFF, 32-bit floats as they are when is32, else
// 16-bit samples (x257). Returns null or the error text; a failure keeps any previous file.
const char* WriteTiffFloat(const fpbuffer& image, const std::string& path, bool is32);
