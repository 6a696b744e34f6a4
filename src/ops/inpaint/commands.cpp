#include "app/flags.h"
#include "app/imageview.h"
#include "ops/inpaint/inpaint.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/messages.h"

void OnTschumperleInpainting(CImageView& v, int id) {
  // Only F2 inpaints: the menu and F3 show the page and make the command current.
  if (!Flags().F2Active) {
    Flags().CtrlHeld = false;
    if (Dialog2(LiveSettings()).RunPage(77, 1, 0) == DialogResult::Ok) v.SelectOperation(id, true);
    return;
  }
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  const InpaintParams p = LiveSettings().inpaint;
  bitmask* selection = v.selection.present() ? &v.selection : nullptr;
  v.RunOnFloat([&](fpbuffer& layer) {
    layer.tschumperleinpaint(p.stepIterations, p.inpaintStandardDeviation, p.stepSize, selection,
                             p.inpaintDominantChannel, p.recalculationInterval, p.inpaintMode,
                             p.initialize != 0, p.inpaintParameter, p.initializationExitTolerance);
  });
}

void OnMaskEnlargementForTschumperle(CImageView& v, int id) {
  if (!v.PrepareOperation(id, nullptr, 15) || !v.HasFloat()) return;
  const InpaintParams p = LiveSettings().inpaint;
  const int s = p.enlargementScale;
  const fpbuffer& image = v.currentLayer();
  if (s < 1 || image.width % s != 0 || image.height % s != 0) {
    ShowMessage(
        "This image was not enlarged by specified\nscale therefore no action will be "
        "taken.\n\nPlease, read instructions in manual.");
    return;
  }
  v.RunOnFloat([&](fpbuffer& layer) {
    layer.mask.gridmask(s, layer.width, layer.height, p.evenScaleOffset);
  });
}
