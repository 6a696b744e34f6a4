// The image window on screen: the widget shows exactly the picture the view composes, at
// 1:1 and fitted, and the histogram window draws the view's curves.
#include "qt/imagewidget.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>

#include "app/imageview.h"
#include "params/settings.h"
#include "qt/histogramwindow.h"
#include "qt/mainframe.h"
#include "support/zep_test.h"

namespace {
using ImageWidgetTest = ZepTest;

// A known test picture: colour ramps with a white frame, its float image beside it.
void LoadTestImage(CImageView& v, int w, int h) {
  fpbuffer& f = v.currentLayer();
  f.dim(w, h, cspace::kDefault);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const bool frame = i == 0 || j == 0 || i == w - 1 || j == h - 1;
      const size_t k = size_t(j) * size_t(w) + size_t(i);
      f.plane[0].x[k] = frame ? 255.0f : float(255 * i / w);
      f.plane[1].x[k] = frame ? 255.0f : float(255 * j / h);
      f.plane[2].x[k] = frame ? 255.0f : float((i * j) % 256);
    }
  }
  v.currentBitmap() = DisplayBitmap(w, h);
  f.todib(v.currentBitmap().toprow());
}

// Shows the frame with one image window holding the 320 x 200 test picture.
ImageWidget* ShowTestWindow(CMainFrame& frame) {
  frame.resize(900, 700);
  frame.show();
  frame.OnFileNew();
  ImageWidget* widget = frame.activeImage();
  if (widget) LoadTestImage(widget->view(), 320, 200);
  return widget;
}
}  // namespace

TEST_F(ImageWidgetTest, ScreenshotsShowTheDisplayBitmap) {
  LiveSettings().SetDefaults();
  CMainFrame frame;
  ImageWidget* widget = ShowTestWindow(frame);
  ASSERT_NE(widget, nullptr);
  CImageView& v = widget->view();
  v.panX = 13;
  v.panY = -7;
  QApplication::processEvents();

  const QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_RGB888);
  shot.save(QStringLiteral("imagewindow-1to1.png"));
  ASSERT_EQ(shot.width(), widget->width());
  ASSERT_GE(shot.width(), 320);
  ASSERT_GE(shot.height(), 200);
  const DisplayBitmap& bitmap = v.currentBitmap();
  int compared = 0;
  for (int j = 0; j < bitmap.height(); ++j) {
    for (int i = 0; i < bitmap.width(); ++i) {
      const Point q = v.ImageToWindow({i, j});
      if (q.x < 0 || q.y < 0 || q.x >= shot.width() || q.y >= shot.height()) continue;
      const uint8_t* b = bitmap.row(j) + 3 * i;
      const QRgb p = shot.pixel(q.x, q.y);
      ASSERT_EQ(qRed(p), b[2]) << i << "," << j;
      ASSERT_EQ(qGreen(p), b[1]) << i << "," << j;
      ASSERT_EQ(qBlue(p), b[0]) << i << "," << j;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 320 * 200);
  // Outside the picture: the background grey.
  const int grey = LiveSettings().backgroundGreyLevel;
  EXPECT_EQ(qGreen(shot.pixel(0, 0)), grey);

  frame.sendCommand(CommandId::SizedToFitScreen);  // F6: sized to fit
  ASSERT_TRUE(v.fitToWindow);
  const QImage fitted = widget->grab().toImage().convertToFormat(QImage::Format_RGB888);
  fitted.save(QStringLiteral("imagewindow-fitted.png"));
  // The picture fills the client in one direction and keeps its shape.
  const double zoom = std::max(320.0 / widget->width(), 200.0 / widget->height());
  EXPECT_DOUBLE_EQ(v.fitZoom, zoom);
  const Point centre = v.ImageToWindow({160, 100});
  const QRgb c = fitted.pixel(centre.x, centre.y);
  const uint8_t* b = bitmap.row(100) + 3 * 160;
  EXPECT_NEAR(qRed(c), b[2], 12);
  EXPECT_NEAR(qGreen(c), b[1], 12);
}

TEST_F(ImageWidgetTest, HistogramWindowShowsWithoutTakingTheFocus) {
  LiveSettings().SetDefaults();
  CMainFrame frame;
  frame.show();
  frame.OnFileNew();
  CImageView& v = frame.activeImage()->view();
  v.currentLayer().dim(8, 8, cspace::kDefault);
  for (int c = 0; c < 3; ++c) v.currentLayer().plane[c].fill(255.0f);
  v.currentBitmap() = DisplayBitmap(8, 8);
  EXPECT_FALSE(frame.histogram().isVisible());
  frame.sendCommand(CommandId::Histogram);  // F8
  EXPECT_TRUE(frame.histogram().isVisible());
  EXPECT_FALSE(frame.histogram().isActiveWindow());
  const QImage shot = frame.histogram().grab().toImage();
  shot.save(QStringLiteral("histogram.png"));
  // Three curves on one line along the bottom, the blue one drawn last.
  EXPECT_EQ(shot.pixel(100, Dialog3::kClientHeight - 1), qRgb(0, 0, 255));
  EXPECT_EQ(shot.pixel(100, 100), qRgb(0, 0, 0));
  frame.sendCommand(CommandId::Histogram);
  EXPECT_FALSE(frame.histogram().isVisible());
}

