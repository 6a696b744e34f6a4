// The point and colour operations of the float image: every processed channel of the
// operation scope goes through one plane operation of its own.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/dmatrix.h"
#include "numeric/matrix.h"
#include "numeric/planecopy.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
float Component(const fpixel4& p, int i) {
  const float c[4] = {p.x, p.y, p.z, p.w};
  return c[i & 3];
}

// f(channel, plane, pixel mask or null) for every channel the scope processes.
template <class F>
void EachChannel(fpbuffer& image, bitmask* selection, bool cond, ScopeRule rule, F f) {
  if (image.n == 0) return;
  const OperationScope scope(image, selection, cond, rule);
  for (int i = 0; i < scope.channels(); ++i) {
    if (scope.processes(i)) f(i, image.plane[i], scope.mask());
  }
}

// Channel i's nominal range.
void Range(const fpbuffer& image, int i, float& lo, float& hi) {
  fpixel4 l, h;
  image.ranges(l, h);
  lo = Component(l, i);
  hi = Component(h, i);
}

constexpr ScopeRule kChannelsOnly{ScopeChannels::ByCond, false};
}  // namespace

fpbuffer& fpbuffer::addconstant(float x, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {}, [&](int i, matrix& p, const bitmask* m) {
    float lo, hi;
    Range(*this, i, lo, hi);
    p.affine(1.0f, x * (hi - lo), m);
  });
  return *this;
}

fpbuffer& fpbuffer::multiply(float m, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {},
              [&](int, matrix& p, const bitmask* mask) { p.affine(m, 0.0f, mask); });
  return *this;
}

namespace {
// The power on every processed channel, a tick before each; when guarded, with the copies
// gammaguarded keeps.
void GammaChannels(fpbuffer& image, double p, bitmask* selection, bool cond, bool guarded) {
  int processed = 0;
  EachChannel(image, selection, cond, {}, [&](int, matrix&, const bitmask*) { ++processed; });
  StartProgress(float(processed));
  std::vector<std::pair<int, matrix>> before;
  try {
    EachChannel(image, selection, cond, {}, [&](int i, matrix& plane, const bitmask* m) {
      StepProgressOrThrow();
      if (guarded && int(before.size()) + 1 < processed) {
        CopyPlaneParallel(plane, before.emplace_back(i, matrix()).second);
      }
      float lo, hi;
      Range(image, i, lo, hi);
      plane.gamma(p, lo, hi, m);
    });
  } catch (...) {
    // A copy that could not be made belongs to a channel not yet changed.
    for (auto& [i, copy] : before) {
      if (copy.n == image.plane[i].n) CopyPlaneParallel(copy, image.plane[i]);
    }
    throw;
  }
}
}  // namespace

fpbuffer& fpbuffer::gamma(double p, bitmask* selection, bool cond) {
  GammaChannels(*this, p, selection, cond, false);
  return *this;
}

fpbuffer& fpbuffer::gammaguarded(double p, bitmask* selection, bool cond) {
  GammaChannels(*this, p, selection, cond, true);
  return *this;
}

fpbuffer& fpbuffer::changeminimum(float x, bitmask* selection, bool cond) {
  const bool cmy = (code & (cspace::kCMY | cspace::kLogCMY)) != 0;
  EachChannel(*this, selection, cond, {}, [&](int i, matrix& p, const bitmask* m) {
    float lo, hi;
    Range(*this, i, lo, hi);
    const float f = x * (hi - lo);
    float g;
    if (cmy) {
      g = f > 0 ? (hi + f) / hi : hi / (hi - f);
    } else {
      g = f > 0 ? hi / (hi + f) : (hi - f) / hi;
    }
    if (!std::isfinite(g)) return;
    if (cmy) {
      p.affine(g, 0.0f, m);
    } else {
      p.affine(g, (1.0f - g) * hi, m);
    }
  });
  return *this;
}

fpbuffer& fpbuffer::fill(float value, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {},
              [&](int, matrix& p, const bitmask* m) { p.fill(value, m); });
  return *this;
}

fpbuffer& fpbuffer::negative(bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {}, [&](int i, matrix& p, const bitmask* m) {
    float lo, hi;
    Range(*this, i, lo, hi);
    p.reflect(hi, m);
  });
  return *this;
}

fpbuffer& fpbuffer::gradient(const Colour& c0, int x0, int y0, const Colour& c1, int x1, int y1,
                             bitmask* selection, bool cond) {
  if (x0 == x1 && y0 == y1) return *this;
  EachChannel(*this, selection, cond, {}, [&](int i, matrix& p, const bitmask* m) {
    p.gradient(c0[size_t(i)], x0, y0, c1[size_t(i)], x1, y1, m);
  });
  return *this;
}

fpbuffer& fpbuffer::clipnegative(bool cond) {
  EachChannel(*this, nullptr, cond, kChannelsOnly,
              [](int, matrix& p, const bitmask*) { p.clipnegative(); });
  return *this;
}

