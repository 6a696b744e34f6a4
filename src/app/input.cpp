// Mouse and keyboard input of the image window: panning, linked panning, the pixel
// information of a left click, the crop drag, the paint drag and the operation it runs on
// the painted region, and the keys that only serve input.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/imageview.h"
#include "app/paint.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/progress.h"

namespace {
using V = CImageView;
using Id = CommandId;

// The operations a paint drag can run on its region, by button. The handlers run in their
// replay path and restrict themselves to the selection.
const CommandId kRightRegionIds[] = {Id::TopLayerEqualsBottomLayer,
                                     Id::IsophoteSmoothing,
                                     Id::JensenEdgeEnhancement,
                                     Id::SetImageToColor,
                                     Id::Clear,
                                     Id::EnterAverageColor,
                                     Id::AddSubtractLayers,
                                     Id::EnterMedianColor,
                                     Id::AddSubtractConstant,
                                     Id::EnterWmmrColor,
                                     Id::MultiplyDivideByConstant,
                                     Id::InterpolateExtrapolateLayers,
                                     Id::BilateralFilter,
                                     Id::LensBlur,
                                     Id::Median,
                                     Id::WeightedMajorityWithMinimumRange,
                                     Id::ClearSetMask,
                                     Id::GammaAdjustment,
                                     Id::AddSubtractColor,
                                     Id::InterpolateExtrapolateColor,
                                     Id::Gradient,
                                     Id::Negative,
                                     Id::RunProgram,
                                     Id::UnsharpMask,
                                     Id::MaskOr,
                                     Id::MaskAnd,
                                     Id::Minimum,
                                     Id::Maximum,
                                     Id::GaussianBlur,
                                     Id::Xsharpen,
                                     Id::TextureInpainting,
                                     Id::GradientLensBlur,
                                     Id::MotionBlur,
                                     Id::TschumperleInpainting,
                                     Id::TschumperleRegularization,
                                     Id::ShockFilter,
                                     Id::DrawAvoidanceRemovalRegions,
                                     Id::SeamlessCloning,
                                     Id::ApplyCurve,
                                     Id::MaskExclusiveOr,
                                     Id::FastBilateralApproximation,
                                     Id::ChangeMinimumKeepMaximum};
const CommandId kMiddleRegionIds[] = {Id::Clear,
                                      Id::AddSubtractLayers,
                                      Id::AddSubtractConstant,
                                      Id::MultiplyDivideByConstant,
                                      Id::InterpolateExtrapolateLayers,
                                      Id::ClearSetMask,
                                      Id::GammaAdjustment,
                                      Id::AddSubtractColor,
                                      Id::InterpolateExtrapolateColor,
                                      Id::DrawAvoidanceRemovalRegions,
                                      Id::ApplyCurve,
                                      Id::ChangeMinimumKeepMaximum,
                                      Id::SetImageToColor,
                                      Id::Gradient};

bool Listed(const CommandId* begin, const CommandId* end, int id) {
  return std::find(begin, end, CommandId(id)) != end;
}

// The command a region drag runs for the window's operation id; 0 for none.
int RegionCommand(int id, bool middle) {
  if (!middle) return Listed(std::begin(kRightRegionIds), std::end(kRightRegionIds), id) ? id : 0;
  if (!Listed(std::begin(kMiddleRegionIds), std::end(kMiddleRegionIds), id)) return 0;
  // The middle button restores a region painted with a colour or a gradient from the
  // other layer.
  return id == CommandId::SetImageToColor || id == CommandId::Gradient
             ? int(CommandId::TopLayerEqualsBottomLayer)
             : id;
}

// Frees the selection when a drag ends, also when its operation throws.
class SelectionRelease {
 public:
  explicit SelectionRelease(CImageView& v) : v_(v) {}
  ~SelectionRelease() {
    v_.selection.free();
    if (v_.host) v_.host->Invalidate();
  }
  SelectionRelease(const SelectionRelease&) = delete;
  SelectionRelease& operator=(const SelectionRelease&) = delete;

 private:
  CImageView& v_;
};

Point Clamped(Point p, int w, int h) {
  return {std::clamp(p.x, 0, std::max(0, w - 1)), std::clamp(p.y, 0, std::max(0, h - 1))};
}

// The float values of a pixel, channel 4 zero for three-channel images.
std::array<float, 4> ColourAt(const fpbuffer& layer, Point p) {
  std::array<float, 4> c{};
  for (int k = 0; k < std::min(layer.channels, 4); ++k) c[size_t(k)] = layer.plane[k].z[p.y][p.x];
  return c;
}
}  // namespace

