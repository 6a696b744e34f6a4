#include "image/fpbuffer.h"

#include <algorithm>
#include <cstring>

#include <utility>
#include <vector>
#include "numeric/resample.h"
#include "platform/parallel.h"
#include "platform/progress.h"

fpbuffer::fpbuffer() { setcode(cspace::kDefault); }

fpbuffer::fpbuffer(int w, int h, CSpaceCode c) {
  setcode(cspace::kDefault);
  dim(w, h, c);
}

fpbuffer::fpbuffer(const fpbuffer& src) {
  setcode(src.code);
  width = src.width;
  height = src.height;
  n = src.n;
  for (int i = 0; i < channels; ++i) plane[i] = src.plane[i];
  syncviews();
}

fpbuffer::~fpbuffer() {
  for (matrix& v : view) v.detach();
}

fpbuffer& fpbuffer::setcode(CSpaceCode c) {
  code = c;
  const ColourSpace* s = FindColourSpace(c);
  channels = s ? s->channels : 0;
  fromrgb = s ? s->fromrgb : nullptr;
  torgb = s ? s->torgb : nullptr;
  fromrgb4 = s ? s->fromrgb4 : nullptr;
  torgb4 = s ? s->torgb4 : nullptr;
  return *this;
}

fpbuffer& fpbuffer::syncviews() {
  width = plane[0].nx;
  height = plane[0].ny;
  n = plane[0].n;
  for (int i = 0; i < 4; ++i) {
    view[i].detach();
    // A view borrows only a plane that has storage of the image's size.
    if (plane[i].n > 0 && plane[i].nx == width && plane[i].ny == height) {
      view[i].attach(plane[i].x, width, height);
    }
  }
  return *this;
}

fpbuffer& fpbuffer::clear(bool keepCode) {
  width = height = n = 0;
  for (int i = 0; i < 4; ++i) {
    view[i].detach();
    plane[i].free();
  }
  mask.free();
  // A kept code keeps its callbacks, so a later dim in the same space rebuilds the image.
  if (!keepCode) setcode(cspace::kDefault);
  channels = 0;
  return *this;
}

fpbuffer& fpbuffer::dim(int w, int h, CSpaceCode c) {
  if (w == width && h == height && c == code && n == int64_t(w) * h && channels > 0) return *this;
  return dimunset(w, h, c).zero();
}

fpbuffer& fpbuffer::dimunset(int w, int h, CSpaceCode c) {
  if (w == width && h == height && c == code && n == int64_t(w) * h && channels > 0) return *this;
  clear(false);
  setcode(c);
  for (int i = 0; i < channels; ++i) plane[i].dim(w, h);
  if (channels == 0 || int64_t(w) * h == 0) {
    width = w;
    height = h;
    n = 0;
    return *this;
  }
  return syncviews();
}

fpbuffer& fpbuffer::copy(const fpbuffer& src) {
  if (&src == this) return *this;
  dimunset(src.width, src.height, src.code);
  for (int i = 0; i < channels; ++i) plane[i] = src.plane[i];
  syncviews();
  if (src.mask.present()) {
    mask.dim(width, height);
    mask = src.mask;
  }
  return *this;
}

void fpbuffer::swapwith(fpbuffer& other) noexcept {
  std::swap(width, other.width);
  std::swap(height, other.height);
  std::swap(n, other.n);
  std::swap(channels, other.channels);
  std::swap(code, other.code);
  std::swap(fromrgb, other.fromrgb);
  std::swap(torgb, other.torgb);
  std::swap(fromrgb4, other.fromrgb4);
  std::swap(torgb4, other.torgb4);
  std::swap(mask, other.mask);
  for (int i = 0; i < 4; ++i) {
    plane[i].swapwith(other.plane[i]);
    view[i].detach();
    other.view[i].detach();
  }
  // The views follow their planes; an image without data keeps its recorded size.
  for (fpbuffer* f : {this, &other}) {
    for (int i = 0; i < 4; ++i) {
      if (f->plane[i].n > 0 && f->plane[i].n == f->n)
        f->view[i].attach(f->plane[i].x, f->width, f->height);
    }
  }
}

fpbuffer& fpbuffer::zero() {
  for (int i = 0; i < channels; ++i) plane[i].zero();
  return *this;
}

namespace {
// Pixels of a block of the per-pixel loops: a conversion costs some tens of operations.
const int64_t kPixelBlock = BlockFor(32);

// f(k) for every pixel index k of an image of count pixels, in blocks over the threads.
template <class F>
void EachPixel(size_t count, F f) {
  ParallelBlocks(int64_t(count), kPixelBlock, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) f(size_t(k));
  });
}
}  // namespace

