#include "qt/histogramwindow.h"

#include <QPainter>
#include <QPolygon>

HistogramWindow::HistogramWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setWindowTitle(QStringLiteral("Histogram"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  setFixedSize(Dialog3::kClientWidth, Dialog3::kClientHeight);
  move(0, 0);
}

void HistogramWindow::Refresh(const fpbuffer& image) {
  if (!model_.Refresh(image)) return;
  if (isVisible()) {
    update();
  } else {
    show();
  }
}

void HistogramWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  for (int c = 0; c < model_.CurveCount(); ++c) {
    const std::vector<HistogramPoint> points = model_.Curve(c, 0, height());
    QPolygon line;
    for (const HistogramPoint& q : points) line << QPoint(q.x, q.y);
    const uint32_t pen = Dialog3::kPens[c];
    p.setPen(QPen(QColor(int(pen >> 16), int((pen >> 8) & 0xFF), int(pen & 0xFF)), 1));
    p.drawPolyline(line);
  }
}
