#pragma once
// `Dialog3`: the histogram window's contents, toolkit-free. Up to four line curves of 256
// bins (red, green, blue, white for channels 1 to 4) drawn two pixels per bin on black.
// The adapter owns the window; it asks this model what to draw.
#include <array>
#include <cstdint>
#include <vector>

#include "image/fpbuffer.h"

struct HistogramPoint {
  int x = 0, y = 0;  // window coordinates, y counted from the top
};

class Dialog3 {
 public:
  static constexpr int kClientWidth = 512;
  static constexpr int kClientHeight = 257;
  // The pens of channels 1 to 4, as 0xRRGGBB.
  static constexpr uint32_t kPens[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};

  // Recomputes the curves from the image. False (and nothing changes) for an empty image;
  // the caller then leaves the window as it is, otherwise it shows it without taking the
  // focus.
  bool Refresh(const fpbuffer& image);

  // The curves in drawing order (channels 1, 2, 3 and, for a four-channel image, 4); later
  // ones cover earlier ones where they cross. Each is the polyline of a client area whose
  // left edge is `left` and whose bottom row is `bottom` - 1.
  int CurveCount() const { return channels == 4 ? 4 : 3; }
  std::vector<HistogramPoint> Curve(int c, int left, int bottom) const;

  uint8_t curves[4][256] = {};
  int32_t channels = 0;
};
