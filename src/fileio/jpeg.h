#pragma once
// JPEG files through the IJG library interface, with the floating-point DCT.
#include <cstdint>
#include <string>

#include "fileio/fileinfo.h"

// Reads the header into info; true when the file cannot be read as JPEG.
bool ReadJpegInfo(const std::string& path, ImageFileInfo& info);

// Decodes into a 24-bit bottom-up bitmap of width x height given by its top-row address;
// true on failure (also when the file's size differs from the bitmap's).
bool ReadJpeg(const std::string& path, uint8_t* topRow, int width, int height);

// Writes a 24-bit bottom-up bitmap with quality 1-100 and the JPEG colour space
// 1 (grey), 2 (RGB) or 3 (YCbCr); true on failure, which leaves any previous file.
bool WriteJpeg(const std::string& path, const uint8_t* topRow, int width, int height, int quality,
               int colourSpace);
