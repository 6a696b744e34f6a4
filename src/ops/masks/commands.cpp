#include <algorithm>
#include <cstring>

#include "app/flags.h"
#include "app/imageview.h"
#include "ops/basic/common.h"
#include "ops/masks/masks.h"
#include "params/dialog2.h"
#include "params/settings.h"

namespace {
using Id = CommandId;

void Invalidate(CImageView& v) {
  if (v.host) v.host->Invalidate();
}

bool Repeated() { return Flags().F2Active || Flags().F3Active; }

// The image mask of the layer made present, cleared, when it is missing.
void EnsureMask(fpbuffer& layer) {
  if (!layer.mask.covers(layer.width, layer.height)) layer.clearmask();
}

void ShowUnmaskedUnlessShowing(CImageView& v) {
  if (!v.showMaskedArea && !v.showUnmaskedArea) v.showUnmaskedArea = true;
}

// The menu path of the commands that only become the F2/F3 operation: Ctrl is ignored.
// True when the command was on that path and has been selected.
bool SelectedFromMenu(CImageView& v, int id) {
  if (Repeated()) return false;
  Flags().CtrlHeld = false;
  v.SelectOperation(id, true);
  return true;
}

// The menu path of the commands whose page decides: Ctrl is ignored, and the command
// becomes the F2/F3 operation when the page ends with OK. True when it was that path.
bool PageSelects(CImageView& v, int id, int page) {
  if (Repeated()) return false;
  Flags().CtrlHeld = false;
  if (Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok) v.SelectOperation(id, true);
  return true;
}

// The mask as "Create Mask" makes it when a drawing command finds none.
void CreateIfMissing(CImageView& v, fpbuffer& layer) {
  if (layer.mask.covers(layer.width, layer.height)) return;
  layer.clearmask();
  v.showUnmaskedArea = true;
  v.maskCaption = "Mask( On)";
}

// Runs a drawing into the current layer's mask (made when missing) under the process
// timer, then refreshes.
template <class Draw>
void DrawIntoMask(CImageView& v, Draw draw) {
  if (!v.HasFloat()) return;
  v.RunOnFloat([&](fpbuffer& layer) {
    CreateIfMissing(v, layer);
    draw(layer.mask);
  });
}

void Toggle(CImageView& v, bool& mine, bool& theirs) {
  v.normalView = true;
  if (mine) {
    mine = false;
  } else {
    theirs = false;
    mine = true;
  }
  Invalidate(v);
}
}  // namespace

void OnCreateMask(CImageView& v, int id) {
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  fpbuffer& layer = v.currentLayer();
  if (layer.mask.present()) {
    layer.mask.free();
    v.showUnmaskedArea = false;
  } else {
    layer.clearmask();
    v.showUnmaskedArea = true;
  }
  Invalidate(v);
  v.UpdateStatus();
}

void OnMaskInvert(CImageView& v, int id) {
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  fpbuffer& layer = v.currentLayer();
  EnsureMask(layer);
  v.maskCaption = "Mask( On)";
  layer.mask.invert();
  Invalidate(v);
}

void OnMaskErode(CImageView& v, int id) {
  if (!v.PrepareOperation(id) || !v.HasMask()) return;
  v.currentLayer().mask.grow();
  Invalidate(v);
}

void OnMaskEdgeToBorder(CImageView& v, int id) {
  if (!v.PrepareOperation(id) || !v.HasMask()) return;
  v.currentLayer().mask.boundary();
  Invalidate(v);
}

void OnSmoothMask(CImageView& v, int id) {
  if (!v.PrepareOperation(id) || !v.HasMask()) return;
  {
    ops::basic::WaitCursor wait;
    v.currentLayer().mask.smooth(std::max(1, int(LiveSettings().mask.smoothMaskIterations)));
  }
  Invalidate(v);
}

void OnClearSetMask(CImageView& v, int id) {
  if (!v.HasFloat()) return;
  fpbuffer& layer = v.currentLayer();
  if (!layer.mask.covers(layer.width, layer.height)) {
    layer.clearmask();
    ShowUnmaskedUnlessShowing(v);
    v.UpdateStatus();
  }
  const CommandFlags& f = Flags();
  if (f.F2Active || f.F3Active) {
    ops::basic::WaitCursor wait;
    std::memset(layer.mask.bits, 0, sizeof(uint32_t) * size_t(layer.mask.words));
    if (f.F2Active) layer.mask.invert();
  } else {
    v.SelectOperation(id, true);
  }
  Invalidate(v);
}

