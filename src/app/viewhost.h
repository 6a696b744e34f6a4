#pragma once
// What an image window needs of the widget that shows it. The Qt adapter implements it;
// tests use a recording fake.
#include <string>

class ViewHost {
 public:
  virtual ~ViewHost() = default;
  // The window must be painted again (from its display bitmap).
  virtual void Invalidate() = 0;
  // The child frame's title.
  virtual void SetFrameTitle(const std::string& title) = 0;
  // The menu-bar captions of the window changed (UpdateStatus has rewritten them).
  virtual void MenuCaptionsChanged() = 0;
  // Opens the drop-down menu at 1-based menu-bar position n again after a toggle.
  virtual void PopdownMenu(int n) = 0;
  // Brings the window's frame to the front.
  virtual void MakeForeground() = 0;
  // Whether the histogram window is visible; refreshing or hiding it.
  virtual bool HistogramVisible() { return false; }
  virtual void RefreshHistogram() {}
  virtual void HideHistogram() {}
  // Full screen on: the frame loses its caption, border, menu and status bar and fills the
  // screen, the child frame loses its caption and border; off puts all of it back.
  virtual void SetFullScreen(bool) {}
};
