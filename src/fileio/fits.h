#pragma once
// FITS images through CFITSIO: one image of three axes, width x height x 3 (the planes R,
// G and B), rows in the float image's order (row 0 first, no flip).
#include <fitsio.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "image/fileinfo.h"
#include "image/fpbuffer.h"

// The library's tile decoders crash on damaged tiles, so tile-compressed images are decoded
// by a helper program, zep-fitsdecode, in a process of its own under limits of memory and
// time.
struct FitsDecoder {
  std::filesystem::path program;  // empty: the program's own, found by FitsDecoderPath
  uint64_t memory = 0;            // bytes it may add to its address space; 0: by the image
  int seconds = 0;                // its processor time, twice that in all; 0: by the image
};

// The helper beside this program's executable, or in the tools/ folder of the build tree it
// runs from; empty when there is none.
std::filesystem::path FitsDecoderPath();

// Reads the first image of a FITS file (tile-compressed images through the decoder) into
// image, in the image's own colour space, and describes the file in info.text. Returns
// null, or the error text (also left in info.message); a failure leaves the image as it
// was. The text stays valid until the next FITS call of this thread.
const char* ReadFits(fpbuffer& image, const std::string& path, ImageFileInfo& info,
                     const FitsDecoder& decoder = {});

// The decoder's side: writes the first image of the file at path to fd, in the form ReadFits
// checks. Returns false when fd could not be written.
bool WriteDecodedFits(const std::string& path, int fd);

// Writes image as a FITS image of the sample type code (8, 16, 20 unsigned 16-bit, 32, 40
// unsigned 32-bit, 64, -32, -64), tile-compressed when compression is 1 (Rice), 2 (GZIP),
// 3 (Rice) or 4 (PLIO). Returns null or the error text; a failure keeps any previous file.
const char* WriteFits(const fpbuffer& image, const std::string& path, int type, int compression);

// The BSCALE and BZERO of the current HDU (1 and 0 when absent). Does nothing when status is
// already set; sets NOT_IMAGE when the HDU holds no image.
void GetFitsScaling(fitsfile* file, double& scale, double& zero, int& status);
