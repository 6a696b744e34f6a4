#include "fileio/imaging.h"

namespace {
class NoImaging : public ImagingLibrary {
 public:
  ImagingLoad Load(const std::string&, uint64_t) override { return {kImagingUnavailable, 0, {}}; }
  uint32_t Save(const std::string&, const DisplayBitmap&) override { return kImagingUnavailable; }
};
ImagingLibrary* installed = nullptr;
}  // namespace

const char* ImagingErrorText(uint32_t code) {
  switch (code) {
    case kImagingOk:
      return "The operation completed successfully.";
    case kImagingFileNotFound:
      return "The file cannot be opened.";
    case kImagingUnknownFormat:
      return "The format of the file is not supported.";
    case kImagingInvalidData:
      return "The file is damaged or not an image.";
    case kImagingOutOfMemory:
      return "Not enough memory for the image.";
    case kImagingWriteFailed:
      return "The file could not be written.";
    case kImagingEmptyImage:
      return "There is no image to save.";
    case kImagingUnavailable:
      return "No image library is available.";
    case kImagingDataMissing:
      return "The file ends before the image data its header declares.";
    default:
      return "Unknown error.";
  }
}

ImagingLibrary& GetImaging() {
  static NoImaging none;
  return installed ? *installed : none;
}

ImagingLibrary* SetImaging(ImagingLibrary* library) {
  ImagingLibrary* previous = installed;
  installed = library;
  return previous;
}
