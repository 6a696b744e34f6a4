// The picture of an image window and the view commands.
#include "app/paint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "app/imageview.h"
#include "numeric/border.h"
#include "numeric/resample.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/parallel.h"

bool& FullScreen() {
  static bool on = false;
  return on;
}

FitGeometry FitImage(int w, int h, int cw, int ch) {
  FitGeometry g;
  if (w <= 0 || h <= 0 || cw <= 0 || ch <= 0) return g;
  g.zoom = std::max(double(w) / cw, double(h) / ch);
  const double s = 1.0 / g.zoom;
  g.originX = static_cast<int>((cw - w * s) * 0.5);
  g.originY = static_cast<int>((ch - h * s) * 0.5);
  // A sliver of an image still shows as one pixel rather than vanishing.
  g.width = std::max(1, static_cast<int>(w * s + 0.5));
  g.height = std::max(1, static_cast<int>(h * s + 0.5));
  return g;
}

namespace {
// The taps of one kernel matrix after the border rule: for output k the samples
// first[k] .. first[k] + count[k] - 1, weighted by weights[k * stride ...], renormalised
// where taps fell outside.
struct TapTable {
  std::vector<int> first, count;
  std::vector<float> weights;
  int stride = 0;

  TapTable(const matrix& k, int length) : first(size_t(k.ny)), count(size_t(k.ny)) {
    stride = k.nx;
    weights.assign(size_t(k.ny) * size_t(k.nx), 0.0f);
    for (int i = 0; i < k.ny; ++i) {
      const TapWindow t = DroppedTapWindow(k.z[i], k.nx, k.ip[i], length);
      first[size_t(i)] = k.ip[i] + t.lo;
      count[size_t(i)] = t.hi - t.lo;
      for (int j = t.lo; j < t.hi; ++j) {
        weights[size_t(i) * size_t(stride) + size_t(j - t.lo)] =
            static_cast<float>(k.z[i][j] / t.divisor);
      }
    }
  }
  const float* at(int i) const { return weights.data() + size_t(i) * size_t(stride); }
};

// The vertical sums of the display resampler. The AVX2 clone, chosen at run time, has wider
// vectors but no fused multiply-add, so both give the same bytes. ThreadSanitizer cannot
// run the resolver of the clones, which is called before it starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEP_WIDE_CLONES
#endif

// acc[k] += w0 a[k] + w1 b[k] + w2 c[k] + w3 d[k]: four taps per sweep, so the sums are
// loaded and stored a quarter as often.
ZEP_WIDE_CLONES void AddFourRows(float* __restrict acc, const float* __restrict a,
                                 const float* __restrict b, const float* __restrict c,
                                 const float* __restrict d, const float* w, int n) {
  const float wa = w[0], wb = w[1], wc = w[2], wd = w[3];
  for (int k = 0; k < n; ++k) acc[k] += wa * a[k] + wb * b[k] + wc * c[k] + wd * d[k];
}

ZEP_WIDE_CLONES void AddRow(float* __restrict acc, const float* __restrict a, float w, int n) {
  for (int k = 0; k < n; ++k) acc[k] += w * a[k];
}

void ResampleNearest(const rgbbuffer& source, rgbbuffer& out) {
  std::vector<int> columns(size_t(out.width));
  for (int c = 0; c < out.width; ++c) {
    columns[size_t(c)] = std::min(source.width - 1, int((c + 0.5) * source.width / out.width));
  }
  ParallelBlocks(out.height, BlockFor(4 * int64_t(out.width)), [&](int64_t r0, int64_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      const int j = std::min(source.height - 1, int((r + 0.5) * source.height / out.height));
      for (int c = 0; c < out.width; ++c) out.at(c, r) = source.at(columns[size_t(c)], j);
    }
  });
}
}  // namespace

