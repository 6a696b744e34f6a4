#pragma once
// The general image library: every format the program does not read or write itself, and
// the files its own readers decline, are loaded into and saved from the 24-bit display
// bitmap through it. The desktop adapter installs the implementation; without one every
// call fails with kImagingUnavailable.
#include <cstdint>
#include <string>

#include "image/rgbbuffer.h"

// Result codes of the library, shown in hexadecimal with their text.
enum ImagingCode : uint32_t {
  kImagingOk = 0,
  kImagingFileNotFound = 0x1,   // the file cannot be opened
  kImagingUnknownFormat = 0x2,  // no reader or writer for this file or extension
  kImagingInvalidData = 0x3,    // the file is damaged or not what its name says
  kImagingOutOfMemory = 0x4,    // the image does not fit the memory available
  kImagingWriteFailed = 0x5,    // the file could not be written
  kImagingEmptyImage = 0x6,     // there is no image to save
  kImagingUnavailable = 0x7,    // no image library is installed
  kImagingDataMissing = 0x8,    // the file ends before the pixel data its header declares
};

// The text of a result code.
const char* ImagingErrorText(uint32_t code);

struct ImagingLoad {
  uint32_t code = kImagingOk;
  // The bits per pixel of the picture as the file holds it: 24 and 32 are taken (the
  // fourth byte dropped), anything else is a subformat the program does not take.
  int depth = 0;
  DisplayBitmap bitmap;  // the picture in 24 bits, bottom-up; empty on failure
};

class ImagingLibrary {
 public:
  virtual ~ImagingLibrary() = default;
  // Loads a picture. A file is checked before it is decoded: its declared pixel data must be
  // inside it, and the decoding, the bitmap and floatBytesPerPixel more for each pixel (the
  // float image the caller makes of it) must fit the memory available together, else
  // kImagingOutOfMemory.
  virtual ImagingLoad Load(const std::string& path, uint64_t floatBytesPerPixel) = 0;
  // Saves the bitmap in the format its extension names; a failure keeps any previous file.
  virtual uint32_t Save(const std::string& path, const DisplayBitmap& bitmap) = 0;
};

ImagingLibrary& GetImaging();
// Installs a library (not owned); nullptr removes it. Returns the previous one.
ImagingLibrary* SetImaging(ImagingLibrary* library);
