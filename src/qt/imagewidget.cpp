#include "qt/imagewidget.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QImage>
#include <QPainter>

#include "qt/histogramwindow.h"
#include "qt/mainframe.h"

ImageWidget::ImageWidget(CMainFrame* frame, QWidget* parent)
    : QWidget(parent), frame_(frame), view_(std::make_unique<CImageView>(this)) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(64, 48);
  setMouseTracking(true);  // moves without a button clear Quiet
}

ImageWidget::~ImageWidget() { view_.reset(); }

void ImageWidget::Invalidate() {
  updateCursor();
  update();
}

void ImageWidget::SetFrameTitle(const std::string& title) {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    sub->setWindowTitle(title.empty() ? QStringLiteral("Untitled") : QString::fromStdString(title));
  }
}

void ImageWidget::MenuCaptionsChanged() {
  updateCursor();
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
  view_->OnSetFocus();
}

void ImageWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // A key-up lost to another window must not leave a modifier held. A menu or a dialog of
  // our own takes the focus in the middle of choosing a command, whose Ctrl must hold.
  if (!QApplication::activePopupWidget() && !QApplication::activeModalWidget()) {
    Flags().CtrlHeld = false;
    Flags().ShiftHeld = false;
  }
  view_->Dispatch(CommandId::FocusCommand);
}

namespace {
Point At(const QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  return {p.x(), p.y()};
}

InputKey KeyOf(const QKeyEvent* event) {
  const bool keypad = event->modifiers() & Qt::KeypadModifier;
  switch (event->key()) {
    case Qt::Key_Shift:
      return InputKey::Shift;
    case Qt::Key_Control:
      return InputKey::Ctrl;
    case Qt::Key_Left:
      return InputKey::Left;
    case Qt::Key_Right:
      return InputKey::Right;
    case Qt::Key_Up:
      return InputKey::Up;
    case Qt::Key_Down:
      return InputKey::Down;
    case Qt::Key_2:
      return keypad ? InputKey::Keypad2 : InputKey::Other;
    case Qt::Key_4:
      return keypad ? InputKey::Keypad4 : InputKey::Other;
    case Qt::Key_6:
      return keypad ? InputKey::Keypad6 : InputKey::Other;
    case Qt::Key_8:
      return keypad ? InputKey::Keypad8 : InputKey::Other;
    default:
      return InputKey::Other;
  }
}
}  // namespace

void ImageWidget::mousePressEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton:
      view_->OnLeftButtonDown(At(event));
      break;
    case Qt::RightButton:
      view_->OnRightButtonDown(At(event));
      break;
    case Qt::MiddleButton:
      view_->OnMiddleButtonDown(At(event));
      break;
    default:
      QWidget::mousePressEvent(event);
  }
}

void ImageWidget::mouseReleaseEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton:
      view_->OnLeftButtonUp(At(event));
      break;
    case Qt::RightButton:
      view_->OnRightButtonUp(At(event));
      break;
    case Qt::MiddleButton:
      view_->OnMiddleButtonUp(At(event));
      break;
    default:
      QWidget::mouseReleaseEvent(event);
  }
  updateCursor();  // the end of a handle drag gives the arrow back
}

void ImageWidget::mouseMoveEvent(QMouseEvent* event) {
  view_->OnMouseMove(At(event));
  updateCursor();  // a handle of the curve editor may have come under or left the drag
}

void ImageWidget::keyPressEvent(QKeyEvent* event) { view_->OnKeyDown(KeyOf(event)); }

void ImageWidget::keyReleaseEvent(QKeyEvent* event) {
  if (!event->isAutoRepeat()) view_->OnKeyUp(KeyOf(event));
}

void ImageWidget::updateCursor() {
  const CImageView& v = *view_;
  if (!v.BrushCursorShown()) {
    const bool hand = v.CurveHandCursorShown();
    if (hand && !handShown_) setCursor(Qt::PointingHandCursor);
    if (!hand && (handShown_ || !cursorPlanes_.empty())) unsetCursor();
    handShown_ = hand;
    cursorPlanes_.clear();
    return;
  }
  handShown_ = false;
  std::vector<uint8_t> planes(v.cursorAnd.data, v.cursorAnd.data + v.cursorAnd.bytes);
  planes.insert(planes.end(), v.cursorXor.data, v.cursorXor.data + v.cursorXor.bytes);
  planes.push_back(uint8_t(v.cursorAnd.height));
  if (planes == cursorPlanes_) return;  // the same brush as shown
  // The planes are square (the padding columns on the right are left out). A monochrome
  // cursor's AND/XOR pair becomes Qt's bitmap/mask pair: AND 1 XOR 0 transparent, AND 1
  // XOR 1 inverted, AND 0 XOR 1 white, AND 0 XOR 0 black.
  const int side = v.cursorAnd.height;
  QImage bits(side, side, QImage::Format_Mono), mask(side, side, QImage::Format_Mono);
  bits.setColor(0, qRgb(255, 255, 255));
  bits.setColor(1, qRgb(0, 0, 0));
  mask.setColor(0, qRgb(255, 255, 255));
  mask.setColor(1, qRgb(0, 0, 0));
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const bool a = x < v.cursorAnd.width && v.cursorAnd.get(x, y);
      const bool o = x < v.cursorXor.width && v.cursorXor.get(x, y);
      bits.setPixel(x, y, a == o ? 1 : 0);
      mask.setPixel(x, y, a ? 0 : 1);
    }
  }
  const int hot = (side - 1) / 2;
  setCursor(QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), hot, hot));
  cursorPlanes_ = std::move(planes);
}

CChildFrame::CChildFrame(CMainFrame* frame) {
  setAttribute(Qt::WA_DeleteOnClose);
  image_ = new ImageWidget(frame, this);
  setWidget(image_);
  setWindowTitle(QStringLiteral("Untitled"));
  resize(640, 480);
}