fpbuffer& fpbuffer::equalize(bool cond) {
  int processed = 0;
  EachChannel(*this, nullptr, cond, kChannelsOnly,
              [&](int, matrix&, const bitmask*) { ++processed; });
  StartProgress(float(processed));
  EachChannel(*this, nullptr, cond, kChannelsOnly, [&](int i, matrix& p, const bitmask*) {
    StepProgressOrThrow();
    float lo, hi;
    Range(*this, i, lo, hi);
    p.equalize(lo, hi);
  });
  return *this;
}

fpbuffer::Colour fpbuffer::meancolor(bitmask* selection, bool cond) {
  Colour c{};
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { c[size_t(i)] = p.maskedmean(m); });
  return c;
}

fpbuffer::Colour fpbuffer::mediancolor(bitmask* selection, bool cond) {
  Colour c{};
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { c[size_t(i)] = p.maskedmedian(m); });
  return c;
}

fpbuffer::Colour fpbuffer::wmmrcolor(bitmask* selection, bool cond) {
  Colour c{};
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { c[size_t(i)] = p.maskedwmmr(m); });
  return c;
}

fpbuffer& fpbuffer::scaleshift(int radius) {
  if (n == 0) return *this;
  const CSpaceCode remembered = code;
  convert(cspace::kRGB);
  const bitmask* only =
      mask.present() && mask.width == width && mask.height == height ? &mask : nullptr;
  // The extremes over every channel, from a copy smoothed once, whole, when asked.
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  auto extremes = [&](const fpbuffer& image) {
    for (int c = 0; c < image.channels; ++c) {
      float l, h;
      image.plane[c].finiteminmax(l, h, only);
      lo = std::min(lo, l);
      hi = std::max(hi, h);
    }
  };
  if (radius != 0) {
    fpbuffer smoothed(*this);
    smoothed.median(1, float(radius), false, nullptr, false, false);
    extremes(smoothed);
  } else {
    extremes(*this);
  }
  // Without two different finite values, or with a span a float cannot scale, there is
  // nothing to stretch (255/0 would fill the image with NaN).
  const float scale = lo < hi ? 255.0f / (hi - lo) : 0.0f;
  if (std::isfinite(scale) && scale > 0) {
    for (int c = 0; c < channels; ++c) plane[c].affine(1.0f, -lo, only).affine(scale, 0.0f, only);
  }
  return convert(remembered);
}

fpbuffer& fpbuffer::fillcolor(const Colour& c, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { p.fill(c[size_t(i)], m); });
  return *this;
}

fpbuffer& fpbuffer::addcolor(float x, const Colour& c, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { p.affine(1.0f, x * c[size_t(i)], m); });
  return *this;
}

fpbuffer& fpbuffer::blendcolor(float g, const Colour& c, bitmask* selection, bool cond) {
  EachChannel(*this, selection, cond, {},
              [&](int i, matrix& p, const bitmask* m) { p.affine(1.0f - g, g * c[size_t(i)], m); });
  return *this;
}

namespace {
// The shape both curve applications share. With hdr and no selection: the image in RGB
// scaled to [0, 255], its luminance through the curve and the colour ratios raised to
// s; with hdr and a selection nothing. Without hdr every processed channel goes through
// the curve over its range. Curve(plane, lo, hi, mask) applies the curve.
template <class Curve>
void ThroughCurve(fpbuffer& image, bitmask* selection, bool cond, bool hdr, double s, Curve curve) {
  if (image.n == 0) return;
  if (!hdr) {
    EachChannel(image, selection, cond, {}, [&](int i, matrix& p, const bitmask* m) {
      float lo, hi;
      Range(image, i, lo, hi);
      curve(p, lo, hi, m);
    });
    return;
  }
  if (selection != nullptr && selection->present()) return;
  const CSpaceCode code = image.code;
  image.convert(0x10);
  image.scaleshift(0);
  if (image.channels >= 3) {
    matrix l;
    l.SplitLuminance(image.plane[0], image.plane[1], image.plane[2], 0.0001f);
    curve(l, 0.0f, 255.0f, nullptr);
    l.MergeLuminance(image.plane[0], image.plane[1], image.plane[2], s);
  }
  image.convert(code);
}
}  // namespace

fpbuffer& fpbuffer::applycurve(const dmatrix& table, bitmask* selection, bool cond, bool hdr,
                               double s) {
  ThroughCurve(
      *this, selection, cond, hdr, s,
      [&](matrix& p, float lo, float hi, const bitmask* m) { p.applycurve(table, lo, hi, m); });
  return *this;
}

fpbuffer& fpbuffer::applytonecurve(ToneCurveFn f, double c, bitmask* selection, bool cond, bool hdr,
                                   double s) {
  if (f == nullptr) return *this;
  ThroughCurve(
      *this, selection, cond, hdr, s,
      [&](matrix& p, float lo, float hi, const bitmask* m) { p.applytonecurve(f, c, lo, hi, m); });
  return *this;
}
