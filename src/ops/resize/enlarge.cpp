// The enlargement command flow: pages, the factor and the final adjustment, the float path
// and the strip path, each leaving the layer as it was when cancelled or failing.
#include "ops/resize/enlarge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "app/imageview.h"
#include "image/rgbbuffer.h"
#include "numeric/kernelfile.h"
#include "ops/resize/resize.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/progress.h"

EnlargePlan PlanEnlargement(FactorRule factor, OffsetRule offsets, int setting, int w, int h,
                            int tw, int th, double sx, double sy, double dx, double dy) {
  EnlargePlan plan;
  plan.automatic = setting == 0 || factor == FactorRule::Pyramid;
  if (!plan.automatic) {
    if (factor == FactorRule::Doubling) {
      plan.passes = setting;
      plan.factor = 1 << std::clamp(setting, 0, 30);
    } else {
      plan.factor = setting;
    }
    return plan;
  }
  switch (factor) {
    case FactorRule::Doubling: {
      // Both dimensions double together until both reach the target.
      int64_t fw = w, fh = h;
      while ((fw < tw || fh < th) && plan.passes < 30) {
        fw *= 2;
        fh *= 2;
        ++plan.passes;
      }
      plan.factor = 1 << plan.passes;
      plan.rx = double(tw) / double(fw);
      plan.ry = double(th) / double(fh);
      break;
    }
    case FactorRule::OddInteger: {
      const double s = std::min(sx, sy);
      int m = 1;
      if (sx > 1 && sy > 1) {
        m = int(std::min(std::ceil(s), 1e9));
        if (m % 2 == 0) ++m;
      }
      plan.factor = m;
      break;
    }
    case FactorRule::Integer:
      plan.factor = sx <= 2 || sy <= 2 ? 2 : int(std::min(std::ceil(std::min(sx, sy)), 1e9));
      break;
    case FactorRule::Pyramid:
      plan.factor = std::max(1, int(std::min(std::ceil(std::max(sx, sy)), 1e9)));
      break;
  }
  if (factor != FactorRule::Doubling) {
    plan.rx = sx / plan.factor;
    plan.ry = sy / plan.factor;
  }
  // A doubling anchors the new grid at the first sample: half an output pixel of the
  // adjustment puts it back on the centred grid. Without one there is nothing to undo.
  const bool doubled = factor == FactorRule::Doubling && plan.passes > 0;
  switch (offsets) {
    case OffsetRule::Given:
      plan.ox = dx;
      plan.oy = dy;
      break;
    case OffsetRule::HalfShift:
      plan.ox = doubled ? dx - plan.rx / 2 : dx;
      plan.oy = doubled ? dy - plan.ry / 2 : dy;
      break;
    case OffsetRule::HalfOnly:
      plan.ox = doubled ? -plan.rx / 2 : 0;
      plan.oy = doubled ? -plan.ry / 2 : 0;
      break;
  }
  plan.adjust = plan.rx != 1 || plan.ry != 1 || plan.ox != 0 || plan.oy != 0;
  return plan;
}

const EnlargeCommand* FindEnlargeCommand(int id) {
  for (const EnlargeCommand& c : EnlargeCommands()) {
    if (int(c.id) == id) return &c;
  }
  return nullptr;
}

int JensenMargin(int L) {
  if (L < 2) return 0;
  return L % 2 ? 3 * (L - 1) / 2 : 3 * (L / 2);
}

