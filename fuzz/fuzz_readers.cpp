// libFuzzer targets for the FITS and TIFF readers: the input bytes become a file that the
// reader opens by name, as it would a user's file. Built as fuzz_fits or fuzz_tiff.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#ifdef FUZZ_FITS
#include "fileio/fits.h"
#else
#include "fileio/tiff.h"
#endif
#include "platform/platform.h"

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
#ifdef FUZZ_FITS
  ImageFileInfo info;
  const char* text = ReadFits(image, InputPath(), info);
  // A failed read leaves the image as it was.
  if (text && (image.width != 2 || image.plane[0].x[0] != 42.0f)) __builtin_trap();
#else
  if (ReadTiffFloat(image, InputPath()) != 0 &&
      (image.width != 2 || image.plane[0].x[0] != 42.0f)) {
    __builtin_trap();
  }
#endif
  std::remove(InputPath().c_str());
  return 0;
}