TEST_F(ImageWidgetTest, FullScreenHidesMenuAndStatusBarAndPutsThemBack) {
  LiveSettings().SetDefaults();
  CMainFrame frame;
  frame.show();
  frame.OnFileNew();
  QMdiSubWindow* child = frame.client().activeSubWindow();
  ASSERT_NE(child, nullptr);
  const Qt::WindowFlags childFlags = child->windowFlags();
  frame.sendCommand(CommandId::FullScreen);  // F5
  EXPECT_FALSE(frame.menuBar()->isVisible());
  EXPECT_FALSE(frame.statusBar()->isVisible());
  EXPECT_TRUE(child->windowFlags() & Qt::FramelessWindowHint);
  frame.sendCommand(CommandId::FullScreen);
  EXPECT_TRUE(frame.menuBar()->isVisible());
  EXPECT_TRUE(frame.statusBar()->isVisible());
  EXPECT_EQ(child->windowFlags(), childFlags);
}

TEST_F(ImageWidgetTest, MouseAndKeyEventsReachTheView) {
  LiveSettings().SetDefaults();
  Flags() = CommandFlags();
  CMainFrame frame;
  ImageWidget* widget = ShowTestWindow(frame);
  ASSERT_NE(widget, nullptr);
  CImageView& v = widget->view();
  QApplication::processEvents();
  widget->repaint();

  auto send = [&](QEvent::Type type, Qt::MouseButton button, Point image) {
    const Point q = v.ImageToWindow(image);
    const QPointF at(q.x, q.y);
    QMouseEvent event(type, at, widget->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  send(QEvent::MouseButtonPress, Qt::LeftButton, {40, 30});
  send(QEvent::MouseButtonRelease, Qt::LeftButton, {40, 30});
  EXPECT_EQ(v.clickPoint.x, 40);
  EXPECT_EQ(v.clickPoint.y, 30);

  send(QEvent::MouseButtonPress, Qt::RightButton, {10, 20});
  send(QEvent::MouseMove, Qt::RightButton, {30, 50});
  send(QEvent::MouseButtonRelease, Qt::RightButton, {30, 50});
  EXPECT_EQ(v.currentLayer().width, 21);
  EXPECT_EQ(v.currentLayer().height, 31);

  auto key = [&](QEvent::Type type, int k) {
    QKeyEvent event(type, k, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  key(QEvent::KeyPress, Qt::Key_Control);
  EXPECT_TRUE(Flags().CtrlHeld);
  key(QEvent::KeyRelease, Qt::Key_Control);
  EXPECT_FALSE(Flags().CtrlHeld);
  key(QEvent::KeyPress, Qt::Key_Left);
  EXPECT_EQ(v.panX, -LiveSettings().scrollAmount);

  frame.sendCommand(CommandId::Paint);  // paint mode shows the brush
  ASSERT_TRUE(v.paintMode);
  EXPECT_EQ(widget->cursor().shape(), Qt::BitmapCursor);
  frame.sendCommand(CommandId::Paint);
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
  Flags() = CommandFlags();
}

// A left drag that moves a handle of the curve editor shows the hand; away from every
// handle, and once the button is up, the arrow is back.
TEST_F(ImageWidgetTest, TheCurveEditorShowsAHandWhileADragMovesAHandle) {
  LiveSettings().SetDefaults();
  LiveSettings().autoQuery = 0;
  Flags() = CommandFlags();
  BasicParams& p = LiveSettings().basic;
  p.directlyUsePresetFunction = 0;
  p.presetFunction = 0;
  p.lookupElements = 101;
  p.controlPoints = 3;  // handles at columns 0, 50 and 100
  p.curveValues[0] = 0;
  p.curveValues[1] = 0.5f;
  p.curveValues[2] = 1;
  CMainFrame frame;
  ImageWidget* widget = ShowTestWindow(frame);
  ASSERT_NE(widget, nullptr);
  CImageView& v = widget->view();
  frame.sendCommand(CommandId::CustomCurve);
  ASSERT_TRUE(v.curveEditor.fitted);
  QApplication::processEvents();

  auto send = [&](QEvent::Type type, Point image) {
    const Point q = v.ImageToWindow(image);
    const QPointF at(q.x, q.y);
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
  send(QEvent::MouseButtonPress, {50, 50});
  send(QEvent::MouseMove, {50, 55});
  EXPECT_EQ(widget->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FLOAT_EQ(p.curveValues[1], 0.55f);
  send(QEvent::MouseMove, {25, 55});  // 25 columns from the nearest handle
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
  EXPECT_FLOAT_EQ(p.curveValues[1], 0.55f);
  send(QEvent::MouseMove, {52, 60});
  EXPECT_EQ(widget->cursor().shape(), Qt::PointingHandCursor);
  send(QEvent::MouseButtonRelease, {52, 60});
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
  send(QEvent::MouseMove, {50, 60});  // no button: the arrow stays
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);

  frame.sendCommand(CommandId::CustomCurve);  // closing applies nothing without a page
  EXPECT_FALSE(v.curveEditor.open());
  Flags() = CommandFlags();
}
