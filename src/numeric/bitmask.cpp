#include "numeric/bitmask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"

#include "platform/errors.h"
#include "platform/platform.h"

namespace {
int32_t WordCount(int64_t count) { return static_cast<int32_t>((count + 31) / 32); }

uint32_t* NewWords(int32_t count) {
  if (count == 0) return nullptr;
  if (!MemoryAllows(static_cast<uint64_t>(count) * 4)) throw OutOfMemory();
  uint32_t* words = new uint32_t[static_cast<size_t>(count)];
  std::memset(words, 0, sizeof(uint32_t) * static_cast<size_t>(count));
  return words;
}
}  // namespace

bitmask::bitmask(int w, int h) { dim(w, h); }

bitmask::bitmask(const bitmask& other)
    : width(other.width), height(other.height), n(other.n), words(other.words) {
  bits = NewWords(words);
  if (words) std::memcpy(bits, other.bits, sizeof(uint32_t) * static_cast<size_t>(words));
}

bitmask::bitmask(bitmask&& other) noexcept
    : width(other.width), height(other.height), n(other.n), words(other.words), bits(other.bits) {
  other.width = other.height = other.n = other.words = 0;
  other.bits = nullptr;
}

bitmask::~bitmask() { delete[] bits; }

bitmask& bitmask::operator=(bitmask&& other) noexcept {
  if (this != &other) {
    delete[] bits;
    width = std::exchange(other.width, 0);
    height = std::exchange(other.height, 0);
    n = std::exchange(other.n, 0);
    words = std::exchange(other.words, 0);
    bits = std::exchange(other.bits, nullptr);
  }
  return *this;
}

bitmask& bitmask::dim(int w, int h) {
  const int64_t count = static_cast<int64_t>(w) * h;
  if (w < 0 || h < 0 || count > INT32_MAX) throw OutOfMemory();
  if (count == n && (words != 0 || count == 0)) {
    width = w;
    height = h;
    return *this;
  }
  uint32_t* fresh = NewWords(WordCount(count));
  delete[] bits;
  bits = fresh;
  width = w;
  height = h;
  n = static_cast<int32_t>(count);
  words = WordCount(count);
  return *this;
}

bitmask& bitmask::assign(const bitmask& other) {
  if (this == &other) return *this;
  dim(other.width, other.height);
  if (words) std::memcpy(bits, other.bits, sizeof(uint32_t) * static_cast<size_t>(words));
  return *this;
}

bitmask& bitmask::free() {
  delete[] bits;
  bits = nullptr;
  width = height = n = words = 0;
  return *this;
}

void bitmask::cleartail() {
  if (words == 0 || (n & 31) == 0) return;
  bits[words - 1] &= (1u << (n & 31)) - 1u;
}

namespace {
// The boundary rule of bitmask and bytemask: of the inner pixels (one pixel from every
// edge) those set in a copy and touching a clear pixel in it stay set; all others clear.
template <class Mask, class Clear>
void KeepBoundary(Mask& mask, Clear clear) {
  const Mask copy(mask);
  clear();
  for (int y = 1; y <= mask.height - 2; ++y) {
    for (int x = 1; x <= mask.width - 2; ++x) {
      if (!copy.get(x, y)) continue;
      bool touches = false;
      for (int j = -1; j <= 1 && !touches; ++j) {
        for (int i = -1; i <= 1; ++i) touches = touches || !copy.get(x + i, y + j);
      }
      if (touches) mask.set(x, y, true);
    }
  }
}

// Moves every bit `d` places along lines of `length` bits, circularly; at(line, k) gives
// the linear index of bit k of a line.
template <class At>
void ShiftLines(bitmask& mask, int d, int length, int lines, At at) {
  if (d == 0 || d >= length || -d >= length) return;
  const bitmask copy(mask);
  for (int line = 0; line < lines; ++line) {
    for (int k = 0; k < length; ++k) {
      const int from = ((k - d) % length + length) % length;
      mask.setbit(at(line, k), copy.getbit(at(line, from)));
    }
  }
}
}  // namespace

bitmask& bitmask::andwith(const bitmask& other) {
  for (int32_t w = 0; w < words && w < other.words; ++w) bits[w] &= other.bits[w];
  return *this;
}

bitmask& bitmask::orwith(const bitmask& other) {
  for (int32_t w = 0; w < words && w < other.words; ++w) bits[w] |= other.bits[w];
  cleartail();
  return *this;
}

