// The linear resize fronts on the float image and their shared core.
#include <cmath>
#include <vector>

#include "numeric/resample.h"
#include "numeric/shift.h"
#include "ops/resize/resize.h"
#include "platform/format.h"
#include "platform/progress.h"

matrix& ResizeKernel::build(matrix& k, int n, double scale, float shift, bool antialias) const {
  switch (kind) {
    case Box:
      return BuildBoxKernelForScale(k, n, scale, shift, antialias);
    case Bilinear:
      return BuildBilinearKernelForScale(k, n, scale, shift, antialias);
    case Bicubic:
      return BuildBicubicKernelForScale(k, parameter, n, scale, shift, antialias);
    case Lanczos:
      break;
  }
  return BuildLanczosKernelForScale(k, int(parameter), n, scale, shift, antialias);
}

int32_t ResizedLength(int length, double scale) {
  const double v = std::trunc(scale * length + 0.5);
  if (!(v > 0)) return 0;
  return v >= double(INT32_MAX) ? INT32_MAX : int32_t(v);
}

namespace {
bool IsHalfShift(const ResizeKernel& kernel, double sx, double sy, double dx, double dy) {
  return kernel.kind == ResizeKernel::Lanczos && int(kernel.parameter) == 3 && sx == 1 && sy == 1 &&
         dx == -0.5 && dy == -0.5;
}

bool Resize(fpbuffer& image, const ResizeKernel& kernel, double sx, double sy, double dx, double dy,
            bool scratch, bool startProgress, bool antialias) {
  if (!(sx > 0) || !(sy > 0)) return false;
  if (dx == 0 && dy == 0 && sx == 1 && sy == 1) return false;
  if (IsHalfShift(kernel, sx, sy, dx, dy)) {
    return shifthalf(image, startProgress);  // the exact half-pixel filter; the mask stays
  }
  matrix kx, ky;
  kernel.build(ky, image.height, sy, float(dy), antialias);
  kernel.build(kx, image.width, sx, float(dx), antialias);
  if (scratch) {
    image.mask.resample(sx, sy, dx, dy);
    return applykernels(image, kx, ky, scratch, startProgress);
  }
  // The new image is made aside and swapped in once complete, so that a cancel or a
  // failure leaves the image as it was and nobody needs a copy of it.
  fpbuffer resized;
  if (image.resampleinto(resized, kx, ky, true, startProgress)) return true;
  resized.mask = image.mask;
  resized.mask.resample(sx, sy, dx, dy);
  image.swapwith(resized);
  return false;
}
}  // namespace

bool ResizeKeepsImage(const ResizeKernel& kernel, double sx, double sy, double dx, double dy,
                      bool scratch) {
  return !scratch && !IsHalfShift(kernel, sx, sy, dx, dy);
}

bool resizelanczos(fpbuffer& image, int order, double sx, double sy, double dx, double dy,
                   bool scratch, bool startProgress, bool antialias) {
  return Resize(image, {ResizeKernel::Lanczos, double(order)}, sx, sy, dx, dy, scratch,
                startProgress, antialias);
}

bool resizebicubic(fpbuffer& image, float p, double sx, double sy, double dx, double dy,
                   bool scratch, bool antialias) {
  return Resize(image, {ResizeKernel::Bicubic, double(p)}, sx, sy, dx, dy, scratch, true,
                antialias);
}

bool resizebilinear(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch,
                    bool antialias) {
  return Resize(image, {ResizeKernel::Bilinear, 1}, sx, sy, dx, dy, scratch, true, antialias);
}

bool resizebox(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch,
               bool antialias) {
  return Resize(image, {ResizeKernel::Box, 1}, sx, sy, dx, dy, scratch, true, antialias);
}

ChannelPlan ChannelsInTurn(int count) {
  ChannelPlan plan;
  for (int c = 0; c < count; ++c) {
    plan.order.push_back(c);
    plan.files.push_back(Format("temp%d.mat", c + 1));
  }
  return plan;
}

ChannelPlan DominantFirst(int dominant, int count) {
  ChannelPlan plan;
  switch (dominant) {
    case 2:
      plan.order = {1, 0, 2};
      break;
    case 3:
      plan.order = {2, 1, 0};
      break;
    default:
      plan.order = {0, 1, 2};
  }
  std::erase_if(plan.order, [count](int c) { return c >= count; });
  for (int c = 3; c < count; ++c) plan.order.push_back(c);
  for (size_t k = 0; k < plan.order.size(); ++k)
    plan.files.push_back(Format("temp%d0.mat", int(k) + 1));
  return plan;
}

bool ForEachChannel(fpbuffer& image, bool scratch, const std::function<bool(matrix&)>& work) {
  return ForEachChannel(image, scratch, ChannelsInTurn(image.channels), work);
}

bool ForEachChannel(fpbuffer& image, bool scratch, const ChannelPlan& plan,
                    const std::function<bool(matrix&)>& work) {
  if (!scratch) {
    try {
      for (int c : plan.order) {
        if (work(image.plane[c])) return true;
      }
    } catch (...) {
      // The planes may differ in size by now; an empty image is the one consistent state.
      image.clear(true);
      throw;
    }
    image.syncviews();
    return false;
  }
  const CSpaceCode kept = image.code;
  const size_t count = plan.order.size();
  bitmask keptMask = std::move(image.mask);
  const ScratchFiles files(plan.files);
  for (size_t k = 0; k < count; ++k) image.plane[plan.order[k]].write(files[k]);
  image.clear(true);
  int w = 0, h = 0;
  for (size_t k = 0; k < count; ++k) {
    matrix plane;
    plane.read(files[k]);
    if (work(plane)) return true;
    plane.write(files[k]);
    w = plane.nx;
    h = plane.ny;
  }
  image.dim(w, h, kept);
  for (size_t k = 0; k < count; ++k) image.plane[plan.order[k]].read(files[k], true);
  image.syncviews();
  image.mask = std::move(keptMask);
  return false;
}

void AllChannelsAtOnce(fpbuffer& image, const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    // The planes may differ in size by now; an empty image is the one consistent state.
    image.clear(true);
    throw;
  }
  image.syncviews();
}

bool applykernels(fpbuffer& image, const matrix& kx, const matrix& ky, bool scratch,
                  bool startProgress) {
  if (!scratch) return image.resample(kx, ky, true, startProgress);
  if (startProgress) StartProgress(float(kx.ny + ky.ny) * 3.0f);
  return ForEachChannel(image, true,
                        [&](matrix& plane) { return ResampleSeparableInPlace(plane, kx, ky); });
}

bool shifthalf(fpbuffer& image, bool startProgress) {
  if (startProgress) StartProgress(float(image.width + image.height) * 3.0f);
  for (int c = 0; c < image.channels; ++c) {
    if (ShiftHalfPixel(image.plane[c], true, true)) return true;
  }
  return false;
}
