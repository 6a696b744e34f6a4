// The resize commands of the image window: the linear four, Stair Interpolation, and the
// flow they share (pages, size dialog, Ctrl, F2/F3 and program replay, the float path and
// the path for a layer without float image).
#include <algorithm>
#include <cstdint>

#include "app/imageview.h"
#include "ops/resize/resize.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/progress.h"

bool SizeAcceptable(int64_t tw, int64_t th, uint64_t bytes, bool valid) {
  const bool fits = tw > 0 && th > 0 && uint64_t(tw) * uint64_t(th) <= INT32_MAX &&
                    DibBytes(tw, th) <= INT32_MAX && MemoryAllows(bytes);
  if (valid && fits) return true;
  ShowMessage(
      Format("Cannot resize to %d x %d pixels!\n\nThe scale factors must be above 0 "
             "and the new image at least 1 x 1 pixels and within the memory "
             "available.\n\nThe image is unchanged.",
             int(std::clamp<int64_t>(tw, 0, INT32_MAX)), int(std::clamp<int64_t>(th, 0, INT32_MAX))));
  return false;
}

// A scale not above 0 (only a settings or program file can hold one), a size of 0 pixels
// or one beyond what memory or the image formats hold is refused before anything is
// released.
static bool TargetAcceptable(CImageView& v, double sx, double sy) {
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  const int32_t tw = ResizedLength(w, sx), th = ResizedLength(h, sy);
  const uint64_t pixels = uint64_t(tw) * uint64_t(th);
  const uint64_t floatBytes = v.HasFloat() ? pixels * 4 * uint64_t(v.currentLayer().channels) : 0;
  return SizeAcceptable(tw, th, DibBytes(tw, th) + floatBytes, sx > 0 && sy > 0);
}

void EndOfCommand() {
  CommandFlags& f = Flags();
  f.F2Active = f.F3Active = f.CtrlHeld = false;
}

// The path without float image: the resize of the bitmap under the process timer; memory
// and file failures are reported, and after those or a cancel the layer keeps its bitmap.
void RunBitmapResize(CImageView& v, const std::function<bool()>& resize, bool monitor) {
  bool completed = false;
  {
    ProcessTimer timer(v.startClock, monitor ? &v : nullptr);
    try {
      completed = resize();
    } catch (const Cancelled&) {
    } catch (const std::bad_alloc&) {
      ShowMessage("Out of Memory");
    } catch (const TextException& e) {
      ShowMessage(e.text());
    }
  }
  if (completed) v.ReportCompletion(true);
  if (v.host) v.host->Invalidate();
  v.UpdateStatus();
  EndOfCommand();
}

namespace {
ResizeParams& Params() { return LiveSettings().resize; }

// The menu path's pages and then the dialogs (by default the size dialog alone; false:
// cancelled), or the replay copy under F2/F3; then Ctrl, the target size and its check.
// True when the resize runs.
bool PrepareResize(CImageView& v, int id, const std::function<bool()>& dialogs = nullptr) {
  ResizeParams& p = Params();
  const bool go =
      v.PrepareOperation(id, [&v, &dialogs] { return dialogs ? dialogs() : !AskTargetSize(); });
  if (!go) return false;
  ComputeTargetSize(v);
  return TargetAcceptable(v, p.horizontalScaleFactor, p.verticalScaleFactor);
}

// The float path: the bitmap goes first so that it never coexists with the resampled
// copy; a cancelled or failed front leaves the image as it was (by itself when
// keepsImage, else from the copy the operation keeps).
void RunFloatResize(CImageView& v, const std::function<bool(fpbuffer&)>& front,
                    bool keepsImage = false) {
  v.RunOnFloat(
      [&](fpbuffer& image) {
        v.DestroyDisplayDib();
        if (front(image)) throw Cancelled{};
      },
      false, keepsImage);
}

void LinearResize(CImageView& v, int id, ResizeKernel (*kernelOf)(const ResizeParams&)) {
  if (!PrepareResize(v, id)) return EndOfCommand();
  const ResizeParams& p = Params();
  const ResizeKernel kernel = kernelOf(p);
  const double sx = p.horizontalScaleFactor, sy = p.verticalScaleFactor;
  const double dx = p.horizontalOffset, dy = p.verticalOffset;
  const bool scratch = p.useScratchDisk != 0, antialias = p.kernelExpansionForReductions != 0;
  if (v.HasFloat()) {
    RunFloatResize(
        v,
        [&](fpbuffer& image) {
          switch (kernel.kind) {
            case ResizeKernel::Box:
              return resizebox(image, sx, sy, dx, dy, scratch, antialias);
            case ResizeKernel::Bilinear:
              return resizebilinear(image, sx, sy, dx, dy, scratch, antialias);
            case ResizeKernel::Bicubic:
              return resizebicubic(image, float(kernel.parameter), sx, sy, dx, dy, scratch,
                                   antialias);
            case ResizeKernel::Lanczos:
              break;
          }
          return resizelanczos(image, int(kernel.parameter), sx, sy, dx, dy, scratch, true,
                               antialias);
        },
        ResizeKeepsImage(kernel, sx, sy, dx, dy, scratch));
    return EndOfCommand();
  }
  RunBitmapResize(v, [&] { return ResizeBitmap(v, kernel, antialias, sx, sy, dx, dy); });
}

ResizeKernel BoxKernel(const ResizeParams&) { return {ResizeKernel::Box, 1}; }
ResizeKernel BilinearKernel(const ResizeParams&) { return {ResizeKernel::Bilinear, 1}; }
ResizeKernel BicubicKernel(const ResizeParams& p) {
  return {ResizeKernel::Bicubic, double(p.bicubicSharpeningFactor)};
}
ResizeKernel LanczosKernel(const ResizeParams& p) {
  return {ResizeKernel::Lanczos, double(p.lanczosOrder)};
}
}  // namespace

