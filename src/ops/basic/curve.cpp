// The custom curve: the editor that parks the image while the user shapes the curve, and
// the command that applies the fitted or preset curve.
#include <string>
#include <utility>

#include "app/imageview.h"
#include "ops/basic/basic.h"
#include "ops/basic/common.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/ui.h"

using namespace ops::basic;
using Id = CommandId;

namespace {
BasicParams& Params() { return LiveSettings().basic; }

// Starts the editor with the page's parameters: a new graph of m x m pixels, the control
// columns and, with a preset, the control values on the preset curve. The image must be
// parked already. False, with a message and the editor as it was, when the counts make no
// curve or the graph does not fit in memory.
bool StartEditor(CImageView& v) {
  BasicParams& p = Params();
  const int m = p.lookupElements, c = p.controlPoints;
  if (!CurveCountsUsable(m, c)) {
    ShowMessage(m < 3 ? "The curve needs at least 3 lookup elements."
                      : "The lookup elements must divide evenly between the control points.");
    return false;
  }
  DisplayBitmap graph;
  try {
    graph = DisplayBitmap(m, m);
  } catch (const std::bad_alloc&) {
    ShowMessage("Not enough memory for a curve editor of " + std::to_string(m) + " x " +
                std::to_string(m) + " pixels.");
    return false;
  }
  CurveEditor& e = v.curveEditor;
  e.preset = p.directlyUsePresetFunction != 0;
  e.fitted = !e.preset;
  const int k = (m - 1) / (c - 1);
  e.dragFactor = 1.0f / float(m - 1);
  e.threshold = 0.0001f / float(m - 1);
  e.columns.assign(size_t(c), 0);
  for (int j = 0; j < c; ++j) e.columns[size_t(j)] = j * k;
  if (const ToneCurveFn f = ToneCurve(p.presetFunction, false)) {
    for (int j = 0; j < c; ++j) {
      p.curveValues[j] = float(f(double(j) / double(c - 1), double(p.presetParameter)));
    }
  }
  v.bitmaps[size_t(e.layer)] = std::move(graph);
  v.panX = v.panY = 0;
  v.DrawCurveEditor();
  return true;
}

bool CurvePage() { return Dialog2(LiveSettings()).RunPage(38, 1, 0) == DialogResult::Ok; }

void OpenEditor(CImageView& v) {
  if (!CurvePage()) return;
  CurveEditor& e = v.curveEditor;
  // The image stays in the window's memory, with the layer it belongs to.
  e.layer = v.current;
  e.parkedImage.clear();
  e.parkedImage.swapwith(v.currentLayer());
  e.parkedBitmap = std::move(v.currentBitmap());
  v.currentBitmap() = DisplayBitmap();
  if (StartEditor(v)) {
    v.UpdateStatus();
    return;
  }
  v.currentLayer().swapwith(e.parkedImage);
  v.currentBitmap() = std::move(e.parkedBitmap);
  e.parkedImage.clear();
}

void CloseEditor(CImageView& v) {
  CurveEditor& e = v.curveEditor;
  if (e.fitted) {
    dmatrix f;
    FitCustomCurve(Params(), f);
    if (f.n > 0 && f.mingap() < double(e.threshold)) {
      GetUi().MessageBox("Try again.\n\nYou must eliminate pink parts of curve.",
                         "Curve Not Monotone Increasing!", MessageStyle{});
      // Confirmed: the editor starts again with the page's values; else it stays.
      if (CurvePage()) StartEditor(v);
      return;
    }
  }
  {
    ProcessTimer timer(v.startClock, nullptr);
    const size_t layer = size_t(e.layer);
    v.layers[layer].swapwith(e.parkedImage);
    v.bitmaps[layer] = std::move(e.parkedBitmap);
    e.parkedImage.clear();
    e.parkedBitmap = DisplayBitmap();
    e = CurveEditor();
  }
  if (v.HasFloat()) {
    v.RefreshDisplay(true);
  } else {
    if (v.host) v.host->Invalidate();
    v.UpdateStatus();
  }
  OnApplyCurve(v, int(Id::ApplyCurve));
}
}  // namespace

void OnCustomCurve(CImageView& v, int) {
  if (v.curveEditor.open()) {
    CloseEditor(v);
  } else {
    OpenEditor(v);
  }
}

void OnApplyCurve(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    f.CtrlHeld = false;
    if (Dialog2(LiveSettings()).RunPage(79, 1, 0) == DialogResult::Ok) v.SelectOperation(id, true);
    return;
  }
  // Without pixels (the editor open, say) there is nothing to apply, and the refresh
  // would size the shown bitmap to nothing.
  if (!v.HasFloat() || !v.PrepareOperation(id)) return;
  const BasicParams& p = Params();
  const bool forward = f.F2Active;
  // The inverse runs on the channels alone, with the colour ratios kept.
  const bool hdr = forward && p.forHdr != 0;
  const double s = forward ? double(p.colorSaturationControl) : 1.0;
  // Over the channels the curve neither ticks nor allocates: it cannot stop half-way, so
  // the window keeps no copy of the image for it (a copy taken on one thread, which cost
  // more than the curve). The HDR path converts and allocates, and keeps the copy.
  const bool keepsImage = !hdr;
  if (p.directlyUsePresetFunction) {
    const ToneCurveFn curve = ToneCurve(p.presetFunction, !forward);
    const double c = p.presetParameter;
    v.RunOnFloat(
        [&](fpbuffer& image) { image.applytonecurve(curve, c, Selection(v), Cond(), hdr, s); },
        true, keepsImage);
    return;
  }
  dmatrix table;
  if (!FitCustomCurve(p, table)) return;
  if (!forward) {
    dmatrix inverse;
    inverse.inverse(table);
    table = std::move(inverse);
  }
  v.RunOnFloat([&](fpbuffer& image) { image.applycurve(table, Selection(v), Cond(), hdr, s); },
               true, keepsImage);
}