// --- Keys ---

void V::OnKeyDown(InputKey key) {
  CommandFlags& f = Flags();
  if (key == InputKey::Shift) {
    f.ShiftHeld = true;
    return;
  }
  if (key == InputKey::Ctrl) {
    f.CtrlHeld = true;
    return;
  }
  f.ShiftHeld = f.CtrlHeld = false;
  if (fitToWindow) return;
  const Settings& s = LiveSettings();
  const int step = s.scrollAmount;
  // The keypad moves one pixel, in the arrows' directions unless the amount reverses them.
  const int unit = step > 0 ? 1 : -1;
  const int32_t oldX = panX, oldY = panY;
  switch (key) {
    case InputKey::Left:
      panX -= step;
      break;
    case InputKey::Right:
      panX += step;
      break;
    case InputKey::Up:
      panY += step;
      break;
    case InputKey::Down:
      panY -= step;
      break;
    case InputKey::Keypad4:
      panX -= unit;
      break;
    case InputKey::Keypad6:
      panX += unit;
      break;
    case InputKey::Keypad2:
      panY -= unit;
      break;
    case InputKey::Keypad8:
      panY += unit;
      break;
    default:
      break;
  }
  if (panX == oldX && panY == oldY) return;
  if (host) host->Invalidate();
  if (!s.scrollLock) return;
  const DisplayBitmap& own = currentBitmap();
  for (CImageView* other : ViewTable()) {
    if (!other || other == this) continue;
    const DisplayBitmap& theirs = other->currentBitmap();
    if (theirs.width() != own.width() || theirs.height() != own.height()) continue;
    other->panX = panX;
    other->panY = panY;
    if (other->host) other->host->Invalidate();
  }
}

void V::OnKeyUp(InputKey key) {
  if (key == InputKey::Shift) Flags().ShiftHeld = false;
  if (key == InputKey::Ctrl) Flags().CtrlHeld = false;
}

void V::OnHomeKey(int) {
  panX = panY = 0;
  if (host) host->Invalidate();
  if (!LiveSettings().scrollLock) return;
  for (CImageView* other : ViewTable()) {
    if (!other || other == this) continue;
    if (other->currentLayer().width != currentLayer().width ||
        other->currentLayer().height != currentLayer().height)
      continue;
    other->panX = other->panY = 0;
    if (other->host) other->host->Invalidate();
  }
}

void V::OnEnterKey(int) {
  if (curveEditor.open()) {
    Dispatch(CommandId::CustomCurve);
    return;
  }
  if (!HasFloat()) return;
  const fpbuffer& layer = currentLayer();
  currentPoint = Clamped(clickPoint, layer.width, layer.height);
  currentColour = ColourAt(layer, currentPoint);
  PushColorQueue(currentPoint.x, currentPoint.y, currentColour[0], currentColour[1],
                 currentColour[2], currentColour[3]);
}

void V::OnCtrlArrow(int id) {
  Flags().CtrlHeld = false;
  Dispatch(int(CommandId::RollLeft) + id - int(CommandId::CtrlLeft));
}

void V::OnF10(int) { Flags().CtrlHeld = false; }

void V::PushClickHistory(Point p) {
  std::copy(clickHistory.begin() + 1, clickHistory.end(), clickHistory.begin());
  clickHistory.back() = p;
}

void V::PushColorQueue(int column, int row, float c0, float c1, float c2, float c3) {
  std::copy_backward(queuePoints.begin(), queuePoints.end() - 1, queuePoints.end());
  std::copy_backward(queueColours.begin(), queueColours.end() - 1, queueColours.end());
  queuePoints[0] = {column, row};
  queueColours[0] = {c0, c1, c2, c3};
}

namespace {
// Every colour of the memory: the current one and the five of the queue.
template <class F>
void EachMemoryColour(CImageView& v, F f) {
  f(v.currentColour);
  for (auto& c : v.queueColours) f(c);
}

// The channel count of the layer's space, also when the layer holds no pixels.
int SpaceChannels(const fpbuffer& layer) {
  const ColourSpace* s = FindColourSpace(layer.code);
  return s ? s->channels : 0;
}
}  // namespace

namespace {
// Three-channel spaces convert the first three components; the fourth stays.
void ConvertMemoryColours(CImageView& v, Convert3Fn f) {
  EachMemoryColour(v, [f](std::array<float, 4>& c) {
    const fpixel q = f(fpixel(c[0], c[1], c[2]));
    c[0] = q.x, c[1] = q.y, c[2] = q.z;
  });
}
}  // namespace