namespace {
// The tile page (page 20 with the focus on "Tile Height"), only for a layer without float
// image; true when it may go on.
bool TilePage(CImageView& v) {
  return v.HasFloat() || Dialog2(LiveSettings()).RunPage(20, 6, 0) == DialogResult::Ok;
}

// A pass setting outside what the commands can do (only a settings or program file holds
// one) is refused before anything changes.
bool SettingAcceptable(const EnlargeCommand& c, int setting) {
  if (c.factor == FactorRule::Doubling && (setting < 0 || setting > 30)) {
    ShowMessage(kDoublingsMessage);
    return false;
  }
  if (setting < 0) {
    ShowMessage(kFactorMessage);
    return false;
  }
  // The modified B-spline splits cells by an odd factor only.
  if (c.factor == FactorRule::OddInteger && setting > 1 && setting % 2 == 0) {
    ShowMessage(kOddFactorMessage);
    return false;
  }
  return true;
}

// The intermediate (W F) x (H F) and the target, each within int32 and, with everything
// the path holds at once, within the memory available.
bool SizesAcceptable(CImageView& v, const EnlargePlan& plan, bool floatPath) {
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  const int64_t fw = int64_t(w) * plan.factor, fh = int64_t(h) * plan.factor;
  const int64_t tw =
      plan.adjust ? ResizedLength(int(std::min<int64_t>(fw, INT32_MAX)), plan.rx) : fw;
  const int64_t th =
      plan.adjust ? ResizedLength(int(std::min<int64_t>(fh, INT32_MAX)), plan.ry) : fh;
  const bool fits = fw <= INT32_MAX && fh <= INT32_MAX && uint64_t(fw) * uint64_t(fh) <= INT32_MAX;
  const uint64_t mid = fits ? uint64_t(fw) * uint64_t(fh) : 0, out = uint64_t(tw) * uint64_t(th);
  const uint64_t dibMid = DibBytes(fw, fh), dibOut = DibBytes(tw, th);
  uint64_t bytes = dibOut;
  if (floatPath) {
    const uint64_t channel = 4 * uint64_t(std::max(v.currentLayer().channels, 3));
    bytes += mid * channel + (plan.adjust ? out * channel : 0);
  } else if (plan.adjust) {
    bytes += dibMid;
  }
  return SizeAcceptable(fw, fh, bytes, true) && (!plan.adjust || SizeAcceptable(tw, th, 0, true));
}

// The colour space the strips work in: the row's own, else the one last chosen for the
// layer (RGB when it never had one).
CSpaceCode TileCode(CImageView& v, const EnlargeCommand& c) {
  if (c.strips.tileCode) return c.strips.tileCode;
  const CSpaceCode code = v.currentLayer().code;
  return code & ~cspace::kVisibleBits ? code : cspace::kDefault;
}

void FloatPath(CImageView& v, const EnlargeCommand& c, const EnlargeRun& run) {
  const EnlargePlan& plan = run.plan;
  const bool scratch = run.p.useScratchDisk != 0 || c.scratchAdjust;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        // The enlarged planes should be the only large buffers while the core runs.
        v.DestroyDisplayDib();
        StartProgress(float(c.ticks(image.width, image.height, run)));
        c.core(image, run);
        if (plan.adjust &&
            resizelanczos(image, 3, plan.rx, plan.ry, plan.ox, plan.oy, scratch, true, true)) {
          throw Cancelled{};
        }
      },
      c.monitor, false);
  EndOfCommand();
}

void StripPath(CImageView& v, const EnlargeCommand& c, const EnlargeRun& run) {
  const EnlargePlan& plan = run.plan;
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  const int fw = w * plan.factor, fh = h * plan.factor;
  const CSpaceCode code = TileCode(v, c);
  const int strip = run.p.tileHeight;
  RunBitmapResize(
      v,
      [&] {
        matrix kx, ky;
        const ResizeKernel lanczos3{ResizeKernel::Lanczos, 3};
        if (plan.adjust) {
          lanczos3.build(ky, fh, plan.ry, float(plan.oy), true);
          lanczos3.build(kx, fw, plan.rx, float(plan.ox), true);
        }
        const int outW = plan.adjust ? kx.ny : fw, outH = plan.adjust ? ky.ny : fh;
        // Strips and adjustment in one replacement: the old bitmap comes back whichever
        // of them is cancelled or fails.
        return ReplaceBitmap(v, outW, outH, [&](rgbbuffer& target, const rgbbuffer& source) {
          StartProgress(float(StripTicks(w, h, c, run, strip)));
          if (!plan.adjust) {
            RunStrips(target, source, c, run, code, strip);
            return false;
          }
          rgbbuffer enlarged(fw, fh);
          RunStrips(enlarged, source, c, run, code, strip);
          return target.resample(enlarged, kx, ky, true, true);
        });
      },
      c.monitor);
}
}  // namespace