void OnMaskByColor(CImageView& v, int id) {
  ShowUnmaskedUnlessShowing(v);
  const CommandFlags& f = Flags();
  MaskParams& p = LiveSettings().mask;
  if (PageSelects(v, id, 71)) return;
  if (!v.HasFloat()) return;
  fpbuffer& layer = v.currentLayer();
  if (f.F2Active) {
    p.colorTolerance += p.colorToleranceIncrement;
  } else {
    if (layer.mask.present()) {
      std::memset(layer.mask.bits, 0, sizeof(uint32_t) * size_t(layer.mask.words));
    }
    p.colorTolerance -= p.colorToleranceIncrement;
  }
  // Records the tolerance reached, or takes the recorded one back while a program plays.
  if (!v.PrepareOperation(id)) return;
  EnsureMask(layer);
  v.maskCaption = "Mask( On)";
  const int colours = std::clamp(int(p.queueColors), 1, 5);
  v.RunOnFloat([&](fpbuffer& image) {
    for (int i = 0; i < colours; ++i) {
      const auto& c = v.queueColours[size_t(i)];
      image.maskbycolor(fpixel4(c[0], c[1], c[2], c[3]), p.colorTolerance, p.colorNorm);
    }
  });
}

void OnMaskByEdgeDetection(CImageView& v, int id) {
  ShowUnmaskedUnlessShowing(v);
  MaskParams& p = LiveSettings().mask;
  if (PageSelects(v, id, 72)) return;
  if (!v.HasFloat()) return;
  // F3's clearing of the old marks is left to the marking itself, which replaces the mask
  // only once the new one is complete.
  if (Flags().F2Active) {
    p.edgeTolerance -= p.edgeToleranceIncrement;
  } else {
    p.edgeTolerance += p.edgeToleranceIncrement;
  }
  EnsureMask(v.currentLayer());
  if (!v.PrepareOperation(id)) return;
  v.maskCaption = "Mask( On)";
  const bool cond = LiveSettings().conditional != 0;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        image.edgemask(p.edgeTolerance, cond, p.edgeDetectionType, p.logStandardDeviation,
                       p.zeroNormalization != 0);
      },
      true, true);
}

void OnFloodFill(CImageView& v, int id) {
  if (SelectedFromMenu(v, id)) return;
  const bool value = Flags().F2Active;
  const Point seed = v.queuePoints[0];
  if (!v.HasFloat()) return;
  v.RunOnFloat([&](fpbuffer& layer) {
    EnsureMask(layer);
    v.maskCaption = "Mask( On)";
    layer.mask.floodfill(seed.x, seed.y, value);
  });
}

void OnDrawBarPattern(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return;
  const BarPatternParams& p = LiveSettings().barPattern;
  DrawIntoMask(v, [&](bitmask& mask) {
    mask.columnbars(p.verticalBarWidth, p.verticalBarSpacing, p.verticalBarOffset);
    mask.rowbars(p.horizontalBarWidth, p.horizontalBarSpacing, p.horizontalBarOffset,
                 p.offsetFromBottom != 0);
  });
}

void OnDrawLine(CImageView& v, int id) {
  if (SelectedFromMenu(v, id)) return;
  const bool value = Flags().F2Active;
  const Point a = v.queuePoints[0], b = v.queuePoints[1];
  DrawIntoMask(v, [&](bitmask& mask) { mask.line(a.x, a.y, b.x, b.y, value); });
}

void OnDrawEllipse(CImageView& v, int id) {
  if (SelectedFromMenu(v, id)) return;
  const bool value = Flags().F2Active;
  // The major axis runs from queue entry 2 to entry 1; the outline passes through entry 0.
  const Point a = v.queuePoints[2], b = v.queuePoints[1], c = v.queuePoints[0];
  DrawIntoMask(v, [&](bitmask& mask) { mask.ellipse(a.x, a.y, b.x, b.y, c.x, c.y, value); });
}

void OnShowMaskedArea(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return;
  Toggle(v, v.showMaskedArea, v.showUnmaskedArea);
}

void OnShowUnmaskedArea(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return;
  Toggle(v, v.showUnmaskedArea, v.showMaskedArea);
}

void OnMaskCombine(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return;
  bitmask& mine = v.currentLayer().mask;
  const bitmask& other = v.otherLayer().mask;
  // Word by word needs equal sizes: anything else leaves the mask alone.
  if (!other.present() || !mine.covers(other.width, other.height)) return;
  const bool limited = v.selection.present();
  if (limited && !v.selection.covers(other.width, other.height)) return;
  bitmask source(other);
  if (limited) source.andwith(v.selection);
  if (id == Id::MaskOr) {
    mine.orwith(source);
  } else if (id == Id::MaskAnd) {
    mine.andwith(source);
  } else {
    mine.xorwith(source);
  }
  Invalidate(v);
}
