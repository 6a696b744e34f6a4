#include "qt/imagewidget.h"

#include <QImage>
#include <QPainter>

#include "qt/histogramwindow.h"
#include "qt/mainframe.h"

ImageWidget::ImageWidget(CMainFrame* frame, QWidget* parent)
    : QWidget(parent), frame_(frame), view_(std::make_unique<CImageView>(this)) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(64, 48);
}

ImageWidget::~ImageWidget() { view_.reset(); }

void ImageWidget::Invalidate() { update(); }

void ImageWidget::SetFrameTitle(const std::string& title) {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    sub->setWindowTitle(title.empty() ? QStringLiteral("Untitled") : QString::fromStdString(title));
  }
}

void ImageWidget::MenuCaptionsChanged() {
  if (frame_) frame_->refreshMenuCaptions(view_.get());
}

void ImageWidget::PopdownMenu(int n) {
  if (frame_) frame_->popdownMenu(n);
}

void ImageWidget::MakeForeground() {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) sub->raise();
}

bool ImageWidget::HistogramVisible() { return frame_ && frame_->histogram().isVisible(); }

void ImageWidget::RefreshHistogram() {
  if (frame_) frame_->histogram().Refresh(view_->currentLayer());
}

void ImageWidget::HideHistogram() {
  if (frame_) frame_->histogram().hide();
}

void ImageWidget::SetFullScreen(bool on) {
  if (frame_) frame_->setFullScreen(on, qobject_cast<QMdiSubWindow*>(parentWidget()));
}

void ImageWidget::paintEvent(QPaintEvent*) {
  // The view composes the whole client; the widget only shows it.
  const DisplayBitmap& picture = view_->Paint(width(), height());
  if (picture.empty()) return;
  // The bitmap is bottom-up blue-green-red rows padded to four bytes: a top-down QImage
  // over the same bytes, mirrored.
  const QImage image(picture.data(), picture.width(), picture.height(),
                     static_cast<qsizetype>(picture.stride()), QImage::Format_BGR888);
  QPainter p(this);
  p.drawImage(QPoint(0, 0), image.mirrored(false, true));
}

void ImageWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  view_->Dispatch(4068);
}

void ImageWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // A key-up lost to another window must not leave a modifier held.
  Flags().CtrlHeld = false;
  Flags().ShiftHeld = false;
  view_->Dispatch(4068);
}

CChildFrame::CChildFrame(CMainFrame* frame) {
  setAttribute(Qt::WA_DeleteOnClose);
  image_ = new ImageWidget(frame, this);
  setWidget(image_);
  setWindowTitle(QStringLiteral("Untitled"));
  resize(640, 480);
}
