// Presharpening of a layer with a kernel of the shipped table, and its command.
#include "app/imageview.h"
#include "image/opscope.h"
#include "numeric/kernelfile.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "params/settings.h"
#include "platform/messages.h"

fpbuffer& fpbuffer::presharpen(int model, int scale, float amount, bool activeOnly) {
  if (model < 0 || model > 4) {
    ShowMessage("Error.\nShrinkmode out of range.");
    return *this;
  }
  if (scale < 2 || scale > 9) {
    ShowMessage("Error.\nSize out of range.");
    return *this;
  }
  matrix table, kernel;
  const std::string problem = ReadKernelTable(table);
  if (!problem.empty()) {
    // A zero kernel would blacken the picture: the layer stays as it is.
    ShowMessage(problem + "\nError.\nA file included with ZEP.ZIP is missing.");
    return *this;
  }
  kernel.LoadKernel(table, model, scale);
  const OperationScope scope(*this, nullptr, activeOnly, {ScopeChannels::ByCond, false});
  for (int c = 0; c < channels; ++c) {
    if (!scope.processes(c)) continue;
    const matrix copy = plane[c];
    plane[c].presharpen(copy, kernel, amount);
  }
  return *this;
}

void OnPresharpen(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const Settings& s = LiveSettings();
    image.presharpen(s.resize.presharpenReductionModel, s.resize.presharpenScaleFactor,
                     s.resize.presharpeningAmount, s.conditional != 0);
  });
}
