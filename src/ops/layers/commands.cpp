// The Layer menu's two-layer commands. The combinations run under the operation scope of
// the current layer; their cores check sizes themselves as well.
#include <algorithm>

#include "app/imageview.h"
#include "ops/layers/layers.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/ui.h"

namespace ops::layers {
namespace {
void EndOfCommand() {
  CommandFlags& f = Flags();
  f.F2Active = f.F3Active = f.CtrlHeld = false;
}

bool Cond() { return LiveSettings().conditional != 0; }

bool SameSize(const fpbuffer& a, const fpbuffer& b) {
  return a.width == b.width && a.height == b.height;
}

void UpdateMaskCaption(CImageView& v) { v.maskCaption = v.HasMask() ? "Mask( On)" : "Mask(Off)"; }

// The menu's Ctrl makes the command the current operation instead of running it.
bool CtrlSelected(CImageView& v, int id) {
  if (!Flags().CtrlHeld) return false;
  v.SelectOperation(id, true);
  EndOfCommand();
  return true;
}

// Switches the current pair (layer and bitmap) without moving a pixel.
void SwapCurrent(CImageView& v) {
  v.current = 1 - v.current;
  if (v.HasFloat() && v.host && v.host->HistogramVisible()) v.host->RefreshHistogram();
  if (v.host) v.host->Invalidate();
  UpdateMaskCaption(v);
  v.UpdateStatus();
}

// Creates the second layer, or removes it (layer 1 current again). False when its bitmap
// could not be made.
bool ToggleSecondLayer(CImageView& v) {
  ProcessTimer timer(v.startClock, nullptr);
  if (v.Layer2Exists()) {
    v.layerCaption = "Layer(Off)";
    v.showBottomThroughMask = false;
    v.bitmaps[1] = DisplayBitmap();
    v.layers[1].clear();
    v.layers[1].setcode(v.layers[0].code);
    if (v.current != 0) {
      v.current = 0;
      if (v.host) v.host->Invalidate();
    }
  } else {
    fpbuffer& second = v.layers[1];
    try {
      fpbuffer black(v.layers[0].width, v.layers[0].height, v.layers[0].code);
      second.swapwith(black);
    } catch (const std::bad_alloc&) {
      return false;  // the planes have said so; there is still one layer
    }
    if (!SizeBitmap(v.bitmaps[1], v.bitmaps[0].width(), v.bitmaps[0].height())) {
      second.clear();
      second.setcode(v.layers[0].code);
      return false;
    }
    v.layerCaption = "Layer( On)";
    if (second.n && second.width == v.bitmaps[1].width() &&
        second.height == v.bitmaps[1].height()) {
      second.todib(v.bitmaps[1].toprow());
    }
  }
  return true;
}

// Renders the other layer into the other bitmap, a new one when the sizes differ. False
// when the bitmap could not be made.
bool RenderOther(CImageView& v) {
  fpbuffer& other = v.otherLayer();
  if (other.n == 0) return true;
  if (!SizeBitmap(v.otherBitmap(), other.width, other.height)) return false;
  other.todib(v.otherBitmap().toprow());
  return true;
}

// The tiling position: process-wide, not saved, reset from the menu.
struct Tiling {
  int column = 0, row = 0, tallest = 0;
  bool active = false;
};
Tiling& TilingState() {
  static Tiling t;
  return t;
}
}  // namespace

void OnCreateSecondLayer(CImageView& v, int id) {
  if (CtrlSelected(v, id)) return;
  if (ToggleSecondLayer(v)) v.ReportCompletion(true);
  UpdateMaskCaption(v);
  v.UpdateStatus();
  EndOfCommand();
}

void OnExchangeLayers(CImageView& v, int id) {
  if (CtrlSelected(v, id)) return;
  if (!v.Layer2Exists() && !ToggleSecondLayer(v)) return EndOfCommand();
  SwapCurrent(v);
  EndOfCommand();
}

void OnTopLayerEqualsBottomLayer(CImageView& v, int id) {
  if (CtrlSelected(v, id)) return;
  fpbuffer& other = v.otherLayer();
  const bool whole = !Cond() && !v.selection.present();
  if (whole) {
    // A copy of an empty layer would empty the user's image.
    if (other.n == 0) return EndOfCommand();
    v.RunOnFloat([&other](fpbuffer& l) { l.copy(other); });
  } else if (SameSize(v.currentLayer(), other)) {
    v.RunOnFloat([&](fpbuffer& l) { l.copyfrom(other, &v.selection, Cond()); });
  }
  EndOfCommand();
}

void OnAddSubtractLayers(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!SameSize(v.layers[0], v.layers[1])) return EndOfCommand();
  if (!f.F2Active && !f.F3Active) {
    f.CtrlHeld = false;
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  const float c = float(ApplyModifierScale(1.0f)) * (f.F3Active ? -1.0f : 1.0f);
  const fpbuffer& other = v.otherLayer();
  v.RunOnFloat([&](fpbuffer& l) { l.addscaledlayer(c, other, &v.selection, Cond()); });
  EndOfCommand();
}

void OnInterpolateExtrapolateLayers(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!SameSize(v.layers[0], v.layers[1])) return EndOfCommand();
  const bool replay = f.F2Active || f.F3Active;
  const bool inverse = f.F3Active;
  if (!v.PrepareOperation(id)) return EndOfCommand();
  if (!replay) {
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  const float t = float(ApplyModifierInversePower(LiveSettings().layer.layerCoefficient));
  if (inverse && t == 1.0f) return EndOfCommand();
  // F3 undoes F2: (v - t w) / (1 - t) is the blend with 1 / (1 - 1/t).
  const float factor = inverse ? 1.0f / (1.0f - 1.0f / t) : t;
  // With Cond off the whole layer changes, whatever the selection.
  bitmask* selection = Cond() ? &v.selection : nullptr;
  const fpbuffer& other = v.otherLayer();
  v.RunOnFloat([&](fpbuffer& l) { l.blendlayer(factor, other, selection, Cond()); });
  EndOfCommand();
}

void OnMinimumMaximum(CImageView& v, int id) {
  if (CtrlSelected(v, id)) return;
  const fpbuffer& other = v.otherLayer();
  if (!SameSize(v.currentLayer(), other)) return EndOfCommand();
  const bool minimum = id == int(CommandId::Minimum);
  v.RunOnFloat([&](fpbuffer& l) {
    if (minimum) {
      l.minlayer(other, &v.selection, Cond());
    } else {
      l.maxlayer(other, &v.selection, Cond());
    }
  });
  EndOfCommand();
}

void OnGradientLensBlur(CImageView& v, int id) {
  if (CtrlSelected(v, id)) return;
  const fpbuffer& other = v.otherLayer();
  // The radii are read pixel for pixel: an empty or another-sized other layer gives none.
  if (other.n == 0 || !SameSize(v.currentLayer(), other)) return EndOfCommand();
  v.RunOnFloat([&](fpbuffer& l) { l.gradientlensblur(other, &v.selection, Cond()); });
  EndOfCommand();
}

void OnMatchCanvasSizes(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return EndOfCommand();
  const LayerParams& p = LiveSettings().layer;
  bool completed = false;
  {
    ProcessTimer timer(v.startClock, nullptr);
    try {
      fpbuffer::matchcanvas(v.layers[0], v.layers[1], p.canvasRed, p.canvasGreen, p.canvasBlue);
      completed = true;
    } catch (const std::bad_alloc&) {
      // The planes have said so; both layers are as they were.
    }
  }
  if (!completed || !RenderOther(v)) return EndOfCommand();
  v.RefreshDisplay(true);
}

void OnTilingTopIntoBottom(CImageView& v, int id) {
  CommandFlags& f = Flags();
  Tiling& t = TilingState();
  if (!f.F2Active && !f.F3Active) {
    v.SelectOperation(id, true);
    t = Tiling{0, 0, 0, true};
    return EndOfCommand();
  }
  const fpbuffer& bottom = v.otherLayer();
  if (t.column > bottom.width || t.row > bottom.height) t.active = false;
  if (!t.active) return EndOfCommand();
  if (v.currentLayer().width + t.column > bottom.width) {
    t.column = 0;
    t.row += t.tallest;
  }
  // The top layer is pasted into the bottom one, which is shown meanwhile; then the top
  // layer shows the mosaic so far.
  const int column = t.column, row = t.row;
  SwapCurrent(v);
  const fpbuffer& top = v.otherLayer();
  v.RunOnFloat([&](fpbuffer& l) { l.paste(column, row, top); });
  SwapCurrent(v);
  t.tallest = std::max(t.tallest, v.currentLayer().height);
  t.column += v.currentLayer().width;
  const fpbuffer& mosaic = v.otherLayer();
  v.RunOnFloat([&mosaic](fpbuffer& l) { l.copy(mosaic); });
  EndOfCommand();
}

void OnToggleNormalView(CImageView& v, int) {
  ProcessTimer timer(v.startClock, nullptr);
  if (v.normalView) {
    v.savedViewSwitches = {v.showMaskedArea, v.showUnmaskedArea, v.showCombined, v.showDifference};
    v.showMaskedArea = v.showUnmaskedArea = v.showCombined = v.showDifference = false;
    v.normalView = false;
    v.RefreshDisplay(true);
    RenderOther(v);
  } else {
    v.showMaskedArea = v.savedViewSwitches[0];
    v.showUnmaskedArea = v.savedViewSwitches[1];
    v.showCombined = v.savedViewSwitches[2];
    v.showDifference = v.savedViewSwitches[3];
    v.normalView = true;
    if (v.host) v.host->Invalidate();
    v.ReportCompletion(true);
  }
  EndOfCommand();
}
}  // namespace ops::layers