void ResampleForDisplay(const rgbbuffer& source, rgbbuffer& out, const matrix& kx,
                        const matrix& ky) {
  if (source.n == 0 || out.n == 0 || kx.ny != out.width || ky.ny != out.height) return;
  const TapTable xs(kx, source.width), ys(ky, source.height);
  const int rowBytes = 3 * source.width;
  const int ring = std::max(1, *std::max_element(ys.count.begin(), ys.count.end()));
  // Blocks of output rows long enough that the source rows turned into floats serve
  // several output rows before the next block needs them again.
  const int64_t block = std::max<int64_t>(32, BlockFor(int64_t(rowBytes) * ring));
  ParallelBlocks(out.height, block, [&](int64_t r0, int64_t r1) {
    // Each source row serves several output rows: it is turned into floats once and kept
    // in a ring as long as the windows need it (a window never spans more rows than the
    // ring holds, so the rows of one window sit in distinct slots).
    std::vector<float> held(size_t(ring) * size_t(rowBytes));
    std::vector<int> heldRow(size_t(ring), -1);
    auto floatRow = [&](int j) -> const float* {
      const size_t slot = size_t(j % ring);
      float* row = held.data() + slot * size_t(rowBytes);
      if (heldRow[slot] != j) {
        const uint8_t* bytes = source.rows[size_t(j)];
        for (int k = 0; k < rowBytes; ++k) row[k] = float(bytes[k]);
        heldRow[slot] = j;
      }
      return row;
    };
    std::vector<float> column(static_cast<size_t>(rowBytes));
    for (int r = int(r0); r < int(r1); ++r) {
      // The output row's vertical sums for every source column, all three channels at once.
      std::fill(column.begin(), column.end(), 0.0f);
      const float* wy = ys.at(r);
      float* __restrict acc = column.data();
      const int first = ys.first[size_t(r)], count = ys.count[size_t(r)];
      int t = 0;
      for (; t + 4 <= count; t += 4) {
        AddFourRows(acc, floatRow(first + t), floatRow(first + t + 1), floatRow(first + t + 2),
                    floatRow(first + t + 3), wy + t, rowBytes);
      }
      for (; t < count; ++t) AddRow(acc, floatRow(first + t), wy[t], rowBytes);
      uint8_t* target = out.rows[size_t(r)];
      for (int c = 0; c < out.width; ++c) {
        const float* wx = xs.at(c);
        const float* p = acc + 3 * xs.first[size_t(c)];
        float b = 0.0f, g = 0.0f, red = 0.0f;
        for (int t = 0; t < xs.count[size_t(c)]; ++t, p += 3) {
          b += wx[t] * p[0];
          g += wx[t] * p[1];
          red += wx[t] * p[2];
        }
        ByteRule(red, g, b, target[3 * c + 2], target[3 * c + 1], target[3 * c]);
      }
    }
  });
}

void ScaleForDisplay(const rgbbuffer& source, rgbbuffer& out, int code, int lanczosOrder,
                     float bicubicParameter) {
  if (source.n == 0 || out.n == 0) return;
  const int w = source.width, h = source.height, dw = out.width, dh = out.height;
  matrix kx, ky;
  switch (code) {
    case kFitNearest:
      ResampleNearest(source, out);
      return;
    case kFitLanczos:
      lanczosOrder = std::clamp(lanczosOrder, 1, 64);
      BuildLanczosKernelForSizes(kx, lanczosOrder, w, dw, 0.0f);
      BuildLanczosKernelForSizes(ky, lanczosOrder, h, dh, 0.0f);
      break;
    case kFitBicubic:
      BuildBicubicKernelForSizes(kx, bicubicParameter, w, dw, 0.0f);
      BuildBicubicKernelForSizes(ky, bicubicParameter, h, dh, 0.0f);
      break;
    case kFitBilinear:
      BuildBilinearKernelForSizes(kx, w, dw, 0.0f);
      BuildBilinearKernelForSizes(ky, h, dh, 0.0f);
      break;
    case kFitAreaAverage:  // a box stretched over each output pixel is its area average
    case kFitBox:
      BuildBoxKernelForSizes(kx, w, dw, 0.0f);
      BuildBoxKernelForSizes(ky, h, dh, 0.0f);
      break;
    default:  // kFitTriangulation
      if (dw > w) {
        out.triangulate(source, 0.0, 0.0, false);
        return;
      }
      BuildLanczosKernelForSizes(kx, 3, w, dw, 0.0f);
      BuildLanczosKernelForSizes(ky, 3, h, dh, 0.0f);
      break;
  }
  ResampleForDisplay(source, out, kx, ky);
}

