#include "image/rgbbuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "numeric/kernels.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "platform/regularfile.h"

namespace {
// A 24-bit block of w x h pixels, refused before allocating when it is absurd or does not
// fit the memory available.
uint8_t* NewBlock(int w, int h, int64_t& size) {
  if (w < 0 || h < 0) throw OutOfMemory();
  size = GetDibBytes24(w, h);
  if (size > INT32_MAX || !MemoryAllows(uint64_t(size))) throw OutOfMemory();
  if (size == 0) return nullptr;
  return new uint8_t[size_t(size)];
}
}  // namespace

DisplayBitmap::DisplayBitmap(int width, int height) {
  int64_t size = 0;
  bits_.reset(NewBlock(width, height, size));
  // Cleared on every core: the first touch of a fresh block of tens of megabytes is a
  // page fault every few kilobytes, which one thread would take one after another.
  uint8_t* bits = bits_.get();
  ParallelBlocks(size, int64_t{1} << 20, [bits, size](int64_t begin, int64_t end) {
    std::memset(bits + begin, 0, size_t(std::min(end, size) - begin));
  });
  width_ = bits_ ? width : 0;
  height_ = bits_ ? height : 0;
}

rgbbuffer::rgbbuffer(uint8_t* topRow, int w, int h) {
  width = w;
  height = h;
  n = w * h;
  if (n == 0) return;
  makerows(topRow - (h - 1) * stride());
}

rgbbuffer::rgbbuffer(int w, int h) { dim(w, h); }

rgbbuffer::~rgbbuffer() { delete[] bits; }

void rgbbuffer::makerows(uint8_t* bottom) {
  rows.resize(size_t(height));
  for (int j = 0; j < height; ++j) rows[size_t(j)] = bottom + j * stride();
}

rgbbuffer& rgbbuffer::dim(int w, int h) {
  free();
  int64_t size = 0;
  bits = NewBlock(w, h, size);
  bytes = static_cast<int32_t>(size);
  width = w;
  height = h;
  n = w * h;
  if (bits) makerows(bits);
  return *this;
}

rgbbuffer& rgbbuffer::free() {
  delete[] bits;
  bits = nullptr;
  rows.clear();
  width = height = n = bytes = 0;
  return *this;
}

rgbbuffer& rgbbuffer::copyfrom(const uint8_t* topRow) {
  if (n == 0) return *this;
  const uint8_t* bottom = topRow - (height - 1) * stride();
  std::memcpy(rows[0], bottom, size_t(stride() * height));
  return *this;
}

rgbbuffer& rgbbuffer::blend(const rgbbuffer& other, float f) {
  for (int j = 0; j < height && j < other.height; ++j) {
    for (int i = 0; i < width && i < other.width; ++i) at(i, j).blend(other.at(i, j), f);
  }
  return *this;
}

rgbbuffer& rgbbuffer::absdiff(const rgbbuffer& other) {
  for (int j = 0; j < height && j < other.height; ++j) {
    uint8_t* a = rows[size_t(j)];
    const uint8_t* b = other.rows[size_t(j)];
    const int count = 3 * std::min(width, other.width);
    for (int k = 0; k < count; ++k) a[k] = static_cast<uint8_t>(std::abs(int(a[k]) - int(b[k])));
  }
  return *this;
}

rgbbuffer& rgbbuffer::fill(uint32_t colour) {
  const bytepixel c{uint8_t(colour & 0xFF), uint8_t((colour >> 8) & 0xFF),
                    uint8_t((colour >> 16) & 0xFF)};
  for (int j = 0; j < height; ++j) {
    for (int i = 0; i < width; ++i) at(i, j) = c;
  }
  return *this;
}

rgbbuffer& rgbbuffer::line(int x0, int y0, int x1, int y1, uint32_t colour) {
  const int dx = x1 - x0, dy = y1 - y0;
  if (dx == 0 && dy == 0) return *this;
  const bytepixel c{uint8_t(colour & 0xFF), uint8_t((colour >> 8) & 0xFF),
                    uint8_t((colour >> 16) & 0xFF)};
  const auto put = [&](int i, int j) {
    if (i >= 0 && i < width && j >= 0 && j < height) at(i, j) = c;
  };
  // One point per step along the longer axis; the other coordinate is the exact line's
  // plus 0.5, truncated.
  if (std::abs(dx) >= std::abs(dy)) {
    const int step = dx > 0 ? 1 : -1;
    for (int i = x0;; i += step) {
      put(i, int(double(y0) + double(dy) * double(i - x0) / double(dx) + 0.5));
      if (i == x1) break;
    }
  } else {
    const int step = dy > 0 ? 1 : -1;
    for (int j = y0;; j += step) {
      put(int(double(x0) + double(dx) * double(j - y0) / double(dy) + 0.5), j);
      if (j == y1) break;
    }
  }
  return *this;
}

