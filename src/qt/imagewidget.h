#pragma once
// The widget of one image window: it owns the toolkit-free CImageView and shows its
// display bitmap. It is the window's ViewHost.
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/imageview.h"

class CMainFrame;

class ImageWidget : public QWidget, public ViewHost {
  Q_OBJECT
 public:
  ImageWidget(CMainFrame* frame, QWidget* parent = nullptr);
  ~ImageWidget() override;

  CImageView& view() { return *view_; }

  // ViewHost
  void Invalidate() override;
  void SetFrameTitle(const std::string& title) override;
  void MenuCaptionsChanged() override;
  void PopdownMenu(int n) override;
  void MakeForeground() override;
  bool HistogramVisible() override;
  void RefreshHistogram() override;
  void HideHistogram() override;
  void SetFullScreen(bool on) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  CMainFrame* frame_;
  std::unique_ptr<CImageView> view_;
  // Shows the brush while paint mode is on, the hand while a drag moves a handle of the
  // curve editor, the arrow otherwise.
  void updateCursor();
  std::vector<uint8_t> cursorPlanes_;  // the planes the brush shown was made from
  bool handShown_ = false;
};

// The MDI child frame embedding one image window.
class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
 public:
  explicit CChildFrame(CMainFrame* frame);
  ImageWidget* image() { return image_; }

 private:
  ImageWidget* image_;
};
