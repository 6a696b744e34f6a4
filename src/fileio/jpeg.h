#pragma once
// JPEG files through the IJG library interface, with the floating-point DCT.
#include <cstdint>
#include <string>

#include "image/fileinfo.h"

// Reads the header into info; true when the file cannot be read as JPEG. decodeBytes, when
// given, receives the memory the decoder needs for the image beside the picture itself.
bool ReadJpegInfo(const std::string& path, ImageFileInfo& info, uint64_t* decodeBytes = nullptr);

// Whether a JPEG file holds the end-of-image marker after the start of its last scan. Read
// in pieces, never whole. Decoders pad a file cut short with grey and call it read; such a
// picture is not the file's.
bool JpegEndsAfterLastScan(const std::string& path);

// Decodes into a 24-bit bottom-up bitmap of width x height given by its top-row address;
// true on failure (also when the file's size differs from the bitmap's).
bool ReadJpeg(const std::string& path, uint8_t* topRow, int width, int height);

// Writes a 24-bit bottom-up bitmap with quality 1-100 and the JPEG colour space
// 1 (grey), 2 (RGB) or 3 (YCbCr); true on failure, which leaves any previous file.
bool WriteJpeg(const std::string& path, const uint8_t* topRow, int width, int height, int quality,
               int colourSpace);