bitmask& bitmask::xorwith(const bitmask& other) {
  for (int32_t w = 0; w < words && w < other.words; ++w) bits[w] ^= other.bits[w];
  cleartail();
  return *this;
}

bitmask& bitmask::invert() {
  for (int32_t w = 0; w < words; ++w) bits[w] = ~bits[w];
  cleartail();
  return *this;
}

bitmask& bitmask::grow() {
  const bitmask copy(*this);
  for (int y = 1; y <= height - 2; ++y) {
    for (int x = 1; x <= width - 2; ++x) {
      if (!copy.get(x, y)) continue;
      for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) set(x + i, y + j, true);
      }
    }
  }
  return *this;
}

bitmask& bitmask::boundary() {
  KeepBoundary(*this, [this] { std::memset(bits, 0, sizeof(uint32_t) * size_t(words)); });
  return *this;
}

bitmask& bitmask::fliph() {
  for (int y = 0; y < height; ++y) {
    for (int x = 0, e = width - 1; x < e; ++x, --e) {
      const bool a = get(x, y);
      set(x, y, get(e, y));
      set(e, y, a);
    }
  }
  return *this;
}

bitmask& bitmask::flipv() {
  for (int y = 0, e = height - 1; y < e; ++y, --e) {
    for (int x = 0; x < width; ++x) {
      const bool a = get(x, y);
      set(x, y, get(x, e));
      set(x, e, a);
    }
  }
  return *this;
}

bitmask& bitmask::shift(int dx, int dy) {
  if (words == 0 || n == 0) return *this;
  const int w = width;
  ShiftLines(*this, dx, width, height, [w](int row, int k) { return k + row * w; });
  ShiftLines(*this, dy, height, width, [w](int col, int k) { return col + k * w; });
  return *this;
}

bitmask& bitmask::line(int x0, int y0, int x1, int y1, bool on) {
  if (x0 == x1 && y0 == y1) return *this;
  const auto put = [&](int64_t px, int64_t py) {
    if (px >= 0 && px < width && py >= 0 && py < height) set(int(px), int(py), on);
  };
  const int64_t ddx = int64_t(x1) - x0, ddy = int64_t(y1) - y0;
  if (std::llabs(ddy) <= std::llabs(ddx)) {
    const float s = float(ddy) / float(ddx);
    const float h = float(double(int64_t(y0) * x1 - int64_t(x0) * y1) / double(ddx)) + 0.5f;
    for (int64_t px = std::min(x0, x1); px <= std::max(x0, x1); ++px) {
      put(px, int64_t(h + s * float(px)));
    }
  } else {
    const float s = float(ddx) / float(ddy);
    const float h = float(double(int64_t(x0) * y1 - int64_t(y0) * x1) / double(ddy)) + 0.5f;
    for (int64_t py = std::min(y0, y1); py <= std::max(y0, y1); ++py) {
      put(int64_t(h + s * float(py)), py);
    }
  }
  return *this;
}

void bitmask::bounds(int& count, int& bx, int& by, int& bw, int& bh) const {
  count = 0;
  int x0 = width, y0 = height, x1 = -1, y1 = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!get(x, y)) continue;
      ++count;
      x0 = std::min(x0, x);
      x1 = std::max(x1, x);
      y0 = std::min(y0, y);
      y1 = std::max(y1, y);
    }
  }
  if (count == 0) {
    bx = by = bw = bh = 0;
    return;
  }
  bx = x0;
  by = y0;
  bw = x1 - x0 + 1;
  bh = y1 - y0 + 1;
}

void bitmask::indices(cvector<int>& v) const {
  if (n == 0 || words == 0) return;
  int count = 0;
  for (int k = 0; k < n; ++k) count += getbit(k);
  v.dim(count);
  int i = 0;
  for (int k = 0; k < n; ++k) {
    if (getbit(k)) v.x[i++] = k;
  }
}

void bitmask::toplane(matrix& plane) const {
  plane.dim(width, height);
  for (int k = 0; k < plane.n; ++k) plane.x[k] = getbit(k) ? 1.0f : 0.0f;
}

void bitmask::fromplane(const matrix& plane, float threshold) {
  dim(plane.nx, plane.ny);
  if (words) std::memset(bits, 0, sizeof(uint32_t) * size_t(words));
  for (int k = 0; k < plane.n && k < n; ++k) {
    if (plane.x[k] > threshold) setbit(k, true);
  }
}

bitmask& bitmask::positive(const matrix& plane) {
  fromplane(plane, 0.0f);
  return *this;
}

