// The custom-curve editor's drawing and handle drag.
#include "app/curveeditor.h"

#include <algorithm>
#include <cstdlib>

#include "app/flags.h"
#include "app/imageview.h"
#include "numeric/tonecurves.h"
#include "params/settings.h"

namespace {
uint32_t Colour(const uint8_t (&rgb)[3]) {
  return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | uint32_t(rgb[2]);
}

// The row of value v in an m-pixel graph.
int Row(int m, double v) { return int(double(m - 1) * v + 0.5); }
}  // namespace

bool CurveCountsUsable(int m, int c) {
  return m >= 3 && c >= 3 && c <= BasicParams::kMaxControlPoints && c % 2 == 1 &&
         (m - 1) % (c - 1) == 0;
}

bool FitCustomCurve(const BasicParams& p, dmatrix& table) {
  const int m = p.lookupElements, c = p.controlPoints;
  if (!CurveCountsUsable(m, c)) {
    table = dmatrix();
    return false;
  }
  matrix samples(c, 1);
  for (int j = 0; j < c; ++j) samples.x[j] = p.curveValues[j];
  matrix penalty;
  penalty.diffkernel(std::clamp(int(p.differentialOrder), 1, 8));
  table = dmatrix(m, 1);
  table.smoothfit(penalty, samples, p.middlePointWeight, p.endPointWeight);
  return true;
}

float CImageView::DrawCurveEditor() {
  const BasicParams& p = LiveSettings().basic;
  CurveEditor& e = curveEditor;
  DisplayBitmap& graph = bitmaps[size_t(e.layer)];
  const int m = graph.width();
  if (m < 3 || graph.height() != m) return 1;
  rgbbuffer b(graph.toprow(), m, m);
  const int c = int(e.columns.size());
  e.rows.resize(size_t(c));
  for (int j = 0; j < c; ++j) e.rows[size_t(j)] = Row(m, p.curveValues[j]);
  b.fill(Colour(p.backgroundColor));
  for (int j = 0; j < c; ++j) {
    b.line(e.columns[size_t(j)], 0, e.columns[size_t(j)], m - 1, Colour(p.verticalLineColor));
  }
  const int mid = (m - 1) / 2;
  b.line(mid - 15, mid, mid + 15, mid, Colour(p.centerCrossColor));
  b.line(mid, mid - 15, mid, mid + 15, Colour(p.centerCrossColor));
  for (int j = 1; j + 1 < c; ++j) {
    const int x = e.columns[size_t(j)], y = e.rows[size_t(j)];
    b.line(x - 15, y, x + 15, y, Colour(p.horizontalLineColor));
  }
  float result = 1;
  if (e.fitted) {
    dmatrix f;
    if (FitCustomCurve(p, f) && f.n == m) {
      for (int j = 1; j < m; ++j) {
        const bool rising = f.x[j] - f.x[j - 1] >= double(e.threshold);
        b.line(j - 1, Row(m, f.x[j - 1]), j, Row(m, f.x[j]),
               Colour(rising ? p.increasingCurveColor : p.nonIncreasingCurveColor));
      }
      if (p.constrainMonotoneIncreasing) result = float(f.mingap());
    }
  } else if (const ToneCurveFn f = ToneCurve(p.presetFunction, false)) {
    int w = 0;
    for (int j = 1; j < m; ++j) {
      const int y = Row(m, f(double(j) / double(m - 1), double(p.presetParameter)));
      b.line(j - 1, w, j, y, Colour(p.increasingCurveColor));
      w = y;
    }
  }
  if (host) host->Invalidate();
  return result;
}

bool CImageView::CurveHandCursorShown() const {
  return curveEditor.open() && curveEditor.onHandle && Flags().LeftButtonDown &&
         current == curveEditor.layer;
}

void CImageView::DragCurveHandle(Point p) {
  CurveEditor& e = curveEditor;
  e.onHandle = false;
  if (e.columns.empty()) return;
  WindowToImage(p);
  size_t j = 0;
  for (size_t i = 1; i < e.columns.size(); ++i) {
    if (std::abs(p.x - e.columns[i]) < std::abs(p.x - e.columns[j])) j = i;
  }
  if (j >= e.rows.size()) return;
  const int dy = p.y - e.rows[j];
  if (std::abs(p.x - e.columns[j]) > 15 || std::abs(dy) > 100) return;
  e.onHandle = true;
  float& value = LiveSettings().basic.curveValues[j];
  const float old = value;
  value = std::clamp(old + float(dy) * e.dragFactor, 0.0f, 1.0f);
  if (DrawCurveEditor() < e.threshold) {
    value = old;
    DrawCurveEditor();
  }
}