void V::QueueColorsToRgb() {
  const fpbuffer& layer = currentLayer();
  if (SpaceChannels(layer) == 3 && layer.torgb && !layer.isidentity()) {
    ConvertMemoryColours(*this, layer.torgb);
  } else if (SpaceChannels(layer) == 4 && layer.torgb4) {
    EachMemoryColour(*this, [&](std::array<float, 4>& c) {
      const fpixel q = layer.torgb4(fpixel4(c[0], c[1], c[2], c[3]));
      c[0] = q.x, c[1] = q.y, c[2] = q.z;
    });
  }
}

void V::QueueColorsFromRgb() {
  const fpbuffer& layer = currentLayer();
  if (SpaceChannels(layer) == 3 && layer.fromrgb && !layer.isidentity()) {
    ConvertMemoryColours(*this, layer.fromrgb);
  } else if (SpaceChannels(layer) == 4 && layer.fromrgb4) {
    EachMemoryColour(*this, [&](std::array<float, 4>& c) {
      const fpixel4 q = layer.fromrgb4(fpixel(c[0], c[1], c[2]));
      c = {q.x, q.y, q.z, q.w};
    });
  }
}

// --- Buttons ---

namespace {
// A second button pressed during a drag ends it without action; a paint drag's selection
// goes with it, so that no later command mistakes it for a region.
void CancelDrag(CImageView& v, bool& a, bool& b) {
  a = b = false;
  v.selection.free();
  if (v.host) v.host->Invalidate();
}

// Sizes the selection to the current image, cleared, and paints the first disk.
void StartPaintDrag(CImageView& v, Point p) {
  const fpbuffer& layer = v.currentLayer();
  v.selection.free();
  v.selection.dim(layer.width, layer.height);
  v.PaintDisk(p);
}
}  // namespace

void V::OnLeftButtonDown(Point p) {
  CommandFlags& f = Flags();
  f.LeftButtonDown = true;
  if (!HasFloat()) return;
  if (f.MiddleButtonDown || f.RightButtonDown) {
    CancelDrag(*this, f.MiddleButtonDown, f.RightButtonDown);
    return;
  }
  WindowToImage(p);
  clickPoint = p;
  PushClickHistory(clickPoint);
  // The bitmap and the float image are read each within its own size.
  const DisplayBitmap& bitmap = currentBitmap();
  int red = 0, green = 0, blue = 0;
  if (!bitmap.empty()) {
    const Point b = Clamped(p, bitmap.width(), bitmap.height());
    const uint8_t* px = bitmap.row(b.y) + 3 * b.x;
    blue = px[0];
    green = px[1];
    red = px[2];
  }
  const fpbuffer& layer = currentLayer();
  const std::array<float, 4> c = ColourAt(layer, Clamped(p, layer.width, layer.height));
  if (layer.channels == 4) {
    pixelInfoText = Format("  (%d, %d) [%d, %d, %d] (%.2f, %.2f, %.2f, %.2f)", p.x, p.y, red, green,
                           blue, c[0], c[1], c[2], c[3]);
  } else {
    pixelInfoText = Format("  (%d, %d) [%d, %d, %d] (%.2f, %.2f, %.2f)", p.x, p.y, red, green, blue,
                           c[0], c[1], c[2]);
  }
  SetStatusText(pixelInfoText, 4);
}

void V::OnLeftButtonUp(Point) {
  CommandFlags& f = Flags();
  f.RightButtonDown = f.MiddleButtonDown = f.LeftButtonDown = false;
  f.CtrlHeld = false;
}

void V::OnRightButtonDown(Point p) {
  CommandFlags& f = Flags();
  if (!HasFloat()) return;
  if (f.LeftButtonDown || f.MiddleButtonDown) {
    CancelDrag(*this, f.LeftButtonDown, f.MiddleButtonDown);
    return;
  }
  f.RightButtonDown = true;
  if (paintMode) {
    StartPaintDrag(*this, p);
    if (host) host->Invalidate();
    return;
  }
  // A rubber band left on the last picture (a drag that ended without a repaint) is taken
  // off before the corners it was drawn with are forgotten.
  if (bandDrawn) {
    InvertRectangleOutline(paintBitmap, dragStartWindow.x, dragStartWindow.y,
                           dragPreviousEndWindow.x, dragPreviousEndWindow.y);
    bandDrawn = false;
  }
  WindowToImage(p);
  dragStart = p;
  dragStartWindow = dragEndWindow = dragPreviousEndWindow = ImageToWindow(dragStart);
}

