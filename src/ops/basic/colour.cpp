// The CSpace and Queue menus and the colour commands of the Basic menu: colour-space
// changes of both layers with the window's colour memory, the visible channels, and the
// colours taken from and written into the image.
#include <algorithm>
#include <cmath>

#include "app/imageview.h"
#include "image/colorspace.h"
#include "ops/basic/basic.h"
#include "ops/basic/common.h"
#include "params/dialog1.h"
#include "params/dialog2.h"
#include "params/settings.h"

using namespace ops::basic;
using Id = CommandId;

namespace {
CSpaceCode TargetSpace(int id) {
  switch (id) {
    case int(Id::Cmy):
      return cspace::kCMY;
    case int(Id::YCbCr):
      return cspace::kYCbCr;
    case int(Id::YCbCr2):
      return cspace::kYCbCr2;
    case int(Id::Yuv):
      return cspace::kYUV;
    case int(Id::Hsv):
      return cspace::kHSV;
    case int(Id::Hsi):
      return cspace::kHSI;
    case int(Id::LogRgb):
      return cspace::kLogRGB;
    case int(Id::LogCmy):
      return cspace::kLogCMY;
    case int(Id::Lab):
      return cspace::kLAB;
    case int(Id::RgbGammaX):
      return cspace::kRGBX;
    case int(Id::YCbCrGammaX):
      return cspace::kYCbCrX;
    default:
      return cspace::kRGB;
  }
}

bool IsGammaX(int id) { return id == int(Id::RgbGammaX) || id == int(Id::YCbCrGammaX); }

// Both layers (layer 1 first) and the colour memory into the target space, through RGB.
// The display is not rebuilt: the colours shown stay the same.
void ChangeColourSpace(CImageView& v, CSpaceCode target) {
  ProcessTimer timer(v.startClock, nullptr);
  v.QueueColorsToRgb();
  for (fpbuffer& layer : v.layers) layer.convert(cspace::kRGB | 7);
  // The gamma spaces take the gamma in force only now, so that an image still in one of
  // them went back to RGB with the gamma it was made with.
  const float gamma = LiveSettings().gamma.colorSpaceGamma;
  if (std::isfinite(gamma) && gamma > 0 && (target == cspace::kRGBX || target == cspace::kYCbCrX))
    ColourGammaX() = gamma;
  for (fpbuffer& layer : v.layers) layer.convert(target | 7);
  v.QueueColorsFromRgb();
  if (v.host && v.host->HistogramVisible()) v.host->RefreshHistogram();
  v.UpdateStatus();
}

// Truncates towards zero into the int range (NaN gives 0).
int32_t TruncatedIndex(float value) {
  if (!(value == value)) return 0;
  return int32_t(std::clamp(double(value), -2147483648.0, 2147483647.0));
}
}  // namespace

void OnColourSpace(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (IsGammaX(id) && !f.F2Active && !f.F3Active && f.CtrlHeld) {
    if (Dialog2(LiveSettings()).RunPage(93, 5, 0) == DialogResult::Ok) {
      v.SelectOperation(id, true);
    } else {
      f.CtrlHeld = false;
    }
    return;
  }
  if (!v.PrepareOperation(id)) return;
  ChangeColourSpace(v, TargetSpace(id));
}

void OnChannelToggle(CImageView& v, int id) {
  if (Flags().CtrlHeld) {
    v.SelectOperation(id, true);
    return;
  }
  const unsigned bit = 1u << (id - int(Id::XChannel));
  fpbuffer& first = v.layers[0];
  fpbuffer& second = v.layers[1];
  if (first.n > 0) first.code ^= bit;
  // Layer 2 takes layer 1's whole word, whether or not layer 1 holds pixels.
  if ((second.code & ~cspace::kVisibleBits) == (first.code & ~cspace::kVisibleBits)) {
    second.code = first.code;
  } else {
    second.setcode(first.code);
  }
  v.PopdownMenu(2);
  v.UpdateStatus();
}

void OnRotateChannels(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const size_t count = size_t(image.n);
    const matrix keep(image.plane[2]);
    std::copy(image.plane[1].x, image.plane[1].x + count, image.plane[2].x);
    std::copy(image.plane[0].x, image.plane[0].x + count, image.plane[1].x);
    std::copy(keep.x, keep.x + count, image.plane[0].x);
  });
}

