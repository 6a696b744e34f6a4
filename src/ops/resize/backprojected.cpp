// The back-projected enlargement cores: each channel plane enlarged by data-dependent
// Lanczos doublings (with the Jensen edge model, pass by pass, in the Jensen form), then
// refined by back-projection against its low-resolution source, optionally presharpened
// first with the inverse of the assumed reduction.
#include <algorithm>
#include <string>
#include <utility>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/kernelfile.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/progress.h"

bool PresharpenApplies(float amount, int passes) {
  return amount != 0 && passes >= 1 && (1 << std::min(passes, 30)) <= 9;
}

matrix& PresharpenKernel(matrix& kernel, const matrix* table, int model, int passes,
                         float amount) {
  kernel.free();
  if (!PresharpenApplies(amount, passes) || model < 0 || model > 4) return kernel;
  matrix read;
  if (!table) {
    const std::string problem = ReadKernelTable(read);
    if (!problem.empty()) {
      // Without the file the plane is enlarged as it is: a zero kernel would blacken it.
      ShowMessage(problem);
      return kernel;
    }
    table = &read;
  }
  return kernel.LoadKernel(*table, model, 1 << passes);
}

namespace {
// The Jensen pass's edge model of BpjddlEnlarge works on a copy shifted by a quarter pixel,
// so that its doubling grid meets the centred grid of the back-projected partner.
void ShiftedEdgeModel(fpbuffer& J, bytemaps& counts, fpbuffer& image, const JensenModel& m,
                      bool scratch) {
  const ProgressCountingScope quiet(false);
  if (!scratch) {
    // Assigned, not copy-constructed: the mask comes along, so that J marks what it paints.
    fpbuffer shifted;
    shifted = image;
    shiftquarter(shifted);
    jensen2x(J, counts, shifted, m.accept, m.threshold, m.blur, m.window, m.dominant, m.robust);
    return;
  }
  const char* const name = "temp01.fdib";
  const ScratchFiles guard({name});
  if (image.write(name, true)) throw TextException("Problem Opening Temp File");
  shiftquarter(image);
  jensen2x(J, counts, image, m.accept, m.threshold, m.blur, m.window, m.dominant, m.robust);
  if (image.read(name, true)) throw TextException("Problem Opening Temp File");
}
}  // namespace

EnlargementSpace::EnlargementSpace(fpbuffer& image, int shortcut, int dominantSetting)
    : entry(image.code), space(ShortcutSpace(shortcut)) {
  if (space) image.convert(space);
  dominant = space ? 1 : image.dominantchannel(dominantSetting);
}

fpbuffer& EnlargementSpace::back(fpbuffer& image) const {
  if (space) image.convert(entry);
  return image;
}

matrix& RefineAgainst(matrix& plane, const matrix& source, const BackProjection& bp,
                      bool scratch) {
  return plane.BackProject(source, bp.exitTolerance, scratch, bp.mode1, bp.order, bp.iterations1,
                           bp.regularization, bp.sharpenIterations, bp.sharpenAmount,
                           bp.edgeRejection, bp.mode2, bp.iterations2);
}

fpbuffer& bpddl(fpbuffer& image, int dominantSetting, const BackProjection& bp, bool scratch,
                int shortcut, int ddlOrder, int passes, bool halo, const matrix* table) {
  const EnlargementSpace work(image, shortcut, dominantSetting);
  matrix kernel;
  PresharpenKernel(kernel, table, bp.mode1, passes, bp.presharpenAmount);
  const bool sharpen = !kernel.empty();
  const int factor = 1 << std::max(passes, 0);

  const ChannelPlan plan = DominantFirst(work.dominant, image.channels);
  bytemaps maps;
  size_t k = 0;
  ForEachChannel(image, scratch, plan, [&](matrix& plane) {
    const bool first = k == 0, last = ++k == plan.order.size();
    matrix source = std::move(plane);
    // With a shortcut only the luminance is presharpened and back-projected.
    const bool refine = first || !work.space;
    const bool own = refine && sharpen;
    matrix input;
    if (own) input.presharpen(source, kernel, bp.presharpenAmount);
    matrix& from = own ? input : source;
    if (!first && own) maps.free();  // decisions of its own, from its presharpened copy
    const bool release = last || (!first && own);
    plane.DdlEnlarge(from, ddlOrder, passes, true, true, scratch, halo, maps,
                     release);
    if (refine) RefineAgainst(plane, source, bp, scratch);
    return false;
  });
  if (image.mask.present() && factor > 1) image.mask.resample(factor, factor, 0, 0);
  return work.back(image);
}

fpbuffer& BackProjectedJensen(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                              const BackProjection& bp, bool scratch, int shortcut, int passes,
                              const matrix* table, const BackProjectedPartner& partner) {
  if (passes < 1) return image;
  const EnlargementSpace work(image, shortcut, dominantSetting);
  JensenModel model = edges;
  model.dominant = work.dominant;
  // One reading of the kernel file for every pass.
  matrix read;
  if (!table && PresharpenApplies(bp.presharpenAmount, 1)) {
    const std::string problem = ReadKernelTable(read);
    if (!problem.empty()) ShowMessage(problem);
  }
  const matrix* kernels = table ? table : &read;
  BackProjection step = bp;
  if (kernels->empty()) step.presharpenAmount = 0;
  for (int i = 0; i < passes; ++i) {
    bytemaps counts;
    fpbuffer J;
    ShiftedEdgeModel(J, counts, image, model, scratch);
    BlendAfterPartner(image, counts, J, model.window, scratch, "temp01.fdib",
                      [&] { partner(model.dominant, step, kernels); });
  }
  if (image.mask.present()) image.mask.invert();
  return work.back(image);
}

fpbuffer& bpjddl(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                 const BackProjection& bp, bool scratch, int shortcut, int ddlOrder, int passes,
                 bool halo, const matrix* table) {
  return BackProjectedJensen(
      image, dominantSetting, edges, bp, scratch, shortcut, passes, table,
      [&](int dominant, const BackProjection& step, const matrix* kernels) {
        bpddl(image, dominant, step, scratch, shortcut, ddlOrder, 1, halo, kernels);
      });
}