void V::OnMiddleButtonDown(Point p) {
  CommandFlags& f = Flags();
  if (!HasFloat()) return;
  if (f.LeftButtonDown || f.RightButtonDown) {
    CancelDrag(*this, f.LeftButtonDown, f.RightButtonDown);
    return;
  }
  f.MiddleButtonDown = true;
  if (paintMode) StartPaintDrag(*this, p);
}

void V::OnMouseMove(Point p) {
  CommandFlags& f = Flags();
  f.Quiet = false;
  if (paintMode) {
    if (!selection.present()) return;  // outside a drag nothing is painted
    PaintDisk(p);
    if (host) host->Invalidate();
    return;
  }
  // The graph is under the pointer only while its layer is the current one.
  if (curveEditor.open() && f.LeftButtonDown && current == curveEditor.layer) {
    DragCurveHandle(p);
    return;
  }
  if (!f.RightButtonDown) return;
  WindowToImage(p);
  dragEnd = p;
  dragEndWindow = ImageToWindow(dragEnd);
  SetStatusText(Format("  %d X %d", std::abs(dragEnd.x - dragStart.x) + 1,
                       std::abs(dragEnd.y - dragStart.y) + 1),
                0);
  if (host) host->Invalidate();
}

void CropLayers(CImageView& v, int left, int bottom, int w, int h) {
  fpbuffer& other = v.otherLayer();
  const bool both = v.cropBothLayers && other.n > 0 && other.width == v.currentLayer().width &&
                    other.height == v.currentLayer().height;
  fpbuffer croppedOther;
  v.panX = v.panY = 0;
  const bool completed = v.RunOnFloat(
      [&](fpbuffer& layer) {
        // The other layer is cropped into a copy first, so that a failure leaves both
        // layers as they were.
        if (both) croppedOther.copy(other).crop(left, bottom, w, h);
        layer.crop(left, bottom, w, h);
      },
      false);
  if (!completed || !both) return;
  other.swapwith(croppedOther);
  DisplayBitmap& bitmap = v.otherBitmap();
  if (!SizeBitmap(bitmap, other.width, other.height)) return;
  other.todib(bitmap.toprow());
  if (v.host) v.host->Invalidate();
}

namespace {
// The painted region given to the window's F2 (right button) or F3 (middle button)
// operation.
void RunRegionOperation(CImageView& v, bool middle) {
  CommandFlags& f = Flags();
  SelectionRelease release(v);
  const int id = RegionCommand(middle ? v.f3OperationId : v.f2OperationId, middle);
  if (id == 0 || !v.HasFloat()) return;
  FlagScope active(middle ? f.F3Active : f.F2Active, true);
  FlagScope ctrl(f.CtrlVariant, f.CtrlHeld);
  FlagScope shift(f.ShiftVariant, f.ShiftHeld);
  // Ctrl has been turned into the variant: left held, it would make the handler only
  // select itself as the current operation instead of running.
  f.CtrlHeld = f.ShiftHeld = false;
  if (id != CommandId::ClearSetMask) {
    v.Dispatch(id);
    return;
  }
  // Mask bits: the right button sets the painted pixels, the middle button clears them.
  fpbuffer& layer = v.currentLayer();
  if (!layer.mask.present() || layer.mask.width != layer.width ||
      layer.mask.height != layer.height) {
    layer.clearmask();
  }
  if (!v.showMaskedArea && !v.showUnmaskedArea) v.showUnmaskedArea = true;
  if (v.selection.width == layer.width && v.selection.height == layer.height) {
    if (middle) {
      bitmask keep(v.selection);
      layer.mask.andwith(keep.invert());
    } else {
      layer.mask.orwith(v.selection);
    }
  }
  v.UpdateStatus();
}

void CropToDrag(CImageView& v) {
  const int w = std::abs(v.dragEnd.x - v.dragStart.x) + 1;
  const int h = std::abs(v.dragEnd.y - v.dragStart.y) + 1;
  CropLayers(v, std::min(v.dragStart.x, v.dragEnd.x), std::min(v.dragStart.y, v.dragEnd.y), w, h);
}
}  // namespace

