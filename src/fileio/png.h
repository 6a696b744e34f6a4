#pragma once
// PNG files through libpng, so that 16-bit samples reach the float image without loss.
#include <string>

#include "image/fileinfo.h"
#include "image/fpbuffer.h"

// Reads a PNG file, interlaced or not, into image (its colour space kept); describes the
// file in info. A problem leaves a message in info and the image as it was; the message is
// kOutOfMemoryText when the image, its float image and its display bitmap together do not
// fit the memory available.
void LoadPng(fpbuffer& image, const std::string& path, ImageFileInfo& info);

// Writes image as an RGB PNG of 8 or 16 bits per sample with zlib level 0-9. Returns an
// error text, or null on success. A failed write leaves any previous file untouched.
const char* WritePng(const fpbuffer& image, const std::string& path, int bitDepth, int level);
