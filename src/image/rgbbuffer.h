#pragma once
// 24-bit bottom-up bitmaps: the display bitmap of a layer and the row buffer that wraps or
// owns such rows. Each row holds width pixels of blue, green, red bytes padded to a
// multiple of four bytes; the first row in memory is the bottom picture row.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "image/pixel.h"
#include "numeric/matrix.h"

// The display bitmap of an image window's layer.
class DisplayBitmap {
 public:
  DisplayBitmap() = default;
  // Allocates width x height pixels, cleared to black. Throws OutOfMemory when the size
  // is absurd or the memory is not available.
  DisplayBitmap(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  int64_t stride() const { return GetRowStride24(width_); }
  int64_t bytes() const { return GetDibBytes24(width_, height_); }
  bool empty() const { return !bits_; }
  uint8_t* data() { return bits_.get(); }
  const uint8_t* data() const { return bits_.get(); }
  // Row j, row 0 the bottom picture row.
  uint8_t* row(int j) { return bits_.get() + j * stride(); }
  const uint8_t* row(int j) const { return bits_.get() + j * stride(); }
  // The address of the top picture row, the form in which bitmaps are passed around.
  uint8_t* toprow() { return row(height_ - 1); }
  const uint8_t* toprow() const { return row(height_ - 1); }

 private:
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<uint8_t[]> bits_;
};

class rgbbuffer {
 public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t n = 0;
  std::vector<uint8_t*> rows;  // rows[j] is row j, row 0 the bottom
  int32_t bytes = 0;           // size of the owned block; 0 when wrapping
  uint8_t* bits = nullptr;     // the owned block

  rgbbuffer() = default;
  // Wraps an existing bottom-up bitmap given its top-row address; owns nothing.
  rgbbuffer(uint8_t* topRow, int w, int h);
  // Owns a block of h rows (contents undefined).
  rgbbuffer(int w, int h);
  rgbbuffer(const rgbbuffer&) = delete;
  rgbbuffer& operator=(const rgbbuffer&) = delete;
  ~rgbbuffer();

  rgbbuffer& dim(int w, int h);
  rgbbuffer& free();
  int64_t stride() const { return GetRowStride24(width); }

  bytepixel& at(int i, int j) { return reinterpret_cast<bytepixel*>(rows[size_t(j)])[i]; }
  const bytepixel& at(int i, int j) const {
    return reinterpret_cast<const bytepixel*>(rows[size_t(j)])[i];
  }

  // Copies a whole bitmap of the same size, padding included, given its top-row address.
  rgbbuffer& copyfrom(const uint8_t* topRow);
  rgbbuffer& blend(const rgbbuffer& other, float f);
  rgbbuffer& absdiff(const rgbbuffer& other);
  // Every pixel becomes colour: blue bits 0-7, green 8-15, red 16-23.
  rgbbuffer& fill(uint32_t colour);
  // A line of one colour from (x0, y0) to (x1, y1), both ends included; nothing for equal
  // ends, and points outside the buffer are skipped.
  rgbbuffer& line(int x0, int y0, int x1, int y1, uint32_t colour);
  // The raw scratch file: rows from the bottom, padding as in memory, no header.
  rgbbuffer& write(const std::string& name);
  // Reads the raw scratch file into this already sized buffer; a missing or short file
  // throws and leaves the buffer as it was.
  rgbbuffer& read(const std::string& name);

  // Separable resampling of source into this pre-sized buffer with kernel matrices (kx one
  // row per output column, ky one per output row). True when cancelled.
  bool resample(const rgbbuffer& source, const matrix& kx, const matrix& ky, bool countProgress,
                bool startProgress);

  // Resampling of source into this pre-sized buffer by linear interpolation on the
  // triangles its cells are split into (one progress tick per output row). True when
  // cancelled. Without pollCancel it neither ticks nor looks at the cancel keys (the
  // window's painting uses it, and must not take a cancel meant for a running command).
  bool triangulate(const rgbbuffer& source, double shiftX, double shiftY, bool pollCancel = true);

  // Writes the tile without its margins (left, right columns; bottom, top rows) so that its
  // first kept pixel lands at (x0, y0), through the tile's inverse conversion and the byte
  // rule; positions outside this buffer are skipped, and with a mask only set ones written.
  rgbbuffer& puttile(int x0, int y0, const fpbuffer& tile, const bitmask* only, int left, int right,
                     int bottom, int top);

 private:
  void makerows(uint8_t* bottom);
};