rgbbuffer& rgbbuffer::write(const std::string& name) {
  const bool ok = WriteFileReplacing(ScratchPath(name), [this](std::FILE* f) {
    for (int j = 0; j < height; ++j) {
      if (std::fwrite(rows[size_t(j)], 1, size_t(stride()), f) != size_t(stride())) return false;
    }
    return true;
  });
  if (!ok) throw TextException("PROBLEM OPENING FILE FOR WRITING!");
  return *this;
}

rgbbuffer& rgbbuffer::read(const std::string& name) {
  const std::filesystem::path path = ScratchPath(name);
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  std::FILE* f = OpenRegularFile(path.string());
  if (!f) throw TextException("PROBLEM OPENING FILE FOR READING!");
  // A file of another size holds another image: refuse it before touching the rows.
  if (ec || length != uint64_t(stride() * height)) {
    std::fclose(f);
    throw TextException("PROBLEM OPENING FILE FOR READING!");
  }
  bool ok = true;
  for (int j = 0; j < height && ok; ++j) {
    ok = std::fread(rows[size_t(j)], 1, size_t(stride()), f) == size_t(stride());
  }
  std::fclose(f);
  if (!ok) throw TextException("PROBLEM OPENING FILE FOR READING!");
  return *this;
}

namespace {
// One output pixel of kernel row i over a line of 24-bit pixels `pitch` bytes apart, each
// channel under the dropped-taps border rule.
inline bytepixel KernelPixel(const matrix& k, int i, const uint8_t* line, std::ptrdiff_t pitch,
                             int length) {
  return bytepixel::fromfpixel(
      fpixel(static_cast<float>(ApplyKernelRow(k, i, line + 2, pitch, length)),
             static_cast<float>(ApplyKernelRow(k, i, line + 1, pitch, length)),
             static_cast<float>(ApplyKernelRow(k, i, line, pitch, length))));
}

}  // namespace

bool rgbbuffer::resample(const rgbbuffer& source, const matrix& kx, const matrix& ky,
                         bool countProgress, bool startProgress) {
  if (startProgress) StartProgress(float(kx.ny + ky.ny));
  ProgressCountingScope counting(countProgress);
  const int outW = kx.ny, outH = ky.ny;
  if (outW != width || outH != height || source.n == 0 || !kx.ip || !ky.ip) return false;

  // Horizontal pass: one row per source row, one pixel per output column; a tick per
  // output column.
  rgbbuffer middle(outW, source.height);
  const int64_t rowCost = 3 * int64_t(outW) * std::max(1, kx.nx);
  if (ParallelBlocksTicking(
          source.height, BlockFor(rowCost),
          [&](int64_t j0, int64_t j1) {
            for (int64_t j = j0; j < j1; ++j) {
              for (int c = 0; c < outW; ++c) {
                middle.at(c, int(j)) = KernelPixel(kx, c, source.rows[size_t(j)], 3, source.width);
              }
            }
          },
          outW)) {
    return counting.cancel();
  }
  // Vertical pass.
  const int64_t columnCost = 3 * int64_t(outW) * std::max(1, ky.nx);
  if (ParallelBlocksTicking(outH, BlockFor(columnCost), [&](int64_t r0, int64_t r1) {
        for (int64_t r = r0; r < r1; ++r) {
          for (int i = 0; i < outW; ++i) {
            at(i, int(r)) =
                KernelPixel(ky, int(r), middle.rows[0] + 3 * i, middle.stride(), middle.height);
          }
        }
      })) {
    return counting.cancel();
  }
  return false;
}

rgbbuffer& rgbbuffer::puttile(int x0, int y0, const fpbuffer& tile, const bitmask* only, int left,
                              int right, int bottom, int top) {
  ForEachTilePixel(
      tile, x0, y0, width, height, only, left, right, bottom, top, [&](int x, int y, size_t k) {
        const fpixel c =
            tile.channels == 4
                ? tile.torgb4(fpixel4(tile.plane[0].x[k], tile.plane[1].x[k], tile.plane[2].x[k],
                                      tile.plane[3].x[k]))
                : tile.torgb(fpixel(tile.plane[0].x[k], tile.plane[1].x[k], tile.plane[2].x[k]));
        at(x, y) = bytepixel::fromfpixel(c);
      });
  return *this;
}