fpbuffer& fpbuffer::convert(CSpaceCode c) {
  const size_t count = n > 0 ? size_t(n) : 0;
  float* p0 = plane[0].x;
  float* p1 = plane[1].x;
  float* p2 = plane[2].x;
  // Into RGB.
  if (count > 0 && channels == 3 && torgb && !isidentity()) {
    const Convert3Fn f = torgb;
    EachPixel(count, [=](size_t k) {
      const fpixel q = f(fpixel(p0[k], p1[k], p2[k]));
      p0[k] = q.x;
      p1[k] = q.y;
      p2[k] = q.z;
    });
  } else if (count > 0 && channels == 4 && torgb4) {
    const float* p3 = plane[3].x;
    const FromFourFn f = torgb4;
    EachPixel(count, [=](size_t k) {
      const fpixel q = f(fpixel4(p0[k], p1[k], p2[k], p3[k]));
      p0[k] = q.x;
      p1[k] = q.y;
      p2[k] = q.z;
    });
  }
  const bool hadData = count > 0 && channels > 0;
  setcode(c);
  if (!hadData) return *this;
  if (channels == 4 && plane[3].n != n) {
    plane[3].dim(width, height);
    syncviews();
  }
  // Out of RGB.
  if (channels == 3 && fromrgb && !isidentity()) {
    const Convert3Fn f = fromrgb;
    EachPixel(count, [=](size_t k) {
      const fpixel q = f(fpixel(p0[k], p1[k], p2[k]));
      p0[k] = q.x;
      p1[k] = q.y;
      p2[k] = q.z;
    });
  } else if (channels == 4 && fromrgb4) {
    float* p3 = plane[3].x;
    const ToFourFn f = fromrgb4;
    EachPixel(count, [=](size_t k) {
      const fpixel4 q = f(fpixel(p0[k], p1[k], p2[k]));
      p0[k] = q.x;
      p1[k] = q.y;
      p2[k] = q.z;
      p3[k] = q.w;
    });
  }
  return *this;
}

fpbuffer& fpbuffer::fromdib(const uint8_t* topRow) {
  if (n == 0 || channels == 0) return *this;
  const int64_t stride = GetRowStride24(width);
  const uint8_t* bottom = topRow - (height - 1) * stride;
  float* p0 = plane[0].x;
  float* p1 = plane[1].x;
  float* p2 = plane[2].x;
  float* p3 = channels == 4 ? plane[3].x : nullptr;
  ParallelBlocks(height, BlockFor(32 * int64_t(width)), [&](int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) {
      const uint8_t* px = bottom + j * stride;
      size_t k = size_t(j) * size_t(width);
      for (int i = 0; i < width; ++i, ++k, px += 3) {
        const fpixel rgb(px[2], px[1], px[0]);
        if (channels == 4) {
          const fpixel4 q = fromrgb4(rgb);
          p0[k] = q.x;
          p1[k] = q.y;
          p2[k] = q.z;
          p3[k] = q.w;
        } else {
          const fpixel q = isidentity() ? rgb : fromrgb(rgb);
          p0[k] = q.x;
          p1[k] = q.y;
          p2[k] = q.z;
        }
      }
    }
  });
  return *this;
}

const fpbuffer& fpbuffer::todib(uint8_t* topRow, const bitmask* only) const {
  if (n == 0 || channels == 0) return *this;
  const int64_t stride = GetRowStride24(width);
  uint8_t* bottom = topRow - (height - 1) * stride;
  const bool masked = only && only->present() && only->n == n;
  const bool rgb = (code & cspace::kRGB) != 0;
  const int64_t cost = (rgb ? 2 : 32) * int64_t(width);
  ParallelBlocks(height, BlockFor(cost), [&](int64_t j0, int64_t j1) {
    std::vector<float> c0, c1, c2;
    const size_t w = static_cast<size_t>(width);
    std::vector<uint8_t> r(w), g(w), b(w);
    if (!rgb) {
      c0.resize(size_t(width));
      c1.resize(size_t(width));
      c2.resize(size_t(width));
    }
    for (int64_t j = j0; j < j1; ++j) {
      const size_t k0 = size_t(j) * size_t(width);
      const float* p0 = plane[0].x + k0;
      const float* p1 = plane[1].x + k0;
      const float* p2 = plane[2].x + k0;
      if (!rgb) {
        // Other spaces go through their inverse conversion into a row of RGB first.
        for (int i = 0; i < width; ++i) {
          const fpixel q = channels == 4
                               ? torgb4(fpixel4(p0[i], p1[i], p2[i], plane[3].x[k0 + size_t(i)]))
                               : torgb(fpixel(p0[i], p1[i], p2[i]));
          c0[size_t(i)] = q.x;
          c1[size_t(i)] = q.y;
          c2[size_t(i)] = q.z;
        }
        p0 = c0.data();
        p1 = c1.data();
        p2 = c2.data();
      }
      for (int i = 0; i < width; ++i)
        ByteRule(p0[i], p1[i], p2[i], r[size_t(i)], g[size_t(i)], b[size_t(i)]);
      uint8_t* px = bottom + j * stride;
      for (int i = 0; i < width; ++i, px += 3) {
        if (masked && !only->getbit(static_cast<int>(k0) + i)) continue;
        px[0] = b[size_t(i)];
        px[1] = g[size_t(i)];
        px[2] = r[size_t(i)];
      }
    }
  });
  return *this;
}