void OnBoxNearestNeighbor(CImageView& v, int id) { LinearResize(v, id, BoxKernel); }
void OnBilinear(CImageView& v, int id) { LinearResize(v, id, BilinearKernel); }
void OnBicubic(CImageView& v, int id) { LinearResize(v, id, BicubicKernel); }
void OnLanczos(CImageView& v, int id) { LinearResize(v, id, LanczosKernel); }

void OnTriangulation(CImageView& v, int id) {
  // The blur page only matters for a reduction, so it follows the size dialog.
  const ResizeParams& p = Params();
  const bool go = PrepareResize(v, id, [&v, &p] {
    if (AskTargetSize()) return false;
    if (p.horizontalScaleFactor >= 1 && p.verticalScaleFactor >= 1) return true;
    return Dialog2(LiveSettings()).RunPage(34, 1, 0) == DialogResult::Ok;
  });
  if (!go) return EndOfCommand();
  const double sx = p.horizontalScaleFactor, sy = p.verticalScaleFactor;
  const double dx = p.horizontalOffset, dy = p.verticalOffset;
  if (v.HasFloat()) {
    RunFloatResize(v, [&](fpbuffer& image) {
      StartProgress(3.0f * float(image.height * sy));
      return triangulate(image, p.blurAmountForReductions, image.dominantchannel(p.dominantChannel),
                         sx, sy, dx, dy, p.useScratchDisk != 0);
    });
    return EndOfCommand();
  }
  // The bitmap path has no blur for reductions.
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  RunBitmapResize(v, [&] {
    return ReplaceBitmap(v, ResizedLength(w, sx), ResizedLength(h, sy),
                         [&](rgbbuffer& target, const rgbbuffer& source) {
                           StartProgress(float(target.height));
                           return target.triangulate(source, dx, dy);
                         });
  });
}

void OnStairInterpolation(CImageView& v, int id) {
  // The kernel's page follows the choice made on the first page.
  if (!PrepareResize(v, id, [&v] {
        const int page = Params().stairUsesLanczos ? 33 : 32;
        return Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok && !AskTargetSize();
      })) {
    return EndOfCommand();
  }
  const ResizeParams& p = Params();
  if (v.HasFloat()) {
    RunFloatResize(v, [&p](fpbuffer& image) {
      return stair(image, p.lanczosOrder, p.horizontalScaleFactor, p.verticalScaleFactor,
                   p.horizontalOffset, p.verticalOffset, p.useScratchDisk != 0,
                   p.stairScaleIncrement, p.bicubicSharpeningFactor, p.stairUsesLanczos != 0,
                   p.kernelExpansionForReductions != 0);
    });
  }
  EndOfCommand();
}