void OnQueueEntry(CImageView& v, int id) {
  CommandFlags& f = Flags();
  const int k = std::clamp(id - int(Id::PointColor1), 0, 4);
  v.queueIndex = k;
  v.currentPoint = v.queuePoints[size_t(k)];
  v.currentColour = v.queueColours[size_t(k)];
  const bool colour = f.CtrlHeld, point = f.ShiftHeld;
  if (colour) {
    f.CtrlHeld = false;
    const bool four = v.currentLayer().channels == 4;
    matrix values(four ? 4 : 3, 1);
    for (int i = 0; i < values.n; ++i) values.x[i] = v.currentColour[size_t(i)];
    const char* prompt = four ? "\n\nEnter X, Y, Z, W:" : "\n\nEnter X, Y, Z:";
    // A cancelled colour ends the command: the point is not asked for.
    if (EditNumbers(values, 0, prompt, "%9.2f", true, "Pixel Color")) return;
    for (int i = 0; i < values.n; ++i) v.currentColour[size_t(i)] = values.x[i];
    v.queueColours[size_t(k)] = v.currentColour;
  }
  if (point) {
    f.ShiftHeld = false;
    matrix values(2, 1);
    values.x[0] = float(v.currentPoint.x);
    values.x[1] = float(v.currentPoint.y);
    if (EditNumbers(values, 0, "\n\nEnter indices (i,j):", "%9.2f", true, "Indices")) return;
    v.currentPoint = {TruncatedIndex(values.x[0]), TruncatedIndex(values.x[1])};
    v.queuePoints[size_t(k)] = v.currentPoint;
  }
}

void EnterColour(CImageView& v, int id, ColourOfScope colourOf) {
  if (!v.PrepareOperation(id)) return;
  fpbuffer::Colour c;
  {
    WaitCursor wait;
    c = (v.currentLayer().*colourOf)(Selection(v), Cond());
  }
  v.currentColour = c;
  // The new entry shares the point of the newest one.
  v.PushColorQueue(v.queuePoints[0].x, v.queuePoints[0].y, c[0], c[1], c[2], c[3]);
  v.PopdownMenu(3);
}

void OnEnterAverageColor(CImageView& v, int id) { EnterColour(v, id, &fpbuffer::meancolor); }
void OnEnterMedianColor(CImageView& v, int id) { EnterColour(v, id, &fpbuffer::mediancolor); }
void OnEnterWmmrColor(CImageView& v, int id) { EnterColour(v, id, &fpbuffer::wmmrcolor); }

void OnSetImageToColor(CImageView& v, int id) {
  const fpbuffer::Colour c = v.currentColour;
  v.RunFloatOperation(id, [&](fpbuffer& image) { image.fillcolor(c, Selection(v), Cond()); });
}

namespace {
// From the menu: the page, and on OK the command becomes the F2/F3 operation. Under F2/F3:
// the replay copy of the coefficient. True when the command runs now.
bool ColourOperationRuns(CImageView& v, int id, int page) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    f.CtrlHeld = false;
    if (Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok)
      v.SelectOperation(id, true);
    return false;
  }
  return v.PrepareOperation(id);
}
}  // namespace

void OnAddSubtractColor(CImageView& v, int id) {
  if (!ColourOperationRuns(v, id, 14)) return;
  double x = ApplyModifierScale(LiveSettings().basic.addSubtractColorCoefficient);
  if (Flags().F3Active) x = -x;
  if (!Usable(x)) return;
  const fpbuffer::Colour c = v.currentColour;
  v.RunOnFloat([&](fpbuffer& image) { image.addcolor(float(x), c, Selection(v), Cond()); });
}

void OnInterpolateExtrapolateColor(CImageView& v, int id) {
  if (!ColourOperationRuns(v, id, 15)) return;
  const double g = ApplyModifierInversePower(LiveSettings().basic.interpolateColorCoefficient);
  double h = g;
  if (Flags().F3Active) {
    // Undoes an F2 step with the same g: v = (1 - h) v' + h c recovers v from
    // v' = (1 - g) v + g c. With g = 1 the step cannot be undone.
    if (g == 1.0) return;
    h = 1.0 / (1.0 - 1.0 / g);
  }
  if (!Usable(h)) return;
  const fpbuffer::Colour c = v.currentColour;
  v.RunOnFloat([&](fpbuffer& image) { image.blendcolor(float(h), c, Selection(v), Cond()); });
}
