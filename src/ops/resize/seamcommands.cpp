// The two seam-carving commands of the Resize menu: marking the regions and carving.
#include <new>

#include "app/imageview.h"
#include "ops/resize/seamcarve.h"
#include "params/settings.h"
#include "platform/messages.h"

namespace {
void EndOfCommand() {
  CommandFlags& f = Flags();
  f.F2Active = f.F3Active = f.CtrlHeld = false;
}

bool SameSize(const fpbuffer& a, const fpbuffer& b) {
  return a.n > 0 && a.width == b.width && a.height == b.height && a.channels == b.channels;
}

// Each window keeps its own unmarked image, so that marking another window never
// replaces it. An image that already holds marks keeps the copy taken before them.
void KeepUnmarkedImage(CImageView& v) {
  const fpbuffer& layer = v.currentLayer();
  if (SameSize(v.seamUnmarked, layer) && HasSeamMarks(layer)) return;
  try {
    v.seamUnmarked.copy(layer);
  } catch (const std::bad_alloc&) {
    v.seamUnmarked.clear();
    ShowMessage("Problem writing TEMP.FDIB!");
  }
}
}  // namespace

void OnDrawSeamRegions(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    KeepUnmarkedImage(v);
    f.CtrlHeld = false;
    v.SelectOperation(id, true);
    return;
  }
  const bool removal = f.F3Active;
  const bool cond = LiveSettings().conditional != 0;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        if (removal) {
          image.markremoval(&v.selection, cond);
        } else {
          image.markavoidance(&v.selection, cond);
        }
      },
      false, true);
  EndOfCommand();
}

void OnSeamCarving(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return EndOfCommand();
  const ResizeParams& p = LiveSettings().resize;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        image.seamcarve(&v.seamUnmarked, p.seamWidth, p.seamHeight, p.avoidanceEnergyValue,
                        p.removalEnergyValue, p.energyFunctionType, p.updateEnergyFunction != 0,
                        p.derivativeBlendingIterations, p.useDiagonalDerivatives != 0,
                        p.blendingAvoidanceWeight);
      },
      false, true);
  // A copy of another size belongs to an image the window no longer shows.
  if (!SameSize(v.seamUnmarked, v.currentLayer())) v.seamUnmarked.clear();
  EndOfCommand();
}