void InvertRectangleOutline(DisplayBitmap& client, int x1, int y1, int x2, int y2) {
  const int cw = client.width(), ch = client.height();
  auto invert = [&](int x, int y) {
    if (x < 0 || x >= cw || y < 0 || y >= ch) return;
    uint8_t* p = client.row(ch - 1 - y) + 3 * x;
    for (int k = 0; k < 3; ++k) p[k] = uint8_t(255 - p[k]);
  };
  auto horizontal = [&](int y, int from, int to) {
    for (int x = from; x != to; x += from < to ? 1 : -1) invert(x, y);
  };
  auto vertical = [&](int x, int from, int to) {
    for (int y = from; y != to; y += from < to ? 1 : -1) invert(x, y);
  };
  horizontal(y1 - 1, x1, x2);
  vertical(x2, y1 - 1, y2 - 1);
  horizontal(y2 - 1, x2, x1);
  vertical(x1, y2 - 1, y1 - 1);
}

namespace {
// The image pixels of a w x h picture placed at (x0, y0) of a cw x ch client that are
// inside the client.
struct Visible {
  int i0, i1, j0, j1;
  Visible(int w, int h, int x0, int y0, int cw, int ch)
      : i0(std::max(0, -x0)),
        i1(std::min(w, cw - x0)),
        j0(std::max(0, -y0)),
        j1(std::min(h, ch - y0)) {}
  template <class F>
  void each(F f) const {
    for (int j = j0; j < j1; ++j) {
      for (int i = i0; i < i1; ++i) f(i, j);
    }
  }
};

uint8_t* Pixel(DisplayBitmap& b, int x, int y) { return b.row(y) + 3 * x; }

// Copies a picture into the client at (x0, y0), clipped; with a channel view of 1, 2 or 3
// every pixel becomes the grey of its red, green or blue byte.
void CopyInto(DisplayBitmap& client, const DisplayBitmap& picture, int x0, int y0,
              int channelView) {
  const Visible v(picture.width(), picture.height(), x0, y0, client.width(), client.height());
  if (v.i0 >= v.i1) return;
  const int byte = channelView >= 1 && channelView <= 3 ? 3 - channelView : -1;
  for (int j = v.j0; j < v.j1; ++j) {
    const uint8_t* from = picture.row(j) + 3 * v.i0;
    uint8_t* to = Pixel(client, x0 + v.i0, y0 + j);
    if (byte < 0) {
      std::memcpy(to, from, size_t(3 * (v.i1 - v.i0)));
      continue;
    }
    for (int i = v.i0; i < v.i1; ++i, from += 3, to += 3) to[0] = to[1] = to[2] = from[byte];
  }
}

bool SameSize(const bitmask& m, int w, int h) {
  return m.present() && m.width == w && m.height == h;
}

rgbbuffer Wrap(DisplayBitmap& b) { return rgbbuffer(b.toprow(), b.width(), b.height()); }
}  // namespace

const DisplayBitmap& CImageView::Paint(int cw, int ch) {
  static const DisplayBitmap kNothing;
  if (cw <= 0 || ch <= 0) return kNothing;  // minimised: nothing to paint
  clientWidth = cw;
  clientHeight = ch;
  const CommandFlags& flags = Flags();
  const DisplayBitmap& picture = currentBitmap();
  const int w = picture.width(), h = picture.height();
  if (fitToWindow && !picture.empty()) {
    const FitGeometry g = FitImage(w, h, cw, ch);
    fitZoom = g.zoom;
    originX = g.originX;
    originY = g.originY;
  }
  const bool cropDrag = flags.RightButtonDown && (fitToWindow || !paintMode) && !picture.empty();
  auto moveBand = [&] {
    if (bandDrawn) {
      InvertRectangleOutline(paintBitmap, dragStartWindow.x, dragStartWindow.y,
                             dragPreviousEndWindow.x, dragPreviousEndWindow.y);
    }
    InvertRectangleOutline(paintBitmap, dragStartWindow.x, dragStartWindow.y, dragEndWindow.x,
                           dragEndWindow.y);
    dragPreviousEndWindow = dragEndWindow;
    bandDrawn = true;
  };
  // A crop drag only moves its rubber band over the picture already composed.
  if (cropDrag && paintBitmap.width() == cw && paintBitmap.height() == ch) {
    moveBand();
    return paintBitmap;
  }
  bandDrawn = false;
  const Settings& s = LiveSettings();
  try {
    if (paintBitmap.width() != cw || paintBitmap.height() != ch) {
      paintBitmap = DisplayBitmap();
      paintBitmap = DisplayBitmap(cw, ch);
    }
  } catch (const std::bad_alloc&) {
    return kNothing;
  }
  std::memset(paintBitmap.data(), std::clamp(s.backgroundGreyLevel, 0, 255),
              size_t(paintBitmap.bytes()));
  if (picture.empty()) return paintBitmap;

  if (!fitToWindow) {
    PaintActualSize(picture, cw, ch);
  } else {
    PaintFitted(picture, cw, ch);
  }
  if (cropDrag) moveBand();
  return paintBitmap;
}

