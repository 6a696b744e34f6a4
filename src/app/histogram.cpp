#include "app/histogram.h"

#include "platform/ui.h"

bool Dialog3::Refresh(const fpbuffer& image) {
  if (image.n == 0) return false;
  channels = image.channels;
  GetUi().BeginWaitCursor();
  image.histogram(curves);
  GetUi().EndWaitCursor();
  return true;
}

std::vector<HistogramPoint> Dialog3::Curve(int c, int left, int bottom) const {
  std::vector<HistogramPoint> points(256);
  const int base = bottom - 1;
  for (int i = 0; i < 256; ++i) points[size_t(i)] = {left + 2 * i, base - curves[c][i]};
  return points;
}