bitmask& bitmask::resample(double sx, double sy, double dx, double dy) {
  if (words == 0) return *this;
  matrix plane, kx, ky, out;
  toplane(plane);
  BuildLanczosKernelForScale(kx, 3, width, sx, float(dx), true);
  BuildLanczosKernelForScale(ky, 3, height, sy, float(dy), true);
  ResampleSeparable(out, plane, kx, ky);
  fromplane(out, 0.5f);
  return *this;
}

bitmask& bitmask::smooth(int iterations) {
  if (words == 0) return *this;
  matrix plane;
  toplane(plane);
  bitmask grown(*this);
  grown.grow();
  plane.isophotesmooth(iterations, 0.2f, 0, 0, -1, &grown);
  fromplane(plane, 0.5f);
  return *this;
}

bytemask::bytemask(const bytemask& other)
    : width(other.width), height(other.height), n(other.n), bytes(other.bytes) {
  data = bytes ? new uint8_t[size_t(bytes)] : nullptr;
  if (bytes) std::memcpy(data, other.data, size_t(bytes));
}

bytemask& bytemask::operator=(const bytemask& other) {
  if (this == &other) return *this;
  if (!other.data) return free();
  dim(other.width, other.height);
  if (bytes) std::memcpy(data, other.data, size_t(bytes));
  return *this;
}

bytemask& bytemask::free() {
  delete[] data;
  data = nullptr;
  width = height = n = bytes = 0;
  return *this;
}

bytemask::~bytemask() { delete[] data; }

bytemask& bytemask::dim(int w, int h) {
  const int64_t count = int64_t(w) * h;
  if (w < 0 || h < 0 || count > INT32_MAX - 8) throw OutOfMemory();
  if (count == n && data) {
    width = w;
    height = h;
    return *this;
  }
  const int32_t size = int32_t(count / 8 + 1);
  if (!MemoryAllows(uint64_t(size))) throw OutOfMemory();
  uint8_t* fresh = new uint8_t[size_t(size)]();
  delete[] data;
  data = fresh;
  width = w;
  height = h;
  n = int32_t(count);
  bytes = size;
  return *this;
}

bytemask& bytemask::invert() {
  for (int32_t b = 0; b < bytes; ++b) data[b] = uint8_t(~data[b]);
  return *this;
}

bytemask& bytemask::outline() {
  KeepBoundary(*this, [this] { std::memset(data, 0, size_t(bytes)); });
  return *this;
}

bytemask& bytemask::circle(int r, int ox, int oy) {
  const int s = 2 * r + 5;
  dim((s + 15) / 16 * 16, s);
  std::memset(data, 0, size_t(bytes));
  const float cx = float(r + ox), cy = float(r + oy);
  for (int j = 0; j < s; ++j) {
    for (int k = 0; k < s; ++k) {
      const float d = std::sqrt((cx - k) * (cx - k) + (cy - j) * (cy - j));
      if (d <= float(r) + 0.5f) set(k, j, true);
    }
  }
  outline();
  // The centre may lie outside when the offsets are large; it is then not drawn.
  const int64_t mx = int64_t(r) + ox, my = int64_t(r) + oy;
  if (mx >= 0 && mx < width && my >= 0 && my < height) set(int(mx), int(my), true);
  return *this;
}

cmatrix& cmatrix::dim(int w, int h) {
  if (w == width && h == height && (data || n == 0)) return *this;
  const int64_t count = int64_t(w) * h;
  if (w < 0 || h < 0 || count > INT32_MAX) throw OutOfMemory();
  release();
  if (count != 0) {
    if (!MemoryAllows(uint64_t(count))) throw OutOfMemory();
    data = new uint8_t[size_t(count)];
    rows = new uint8_t*[size_t(h)];
    for (int j = 0; j < h; ++j) rows[j] = data + size_t(j) * size_t(w);
  }
  width = w;
  height = h;
  n = int32_t(count);
  return *this;
}

cmatrix& cmatrix::zero() {
  if (n) std::memset(data, 0, size_t(n));
  return *this;
}

int cmatrix::disk() {
  zero();
  const float c = float((width - 1) / 2);
  int ones = 0;
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      if (std::sqrt((c - j) * (c - j) + (c - i) * (c - i)) <= c + 0.5f) {
        rows[i][j] = 1;
        ++ones;
      }
    }
  }
  return ones;
}

void cmatrix::release() {
  delete[] data;
  delete[] rows;
  data = nullptr;
  rows = nullptr;
  width = height = n = 0;
}
