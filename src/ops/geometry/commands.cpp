// The whole-pixel commands of the Geom menu and the roll keys: every channel and the image
// mask move together, without operation scope.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/imageview.h"
#include "image/pixel.h"
#include "numeric/matrix.h"
#include "ops/geometry/geometry.h"
#include "params/dialog1.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace ops::geometry {
namespace {
void EndOfCommand() {
  CommandFlags& f = Flags();
  f.F2Active = f.F3Active = f.CtrlHeld = false;
}

// The menu's Ctrl, then the core on the current layer under the process timer and the
// refresh. The cores make their new planes before giving up the old ones.
void RunWholePixel(CImageView& v, int id, void (*core)(fpbuffer&)) {
  if (!v.PrepareOperation(id)) return EndOfCommand();
  v.RunOnFloat(core, false, true);
}

const char* const kCropPrompt =
    "\nEnter:\nlower left corner coordinate,\nlower right corner coordinate,\nwidth, height";

// The entered values truncated towards zero (through the one clamping helper, so that any
// text the parser accepts gives a defined integer).
int Truncated(float value) { return int(ClampToInteger(value, INT32_MIN, INT32_MAX)); }
}  // namespace

void OnCrop(CImageView& v, int id) {
  CommandFlags& f = Flags();
  const fpbuffer& layer = v.currentLayer();
  int x = std::min(v.dragStart.x, v.dragEnd.x), y = std::min(v.dragStart.y, v.dragEnd.y);
  int w = std::abs(v.dragEnd.x - v.dragStart.x) + 1, h = std::abs(v.dragEnd.y - v.dragStart.y) + 1;
  if (f.F2Active || f.F3Active) {
    f.F2Active = f.F3Active = false;
    // A rectangle kept from a larger image does not fit this one.
    const auto inside = [&layer](Point p) {
      return p.x >= 0 && p.y >= 0 && p.x < layer.width && p.y < layer.height;
    };
    if (!inside(v.dragStart) || !inside(v.dragEnd)) return EndOfCommand();
  } else {
    matrix values(4, 1);
    values.x[0] = float(x);
    values.x[1] = float(y);
    values.x[2] = float(w);
    values.x[3] = float(h);
    for (;;) {
      if (EditNumbers(values, 0, kCropPrompt, "%9.2f", true, "Crop")) return EndOfCommand();
      x = Truncated(values.x[0]);
      y = Truncated(values.x[1]);
      w = Truncated(values.x[2]);
      h = Truncated(values.x[3]);
      if (x >= 0 && y >= 0 && w >= 1 && h >= 1 && int64_t(x) + w <= layer.width &&
          int64_t(y) + h <= layer.height) {
        break;
      }
      GetUi().MessageBox("Out of Bounds.", "Crop", {});
      values.x[0] = float(x);
      values.x[1] = float(y);
      values.x[2] = float(w);
      values.x[3] = float(h);
    }
    v.dragStart = {x, y};
    v.dragEnd = {x + w - 1, y + h - 1};
  }
  if (f.CtrlHeld) {
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  w = std::min(w, layer.width - x);
  h = std::min(h, layer.height - y);
  CropLayers(v, x, y, w, h);
  EndOfCommand();
}

void OnSetForCroppingTwoLayers(CImageView& v, int id) {
  if (Flags().CtrlHeld) {
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  v.cropBothLayers = !v.cropBothLayers;
  EndOfCommand();
}

void OnRotate90Degrees(CImageView& v, int id) {
  RunWholePixel(v, id, [](fpbuffer& l) { l.rotate90(); });
}

void OnSelectRotate90(CImageView& v, int) {
  if (!v.HasFloat()) return;
  {
    FlagScope ctrl(Flags().CtrlHeld, true);
    OnRotate90Degrees(v, int(CommandId::Rotate90Degrees));
  }
  Flags().CtrlHeld = false;
}

void OnVerticalFlip(CImageView& v, int id) {
  RunWholePixel(v, id, [](fpbuffer& l) { l.vflip(); });
}

void OnHorizontalFlip(CImageView& v, int id) {
  RunWholePixel(v, id, [](fpbuffer& l) { l.hflip(); });
}

void OnCreateBlankImage(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return EndOfCommand();
  const GeometryParams& p = LiveSettings().geometry;
  fpbuffer& layer = v.currentLayer();
  const int w = p.blankWidth, h = p.blankHeight;
  if (w < 1 || h < 1) {
    ShowMessage(
        Format("Cannot create a blank image of %d x %d pixels!\n\nThe width and the "
               "height must be at least 1.\n\nThe image is unchanged.",
               w, h));
    return EndOfCommand();
  }
  // Checked before anything is allocated: Linux would promise the memory and fail later.
  const uint64_t pixels = uint64_t(w) * uint64_t(h);
  const uint64_t bytes =
      pixels * 4 * uint64_t(std::max(layer.channels, 1)) + uint64_t(GetDibBytes24(w, h));
  if (pixels > INT32_MAX || GetDibBytes24(w, h) > INT32_MAX || !MemoryAllows(bytes)) {
    ShowMemoryStatus(
        Format("Not enough memory for a blank image of %d x %d pixels.\n\nThe "
               "image is unchanged.\n\n",
               w, h));
    return EndOfCommand();
  }
  // The blank image is made aside and takes the layer's place only when it is whole.
  try {
    fpbuffer blank(w, h, layer.code);
    const fpixel4 c = layer.colourfromrgb(p.blankRed, p.blankGreen, p.blankBlue);
    const float values[4] = {c.x, c.y, c.z, c.w};
    for (int k = 0; k < blank.channels; ++k) blank.plane[k].fill(values[k]);
    if (layer.mask.present()) blank.clearmask();
    layer.swapwith(blank);
  } catch (const std::bad_alloc&) {
    return EndOfCommand();  // the planes have said so; the image stays
  }
  v.RefreshDisplay(true);
}

void OnManualOnePointRegistration(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  int dx = v.currentPoint.x - v.clickPoint.x, dy = v.currentPoint.y - v.clickPoint.y;
  if (f.F3Active) {
    dx = -dx;
    dy = -dy;
  }
  v.RunOnFloat([dx, dy](fpbuffer& l) { l.roll(dx, dy); }, false, true);
}

void OnRoll(CImageView& v, int id) {
  struct Roll {
    CommandId first;
    bool other;
    int step;
    bool ctrlSelects;
  };
  static const Roll kRolls[] = {
      {CommandId::RollLeft, false, 1, true},
      {CommandId::RollBottomLeft, true, 1, true},
      {CommandId::RollLeft10, false, 10, false},
      {CommandId::RollBottomLeft10, true, 10, false},
  };
  const Roll* r = nullptr;
  for (const Roll& k : kRolls) {
    if (id >= int(k.first) && id < int(k.first) + 4) r = &k;
  }
  if (!r) return;
  // Left, right, up, down.
  static const int kDx[4] = {-1, 1, 0, 0}, kDy[4] = {0, 0, 1, -1};
  const int dx = kDx[id - int(r->first)] * r->step, dy = kDy[id - int(r->first)] * r->step;
  CommandFlags& f = Flags();
  if (r->ctrlSelects && f.CtrlHeld) {
    v.SelectOperation(id, true);
    return EndOfCommand();
  }
  f.CtrlHeld = false;
  if (!r->other) {
    if (!v.HasFloat()) return EndOfCommand();
    v.RunOnFloat([dx, dy](fpbuffer& l) { l.roll(dx, dy); }, false, true);
    return EndOfCommand();
  }
  fpbuffer& other = v.otherLayer();
  if (other.n == 0) return EndOfCommand();
  GetUi().BeginWaitCursor();
  try {
    other.roll(dx, dy);
    DisplayBitmap& bitmap = v.otherBitmap();
    if (SizeBitmap(bitmap, other.width, other.height)) other.todib(bitmap.toprow());
  } catch (const std::bad_alloc&) {
    // The planes have said so; the layer is as it was.
  }
  GetUi().EndWaitCursor();
  if (v.host) v.host->Invalidate();
  EndOfCommand();
}
}  // namespace ops::geometry
