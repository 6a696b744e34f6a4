#pragma once
// The header of a BMP file, read here so that a file is checked before the general image
// library decodes it: that library builds a picture of the header's size whatever the file
// holds, and shows memory it never filled where the pixel data is missing.
#include <cstdint>
#include <string>

struct BmpHeader {
  uint64_t fileLength = 0;
  uint32_t pixelOffset = 0;  // where the pixel data starts
  uint32_t infoSize = 0;     // 12 for the old core header, 40 and more for the others
  int64_t width = 0;
  int64_t height = 0;  // negative for rows stored top-down
  int bitCount = 0;
  uint32_t compression = 0;
  uint32_t imageSize = 0;  // the stored size of compressed pixel data
};

// Reads the file and info headers; false when the file is not a BMP or too short for them.
bool ReadBmpHeader(const std::string& path, BmpHeader& header);

// Whether the pixel data the header declares lies inside the file: from the pixel offset,
// every row of the stated bit depth padded to four bytes (the stored size for compressed
// data), top-down or bottom-up alike.
bool BmpPixelDataFits(const BmpHeader& header);