void OnEnlarge(CImageView& v, int id) {
  const EnlargeCommand* found = FindEnlargeCommand(id);
  if (!found) return;
  const EnlargeCommand& c = *found;
  ResizeParams& p = LiveSettings().resize;
  const CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active && c.tileFirst && !TilePage(v)) return EndOfCommand();
  const bool go = v.PrepareOperation(id, [&] {
    if (!c.tileFirst && !TilePage(v)) return false;
    const bool automatic = !c.setting || c.setting(p) == 0;
    return !automatic || !AskTargetSize();
  });
  if (!go) return EndOfCommand();

  const int setting = c.setting ? c.setting(p) : 0;
  if (!SettingAcceptable(c, setting)) return EndOfCommand();
  const bool floatPath = v.HasFloat();
  if (setting == 0) ComputeTargetSize(v);
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  EnlargePlan plan;
  if (!(floatPath && c.exactOnFloat)) {
    if (setting == 0 && !(p.horizontalScaleFactor > 0 && p.verticalScaleFactor > 0)) {
      SizeAcceptable(0, 0, 0, false);
      return EndOfCommand();
    }
    const OffsetRule offsets = c.offsetsFor ? c.offsetsFor(p) : c.offsets;
    plan = PlanEnlargement(c.factor, offsets, setting, w, h, p.outputWidth, p.outputHeight,
                           p.horizontalScaleFactor, p.verticalScaleFactor, p.horizontalOffset,
                           p.verticalOffset);
  } else {
    plan.automatic = true;
  }
  if (!SizesAcceptable(v, plan, floatPath)) return EndOfCommand();
  if (floatPath && c.exactOnFloat) {
    // The float core reaches the target itself: check that instead.
    EnlargePlan target;
    target.factor = 1;
    target.adjust = true;
    target.rx = p.horizontalScaleFactor;
    target.ry = p.verticalScaleFactor;
    if (!(target.rx > 0 && target.ry > 0)) {
      SizeAcceptable(0, 0, 0, false);
      return EndOfCommand();
    }
    if (!SizesAcceptable(v, target, true)) return EndOfCommand();
  }

  // The run works on its own copy of the parameters: a damaged kernel file turns
  // presharpening off for the strips, after its one message.
  ResizeParams q = p;
  const bool centre = p.centerToHalfPixel != 0 || setting == 0;
  matrix table;
  EnlargeRun run{plan, q, centre, nullptr};
  if (!floatPath && c.presharpens &&
      PresharpenApplies(q.presharpenAmount, std::max(plan.passes, 1))) {
    const std::string problem = ReadKernelTable(table);
    if (problem.empty()) {
      run.kernels = &table;
    } else {
      ShowMessage(problem);
      q.presharpenAmount = 0;
    }
  }
  run.tile = !floatPath;
  if (c.fits) {
    // On the whole image, or on the tallest tile the strips make.
    const int margin = std::max(c.strips.margin(q, plan), 0);
    const int rows =
        floatPath ? h : std::min<int64_t>(h, std::max(q.tileHeight, 1) + 2 * int64_t(margin));
    if (!c.fits(w, rows, run)) {
      SizeAcceptable(int64_t(w) * plan.factor, int64_t(h) * plan.factor, 0, false);
      return EndOfCommand();
    }
  }
  if (floatPath) return FloatPath(v, c, run);
  StripPath(v, c, run);
}