// The picture at 1:1 where the pans put it, with the overlays of two layers, the mask
// views and the selection being painted.
void CImageView::PaintActualSize(const DisplayBitmap& picture, int cw, int ch) {
  const CommandFlags& flags = Flags();
  const Settings& s = LiveSettings();
  const int w = picture.width(), h = picture.height();
  const int halfW = (w + cw) / 2, halfH = (h + ch) / 2;
  panX = std::clamp(panX, -halfW, halfW);
  panY = std::clamp(panY, -halfH, halfH);
  originX = cw - halfW;
  originY = ch - halfH;
  const int x0 = originX + panX, y0 = originY + panY;
  CopyInto(paintBitmap, picture, x0, y0, channelView);
  const Visible visible(w, h, x0, y0, cw, ch);
  const bitmask& mask = currentLayer().mask;

  // Two layers at once. The other bitmap is read only when it matches this picture.
  const DisplayBitmap& under = otherBitmap();
  const bool overlay = showCombined || showDifference || (showBottomThroughMask && HasMask());
  if (overlay && layers[0].width == layers[1].width && layers[0].height == layers[1].height &&
      under.width() == w && under.height() == h) {
    try {
      DisplayBitmap other(cw, ch);
      CopyInto(other, under, x0, y0, channelView);
      rgbbuffer own = Wrap(paintBitmap), theirs = Wrap(other);
      if (showCombined) {
        own.blend(theirs, s.layer.bottomLayerWeight);
      } else if (showDifference) {
        own.absdiff(theirs);
      }
      if (showBottomThroughMask && SameSize(mask, w, h)) {
        visible.each([&](int i, int j) {
          const bool set = mask.get(i, j);
          if (showMaskedArea ? !set : (showUnmaskedArea && set)) {
            std::memcpy(Pixel(paintBitmap, x0 + i, y0 + j), Pixel(other, x0 + i, y0 + j), 3);
          }
        });
      }
    } catch (const std::bad_alloc&) {
      // Without room for the other layer the picture shows this one alone.
    }
  }
  // The mask views black out the pixels they hide.
  if ((showMaskedArea || showUnmaskedArea) && !showBottomThroughMask && SameSize(mask, w, h)) {
    visible.each([&](int i, int j) {
      if (mask.get(i, j) != showMaskedArea) std::memset(Pixel(paintBitmap, x0 + i, y0 + j), 0, 3);
    });
  }
  // The selection being painted.
  if ((flags.RightButtonDown || flags.MiddleButtonDown) && paintMode && SameSize(selection, w, h)) {
    visible.each([&](int i, int j) {
      if (selection.get(i, j)) std::memset(Pixel(paintBitmap, x0 + i, y0 + j), 0, 3);
    });
  }
}