bool fpbuffer::resamplefrom(const fpbuffer& source, const matrix& kx, const matrix& ky,
                            bool countProgress, bool startProgress) {
  if (startProgress) StartProgress(float(kx.ny + ky.ny) * 3.0f);
  ProgressCountingScope counting(countProgress);
  for (int c = 0; c < channels && c < source.channels; ++c) {
    ResampleSeparable(plane[c], source.plane[c], kx, ky);
  }
  syncviews();
  return false;
}

bool fpbuffer::resample(const matrix& kx, const matrix& ky, bool countProgress,
                        bool startProgress) {
  if (startProgress) StartProgress(float(kx.ny + ky.ny) * 3.0f);
  ProgressCountingScope counting(countProgress);
  for (int c = 0; c < channels; ++c) {
    if (ResampleSeparableInPlace(plane[c], kx, ky)) return counting.cancel();
  }
  syncviews();
  return false;
}

bool fpbuffer::resampleinto(fpbuffer& out, const matrix& kx, const matrix& ky, bool countProgress,
                            bool startProgress) const {
  if (startProgress) StartProgress(float(kx.ny + ky.ny) * 3.0f);
  ProgressCountingScope counting(countProgress);
  out.clear(false);
  out.setcode(code);
  for (int c = 0; c < channels; ++c) {
    if (ResampleSeparableTicking(out.plane[c], plane[c], kx, ky)) return counting.cancel();
  }
  out.syncviews();
  return false;
}

fpbuffer& fpbuffer::scale(float c) {
  for (int i = 0; i < channels; ++i) plane[i].mulscalar(c);
  return *this;
}

fpbuffer& fpbuffer::add(const fpbuffer& other) {
  for (int i = 0; i < channels && i < other.channels; ++i) {
    if (plane[i].n == other.plane[i].n) plane[i].add(other.plane[i]);
  }
  return *this;
}

fpbuffer& fpbuffer::clearmask() {
  mask.dim(width, height);
  if (mask.words) std::memset(mask.bits, 0, sizeof(uint32_t) * size_t(mask.words));
  return *this;
}

void fpbuffer::ranges(fpixel4& lo, fpixel4& hi) const {
  const ColourSpace* s = FindColourSpace(code);
  lo = s ? s->lo : fpixel4();
  hi = s ? s->hi : fpixel4();
}

int fpbuffer::dominantchannel(int requested) const {
  if (requested != 0) return requested;
  const ColourSpace* s = FindColourSpace(code);
  return s ? s->dominant : 2;
}

fpbuffer& fpbuffer::crop(int x, int y, int w, int h) {
  if (n == 0) return *this;
  x = std::clamp(x, 0, width - 1);
  y = std::clamp(y, 0, height - 1);
  w = std::clamp(w, 1, width - x);
  h = std::clamp(h, 1, height - y);
  if (w == width && h == height) return *this;
  // Everything new is made before anything old is given up.
  matrix blocks[4];
  for (int c = 0; c < channels; ++c) {
    blocks[c].dim(w, h);
    for (int j = 0; j < h; ++j) {
      std::memcpy(blocks[c].z[j], plane[c].z[y + j] + x, sizeof(float) * size_t(w));
    }
  }
  bitmask cut;
  if (mask.present()) {
    cut.dim(w, h);
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) cut.set(i, j, mask.get(x + i, y + j));
    }
  }
  for (int c = 0; c < channels; ++c) plane[c] = std::move(blocks[c]);
  mask = std::move(cut);
  return syncviews();
}
