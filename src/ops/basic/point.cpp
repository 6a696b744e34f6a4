// The Basic menu's point operations and the Layer menu's Difference Statistics.
#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "app/imageview.h"
#include "ops/basic/basic.h"
#include "ops/basic/common.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/ui.h"

using namespace ops::basic;
using Id = CommandId;

namespace {
BasicParams& Params() { return LiveSettings().basic; }

// The flow the four Set F2/F3 point operations share. From the menu: the page, and on OK
// the command becomes the F2/F3 operation; nothing runs. Under F2/F3: the replay copy of
// the block, then the core with the forward or inverse value, when there is one that
// keeps every value a number. A guarded core keeps the image itself on a cancel or
// failure, with copies of the planes it changes: it runs when the memory a copy of the
// layer would take is there, so the window needs no copy of its own (taken on one thread,
// that copy cost more than the operation); otherwise the core runs with the window's copy.
void SetF2F3Operation(CImageView& v, int id, int page,
                      const std::function<std::optional<double>(bool inverse)>& value,
                      const std::function<void(fpbuffer&, double)>& core,
                      const std::function<void(fpbuffer&, double)>& guarded = nullptr) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    f.CtrlHeld = false;
    if (Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok)
      v.SelectOperation(id, true);
    return;
  }
  if (!v.PrepareOperation(id)) return;
  const std::optional<double> x = value(f.F3Active);
  if (!x || !Usable(*x)) return;
  const fpbuffer& layer = v.currentLayer();
  const uint64_t bytes = uint64_t(layer.n) * 4 * uint64_t(layer.channels);
  if (guarded && MemoryAllows(2 * bytes)) {
    v.RunOnFloat([&](fpbuffer& image) { guarded(image, *x); }, true, true);
    return;
  }
  v.RunOnFloat([&](fpbuffer& image) { core(image, *x); });
}

// The additive parameters: the unit variant's multiple forward, its negative inverse.
std::function<std::optional<double>(bool)> SignedValue(float BasicParams::*member) {
  return [member](bool inverse) {
    const double x = ApplyModifierScale(Params().*member);
    return std::optional<double>(inverse ? -x : x);
  };
}
}  // namespace

void OnAddSubtractConstant(CImageView& v, int id) {
  SetF2F3Operation(
      v, id, 11, SignedValue(&BasicParams::addSubtractConstant),
      [&v](fpbuffer& image, double x) { image.addconstant(float(x), Selection(v), Cond()); });
}

void OnMultiplyDivideByConstant(CImageView& v, int id) {
  SetF2F3Operation(
      v, id, 12,
      [](bool inverse) -> std::optional<double> {
        const float c = Params().multiplyDivideConstant;
        const double m = ApplyModifierPower(c);
        if (!inverse) return m;
        if (c == 0) return std::nullopt;
        return 1.0 / m;
      },
      [&v](fpbuffer& image, double m) { image.multiply(float(m), Selection(v), Cond()); });
}

void OnGammaAdjustment(CImageView& v, int id) {
  // A gamma not above 0 does nothing at all, not even open the page.
  if (!(InForce(Params().gamma, &Params()) > 0)) return;
  SetF2F3Operation(
      v, id, 13,
      [](bool inverse) {
        const double p = ApplyModifierPower(Params().gamma);
        return std::optional<double>(inverse ? 1.0 / p : p);
      },
      [&v](fpbuffer& image, double p) { image.gamma(p, Selection(v), Cond()); },
      [&v](fpbuffer& image, double p) { image.gammaguarded(p, Selection(v), Cond()); });
}

void OnChangeMinimumKeepMaximum(CImageView& v, int id) {
  if (InForce(Params().shiftAmount, &Params()) == 0) return;
  SetF2F3Operation(
      v, id, 9, SignedValue(&BasicParams::shiftAmount),
      [&v](fpbuffer& image, double x) { image.changeminimum(float(x), Selection(v), Cond()); });
}

void OnClear(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) { image.fill(0.0f, Selection(v), Cond()); });
}

void OnNegative(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) { image.negative(Selection(v), Cond()); });
}

void OnGradient(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const Point p0 = v.queuePoints[0], p1 = v.queuePoints[1];
    image.gradient(v.queueColours[0], p0.x, p0.y, v.queueColours[1], p1.x, p1.y, Selection(v),
                   Cond());
  });
}

void OnClipNegativeValuesToZero(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) { image.clipnegative(Cond()); });
}

void OnHistogramEqualization(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) { image.equalize(Cond()); });
}

void OnScaleAndShift(CImageView& v, int id) {
  v.RunFloatOperation(id,
                      [](fpbuffer& image) { image.scaleshift(Params().outlierSmoothingRadius); });
}

void OnDifferenceStatistics(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return;
  const fpbuffer& a = v.currentLayer();
  const fpbuffer& b = v.otherLayer();
  // Only two images of one size compare.
  if (a.n == 0 || b.n == 0 || a.width != b.width || a.height != b.height) return;
  WaitCursor wait;
  static const char* const kNames[3] = {"X", "Y", "Z"};
  std::string text;
  for (int c = 0; c < 3; ++c) {
    const matrix::DiffStats d = a.plane[c].diffstats(b.plane[c]);
    const double psnr = 20.0 * std::log10(255.0 / d.rmse);
    text += Format("%s%s Channel:\n\nPSNR = %f,  RMSE = %f,  AAE = %f,  MAE = %f",
                   c == 0 ? "" : "\n\n\n", kNames[c], psnr, d.rmse, d.aae, d.mae);
  }
  text +=
      "\n\n\nLegend:\n\t\tPSNR - Peak Signal to Noise Ratio\n\t\tRMSE - Root Mean Squared "
      "Error\n\t\tAAE - Average Absolute Error\n\t\tMAE - Maximum Absolute Error";
  MessageStyle style;
  style.notice = true;
  GetUi().MessageBox(text, "Statistics", style);
}
