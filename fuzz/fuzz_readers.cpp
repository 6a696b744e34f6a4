// libFuzzer targets for the file readers: the input bytes become a file that the reader
// opens by name, as it would a user's file. Built as fuzz_fits, fuzz_tiff, fuzz_png,
// fuzz_jpeg, fuzz_fdib, fuzz_bmp or fuzz_ifs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "fileio/bmp.h"
#include "fileio/fits.h"
#include "fileio/jpeg.h"
#include "fileio/png.h"
#include "fileio/tiff.h"
#include "image/rgbbuffer.h"
#if defined(FUZZ_IFS)
#include "ops/resize/ifs.h"
#include "platform/errors.h"
#endif
#include "platform/platform.h"
#include "platform/programdir.h"

namespace {
// A machine with 256 MB free: headers that claim huge images are refused by the memory
// check rather than allocated.
class SmallMachine : public SystemPlatform {
 public:
  MemoryFigures Memory() override {
    MemoryFigures m;
    m.totalPhys = m.availPhys = uint64_t(256) << 20;
    return m;
  }
};

std::string InputPath() {
  static const std::string path = "/tmp/zep-fuzz-" + std::to_string(getpid()) + FUZZ_SUFFIX;
  return path;
}

// A failed read leaves the image as it was.
[[maybe_unused]] void CheckUntouched(bool failed, const fpbuffer& image) {
  if (failed && (image.width != 2 || image.plane[0].x[0] != 42.0f)) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SmallMachine machine;
  static Platform* installed = SetPlatform(&machine);
  (void)installed;
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  fpbuffer image(2, 2, 0x17);
  image.plane[0].x[0] = 42.0f;
#if defined(FUZZ_FITS)
  ImageFileInfo info;
  CheckUntouched(ReadFits(image, InputPath(), info) != nullptr, image);
#elif defined(FUZZ_TIFF)
  CheckUntouched(ReadTiffFloat(image, InputPath()) != 0, image);
  TiffCheckForGeneralLibrary(InputPath());
#elif defined(FUZZ_PNG)
  ImageFileInfo info;
  LoadPng(image, InputPath(), info);
  CheckUntouched(info.message != nullptr, image);
#elif defined(FUZZ_JPEG)
  // The road of an open: the header, then a bitmap of its size when memory allows, then
  // the pixels.
  ImageFileInfo info;
  if (!ReadJpegInfo(InputPath(), info) && info.channels >= 1 && info.channels <= 3) {
    try {
      DisplayBitmap bitmap(info.width, info.height);
      ReadJpeg(InputPath(), bitmap.toprow(), info.width, info.height);
    } catch (const std::bad_alloc&) {
    }
  }
#elif defined(FUZZ_FDIB)
  // Read by full path: no program directory is needed.
  CheckUntouched(image.read(InputPath(), false), image);
  if (!image.empty()) {
    fpbuffer sum(image);
    sum.addstored(InputPath(), false);
  }
#elif defined(FUZZ_IFS)
  // The reader checks everything first: a refused file leaves the image as it was, and
  // one it accepts decodes within what it promised.
  try {
    image.readifs(InputPath(), IfsDecoding{2, 2, {0, 0, 0, 0}, false});
  } catch (const TextException&) {
    CheckUntouched(true, image);
  }
#elif defined(FUZZ_BMP)
  // The check made before the general library decodes a BMP.
  BmpHeader header;
  if (ReadBmpHeader(InputPath(), header)) BmpPixelDataFits(header);
#endif
  std::remove(InputPath().c_str());
  return 0;
}
