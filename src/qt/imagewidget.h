#pragma once
// The widget of one image window: it owns the toolkit-free CImageView and shows its
// display bitmap. It is the window's ViewHost.
#include <QMdiSubWindow>
#include <QWidget>
#include <memory>

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

 private:
  CMainFrame* frame_;
  std::unique_ptr<CImageView> view_;
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
