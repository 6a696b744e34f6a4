// Resizing the display bitmap of a layer that has no float image: the kernels run on the
// 24-bit pixels directly.
#include <optional>

#include "app/imageview.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "params/settings.h"
#include "platform/messages.h"

namespace {
constexpr const char* kParked = "cimage.temp";
constexpr const char* kFailedToCreate =
    "Failed to create bitmap!\n\nPossible cause is fragmented memory.\n\nPlease, read manual.";
constexpr const char* kTryScratch = "\n\nTry Scratch Disk Option!";

void ShowBitmapFailure(const std::string& text) {
  GetUi().MessageBox(text, "", MessageStyle{MessageButtons::Ok, MessageIcon::Error});
}

// Removes the parked bitmap however the resize ends.
struct ParkedFile {
  ~ParkedFile() {
    if (parked) matrix::remove(kParked);
  }
  bool parked = false;
};
}  // namespace

bool ReplaceBitmap(
    CImageView& view, int newW, int newH,
    const std::function<bool(rgbbuffer& target, const rgbbuffer& source)>& resample) {
  return ReplaceBitmap(view, newW, newH, resample, LiveSettings().resize.useScratchDisk != 0);
}

bool ReplaceBitmap(
    CImageView& view, int newW, int newH,
    const std::function<bool(rgbbuffer& target, const rgbbuffer& source)>& resample,
    bool scratch) {
  DisplayBitmap& bitmap = view.currentBitmap();
  const int w = bitmap.width(), h = bitmap.height();

  // The layer keeps its image when the resize cannot finish: without the scratch disk the
  // old bitmap itself stays aside as the source; with it the parked file brings it back.
  ParkedFile file;
  DisplayBitmap old;
  std::optional<rgbbuffer> source;
  auto restore = [&]() noexcept {
    source.reset();
    bitmap = DisplayBitmap();
    if (!scratch) {
      bitmap = std::move(old);
      return;
    }
    try {
      DisplayBitmap back(w, h);
      rgbbuffer(back.toprow(), w, h).read(kParked);
      bitmap = std::move(back);
    } catch (...) {
      // The message of the first failure has been shown; without memory or the parked file
      // the layer stays without a bitmap.
    }
  };
  if (scratch) {
    rgbbuffer(bitmap.toprow(), w, h).write(kParked);
    file.parked = true;
    bitmap = DisplayBitmap();
  } else {
    old = std::move(bitmap);
    source.emplace(old.toprow(), w, h);
  }
  try {
    try {
      bitmap = DisplayBitmap(newW, newH);
      if (scratch) {
        source.emplace(w, h);
        source->read(kParked);
      }
    } catch (const std::bad_alloc&) {
      restore();
      ShowBitmapFailure(scratch ? std::string(kFailedToCreate)
                                : std::string(kFailedToCreate) + kTryScratch);
      return false;
    }
    rgbbuffer target(bitmap.toprow(), bitmap.width(), bitmap.height());
    if (resample(target, *source)) {
      restore();
      return false;
    }
  } catch (...) {
    restore();
    throw;
  }
  return true;
}

bool ResizeBitmap(CImageView& v, const ResizeKernel& kernel, bool antialias, double sx, double sy,
                  double dx, double dy) {
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  matrix kx, ky;
  kernel.build(ky, h, sy, float(dy), antialias);
  kernel.build(kx, w, sx, float(dx), antialias);
  return ReplaceBitmap(v, kx.ny, ky.ny, [&](rgbbuffer& target, const rgbbuffer& source) {
    return target.resample(source, kx, ky, true, true);
  });
}

bool ResizeBitmapLanczos3(CImageView& v, double sx, double sy, double dx, double dy) {
  return ResizeBitmap(v, {ResizeKernel::Lanczos, 3}, true, sx, sy, dx, dy);
}