void V::OnRightButtonUp(Point p) {
  CommandFlags& f = Flags();
  if (!f.RightButtonDown) return;
  f.RightButtonDown = f.MiddleButtonDown = f.LeftButtonDown = false;
  if (paintMode) {
    RunRegionOperation(*this, false);
    return;
  }
  WindowToImage(p);
  dragEnd = p;
  if (!HasFloat() || f.CtrlHeld) {
    // Ctrl at release keeps the drag as a rectangle for the commands that read it.
    f.CtrlHeld = false;
    if (host) host->Invalidate();  // the rubber band goes
    return;
  }
  const int w = std::abs(dragEnd.x - dragStart.x) + 1;
  const int h = std::abs(dragEnd.y - dragStart.y) + 1;
  if (w <= 4 || h <= 4) {
    if (host) host->Invalidate();
    UpdateStatus();
    return;
  }
  CropToDrag(*this);
  UpdateStatus();
}

void V::OnMiddleButtonUp(Point) {
  CommandFlags& f = Flags();
  if (!f.MiddleButtonDown) return;
  f.RightButtonDown = f.MiddleButtonDown = f.LeftButtonDown = false;
  if (!paintMode) return;
  RunRegionOperation(*this, true);
}

// --- The brush ---

void V::PaintDisk(Point p) {
  if (!selection.present()) return;
  const fpbuffer& layer = currentLayer();
  const int w = std::min(layer.width, selection.width);
  const int h = std::min(layer.height, selection.height);
  // The 1:1 position under the pointer, whatever the view.
  const int row = clientHeight - 1 - p.y;
  const int cx = p.x - originX - panX;
  const int cy = row - originY - panY;
  const int r = std::max(0, LiveSettings().mask.cursorRadius);
  const float limit = float(r) + 0.5f;
  // The square around the centre, cut to the image (in 64 bits: a huge radius must not
  // overflow the bounds).
  const int i0 = int(std::max<int64_t>(0, int64_t(cx) - r));
  const int i1 = int(std::min<int64_t>(w - 1, int64_t(cx) + r));
  const int j0 = int(std::max<int64_t>(0, int64_t(cy) - r));
  const int j1 = int(std::min<int64_t>(h - 1, int64_t(cy) + r));
  for (int j = j0; j <= j1; ++j) {
    for (int i = i0; i <= i1; ++i) {
      const double dx = i - cx, dy = j - cy;
      if (std::sqrt(float(dx * dx + dy * dy)) <= limit) selection.set(i, j, true);
    }
  }
}

void V::BuildCursorPlanes(int style) {
  const Settings& s = LiveSettings();
  const int r = std::max(0, s.mask.cursorRadius);
  const int ox = s.gamma.paintCursorXOffset, oy = s.gamma.paintCursorYOffset;
  cursorAnd.free();
  cursorXor.free();
  switch (style) {
    case 0:  // "Reverse": the circle inverts what lies under it
      cursorXor.circle(r, ox, oy);
      cursorAnd.dim(cursorXor.width, cursorXor.height);
      std::fill(cursorAnd.data, cursorAnd.data + cursorAnd.bytes, uint8_t(0));
      cursorAnd.invert();
      break;
    case 1:  // "White"
      cursorXor.circle(r, ox, oy);
      cursorAnd.circle(r, ox, oy).invert();
      break;
    case 2:  // "Black"
      cursorAnd.circle(r, ox, oy).invert();
      cursorXor.dim(cursorAnd.width, cursorAnd.height);
      std::fill(cursorXor.data, cursorXor.data + cursorXor.bytes, uint8_t(0));
      break;
    default:
      break;
  }
}

void V::OnPaintMode(int) {
  if (paintMode) {
    paintMode = false;
    cursorAnd.free();
    cursorXor.free();
  } else {
    CommandFlags& f = Flags();
    if (f.CtrlHeld) {
      f.CtrlHeld = false;
      if (Dialog2(LiveSettings()).RunPage(75, 1, 0) != DialogResult::Ok) return;
    }
    paintMode = true;
    BuildCursorPlanes(LiveSettings().mask.cursorColor);
  }
  UpdateStatus();
  if (host) host->Invalidate();
}

void V::OnCursorRadius(int id) {
  int32_t& r = LiveSettings().mask.cursorRadius;
  r = id == CommandId::IncreaseCursorRadius ? r + 1 : std::max(r - 1, 0);
  // A changed brush is always drawn inverting, whatever style was chosen.
  BuildCursorPlanes(0);
  if (host) host->Invalidate();
}

void V::OnUpdatePaintMode(CommandState& s, int) {
  s.Enable(HasFloat() && !fitToWindow);
  s.Check(paintMode);
}

void V::OnUpdateCursorRadius(CommandState& s, int) { s.Enable(HasFloat() && paintMode); }
