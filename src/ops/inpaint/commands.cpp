#include "app/flags.h"
#include "app/imageview.h"
#include "ops/inpaint/inpaint.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/messages.h"

namespace {
// The menu path of the commands that only become the F2 operation: the page (under
// automatic query) and, on OK, the selection.
void SelectFromPage(CImageView& v, int id, int page) {
  Flags().CtrlHeld = false;
  if (Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok) v.SelectOperation(id, true);
}

// Runs the operation on the current layer with the window's selection, when it has one.
template <class Run>
void RunWithSelection(CImageView& v, int id, Run run) {
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  bitmask* selection = v.selection.present() ? &v.selection : nullptr;
  v.RunOnFloat([&](fpbuffer& layer) { run(layer, selection); });
}
}  // namespace

void OnTschumperleInpainting(CImageView& v, int id) {
  // Only F2 inpaints: the menu and F3 show the page and make the command current.
  if (!Flags().F2Active) return SelectFromPage(v, id, 77);
  RunWithSelection(v, id, [](fpbuffer& layer, bitmask* selection) {
    const InpaintParams& p = LiveSettings().inpaint;
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

void OnSeamlessCloning(CImageView& v, int id) {
  const CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) return SelectFromPage(v, id, 82);
  RunWithSelection(v, id, [&v](fpbuffer& layer, bitmask* selection) {
    const LayerParams& p = LiveSettings().layer;
    SeamlessClone(layer, v.otherLayer(), p.cloningIterations, p.insideWeight, p.outsideWeight,
                  p.cloningMode, selection);
  });
}
