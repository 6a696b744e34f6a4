// Brightness/contrast templates: recorded from the current layer, imposed under F2/F3 on
// the images that follow.
#include "app/imageview.h"
#include "image/opscope.h"
#include "ops/stacking/align.h"
#include "ops/stacking/stacking.h"
#include "params/dialog2.h"
#include "params/settings.h"

namespace {
bool TemplateExists(const CImageView& v) { return v.brightnessTemplate[0].n > 0; }
}  // namespace

void OnCreateBrightnessContrastTemplate(CImageView& v, int) {
  if (Dialog2(LiveSettings()).RunPage(66, 1, 0) != DialogResult::Ok) return;
  const bool existed = TemplateExists(v);
  const int requested = LiveSettings().stack.contrastTemplateLevels;
  // Made aside and taken whole, so a template that cannot be made leaves the old one; the
  // image itself is only read. Like every timer here, it leaves the monitor alone.
  const bool completed = v.RunOnFloat(
      [&](fpbuffer& image) {
        std::array<matrix, 3> levels;
        std::array<float, 3> mean{}, rms{};
        for (size_t c = 0; c < 3; ++c) {
          image.plane[c].bctemplate(levels[c], mean[c], rms[c], requested);
        }
        v.brightnessTemplate.swap(levels);
        v.brightnessMean = mean;
        v.brightnessRms = rms;
      },
      false, true);
  if (completed && !existed) v.PopdownMenu(8);
}

void OnDestroyBrightnessContrastTemplate(CImageView& v, int id) {
  ops::stacking::DestroyTemplateCommand(v, id, [&v] {
    for (matrix& levels : v.brightnessTemplate) levels = matrix();
  });
}

void OnAdjustment(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    v.SelectOperation(id, true);
    return;
  }
  if (!v.HasFloat() || !TemplateExists(v)) return;
  v.RunOnFloat(
      [&v](fpbuffer& image) {
        const OperationScope scope(image, nullptr, LiveSettings().conditional != 0,
                                   {ScopeChannels::ByCond, false});
        for (int c = 0; c < 3; ++c) {
          if (!scope.processes(c)) continue;
          image.plane[c].bcadjust(v.brightnessTemplate[size_t(c)], v.brightnessMean[size_t(c)],
                                  v.brightnessRms[size_t(c)]);
        }
      },
      false);
}
