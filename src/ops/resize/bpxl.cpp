// Back-projected Xin Li: the image enlarged by Xin Li doublings onto the centred grid, then
// each plane refined by back-projection against its low-resolution source; and its Jensen
// form, which blends the edge model in pass by pass.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/progress.h"

fpbuffer& bpxl(fpbuffer& image, int dominantSetting, const BackProjection& bp, bool scratch,
               int shortcut, const XinLiModel& xl, int passes, const matrix* table) {
  if (passes < 1 || image.empty()) return image;
  const EnlargementSpace work(image, shortcut, dominantSetting);
  // The Xin Li fits read one channel: the nearest one the image has.
  const int dominant = std::clamp(work.dominant, 1, std::max(1, std::min(3, image.channels)));
  matrix kernel;
  PresharpenKernel(kernel, table, bp.mode1, passes, bp.presharpenAmount);
  const ChannelPlan plan = DominantFirst(dominant, image.channels);
  // With a shortcut only the luminance is presharpened and back-projected.
  const size_t refined = work.space ? 1 : plan.order.size();

  // The sources, in plan order, before presharpening changes the planes.
  const ScratchFiles sourceFiles(
      std::vector<std::string>(plan.files.begin(), plan.files.begin() + long(refined)));
  std::vector<matrix> sources(scratch ? 0 : refined);
  for (size_t k = 0; k < refined; ++k) {
    matrix& plane = image.plane[plan.order[k]];
    matrix copy;
    if (scratch) {
      plane.write(sourceFiles[k]);
      if (!kernel.empty()) copy = plane;
    } else {
      sources[k] = plane;
    }
    if (!kernel.empty()) plane.presharpen(scratch ? copy : sources[k], kernel, bp.presharpenAmount);
  }

  // The mask follows the centred grid at the end, not Xin Li's.
  bitmask mask = std::move(image.mask);
  image.clearmask();
  image.xinli(xl.bias, xl.window, xl.taper, xl.normalization, dominant, passes, true, xl.antialias,
              xl.twelve);
  {
    const ProgressCountingScope quiet(false);
    if (shifthalf(image, false)) throw Cancelled{};
  }

  ChannelPlan parked = plan;
  for (size_t k = 0; k < parked.files.size(); ++k) {
    parked.files[k] = Format("temp%d00.mat", int(k) + 1);
  }
  size_t k = 0;
  ForEachChannel(image, scratch, parked, [&](matrix& plane) {
    const size_t at = k++;
    if (at >= refined) return false;
    if (scratch) {
      matrix source;
      source.read(sourceFiles[at], true);
      RefineAgainst(plane, source, bp, true);
    } else {
      RefineAgainst(plane, sources[at], bp, false);
      sources[at].free();
    }
    return false;
  });
  if (mask.present()) {
    const int factor = 1 << passes;
    mask.resample(factor, factor, 0, 0);
    image.mask = std::move(mask);
  }
  return work.back(image);
}

fpbuffer& bpjxl(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                const BackProjection& bp, bool scratch, int shortcut, const XinLiModel& xl,
                int passes, const matrix* table) {
  return BackProjectedJensen(image, dominantSetting, edges, bp, scratch, shortcut, passes, table,
                             [&](int dominant, const BackProjection& step, const matrix* kernels) {
                               bpxl(image, dominant, step, scratch, shortcut, xl, 1, kernels);
                             });
}
