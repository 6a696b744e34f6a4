// The pixel-by-pixel combinations of two layers, pasting a tile and matching canvases.
#include <algorithm>
#include <cstring>
#include <utility>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "platform/parallel.h"

namespace {
// v = f(v, w) over the scope's channels and pixels; sizes and channel counts are checked
// here too, since programs and drags reach these without the menus' checks.
template <class F>
void Combine(fpbuffer& image, const fpbuffer& other, bitmask* selection, bool cond, F f) {
  if (image.n == 0 || other.width != image.width || other.height != image.height ||
      other.channels != image.channels) {
    return;
  }
  const OperationScope scope(image, selection, cond);
  const bitmask* mask = scope.mask();
  for (int c = 0; c < image.channels; ++c) {
    if (!scope.processes(c)) continue;
    float* v = image.plane[c].x;
    const float* w = other.plane[c].x;
    ParallelBlocks(image.n, BlockFor(1), [&](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) {
        if (!mask || mask->getbit(int(k))) v[k] = f(v[k], w[k]);
      }
    });
  }
}
}  // namespace

fpbuffer& fpbuffer::copyfrom(const fpbuffer& other, bitmask* selection, bool cond) {
  Combine(*this, other, selection, cond, [](float, float w) { return w; });
  return *this;
}

fpbuffer& fpbuffer::addscaledlayer(float c, const fpbuffer& other, bitmask* selection, bool cond) {
  const double a = c;
  Combine(*this, other, selection, cond,
          [a](float v, float w) { return static_cast<float>(double(v) + a * double(w)); });
  return *this;
}

fpbuffer& fpbuffer::blendlayer(float t, const fpbuffer& other, bitmask* selection, bool cond) {
  const double keep = static_cast<float>(1.0f - t), take = t;
  Combine(*this, other, selection, cond, [keep, take](float v, float w) {
    return static_cast<float>(take * double(w) + keep * double(v));
  });
  return *this;
}

fpbuffer& fpbuffer::minlayer(const fpbuffer& other, bitmask* selection, bool cond) {
  Combine(*this, other, selection, cond, [](float v, float w) { return std::min(v, w); });
  return *this;
}

fpbuffer& fpbuffer::maxlayer(const fpbuffer& other, bitmask* selection, bool cond) {
  Combine(*this, other, selection, cond, [](float v, float w) { return std::max(v, w); });
  return *this;
}

fpbuffer& fpbuffer::gradientlensblur(const fpbuffer& other, bitmask* selection, bool cond) {
  if (n == 0 || other.width != width || other.height != height || other.channels != channels) {
    return *this;
  }
  const OperationScope scope(*this, selection, cond);
  for (int c = 0; c < channels; ++c) {
    if (scope.processes(c)) plane[c].gradientlensblur(other.plane[c], scope.mask());
  }
  return *this;
}

fpbuffer& fpbuffer::paste(int x0, int y0, const fpbuffer& source) {
  if (x0 < 0 || x0 >= width || y0 < 0 || y0 >= height || source.n == 0) return *this;
  const int c = std::min(source.width, width - x0), r = std::min(source.height, height - y0);
  // Row 0 is the bottom: source row j goes to row height - y0 - r + j.
  for (int k = 0; k < std::min(channels, source.channels); ++k) {
    for (int j = 0; j < r; ++j) {
      std::memcpy(plane[k].z[height - y0 - r + j] + x0, source.plane[k].z[j],
                  sizeof(float) * size_t(c));
    }
  }
  return *this;
}

namespace {
// out = the image brought to w x h in the colour space code, its pixels kept and the new
// ones of colour fill; the mask follows when there is one.
void Widen(fpbuffer& out, const fpbuffer& image, int w, int h, CSpaceCode code,
           const float (&fill)[4]) {
  out.setcode(code);
  for (int c = 0; c < out.channels; ++c) {
    out.plane[c].dim(w, h);
    out.plane[c].fill(fill[c]);
    if (c >= image.channels || image.n == 0) continue;
    for (int y = 0; y < image.height; ++y) {
      std::memcpy(out.plane[c].z[y], image.plane[c].z[y], sizeof(float) * size_t(image.width));
    }
  }
  if (image.n && image.mask.present()) {
    out.mask.dim(w, h);
    std::memset(out.mask.bits, 0, sizeof(uint32_t) * size_t(out.mask.words));
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) out.mask.set(x, y, image.mask.get(x, y));
  }
  out.syncviews();
}
}  // namespace

void fpbuffer::matchcanvas(fpbuffer& a, fpbuffer& b, float r, float g, float blue) {
  if (a.n == 0 && b.n == 0) return;
  // The colour is taken into the first image's space; an empty image takes the other's
  // space, having no pixels of its own to keep.
  const fpbuffer& model = a.n ? a : b;
  const fpixel4 c = model.colourfromrgb(r, g, blue);
  const float fill[4] = {c.x, c.y, c.z, c.w};
  const int w = std::max(a.n ? a.width : 0, b.n ? b.width : 0);
  const int h = std::max(a.n ? a.height : 0, b.n ? b.height : 0);
  const auto differs = [w, h](const fpbuffer& f) {
    return f.n == 0 || f.width != w || f.height != h;
  };
  const bool widenA = differs(a), widenB = differs(b);
  fpbuffer na, nb;
  if (widenA) Widen(na, a, w, h, a.n ? a.code : model.code, fill);
  if (widenB) Widen(nb, b, w, h, b.n ? b.code : model.code, fill);
  if (widenA) a.swapwith(na);
  if (widenB) b.swapwith(nb);
}