// The picture scaled to fit the client by the display's interpolation, with the overlays
// of two layers.
void CImageView::PaintFitted(const DisplayBitmap& picture, int cw, int ch) {
  const Settings& s = LiveSettings();
  const int w = picture.width(), h = picture.height();
  const FitGeometry g = FitImage(w, h, cw, ch);
  const int code = s.view.fitInterpolationMethod;
  try {
    DisplayBitmap scaled(g.width, g.height);
    {
      DisplayBitmap& source = const_cast<DisplayBitmap&>(picture);
      rgbbuffer from = Wrap(source), to = Wrap(scaled);
      ScaleForDisplay(from, to, code, s.view.fitLanczosOrder, s.view.fitBicubicParameter);
    }
    const bool plain = code == kFitAreaAverage || code == kFitNearest;
    CopyInto(paintBitmap, scaled, originX, originY, plain ? 0 : channelView);
    const fpbuffer& other = otherLayer();
    if (!plain && (showCombined || showDifference) && other.n > 0 &&
        layers[0].width == layers[1].width && layers[0].height == layers[1].height &&
        other.width == w && other.height == h) {
      matrix kx, ky;
      BuildLanczosKernelForSizes(kx, 3, w, g.width, 0.0f);
      BuildLanczosKernelForSizes(ky, 3, h, g.height, 0.0f);
      fpbuffer small(g.width, g.height, other.code);
      small.resamplefrom(other, kx, ky, true, false);
      DisplayBitmap rendered(g.width, g.height), under(cw, ch);
      small.todib(rendered.toprow());
      CopyInto(under, rendered, originX, originY, channelView);
      rgbbuffer own = Wrap(paintBitmap), theirs = Wrap(under);
      if (showCombined) {
        own.blend(theirs, s.layer.bottomLayerWeight);
      } else {
        own.absdiff(theirs);
      }
    }
  } catch (const std::bad_alloc&) {
    // A part whose bitmap could not be made stays as it is; painting never complains.
  }
}

void CImageView::WindowToImage(Point& p) const {
  const DisplayBitmap& picture = bitmaps[size_t(current)];
  const int w = picture.width(), h = picture.height();
  // The client's row counted from the bottom, as the picture is laid out.
  const int row = clientHeight - 1 - p.y;
  int x, y;
  if (fitToWindow) {
    // The image pixel under the centre of the screen pixel.
    x = static_cast<int>(std::floor((p.x - originX + 0.5) * fitZoom));
    y = static_cast<int>(std::floor((row - originY + 0.5) * fitZoom));
  } else {
    x = p.x - (originX + panX);
    y = row - (originY + panY);
  }
  p.x = std::clamp(x, 0, std::max(0, w - 1));
  p.y = std::clamp(y, 0, std::max(0, h - 1));
}

Point CImageView::ImageToWindow(Point p) const {
  Point q;
  if (fitToWindow) {
    // The screen pixel that holds the centre of the image pixel.
    q.x = originX + static_cast<int>(std::floor((p.x + 0.5) / fitZoom));
    q.y = clientHeight - 1 - (originY + static_cast<int>(std::floor((p.y + 0.5) / fitZoom)));
  } else {
    q.x = originX + panX + p.x;
    q.y = clientHeight - 1 - (originY + panY + p.y);
  }
  return q;
}

// --- The view commands ---

void CImageView::OnFullScreen(int) {
  FullScreen() = !FullScreen();
  if (host) host->SetFullScreen(FullScreen());
  if (!FullScreen()) UpdateStatus();
  if (host) host->Invalidate();
}

void CImageView::OnSizedToFit(int) {
  CommandFlags& f = Flags();
  if (f.CtrlHeld) {
    // Ctrl opens the page of the fitted display's scaling; the mode stays as it is.
    f.CtrlHeld = false;
    if (Dialog2(LiveSettings()).RunPage(92, 1, 0) == DialogResult::Ok && host) host->Invalidate();
    return;
  }
  fitToWindow = !fitToWindow;
  if (fitToWindow) {
    savedPaintMode = paintMode;
    paintMode = false;
  } else {
    paintMode = savedPaintMode;
  }
  if (host) host->Invalidate();
}

void CImageView::OnViewingNormal(int) {
  channelView = (channelView + 1) % 4;
  if (host) host->Invalidate();
}

void CImageView::OnShowCombined(int) {
  if (showCombined) {
    showCombined = false;
  } else if (Dialog2(LiveSettings()).RunPage(67, 1, 0) == DialogResult::Ok) {
    showCombined = true;
    showDifference = false;
  }
  if (host) host->Invalidate();
}

void CImageView::OnShowDifference(int) {
  normalView = true;
  showDifference = !showDifference;
  if (showDifference) showCombined = false;
  if (host) host->Invalidate();
}

void CImageView::OnShowBottomThroughMask(int) {
  normalView = true;
  showBottomThroughMask = !showBottomThroughMask;
  if (host) host->Invalidate();
}

void CImageView::OnHistogram(int) {
  if (!host) return;
  if (host->HistogramVisible()) {
    host->HideHistogram();
  } else {
    host->RefreshHistogram();
  }
}
